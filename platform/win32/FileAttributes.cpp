#include "platform/win32/FileAttributes.h"

#include <sys/stat.h>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

BOOL PathIsSymbolicLinkA(const char* path) {
  if (path == nullptr) return FALSE;
  struct stat st {};
  return ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? TRUE : FALSE;
}
