#include "transfer/DownloadFileList.h"

#include "platform/core_guard.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"

void PrepareLocalDirectory(const std::string& localPath) {
  std::string directory;
  CDirectoryEx::GetFilePath(localPath, directory);
  if (!PathIsDirectoryA(directory.c_str())) CDirectoryEx::CreateMultipleDirectory(directory);
}

bool DownloadFileList(const std::string& stagingDir, unsigned updateType, CZOLTUpdateIntf& transfer,
                      const std::vector<std::string>& names, std::vector<FileDigests>* digests) {
  if (digests != nullptr) digests->clear();
  for (const auto& name : names) {
    const std::string localPath = stagingDir + name;
    PrepareLocalDirectory(localPath);
    if (transfer.GetRemoteFile(updateType, name.c_str(), localPath.c_str(), nullptr, 0) == -1) return false;
    if (digests != nullptr) digests->push_back(transfer.LastDigests());
  }
  return true;
}
