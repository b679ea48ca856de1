#include "transfer/DownFileThread.h"

#include "platform/core_guard.h"
#include "transfer/DownloadFileList.h"

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
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (stopRequested_.load()) break;
    const std::string localPath = localDir + files[i];
    PrepareLocalDirectory(localPath);
    if (transfer->GetRemoteFile(updateType, files[i].c_str(), localPath.c_str(), notifyWnd, notifyMsg) == -1) {
      // A fetch cancelled by a stop request is not a failure to report.
      if (!stopRequested_.load()) SendMessageA(notifyWnd, notifyMsg, 0, -1);
      break;
    }
    digests.push_back(transfer->LastDigests());
  }
  LeaveCriticalSection(&lock);
  {
    std::lock_guard guard(transferMutex_);
    transfer_ = nullptr;
  }
  transfer.reset();
}
