#include "platform/win32/Files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <set>

#include "platform/core_guard.h"

namespace {

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

// errno keeps the system's reason as well, for the messages callers print.
BOOL Fail(int error = errno) {
  errno = error;
  SetLastError(ErrorFromErrno(error));
  return FALSE;
}

std::string ParentOf(const std::string& nativePath) {
  const auto slash = nativePath.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return nativePath.substr(0, slash);
}

std::string BaseOf(const std::string& nativePath) {
  const auto slash = nativePath.find_last_of('/');
  return slash == std::string::npos ? nativePath : nativePath.substr(slash + 1);
}

// Opens a new, exclusive temporary file beside target. The name carries the
// target's name so that a leftover is recognisable and can be cleaned up.
int OpenTemporaryBeside(const std::string& target, mode_t mode, std::string& tempPath) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::string prefix = ParentOf(target) + "/." + BaseOf(target) + kTempFileInfix;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix;
    for (int i = 0; i < 6; ++i) candidate += kAlphabet[random() % (sizeof(kAlphabet) - 1)];
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) {
      tempPath = std::move(candidate);
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// Copies the whole of in to out in the kernel where it can (copy_file_range
// also shares extents on file systems that can), falling back to read/write.
bool CopyContent(int in, int out, off_t size) {
  off_t done = 0;
  while (done < size) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  if (done == size) return true;
  // Fallback for file systems or kernels without copy_file_range, and for
  // files whose size changed while being copied.
  if (::lseek(in, done, SEEK_SET) < 0) return false;
  std::string buffer(1 << 20, '\0');
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) return false;
  }
}

// Downloads arrive without permission bits of their own, so a copy that
// replaces an installed file keeps the installed file's bits (the client stays
// executable), and a new file that is a program (ELF or "#!" script) becomes
// executable wherever it is readable.
mode_t ModeForNewCopy(int source, mode_t sourceMode) {
  char head[4] = {};
  const ssize_t n = ::pread(source, head, sizeof head, 0);
  const bool isProgram = (n == 4 && std::string_view(head, 4) ==
                                        "\x7f"
                                        "ELF") ||
                         (n >= 2 && head[0] == '#' && head[1] == '!');
  if (!isProgram) return sourceMode;
  return sourceMode | ((sourceMode & 0444) >> 2);
}

}  // namespace

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

std::string NativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

BOOL PathFileExistsA(const char* path) {
  if (path == nullptr || *path == '\0') return FALSE;
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) == 0) return TRUE;
  // A dangling symbolic link still occupies the name.
  if (::lstat(NativePath(path).c_str(), &st) == 0) return TRUE;
  return Fail();
}

BOOL PathIsDirectoryA(const char* path) {
  if (path == nullptr || *path == '\0') return FALSE;
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) != 0) return Fail();
  return S_ISDIR(st.st_mode) ? TRUE : FALSE;
}

BOOL DeleteFileA(const char* path) {
  if (path == nullptr) return Fail(ENOENT);
  const std::string native = NativePath(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) return Fail();
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
  if (::unlink(native.c_str()) != 0) return Fail();
  return TRUE;
}

BOOL CopyFileA(const char* src, const char* dst, BOOL failIfExists) {
  if (src == nullptr || dst == nullptr) return Fail(ENOENT);
  const std::string from = NativePath(src);
  const std::string to = NativePath(dst);

  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail();
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(in);
    return Fail(error);
  }
  struct stat target {};
  const bool targetExists = ::stat(to.c_str(), &target) == 0;
  if (targetExists && (failIfExists || S_ISDIR(target.st_mode))) {
    ::close(in);
    return Fail(S_ISDIR(target.st_mode) ? EISDIR : EEXIST);
  }
  const mode_t mode = targetExists ? (target.st_mode & 07777) : ModeForNewCopy(in, st.st_mode & 07777);

  std::string tempPath;
  const int out = OpenTemporaryBeside(to, mode, tempPath);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return Fail(error);
  }
  bool ok = CopyContent(in, out, st.st_size);
  ok = ok && ::fchmod(out, mode) == 0;  // umask may have narrowed it
  int error = errno;
  ::close(in);
  if (::close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) {
    const unsigned flags = failIfExists ? RENAME_NOREPLACE : 0;
    ok = ::renameat2(AT_FDCWD, tempPath.c_str(), AT_FDCWD, to.c_str(), flags) == 0;
    error = errno;
  }
  if (!ok) {
    ::unlink(tempPath.c_str());
    return Fail(error);
  }
  return TRUE;
}

BOOL MoveFileExA(const char* src, const char* dst, DWORD flags) {
  if (src == nullptr || dst == nullptr) return Fail(ENOENT);
  const std::string from = NativePath(src);
  const std::string to = NativePath(dst);
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;

  // lstat, not stat: a link at src is refused, never followed. The file is
  // only opened when its bits must change (an installation batch of a
  // thousand files would otherwise spend more time opening than renaming).
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return Fail();
  if (!S_ISREG(st.st_mode)) return Fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  struct stat target {};
  const bool targetExists = ::stat(to.c_str(), &target) == 0;
  if (targetExists && (!replace || S_ISDIR(target.st_mode))) return Fail(S_ISDIR(target.st_mode) ? EISDIR : EEXIST);
  // The bits are set before the rename, so the new name never shows a file
  // with the wrong mode, not even for a moment.
  if (!targetExists || (target.st_mode & 07777) != (st.st_mode & 07777)) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0) return Fail();
    const mode_t mode = targetExists ? (target.st_mode & 07777) : ModeForNewCopy(in, st.st_mode & 07777);
    const bool moded = (st.st_mode & 07777) == mode || ::fchmod(in, mode) == 0;
    const int modeError = errno;
    ::close(in);
    if (!moded) return Fail(modeError);
  }

  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), replace ? 0 : RENAME_NOREPLACE) == 0) return TRUE;
  if (errno != EXDEV || (flags & MOVEFILE_COPY_ALLOWED) == 0) return Fail();
  if (!CopyFileA(src, dst, replace ? FALSE : TRUE)) return FALSE;
  ::unlink(from.c_str());
  return TRUE;
}

namespace crt {
int rename(const char* oldName, const char* newName) {
  if (oldName == nullptr || newName == nullptr) return -1;
  const std::string from = NativePath(oldName);
  const std::string to = NativePath(newName);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // File systems without RENAME_NOREPLACE: link never replaces either.
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
}
}  // namespace crt

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string target = NativePath(path);
  struct stat existing {};
  const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  std::string tempPath;
  const int fd = OpenTemporaryBeside(target, mode, tempPath);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tempPath.c_str());
    return false;
  }
  // Make the new name durable too, so a crash after this call keeps the new file.
  const int dir = ::open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void StartWriteBack(int fd) { ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

bool MakeDurable(const std::vector<std::string>& files, const std::string& root) {
  std::string top = NativePath(root);
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  std::set<std::string> folders;
  for (const auto& file : files) {
    const std::string native = NativePath(file);
    for (std::string folder = ParentOf(native);; folder = ParentOf(folder)) {
      folders.insert(folder);
      if (folder == top || folder.size() <= top.size() || folder.compare(0, top.size(), top) != 0) break;
    }
  }
  // Write-back of downloaded files began when each was complete, so each wait
  // below is short; a file copied across file systems is written here.
  bool ok = true;
  for (const auto& file : files) {
    const int fd = ::open(NativePath(file).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;  // gone (or never written): nothing of it to keep
    if (::fdatasync(fd) != 0) ok = false;
    ::close(fd);
  }
  for (const auto& folder : folders) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    if (::fsync(fd) != 0) ok = false;
    ::close(fd);
  }
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bytes.clear();
  if (::fstat(fd, &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}
