#include "platform/win32/RuntimeFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/core_guard.h"

bool IsOwnFolder(const std::string& path, bool privateOnly) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (privateOnly ? 077 : 022)) == 0;
}

bool IsOwnEntry(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && st.st_uid == ::geteuid();
}

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home == '/') return home;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/')
    return found->pw_dir;
  return {};
}

}  // namespace

std::string UserRuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && *xdg == '/' && IsOwnFolder(WithoutTrailingSlash(xdg), false)) return WithoutTrailingSlash(xdg);
  const std::string run = "/run/user/" + std::to_string(::geteuid());
  if (IsOwnFolder(run, false)) return run;

  const std::string home = HomeFolder();
  if (home.empty() || !IsOwnFolder(WithoutTrailingSlash(home), false)) return {};
  const std::string cache = WithoutTrailingSlash(home) + "/.cache";
  ::mkdir(cache.c_str(), 0700);
  if (!IsOwnFolder(cache, false)) return {};
  const std::string folder = cache + "/zoltupdate";
  ::mkdir(folder.c_str(), 0700);
  return IsOwnFolder(folder, true) ? folder : std::string();
}
