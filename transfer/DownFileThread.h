// The download worker of the update dialog.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/thread/ThreadBase.h"
#include "platform/transfer/ZOLTUpdateIntf.h"
#include "platform/win32/Sync.h"
#include "platform/win32/Window.h"
#include "transfer/DeltaFetch.h"
#include "transfer/DownloadFileList.h"

// Reports to the update dialog: (0, -1) a fetch failed; (n, n) a file of n
// bytes is complete; any other pair is progress.
inline constexpr UINT WM_UPDATE_DOWNLOAD_DONE = WM_USER + 0x25A;

class CDownFileThread : public CThreadBase {
 public:
  CDownFileThread(std::vector<S_UpdateSerivceAddr> servers, bool useProxy, HWND notifyWnd, unsigned notifyMsg);
  // Ends a running download first (stop request, transfer cancelled, waits for
  // the worker), so the owner may delete the object at any time, also while a
  // file is being received. The one thing the owner must do first: destroy
  // its window (CMessageWindow::Destroy), so that a worker waiting in a send
  // to it is released instead of waiting for the thread that is deleting.
  ~CDownFileThread() override;

  // directory with one "\" appended when it does not end with one.
  void SetLocalDir(std::string directory);

  // Also cancels the transfer under way (the file being fetched is abandoned
  // and no failure is reported). Never waits.
  void Terminate() override;

  HWND notifyWnd;
  unsigned notifyMsg;
  std::vector<S_UpdateSerivceAddr> servers;
  bool useProxy;
  std::string localDir;
  std::vector<std::string> files;     // set by the owner under lock, before Start
  SizeCaps sizeCaps;                  // download caps by name, set with files
  unsigned digestKinds = kDigestMD5;  // taken of each file as it is stored, set with files
  // Set with files: a listed name found among changedFiles is staged by
  // CDeltaFetch from source (patch, compressed copy, else the plain file).
  StagingSource source;
  std::vector<UpdateFileInfo> changedFiles;
  // What the run moved; read by the owner once every file is reported.
  TransferTally tally;
  // The digests of each fetched file, in the order of files, each added when
  // its fetch returns. The owner reads them while the worker waits in the
  // send of a report (the send orders the two); the file being reported on
  // has none yet.
  std::vector<FileDigests> digests;
  CRITICAL_SECTION lock;
  unsigned updateType = 1;

 protected:
  void Run() override;

 private:
  std::mutex transferMutex_;             // guards transfer_ against Terminate
  CZOLTUpdateIntf* transfer_ = nullptr;  // the running fetch's interface
};
