#include "platform/directory/DirectoryEx.h"

#include <mutex>

#include "platform/core_guard.h"
#include "platform/directory/FolderWalk.h"
#include "platform/win32/Files.h"

namespace {

std::mutex overrideMutex;
std::string overridePath;

std::string WithTrailingSeparator(std::string path, char separator) {
  if (path.empty() || (path.back() != '/' && path.back() != '\\')) path += separator;
  return path;
}

}  // namespace

long CDirectoryEx::GetApplicationPath(std::string& path) {
  {
    std::lock_guard lock(overrideMutex);
    if (!overridePath.empty()) {
      path = overridePath;
      return 1;
    }
  }
  path = ExecutableFolder();
  return path.empty() ? 0 : 1;
}

void CDirectoryEx::OverrideApplicationPath(std::string path) {
  std::lock_guard lock(overrideMutex);
  overridePath = path.empty() ? std::string() : WithTrailingSeparator(std::move(path), kFolderSeparator);
  // The installation acted on is the one whose folders the file calls guard.
  SetGuardedRoot(NativePath(overridePath));
}

long CDirectoryEx::GetFilePath(std::string path, std::string& directory) {
  const auto separator = path.find_last_of("\\/");
  if (separator == std::string::npos) {
    directory.clear();
    return 0;
  }
  directory = path.substr(0, separator + 1);
  return 1;
}

long CDirectoryEx::CreateMultipleDirectory(std::string directory) {
  if (directory.empty()) return 0;
  return CreateDirectoryTree(directory.c_str()) ? 1 : 0;
}

void CDirectoryEx::DeleteDirectory(std::string directory) { RemoveDirectoryTree(directory.c_str()); }

void CDirectoryEx::SearchFile(std::string directory, bool recursive, std::string pattern,
                              std::vector<std::string>& files) {
  files.clear();
  if (directory.empty()) return;
  SearchFolder(NativePath(directory), WithTrailingSeparator(directory, '/'), recursive, pattern, files);
}
