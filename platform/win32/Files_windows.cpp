// The file calls of Files.h over the Windows API: names in UTF-8 inside the
// program, UTF-16 at every call, "\" as the separator.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"
#include "platform/win32/WideText.h"

namespace {

int ErrnoFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_NO_UNICODE_TRANSLATION:
      return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
      return EACCES;
    default:
      return EIO;
  }
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

// A failed W call: the last error stays the system's, errno says the same
// for the messages callers print.
BOOL FailWith(DWORD error) {
  errno = ErrnoFromError(error);
  SetLastError(error);
  return FALSE;
}
BOOL FailLast() { return FailWith(GetLastError()); }

// A refusal of this layer's own, given as an errno value.
BOOL Fail(int error) {
  errno = error;
  SetLastError(ErrorFromErrno(error));
  return FALSE;
}

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  HANDLE get() const { return handle_; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (*this) {
      const DWORD error = GetLastError();
      ::CloseHandle(handle_);
      SetLastError(error);
    }
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// The attributes of an open file, with the reparse point as the name at path
// shows it: Wine opens a link of the Linux side as its target even with
// FILE_FLAG_OPEN_REPARSE_POINT, but names it a reparse point.
DWORD AttributesOf(const BY_HANDLE_FILE_INFORMATION& info, const std::string& path) {
  const DWORD named = ::GetFileAttributesW(WideFromUtf8(path).c_str());
  return info.dwFileAttributes | (named != INVALID_FILE_ATTRIBUTES ? (named & FILE_ATTRIBUTE_REPARSE_POINT) : 0);
}
bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

std::mutex rootMutex;
std::string guardedRoot;  // empty: the executable's directory

std::string ProgramName() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::string path = Utf8FromWide(std::wstring_view(buffer, length));
  path = path.substr(path.find_last_of('\\') + 1);
  if (path.size() > 4 && _stricmp(path.c_str() + path.size() - 4, ".exe") == 0) path.resize(path.size() - 4);
  return path;
}

void ReportLink(const std::string& shown) {
  std::fprintf(stderr,
               "%s: %s is a symbolic link or junction; refusing to write, create or remove anything through it\n",
               ProgramName().c_str(), shown.c_str());
}

// A path taken apart: the part the system resolves as a whole ("C:\",
// "\\server\share\") and the names below it.
struct SplitPath {
  std::string top;
  std::vector<std::string> parts;
};

bool SameName(const std::string& a, const std::string& b) {
  return ::CompareStringOrdinal(WideFromUtf8(a).c_str(), -1, WideFromUtf8(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Splits an absolute path (made so against the working folder). False for a
// path with ".." below its top: such a name is never resolved here.
bool Split(const std::string& path, SplitPath& split) {
  std::string native = NativePath(path);
  const bool relative =
      !(native.size() >= 3 && native[1] == ':' && native[2] == '\\') && !(native.rfind("\\\\", 0) == 0);
  if (relative) {
    wchar_t buffer[32768];
    const DWORD length = ::GetCurrentDirectoryW(32768, buffer);
    if (length == 0 || length >= 32768) return false;
    std::string folder = Utf8FromWide(std::wstring_view(buffer, length));
    if (!native.empty() && native[0] == '\\') {
      native = folder.substr(0, 2) + native;  // "\x" on the current drive
    } else {
      if (folder.back() != '\\') folder += '\\';
      native = folder + native;
    }
  }
  std::size_t start = 0;
  if (native.rfind("\\\\", 0) == 0) {
    const std::size_t server = native.find('\\', 2);
    const std::size_t share = server == std::string::npos ? server : native.find('\\', server + 1);
    start = share == std::string::npos ? native.size() : share + 1;
    split.top = native.substr(0, start);
    if (split.top.back() != '\\') split.top += '\\';
  } else {
    split.top = native.substr(0, 3);
    start = 3;
  }
  split.parts.clear();
  while (start <= native.size()) {
    std::size_t end = native.find('\\', start);
    if (end == std::string::npos) end = native.size();
    std::string part = native.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") split.parts.push_back(std::move(part));
    start = end + 1;
  }
  return true;
}

// How many leading folders of path are followed as the user laid them out:
// those of the guarded root when path lies below it, else all of them.
std::size_t FollowedFolders(const SplitPath& split) {
  SplitPath root;
  if (!Split(GuardedRoot(), root) || !SameName(root.top, split.top) || root.parts.size() > split.parts.size())
    return split.parts.size();
  for (std::size_t i = 0; i < root.parts.size(); ++i)
    if (!SameName(root.parts[i], split.parts[i])) return split.parts.size();
  return root.parts.size();
}

// The folders of one call, held open from the guarded root down: each one
// checked to be a real folder, not a reparse point, and held without
// FILE_SHARE_DELETE, so that none of them can be renamed away and replaced by
// a junction while the call works below it.
struct HeldFolders {
  std::vector<Handle> held;
  std::string path;  // the folder reached, with a trailing "\"

  // Opens the folder made of the first count names; with create, missing
  // folders are made. False with errno set (ELOOP for a refused link).
  bool Open(const SplitPath& split, std::size_t count, bool create, bool report = true) {
    const std::size_t followed = std::min(FollowedFolders(split), count);
    path = split.top;
    for (std::size_t i = 0; i < count; ++i) {
      path += (path.back() == '\\' ? "" : "\\") + split.parts[i];
      const std::wstring wide = WideFromUtf8(path);
      if (i < followed) {
        // The user's own layout: followed as it is, missing folders made.
        if (create && !::CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
            GetLastError() != ERROR_ACCESS_DENIED)
          return FailLast();
        continue;
      }
      Handle folder(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
      if (!folder && create && (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        if (!::CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return FailLast();
        folder.reset(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      }
      if (!folder) return FailLast();
      BY_HANDLE_FILE_INFORMATION info{};
      if (!::GetFileInformationByHandle(folder.get(), &info)) return FailLast();
      if (IsLink(AttributesOf(info, path))) {
        if (report) ReportLink(path);
        return Fail(ELOOP);
      }
      if (!IsFolder(info.dwFileAttributes)) return Fail(ENOTDIR);
      held.push_back(std::move(folder));
    }
    if (path.back() != '\\') path += '\\';
    return true;
  }
};

// The folder that holds path, held as HeldFolders does, and its last name.
bool OpenParent(const std::string& path, HeldFolders& folders, std::string& name, bool create = false) {
  SplitPath split;
  if (!Split(path, split)) return Fail(EACCES);
  if (split.parts.empty()) return Fail(ENOENT);
  name = split.parts.back();
  return folders.Open(split, split.parts.size() - 1, create);
}

// The attributes of path itself (a link is not followed); INVALID_FILE_ATTRIBUTES when absent.
DWORD OwnAttributes(const std::string& path) { return ::GetFileAttributesW(WideFromUtf8(path).c_str()); }

// Opens an exclusive new temporary file in folder for target name.
Handle OpenTemporaryIn(const std::string& folder, const std::string& target, std::string& tempPath) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::string prefix = folder + "." + target + kTempFileInfix;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix;
    for (int i = 0; i < 6; ++i) candidate += kAlphabet[random() % (sizeof(kAlphabet) - 1)];
    Handle file(::CreateFileW(WideFromUtf8(candidate).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || GetLastError() != ERROR_FILE_EXISTS) {
      tempPath = std::move(candidate);
      if (!file) FailLast();
      return file;
    }
  }
  Fail(EEXIST);
  return Handle();
}

bool WriteAllTo(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, data, piece, &written, nullptr)) return FailLast();
    data += written;
    size -= written;
  }
  return true;
}

bool CopyContent(HANDLE in, HANDLE out) {
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(in, buffer.get(), 1 << 20, &got, nullptr)) return FailLast();
    if (got == 0) return true;
    if (!WriteAllTo(out, buffer.get(), got)) return false;
  }
}

// Renames a file of ours; a read-only attribute at the target (which
// Windows refuses to replace) does not stop a replacement that Linux allows.
bool Rename(const std::string& from, const std::string& to, DWORD flags) {
  const std::wstring wideFrom = WideFromUtf8(from), wideTo = WideFromUtf8(to);
  if (::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), flags)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED && (flags & MOVEFILE_REPLACE_EXISTING) != 0) {
    const DWORD attributes = ::GetFileAttributesW(wideTo.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        !IsFolder(attributes) && ::SetFileAttributesW(wideTo.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
      if (::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), flags)) return true;
      const DWORD again = GetLastError();
      ::SetFileAttributesW(wideTo.c_str(), attributes);
      return FailWith(again);
    }
  }
  return FailWith(error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error);
}

bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  // A reparse point is removed as itself: a junction or a link to a folder
  // with RemoveDirectoryW, which never touches what it points to.
  const auto remove = [&] {
    return IsFolder(attributes) ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
  };
  if (remove()) return true;
  // Wine takes a link of the Linux side to a folder away as a file.
  if (IsLink(attributes) && IsFolder(attributes) && ::DeleteFileW(path.c_str())) return true;
  if (GetLastError() == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    return remove() != 0;
  return false;
}

// Removes everything inside folder, never following a reparse point.
bool RemoveContent(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                           FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  std::vector<std::pair<std::wstring, DWORD>> entries;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") entries.emplace_back(name, entry.dwFileAttributes);
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  bool ok = true;
  for (const auto& [name, attributes] : entries) {
    const std::wstring path = folder + L"\\" + name;
    if (IsFolder(attributes) && !IsLink(attributes)) ok = RemoveContent(path) && ok;
    ok = RemoveEntry(path, attributes) && ok;
  }
  return ok;
}

constexpr std::int64_t kUnixEpochIn100Ns = 116444736000000000LL;

std::int64_t NsFromFileTime(std::int64_t ticks) { return (ticks - kUnixEpochIn100Ns) * 100; }
std::int64_t NsFromFileTime(const FILETIME& time) {
  return NsFromFileTime(static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime));
}

bool StampOf(HANDLE file, FileStamp& stamp, BY_HANDLE_FILE_INFORMATION* found = nullptr) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return FailLast();
  FILE_BASIC_INFO basic{};
  const bool hasBasic = ::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) != 0;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  stamp.modifiedNs = NsFromFileTime(info.ftLastWriteTime);
  stamp.changedNs = hasBasic ? NsFromFileTime(basic.ChangeTime.QuadPart) : stamp.modifiedNs;
  if (found != nullptr) *found = info;
  return true;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// A C runtime descriptor that owns handle; -1 (handle closed) on failure.
int DescriptorFor(Handle handle, int flags) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags | _O_BINARY);
  if (fd < 0) return Fail(EMFILE), -1;
  handle.release();
  return fd;
}

// Opens path to read it when it is a regular file (links followed);
// invalid with errno set otherwise.
Handle OpenForReading(const std::string& path, DWORD flags = 0) {
  Handle file(::CreateFileW(WideFromUtf8(NativePath(path)).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
  if (!file) {
    FailLast();
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info) || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
    Fail(EINVAL);
    return Handle();
  }
  if (IsFolder(info.dwFileAttributes)) {
    Fail(EISDIR);
    return Handle();
  }
  return file;
}

std::string KindOf(DWORD attributes) {
  if (IsLink(attributes)) return "a symbolic link or junction";
  if (IsFolder(attributes)) return "a folder";
  return "not a regular file";
}

bool Refuse(std::string* cause, const std::string& text, int error) {
  if (cause != nullptr) *cause = text;
  errno = error;
  return false;
}

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace

bool WriteAll(int fd, const char* data, size_t size) { return WriteAllTo(HandleOf(fd), data, size); }

std::string NativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native)
    if (c == '/') c = '\\';
  return native;
}

BOOL PathFileExistsA(const char* path) {
  if (path == nullptr || *path == '\0') return FALSE;
  if (OwnAttributes(NativePath(path)) != INVALID_FILE_ATTRIBUTES) return TRUE;
  return FailLast();
}

BOOL PathIsDirectoryA(const char* path) {
  if (path == nullptr || *path == '\0') return FALSE;
  const DWORD attributes = OwnAttributes(NativePath(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailLast();
  return IsFolder(attributes) ? TRUE : FALSE;
}

void SetGuardedRoot(std::string path) {
  std::lock_guard lock(rootMutex);
  guardedRoot = std::move(path);
}

std::string GuardedRoot() {
  {
    std::lock_guard lock(rootMutex);
    if (!guardedRoot.empty()) return guardedRoot;
  }
  static const std::string folder = [] {
    std::wstring buffer(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    const std::string exe = Utf8FromWide(std::wstring_view(buffer.data(), length));
    return exe.substr(0, exe.find_last_of('\\') + 1);
  }();
  return folder;
}

BOOL DeleteFileA(const char* path) {
  if (path == nullptr) return Fail(ENOENT);
  HeldFolders folders;
  std::string name;
  if (!OpenParent(path, folders, name)) return FALSE;
  const std::string target = folders.path + name;
  const DWORD attributes = OwnAttributes(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailLast();
  if (IsFolder(attributes) && !IsLink(attributes)) return Fail(EISDIR);
  return RemoveEntry(WideFromUtf8(target), attributes) ? TRUE : FailLast();
}

BOOL MoveFileExA(const char* src, const char* dst, DWORD flags) {
  if (src == nullptr || dst == nullptr) return Fail(ENOENT);
  HeldFolders from, to;
  std::string fromName, toName;
  if (!OpenParent(src, from, fromName) || !OpenParent(dst, to, toName)) return FALSE;
  return Rename(from.path + fromName, to.path + toName, flags) ? TRUE : FALSE;
}

BOOL MoveFileIntoPlace(const char* src, const char* dst) {
  if (src == nullptr || dst == nullptr) return Fail(ENOENT);
  HeldFolders from, to;
  std::string fromName, toName;
  if (!OpenParent(src, from, fromName) || !OpenParent(dst, to, toName)) return FALSE;
  const DWORD attributes = OwnAttributes(from.path + fromName);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailLast();
  if (IsFolder(attributes) || IsLink(attributes)) return Fail(IsFolder(attributes) ? EISDIR : EACCES);
  const DWORD target = OwnAttributes(to.path + toName);
  if (target != INVALID_FILE_ATTRIBUTES && IsFolder(target) && !IsLink(target)) return Fail(EISDIR);
  if (Rename(from.path + fromName, to.path + toName, MOVEFILE_REPLACE_EXISTING)) return TRUE;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE) return FALSE;
  if (!CopyFileA(src, dst, FALSE)) return FALSE;
  ::DeleteFileW(WideFromUtf8(from.path + fromName).c_str());
  return TRUE;
}

BOOL CreateDirectoryTree(const char* path) {
  if (path == nullptr || *path == '\0') return Fail(ENOENT);
  SplitPath split;
  if (!Split(path, split)) return Fail(EACCES);
  HeldFolders folders;
  if (!folders.Open(split, split.parts.size(), true)) return FALSE;
  const DWORD attributes = OwnAttributes(folders.path);
  return attributes != INVALID_FILE_ATTRIBUTES && IsFolder(attributes) ? TRUE : Fail(ENOTDIR);
}

bool RemoveDirectoryTree(const char* path) {
  if (path == nullptr) return false;
  SplitPath split;
  if (!Split(path, split)) return false;
  // A path built from an empty or damaged name must never reach the top of
  // a drive or share.
  if (split.parts.empty()) return false;
  HeldFolders folders;
  const std::string name = split.parts.back();
  if (!folders.Open(split, split.parts.size() - 1, false)) return errno == ENOENT;
  const std::wstring target = WideFromUtf8(folders.path + name);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  if (!IsFolder(attributes) || IsLink(attributes)) return RemoveEntry(target, attributes);
  const bool emptied = RemoveContent(target);
  return RemoveEntry(target, attributes) && emptied;
}

int OpenFileForWriting(const char* path) {
  if (path == nullptr) return Fail(ENOENT), -1;
  HeldFolders folders;
  std::string name;
  if (!OpenParent(path, folders, name)) return -1;
  const std::string target = folders.path + name;
  Handle file(::CreateFileW(WideFromUtf8(target).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return FailLast(), -1;
  // A second name could be a hard link planted to have another file written.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info)) return FailLast(), -1;
  if (IsLink(AttributesOf(info, target))) {
    ReportLink(target);
    return Fail(ELOOP), -1;
  }
  if (IsFolder(info.dwFileAttributes) || info.nNumberOfLinks != 1 || ::GetFileType(file.get()) != FILE_TYPE_DISK)
    return Fail(EACCES), -1;
  return DescriptorFor(std::move(file), 0);
}

BOOL CreateHardLinkA(const char* newName, const char* existing, void* /*security*/) {
  if (newName == nullptr || existing == nullptr) return Fail(ENOENT);
  HeldFolders fromFolder, toFolder;
  std::string fromName, toName;
  if (!OpenParent(existing, fromFolder, fromName) || !OpenParent(newName, toFolder, toName)) return FALSE;
  const std::string from = fromFolder.path + fromName;
  const DWORD attributes = OwnAttributes(from);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailLast();
  // A link is never linked: the second name would lead wherever it points.
  if (IsFolder(attributes)) return Fail(EISDIR);
  if (IsLink(attributes)) return Fail(EACCES);
  if (!::CreateHardLinkW(WideFromUtf8(toFolder.path + toName).c_str(), WideFromUtf8(from).c_str(), nullptr))
    return FailLast();
  return TRUE;
}

// Access lists, not an owner, decide who may write below the installation on
// Windows; the installer sets them, so there is nothing to compare here.
bool RunsAsOwnerOf(const std::string& /*path*/, std::string& /*owner*/, std::string& /*caller*/) { return true; }

std::string MakeScratchFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) {
    FailLast();
    return "";
  }
  std::string base = Utf8FromWide(std::wstring_view(buffer, length));
  if (base.back() != '\\') base += '\\';
  // A new folder inherits the access list of %TEMP%, which is the user's own.
  static thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "zoltupdate.%012llx", static_cast<unsigned long long>(random() & 0xffffffffffffULL));
    const std::string folder = base + name;
    if (::CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr)) return folder + "\\";
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  FailLast();
  return "";
}

BOOL CopyFileA(const char* src, const char* dst, BOOL failIfExists) {
  if (src == nullptr || dst == nullptr) return Fail(ENOENT);
  HeldFolders fromFolder, folder;
  std::string fromName, toName;
  if (!OpenParent(src, fromFolder, fromName)) return FALSE;
  Handle in(::CreateFileW(WideFromUtf8(fromFolder.path + fromName).c_str(), GENERIC_READ, kShareAll, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in) return FailLast();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(in.get(), &info)) return FailLast();
  info.dwFileAttributes = AttributesOf(info, fromFolder.path + fromName);
  if (IsFolder(info.dwFileAttributes) || IsLink(info.dwFileAttributes))
    return Fail(IsFolder(info.dwFileAttributes) ? EISDIR : EACCES);
  if (!OpenParent(dst, folder, toName)) return FALSE;
  const std::string target = folder.path + toName;
  const DWORD existing = OwnAttributes(target);
  if (existing != INVALID_FILE_ATTRIBUTES && (failIfExists || (IsFolder(existing) && !IsLink(existing))))
    return Fail(IsFolder(existing) && !IsLink(existing) ? EISDIR : EEXIST);

  std::string tempPath;
  Handle out = OpenTemporaryIn(folder.path, toName, tempPath);
  if (!out) return FALSE;
  bool ok = CopyContent(in.get(), out.get());
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  out.reset();
  if (ok) {
    ok = Rename(tempPath, target, failIfExists ? 0 : MOVEFILE_REPLACE_EXISTING);
    error = GetLastError();
  }
  if (!ok) {
    ::DeleteFileW(WideFromUtf8(tempPath).c_str());
    return FailWith(error);
  }
  return TRUE;
}

namespace crt {
int rename(const char* oldName, const char* newName) { return MoveFileExA(oldName, newName, 0) ? 0 : -1; }
}  // namespace crt

namespace {

bool ReplaceFile(const std::string& path, std::string_view bytes, bool flush) {
  HeldFolders folders;
  std::string name;
  if (!OpenParent(path, folders, name)) return false;
  std::string tempPath;
  Handle file = OpenTemporaryIn(folders.path, name, tempPath);
  if (!file) return false;
  bool ok = WriteAllTo(file.get(), bytes.data(), bytes.size()) && (!flush || ::FlushFileBuffers(file.get()));
  file.reset();
  // Written through: the rename is on disk when the call returns, as the
  // flushed folder is on Linux.
  ok = ok && Rename(tempPath, folders.path + name, MOVEFILE_REPLACE_EXISTING | (flush ? MOVEFILE_WRITE_THROUGH : 0));
  if (!ok) {
    const int error = errno;
    ::DeleteFileW(WideFromUtf8(tempPath).c_str());
    errno = error;
    return false;
  }
  return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes) { return ReplaceFile(path, bytes, true); }

bool ReplaceFileUnflushed(const std::string& path, std::string_view bytes) { return ReplaceFile(path, bytes, false); }

std::int64_t FileClockNow() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return NsFromFileTime(now);
}

long long FreeDiskBytes(const std::string& path) {
  std::string at = NativePath(path);
  for (;;) {
    ULARGE_INTEGER available{}, total{}, free{};
    // Quotas included: what this user may still write there.
    if (::GetDiskFreeSpaceExW(WideFromUtf8(at).c_str(), &available, &total, &free))
      return static_cast<long long>(available.QuadPart);
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_DIRECTORY) return -1;
    while (!at.empty() && at.back() == '\\') at.pop_back();
    const std::size_t slash = at.find_last_of('\\');
    if (at.empty() || slash == std::string::npos) return -1;
    at.erase(slash + 1);
  }
}

bool StampRegularFile(const std::string& path, FileStamp& stamp) {
  Handle file(::CreateFileW(WideFromUtf8(NativePath(path)).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  FileStamp found;
  if (!StampOf(file.get(), found, &info) || IsFolder(info.dwFileAttributes) ||
      IsLink(AttributesOf(info, NativePath(path))))
    return false;
  stamp = found;
  return true;
}

bool AppendToFile(const std::string& path, std::string_view bytes) {
  HeldFolders folders;
  std::string name;
  if (!OpenParent(path, folders, name)) return false;
  const std::string target = folders.path + name;
  Handle file(::CreateFileW(WideFromUtf8(target).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kShareAll,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return FailLast();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info)) return FailLast();
  if (IsLink(AttributesOf(info, target))) {
    ReportLink(target);
    return Fail(ELOOP);
  }
  return !IsFolder(info.dwFileAttributes) && WriteAllTo(file.get(), bytes.data(), bytes.size());
}

// Windows has no call that starts a file's write-back without waiting for
// it; the flush at the end of the installation does all of it.
void StartWriteBack(int) {}

bool MakeDurable(const std::vector<std::string>& files, const std::string& root, std::string* failed) {
  std::string top = NativePath(root);
  while (top.size() > 3 && top.back() == '\\') top.pop_back();
  std::set<std::string> folders;
  int firstError = 0;
  const auto fail = [&](const std::string& path) {
    if (firstError != 0) return;
    firstError = errno != 0 ? errno : EIO;
    if (failed != nullptr) *failed = path;
  };
  for (const auto& file : files) {
    const std::string native = NativePath(file);
    HeldFolders held;
    std::string name;
    errno = 0;
    bool ok = OpenParent(native, held, name);
    if (ok) {
      Handle handle(::CreateFileW(WideFromUtf8(held.path + name).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      // A running program's image cannot be opened for writing. Its bytes are
      // the ones the program was started from, on disk before it ran: nothing
      // of this run's is left to flush in it (a kept copy of it is a second
      // name, whose folder is flushed below).
      if (!handle && ::GetLastError() == ERROR_SHARING_VIOLATION) {
        ok = true;
      } else {
        ok = handle && ::FlushFileBuffers(handle.get());
        if (!ok) FailLast();
      }
    }
    if (!ok) fail(native);
    for (std::string at = native.substr(0, native.find_last_of('\\'));; at = at.substr(0, at.find_last_of('\\'))) {
      folders.insert(at);
      if (at.size() <= top.size() || !SameName(at.substr(0, top.size()), top) || at.find('\\') == std::string::npos)
        break;
    }
  }
  // A folder's entries are flushed with a handle opened for writing, where
  // the file system allows it (NTFS does). Where it does not, the renames
  // stand as the file system keeps them.
  for (const auto& folder : folders) {
    Handle handle(::CreateFileW(WideFromUtf8(folder).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
      FailLast();
      fail(folder);
      continue;
    }
    if (!::FlushFileBuffers(handle.get())) {
      const DWORD error = GetLastError();
      if (error != ERROR_INVALID_FUNCTION && error != ERROR_ACCESS_DENIED && error != ERROR_NOT_SUPPORTED) {
        FailWith(error);
        fail(folder);
      }
    }
  }
  if (firstError != 0) errno = firstError;
  return firstError == 0;
}

int OpenRegularFileForReading(const std::string& path) {
  Handle file = OpenForReading(path);
  if (!file) return -1;
  return DescriptorFor(std::move(file), _O_RDONLY);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  Handle file = OpenForReading(path, FILE_FLAG_SEQUENTIAL_SCAN);
  if (!file) return false;
  bytes.clear();
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) bytes.reserve(static_cast<size_t>(size.QuadPart));
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return FailLast();
    if (got == 0) return true;
    bytes.append(buffer, got);
  }
}

bool ReadFileGuarded(const std::string& path, std::string& bytes, const SGuardedRead& rules, std::string* cause,
                     FileStamp* stamp) {
  bytes.clear();
  const std::string native = NativePath(path);
  SplitPath split;
  if (!Split(native, split) || split.parts.empty())
    return Refuse(cause, native + " is not a file name", split.parts.empty() ? ENOENT : EACCES);
  const bool inside = FollowedFolders(split) < split.parts.size();
  HeldFolders folders;
  if (!folders.Open(split, split.parts.size() - 1, false, false)) {
    const int error = errno;
    if (error == ELOOP)
      return Refuse(cause,
                    native + " lies behind a symbolic link or junction; not following it out of the application "
                             "directory",
                    error);
    return Refuse(cause, native + " cannot be read: " + ErrorText(error), error);
  }
  const std::string target = folders.path + split.parts.back();
  const bool noFollow = inside || rules.privateState;
  Handle file(::CreateFileW(WideFromUtf8(target).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
  if (!file) {
    FailLast();
    const int error = errno;
    return Refuse(cause, native + " cannot be read: " + ErrorText(error), error);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  FileStamp found;
  if (!StampOf(file.get(), found, &info))
    return Refuse(cause, native + " cannot be read: " + ErrorText(errno), errno);
  if (noFollow && IsLink(AttributesOf(info, target)))
    return Refuse(cause, native + " is a symbolic link or junction; not following it out of the application directory",
                  ELOOP);
  if (IsFolder(info.dwFileAttributes) || ::GetFileType(file.get()) != FILE_TYPE_DISK)
    return Refuse(cause, native + " is " + KindOf(info.dwFileAttributes) + ", not a regular file",
                  IsFolder(info.dwFileAttributes) ? EISDIR : EINVAL);
  // Who may change a file is said by its access list on Windows, not by an
  // owner and mode bits; ownOnly and trustAnchor rest on the folders' own
  // access lists here.
  if (rules.privateState && info.nNumberOfLinks != 1)
    return Refuse(cause, native + " has other names (hard links)", EACCES);
  if (stamp != nullptr) *stamp = found;
  if (found.size > rules.maxBytes)
    return Refuse(cause, native + " is larger than " + std::to_string(rules.maxBytes) + " bytes", EFBIG);
  char block[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), block, sizeof block, &got, nullptr)) {
      FailLast();
      const int error = errno;
      bytes.clear();
      return Refuse(cause, native + " cannot be read: " + ErrorText(error), error);
    }
    if (got == 0) break;
    if (bytes.size() + got > rules.maxBytes) {
      bytes.clear();
      return Refuse(cause, native + " is larger than " + std::to_string(rules.maxBytes) + " bytes", EFBIG);
    }
    bytes.append(block, got);
  }
  return true;
}

long long ReadDescriptor(int fd, void* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::ReadFile(HandleOf(fd), buffer, want, &got, nullptr)) {
    if (GetLastError() == ERROR_HANDLE_EOF || GetLastError() == ERROR_BROKEN_PIPE) return 0;
    FailLast();
    return -1;
  }
  return got;
}

long long ReadDescriptorAt(int fd, void* buffer, std::size_t size, long long offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xffffffff);
  at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::ReadFile(HandleOf(fd), buffer, want, &got, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    FailLast();
    return -1;
  }
  return got;
}

long long DescriptorSize(int fd) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(HandleOf(fd), &size)) return FailLast(), -1;
  return size.QuadPart;
}

std::time_t DescriptorModifiedTime(int fd) {
  FILETIME written{};
  if (!::GetFileTime(HandleOf(fd), nullptr, nullptr, &written)) return FailLast(), static_cast<std::time_t>(-1);
  return static_cast<std::time_t>(NsFromFileTime(written) / 1000000000);
}

bool SetDescriptorModifiedTime(int fd, std::time_t modified) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(modified) * 10000000ULL + kUnixEpochIn100Ns;
  FILETIME written{static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(ticks >> 32)};
  return ::SetFileTime(HandleOf(fd), nullptr, nullptr, &written) ? true : FailLast();
}

bool TruncateDescriptor(int fd, long long size) {
  LARGE_INTEGER at{};
  at.QuadPart = size;
  const HANDLE file = HandleOf(fd);
  return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file) ? true : FailLast();
}

bool FlushDescriptor(int fd) { return ::FlushFileBuffers(HandleOf(fd)) ? true : FailLast(); }

void AdviseSequentialRead(int) {}

void CloseDescriptor(int fd) {
  const int error = errno;
  ::_close(fd);
  errno = error;
}
