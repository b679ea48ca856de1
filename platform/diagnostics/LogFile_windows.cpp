#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/diagnostics/LogFile.h"
#include "platform/win32/Files.h"
#include "platform/win32/WideText.h"

namespace diagnostics {

namespace {

int ErrnoOfLastError() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_SHARING_VIOLATION:
      return EBUSY;
    default:
      return EACCES;
  }
}

}  // namespace

int OpenLogFile(const std::string& path) {
  const HANDLE file = ::CreateFileW(WideFromUtf8(NativePath(path)).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = ErrnoOfLastError();
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info) || ::GetFileType(file) != FILE_TYPE_DISK ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    ::CloseHandle(file);
    errno = EEXIST;  // something else holds the name
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(file);
    errno = EMFILE;
  }
  return fd;
}

bool MakePrivateFolders(const std::string& path) {
  // The folders below %LOCALAPPDATA% inherit its access list: the user's own.
  const std::string native = NativePath(path);
  for (std::size_t end = native.find('\\', 3); end != std::string::npos; end = native.find('\\', end + 1))
    ::CreateDirectoryW(WideFromUtf8(native.substr(0, end)).c_str(), nullptr);
  ::CreateDirectoryW(WideFromUtf8(native).c_str(), nullptr);
  const DWORD attributes = ::GetFileAttributesW(WideFromUtf8(native).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool RotateLogFile(const std::string& path, const std::string& older) {
  return ::MoveFileExW(WideFromUtf8(NativePath(path)).c_str(), WideFromUtf8(NativePath(older)).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

unsigned long ProcessId() { return ::GetCurrentProcessId(); }

// _putenv_s, not SetEnvironmentVariable: getenv reads the runtime's copy.
void SetProcessVariable(const char* name, const std::string& value) { ::_putenv_s(name, value.c_str()); }

std::string FallbackLogFolder() {
  wchar_t buffer[32768];
  const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, 32768);
  std::string folder;
  if (length > 0 && length < 32768) {
    folder = Utf8FromWide(std::wstring_view(buffer, length));
  } else if (PWSTR known = nullptr; ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK) {
    folder = Utf8FromWide(known);
    ::CoTaskMemFree(known);
  } else {
    ::CoTaskMemFree(known);
  }
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder + "ZOLTUpdate\\";
}

std::string UserName() {
  wchar_t buffer[257];
  DWORD length = 257;
  if (::GetUserNameW(buffer, &length) && length > 1) return Utf8FromWide(std::wstring_view(buffer, length - 1));
  return "unknown";
}

int FolderWriteError(const std::string& folder) {
  // Access lists, not mode bits, say who may write: the one sure answer is a
  // file made and removed. Its name is that of the atomic writers' temporary
  // files, so that even a killed process's leftover is recognised.
  static thread_local std::mt19937 random{std::random_device{}()};
  std::string path = NativePath(folder);
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += std::string(".ZOLTUpdate") + kTempFileInfix + std::to_string(random() % 1000000);
  const HANDLE probe = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return ErrnoOfLastError();
  ::CloseHandle(probe);
  return 0;
}

std::string ErrorText(int error) {
  // The runtime knows the classic values only; the others it calls unknown.
  std::string text;
  switch (error) {
    case ELOOP:
      text = "Too many levels of symbolic links";
      break;
    case ENOTSUP:
      text = "Operation not supported";
      break;
    case ETIMEDOUT:
      text = "Connection timed out";
      break;
    default:
      text = std::strerror(error);
  }
  if (error == ENOSPC) text += " (the disk is full)";
  return text;
}

}  // namespace diagnostics
