#include "transfer/DownloadFileList.h"

#include <cerrno>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"

void PrepareLocalDirectory(const std::string& localPath) {
  std::string directory;
  CDirectoryEx::GetFilePath(localPath, directory);
  if (!PathIsDirectoryA(directory.c_str()) && CDirectoryEx::CreateMultipleDirectory(directory) == 0)
    diagnostics::ReportCause("cannot create the folder " + NativePath(directory) + ": " +
                             diagnostics::ErrorText(errno));
}

bool DownloadFileList(const std::string& stagingDir, unsigned updateType, CZOLTUpdateIntf& transfer,
                      const std::vector<std::string>& names, std::vector<std::string>* missing) {
  bool complete = true;
  for (const auto& name : names) {
    const std::string localPath = stagingDir + name;
    PrepareLocalDirectory(localPath);
    if (transfer.GetRemoteFile(updateType, name.c_str(), localPath.c_str(), nullptr, 0) == -1) {
      complete = false;
      if (missing != nullptr) missing->push_back(name);
      if (missing == nullptr || !transfer.LastFetchAnswered()) break;
    }
  }
  return complete;
}
