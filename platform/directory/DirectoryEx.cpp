#include "platform/directory/DirectoryEx.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

namespace {

std::mutex overrideMutex;
std::string overridePath;

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || (path.back() != '/' && path.back() != '\\')) path += '/';
  return path;
}

void Search(const std::string& native, const std::string& prefix, bool recursive, const std::string& pattern,
            std::vector<std::string>& files) {
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return;
  std::vector<std::pair<std::string, bool>> entries;  // name, is a real directory
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      isDirectory = ::lstat((native + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries.emplace_back(name, isDirectory);
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, isDirectory] : entries) {
    if (isDirectory) {
      // d_type and lstat both describe the entry itself, so a link to a
      // directory is never a directory here and is never entered.
      if (recursive) Search(native + "/" + name, prefix + name + "/", true, pattern, files);
    } else if (::fnmatch(pattern.c_str(), name.c_str(), 0) == 0) {
      files.push_back(prefix + name);
    }
  }
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
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) {
    path.clear();
    return 0;
  }
  std::string exe(buffer, static_cast<size_t>(length));
  path = exe.substr(0, exe.find_last_of('/') + 1);
  return 1;
}

void CDirectoryEx::OverrideApplicationPath(std::string path) {
  std::lock_guard lock(overrideMutex);
  overridePath = path.empty() ? std::string() : WithTrailingSlash(std::move(path));
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
  std::string native = NativePath(directory);
  struct stat st {};
  // The starting directory itself may be reached through a link (the caller
  // names it); only links met below it are not followed.
  if (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  Search(native, WithTrailingSlash(directory), recursive, pattern, files);
}
