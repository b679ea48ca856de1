#include "transfer/DownFileThread.h"

#include <unordered_map>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "transfer/DownloadFileList.h"
#include "transfer/DownloadMeter.h"
#include "transfer/FetchList.h"

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
  std::unordered_map<std::string, const UpdateFileInfo*> byName;
  for (const UpdateFileInfo& file : changedFiles) byName.emplace(file.fileName, &file);
  {
    StagingSource from = source;
    from.stagingDir = localDir;
    from.updateType = updateType;
    CFetchList list(*transfer, std::move(from), &meter, &tally);
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (stopRequested_.load()) break;
      // A listed name the changed files do not describe comes plain, capped
      // as sizeCaps says.
      const auto changed = byName.find(files[i]);
      UpdateFileInfo plain;
      plain.fileName = files[i];
      if (!list.Fetch(changed != byName.end() ? *changed->second : plain, notifyWnd, notifyMsg)) {
        // A full disk: how much room the files still to come need.
        if (!list.DiskShortage().empty()) {
          for (std::size_t rest = i + 1; rest < files.size(); ++rest) {
            const auto listed = byName.find(files[rest]);
            if (listed != byName.end()) list.Skip(*listed->second);
          }
          diagnostics::ReportCause(list.DiskShortage());
        }
        // A fetch cancelled by a stop request is not a failure to report.
        if (!stopRequested_.load()) SendMessageA(notifyWnd, notifyMsg, 0, -1);
        break;
      }
      digests.push_back(list.LastDigests());
    }
  }
  if (!files.empty()) diagnostics::LogFact(meter.Summary());
  LeaveCriticalSection(&lock);
  {
    std::lock_guard guard(transferMutex_);
    transfer_ = nullptr;
  }
  transfer.reset();
}
