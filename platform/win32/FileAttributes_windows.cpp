#include "platform/core_guard.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "platform/win32/WideText.h"

// On Windows every reparse point counts: a symbolic link or a junction leads
// a write out of the application directory alike.
BOOL PathIsSymbolicLinkA(const char* path) {
  if (path == nullptr) return FALSE;
  const DWORD attributes = ::GetFileAttributesW(WideFromUtf8(NativePath(path)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? TRUE : FALSE;
}
