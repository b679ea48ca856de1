#include "platform/directory/FolderWalk.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/core_guard.h"

const char kFolderSeparator = '/';

namespace {

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

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  const std::string exe(buffer, static_cast<size_t>(length));
  return exe.substr(0, exe.find_last_of('/') + 1);
}

void SearchFolder(const std::string& native, const std::string& prefix, bool recursive, const std::string& pattern,
                  std::vector<std::string>& files) {
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  Search(native, prefix, recursive, pattern, files);
}
