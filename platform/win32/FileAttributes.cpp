#include "platform/win32/FileAttributes.h"

#include <sys/stat.h>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

BOOL PathIsSymbolicLinkA(const char* path) {
  if (path == nullptr) return FALSE;
  struct stat st {};
  return ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? TRUE : FALSE;
}

BOOL CopyFileModeA(const char* model, const char* path) {
  if (model == nullptr || path == nullptr) return FALSE;
  struct stat from {
  }, to{};
  const std::string target = NativePath(path);
  if (::stat(NativePath(model).c_str(), &from) != 0 || !S_ISREG(from.st_mode)) return FALSE;
  if (::stat(target.c_str(), &to) != 0 || !S_ISREG(to.st_mode)) return FALSE;
  if ((from.st_mode & 07777) == (to.st_mode & 07777)) return TRUE;
  return ::chmod(target.c_str(), from.st_mode & 07777) == 0 ? TRUE : FALSE;
}
