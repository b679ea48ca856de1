#include "transfer/DownFileThread.h"

#include <unordered_map>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "transfer/DownloadFileList.h"
#include "transfer/DownloadMeter.h"

CDownFileThread::CDownFileThread(std::vector<S_UpdateSerivceAddr> servers, bool useProxy, HWND notifyWnd,
                                 unsigned notifyMsg)
    : notifyWnd(notifyWnd), notifyMsg(notifyMsg), servers(std::move(servers)), useProxy(useProxy) {
  InitializeCriticalSection(&lock);
}

CDownFileThread::~CDownFileThread() {
  // Run uses this object's members, so the run must be over before any of
  // them goes. Terminate cancels the fetch under way, so the wait is short;
  // the owner destroys its window first, so a worker waiting in a send to it
  // is released as well.
  Terminate();
  Join();
  EnterCriticalSection(&lock);
  files.clear();
  LeaveCriticalSection(&lock);
  DeleteCriticalSection(&lock);
}

void CDownFileThread::SetLocalDir(std::string directory) {
  if (directory.empty() || directory.back() != '\\') directory += '\\';
  localDir = std::move(directory);
}

void CDownFileThread::Terminate() {
  CThreadBase::Terminate();
  std::lock_guard guard(transferMutex_);
  if (transfer_ != nullptr) transfer_->Cancel();
}

void CDownFileThread::Run() {
  EnterCriticalSection(&lock);
  auto transfer = std::make_unique<CZOLTUpdateIntf>(servers, useProxy);
  LimitSizes(*transfer, sizeCaps);
  transfer->SetDigestKinds(digestKinds);
  digests.clear();
  {
    std::lock_guard guard(transferMutex_);
    transfer_ = transfer.get();
  }
  // The dialog shows the progress; the log gets the summary.
  CDownloadMeter meter(files.size(), 0, nullptr);
  tally = {};
  CDeltaFetch delta(source, &tally);
  std::unordered_map<std::string, const UpdateFileInfo*> byName;
  for (const UpdateFileInfo& file : changedFiles) byName.emplace(file.fileName, &file);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (stopRequested_.load()) break;
    const std::string localPath = localDir + files[i];
    PrepareLocalDirectory(localPath);
    const auto changed = byName.find(files[i]);
    const int fetched = changed != byName.end() ? delta.FetchFile(*transfer, *changed->second, notifyWnd, notifyMsg)
                                                : transfer->GetRemoteFile(updateType, files[i].c_str(),
                                                                          localPath.c_str(), notifyWnd, notifyMsg);
    if (fetched == -1) {
      // A fetch cancelled by a stop request is not a failure to report.
      if (!stopRequested_.load()) SendMessageA(notifyWnd, notifyMsg, 0, -1);
      break;
    }
    meter.FileDone(transfer->LastSize());
    digests.push_back(changed != byName.end() ? delta.LastDigests() : transfer->LastDigests());
  }
  if (!files.empty()) diagnostics::LogFact(meter.Summary());
  LeaveCriticalSection(&lock);
  {
    std::lock_guard guard(transferMutex_);
    transfer_ = nullptr;
  }
  transfer.reset();
}
