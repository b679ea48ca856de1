#include "platform/win32/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <climits>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "platform/core_guard.h"

namespace {

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

// errno keeps the system's reason as well, for the messages callers print.
BOOL Fail(int error = errno) {
  errno = error;
  SetLastError(ErrorFromErrno(error));
  errno = error;
  return FALSE;
}

// Closes the descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      const int error = errno;
      ::close(fd_);
      errno = error;
    }
    fd_ = fd;
  }

 private:
  int fd_;
};

constexpr mode_t kMaximumFileMode = 0755;

std::mutex rootMutex;
std::string guardedRoot;  // empty: the executable's directory

std::vector<std::string> Components(const std::string& nativePath) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= nativePath.size()) {
    size_t end = nativePath.find('/', begin);
    if (end == std::string::npos) end = nativePath.size();
    std::string part = nativePath.substr(begin, end - begin);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    begin = end + 1;
  }
  return parts;
}

// How many leading folders of path may be followed through links: those of the
// guarded root when path lies below it, else every folder of the path.
size_t FollowedFolders(const std::string& nativePath, const std::vector<std::string>& parts) {
  const std::vector<std::string> root = Components(NativePath(GuardedRoot()));
  const bool below =
      nativePath.front() == '/' && root.size() <= parts.size() && std::equal(root.begin(), root.end(), parts.begin());
  return below ? root.size() : parts.size();
}

void ReportLink(const std::string& shown) {
  std::fprintf(stderr, "%s: %s is a symbolic link; refusing to write, create or remove anything through it\n",
               program_invocation_short_name, shown.c_str());
}

std::string Joined(const std::string& nativePath, const std::vector<std::string>& parts, size_t count) {
  std::string path = nativePath.front() == '/' ? "/" : "";
  for (size_t i = 0; i < count; ++i) path += (i == 0 ? "" : "/") + parts[i];
  return path;
}

// The folder of the first count names of parts in two system calls: the
// followed part as one path, the guarded rest by openat2, which refuses every
// link and every way out of it. -2 when the walk must decide: the kernel has
// no openat2 (or a filter forbids it), or any name fails to open: missing
// (the walk may create it), a link (the walk names it), a rename racing the
// lookup, or no permission.
int OpenFolderAtOnce(const std::string& nativePath, const std::vector<std::string>& parts, size_t count,
                     size_t followed) {
  static std::atomic<bool> unsupported{false};
  if (unsupported.load(std::memory_order_relaxed)) return -2;
  const size_t start = std::min(followed, count);
  std::string rest;
  for (size_t i = start; i < count; ++i) {
    if (parts[i] == "..") return -2;  // refused by the walk, with its errno
    rest += (i == start ? "" : "/") + parts[i];
  }
  const std::string base = Joined(nativePath, parts, start);
  Descriptor root(::open(base.empty() ? "." : base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root) return -2;
  if (rest.empty()) return root.release();
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = ::syscall(SYS_openat2, root.get(), rest.c_str(), &how, sizeof how);
  if (fd >= 0) return static_cast<int>(fd);
  if (errno == ENOSYS || errno == EPERM || errno == E2BIG) unsupported = true;
  return -2;
}

// Opens the folder made of the first count names of parts, never following a
// link below the guarded root; with create, missing folders are made 0755. -1
// with errno on failure (ELOOP for a refused link). The name-by-name walk from
// "/" (or the working folder) is what decides whenever the quick lookup cannot.
int OpenFolder(const std::string& nativePath, const std::vector<std::string>& parts, size_t count, bool create,
               bool report = true) {
  const size_t followed = FollowedFolders(nativePath, parts);
  if (const int quick = OpenFolderAtOnce(nativePath, parts, count, followed); quick != -2) return quick;
  Descriptor folder(::open(nativePath.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return -1;
  for (size_t i = 0; i < count; ++i) {
    const std::string& name = parts[i];
    const bool guarded = i >= followed;
    if (guarded && name == "..") {
      errno = EACCES;
      return -1;
    }
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC | (guarded ? O_NOFOLLOW : 0);
    int next = ::openat(folder.get(), name.c_str(), flags);
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(folder.get(), name.c_str(), 0755) != 0 && errno != EEXIST) return -1;
      next = ::openat(folder.get(), name.c_str(), flags);
    }
    if (next < 0) {
      const int error = errno;
      struct stat st {};
      if (guarded && (error == ELOOP || error == ENOTDIR) &&
          ::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        if (report) ReportLink(Joined(nativePath, parts, i + 1));
        errno = ELOOP;
        return -1;
      }
      errno = error;
      return -1;
    }
    folder.reset(next);
  }
  return folder.release();
}

// The folder that holds path, opened as OpenFolder does, and the last name.
int OpenParent(const std::string& path, std::string& name, bool create = false) {
  const std::string native = NativePath(path);
  const std::vector<std::string> parts = native.empty() ? std::vector<std::string>{} : Components(native);
  if (parts.empty() || parts.back() == "..") {
    errno = ENOENT;
    return -1;
  }
  name = parts.back();
  return OpenFolder(native, parts, parts.size() - 1, create);
}

// Opens a new, exclusive temporary file in folder for target name. The name
// carries the target's so that a leftover is recognisable and can be cleaned up.
int OpenTemporaryIn(int folder, const std::string& target, mode_t mode, std::string& tempName) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::string prefix = "." + target + kTempFileInfix;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix;
    for (int i = 0; i < 6; ++i) candidate += kAlphabet[random() % (sizeof(kAlphabet) - 1)];
    const int fd = ::openat(folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0 || errno != EEXIST) {
      tempName = std::move(candidate);
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// Flushes a folder's entries (an O_PATH descriptor cannot be synced itself).
void SyncFolder(int folder) {
  Descriptor readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (readable) ::fsync(readable.get());
}

// Removes everything inside the open folder, never following a link.
bool RemoveContent(int folder) {
  Descriptor listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing) return false;
  DIR* dir = ::fdopendir(::dup(listing.get()));
  if (dir == nullptr) return false;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  bool ok = true;
  for (const auto& name : names) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Descriptor child(::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      ok = child && RemoveContent(child.get()) && ok;
      ok = ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 && ok;
    } else {
      ok = ::unlinkat(folder, name.c_str(), 0) == 0 && ok;
    }
  }
  return ok;
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

void SetGuardedRoot(std::string path) {
  std::lock_guard lock(rootMutex);
  guardedRoot = std::move(path);
}

std::string GuardedRoot() {
  {
    std::lock_guard lock(rootMutex);
    if (!guardedRoot.empty()) return guardedRoot;
  }
  // Read once: an update that replaces the running binary leaves
  // /proc/self/exe naming a deleted file.
  static const std::string folder = [] {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string("/");
    const std::string exe(buffer, static_cast<size_t>(length));
    return exe.substr(0, exe.find_last_of('/') + 1);
  }();
  return folder;
}

BOOL DeleteFileA(const char* path) {
  if (path == nullptr) return Fail(ENOENT);
  std::string name;
  const Descriptor folder(OpenParent(path, name));
  if (!folder) return Fail();
  struct stat st {};
  if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail();
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
  if (::unlinkat(folder.get(), name.c_str(), 0) != 0) return Fail();
  return TRUE;
}

namespace {

// Both ends of a move: each end's folder, opened through the guarded walk,
// and the last name in it.
struct MoveEnds {
  Descriptor from, to;
  std::string fromName, toName;
  bool Open(const char* src, const char* dst) {
    if (src == nullptr || dst == nullptr) {
      errno = ENOENT;
      return false;
    }
    from.reset(OpenParent(src, fromName));
    if (!from) return false;
    to.reset(OpenParent(dst, toName));
    return static_cast<bool>(to);
  }
};

}  // namespace

BOOL MoveFileExA(const char* src, const char* dst, DWORD flags) {
  MoveEnds ends;
  if (!ends.Open(src, dst)) return Fail();
  const Descriptor &from = ends.from, &to = ends.to;
  const std::string &fromName = ends.fromName, &toName = ends.toName;
  const unsigned how = (flags & MOVEFILE_REPLACE_EXISTING) != 0 ? 0 : RENAME_NOREPLACE;
  if (::renameat2(from.get(), fromName.c_str(), to.get(), toName.c_str(), how) == 0) return TRUE;
  if (how == 0 || (errno != EINVAL && errno != ENOSYS)) return Fail();
  // File systems without RENAME_NOREPLACE: link never replaces either.
  if (::linkat(from.get(), fromName.c_str(), to.get(), toName.c_str(), 0) != 0) return Fail();
  ::unlinkat(from.get(), fromName.c_str(), 0);
  return TRUE;
}

BOOL CreateHardLinkA(const char* newName, const char* existing, void* /*security*/) {
  MoveEnds ends;
  if (!ends.Open(existing, newName)) return Fail();
  struct stat st {};
  if (::fstatat(ends.from.get(), ends.fromName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail();
  if (!S_ISREG(st.st_mode)) return Fail(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
  if (::linkat(ends.from.get(), ends.fromName.c_str(), ends.to.get(), ends.toName.c_str(), 0) != 0) return Fail();
  return TRUE;
}

BOOL MoveFileIntoPlace(const char* src, const char* dst) {
  MoveEnds ends;
  if (!ends.Open(src, dst)) return Fail();
  const Descriptor &from = ends.from, &to = ends.to;
  const std::string &fromName = ends.fromName, &toName = ends.toName;
  struct stat st {};
  if (::fstatat(from.get(), fromName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail();
  if (!S_ISREG(st.st_mode)) return Fail(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
  struct stat target {};
  const bool targetExists = ::fstatat(to.get(), toName.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0;
  if (targetExists && S_ISDIR(target.st_mode)) return Fail(EISDIR);
  // The bits are set before the rename, so the name never shows the file with
  // other bits, not even for a moment. The file is only opened when they must
  // change: a batch of a thousand files would otherwise spend more time
  // opening than renaming.
  const bool keepsTargetBits = targetExists && S_ISREG(target.st_mode);
  if (!keepsTargetBits || (target.st_mode & kMaximumFileMode) != (st.st_mode & 07777)) {
    const Descriptor in(::openat(from.get(), fromName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!in) return Fail();
    const mode_t mode = (keepsTargetBits ? target.st_mode : ModeForNewCopy(in.get(), st.st_mode)) & kMaximumFileMode;
    if ((st.st_mode & 07777) != mode && ::fchmod(in.get(), mode) != 0) return Fail();
  }
  if (::renameat2(from.get(), fromName.c_str(), to.get(), toName.c_str(), 0) == 0) return TRUE;
  if (errno != EXDEV) return Fail();
  if (!CopyFileA(src, dst, FALSE)) return FALSE;
  ::unlinkat(from.get(), fromName.c_str(), 0);
  return TRUE;
}

BOOL CreateDirectoryTree(const char* path) {
  if (path == nullptr || *path == '\0') return Fail(ENOENT);
  const std::string native = NativePath(path);
  const std::vector<std::string> parts = Components(native);
  const Descriptor folder(OpenFolder(native, parts, parts.size(), true));
  return folder ? TRUE : Fail();
}

namespace {

std::string UserName(uid_t uid) {
  std::string buffer(16384, '\0');
  passwd entry{};
  passwd* found = nullptr;
  const std::string number = "uid " + std::to_string(uid);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return number;
  return std::string(found->pw_name) + " (" + number + ")";
}

}  // namespace

bool RunsAsOwnerOf(const std::string& path, std::string& owner, std::string& caller) {
  struct stat status {};
  if (::stat(NativePath(path).c_str(), &status) != 0) return true;
  const uid_t self = ::geteuid();
  if (status.st_uid == self) return true;
  owner = UserName(status.st_uid);
  caller = UserName(self);
  return false;
}

std::string MakeScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && base[0] == '/') ? base : "/tmp";
  if (pattern.back() != '/') pattern += '/';
  pattern += "zoltupdate.XXXXXX";
  // mkdtemp makes the folder 0700 whatever the umask.
  if (::mkdtemp(pattern.data()) == nullptr) {
    Fail();
    return "";
  }
  return pattern + "/";
}

bool RemoveDirectoryTree(const char* path) {
  if (path == nullptr) return false;
  std::string native = NativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  // A path built from an empty or damaged name must never reach the root of
  // the file system.
  if (native.empty() || native == "/") return false;
  std::string name;
  const Descriptor parent(OpenParent(native, name));
  if (!parent) return errno == ENOENT;
  struct stat st {};
  if (::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(parent.get(), name.c_str(), 0) == 0;
  const Descriptor folder(::openat(parent.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  const bool emptied = folder && RemoveContent(folder.get());
  return ::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) == 0 && emptied;
}

int OpenFileForWriting(const char* path) {
  if (path == nullptr) return Fail(ENOENT), -1;
  std::string name;
  const Descriptor folder(OpenParent(path, name));
  if (!folder) return Fail(), -1;
  Descriptor file(::openat(folder.get(), name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
  if (!file) {
    if (errno == ELOOP) ReportLink(NativePath(path));
    return Fail(), -1;
  }
  // A second name could be a hard link planted to have another file written;
  // a file of another user's was not left by an earlier run of this one.
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid())
    return Fail(EACCES), -1;
  if (::fcntl(file.get(), F_SETFL, 0) != 0) return Fail(), -1;
  return file.release();
}

BOOL CopyFileA(const char* src, const char* dst, BOOL failIfExists) {
  if (src == nullptr || dst == nullptr) return Fail(ENOENT);
  std::string fromName, toName;
  const Descriptor fromFolder(OpenParent(src, fromName));
  if (!fromFolder) return Fail();
  const Descriptor in(::openat(fromFolder.get(), fromName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!in) return Fail();
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return Fail();
  if (!S_ISREG(st.st_mode)) return Fail(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
  const Descriptor folder(OpenParent(dst, toName));
  if (!folder) return Fail();
  struct stat target {};
  const bool targetExists = ::fstatat(folder.get(), toName.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0;
  if (targetExists && (failIfExists || S_ISDIR(target.st_mode))) return Fail(S_ISDIR(target.st_mode) ? EISDIR : EEXIST);
  // Only a regular file hands its bits on; a link's target lends none. The cap
  // keeps setuid, setgid and group or world write off every file written.
  const mode_t mode =
      (targetExists && S_ISREG(target.st_mode) ? target.st_mode : ModeForNewCopy(in.get(), st.st_mode)) &
      kMaximumFileMode;

  std::string tempName;
  Descriptor out(OpenTemporaryIn(folder.get(), toName, mode, tempName));
  if (!out) return Fail();
  bool ok = CopyContent(in.get(), out.get(), st.st_size);
  ok = ok && ::fchmod(out.get(), mode) == 0;  // umask may have narrowed it
  int error = errno;
  if (::close(out.release()) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) {
    const unsigned flags = failIfExists ? RENAME_NOREPLACE : 0;
    ok = ::renameat2(folder.get(), tempName.c_str(), folder.get(), toName.c_str(), flags) == 0;
    error = errno;
  }
  if (!ok) {
    ::unlinkat(folder.get(), tempName.c_str(), 0);
    return Fail(error);
  }
  return TRUE;
}

namespace crt {
int rename(const char* oldName, const char* newName) { return MoveFileExA(oldName, newName, 0) ? 0 : -1; }
}  // namespace crt

namespace {

bool ReplaceFile(const std::string& path, std::string_view bytes, bool flush) {
  std::string name;
  const Descriptor folder(OpenParent(path, name));
  if (!folder) return false;
  struct stat existing {};
  const bool isFile =
      ::fstatat(folder.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(existing.st_mode);
  const mode_t mode = (isFile ? existing.st_mode : 0644) & kMaximumFileMode;
  std::string tempName;
  Descriptor fd(OpenTemporaryIn(folder.get(), name, mode, tempName));
  if (!fd) return false;
  bool ok = WriteAll(fd.get(), bytes.data(), bytes.size()) && ::fchmod(fd.get(), mode) == 0 &&
            (!flush || ::fsync(fd.get()) == 0);
  ok = (::close(fd.release()) == 0) && ok;
  ok = ok && ::renameat(folder.get(), tempName.c_str(), folder.get(), name.c_str()) == 0;
  if (!ok) {
    ::unlinkat(folder.get(), tempName.c_str(), 0);
    return false;
  }
  // Make the new name durable too, so a crash after this call keeps the new file.
  if (flush) SyncFolder(folder.get());
  return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes) { return ReplaceFile(path, bytes, true); }

bool ReplaceFileUnflushed(const std::string& path, std::string_view bytes) { return ReplaceFile(path, bytes, false); }

namespace {

FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modifiedNs = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changedNs = std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

}  // namespace

std::int64_t FileClockNow() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

long long FreeDiskBytes(const std::string& path) {
  std::string at = NativePath(path);
  struct statvfs fs {};
  while (::statvfs(at.empty() ? "/" : at.c_str(), &fs) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return -1;
    while (!at.empty() && at.back() == '/') at.pop_back();
    const std::size_t slash = at.find_last_of('/');
    if (at.empty() || slash == std::string::npos) return -1;
    at.erase(slash + 1);
  }
  // f_bavail: what an unprivileged writer may use, not the blocks kept for root.
  return static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
}

bool StampRegularFile(const std::string& path, FileStamp& stamp) {
  struct stat st {};
  if (::lstat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  stamp = StampOf(st);
  return true;
}

bool AppendToFile(const std::string& path, std::string_view bytes) {
  std::string name;
  const Descriptor folder(OpenParent(path, name));
  if (!folder) return false;
  const Descriptor file(
      ::openat(folder.get(), name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
  if (!file) {
    if (errno == ELOOP) ReportLink(NativePath(path));
    return false;
  }
  struct stat st {};
  return ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode) && WriteAll(file.get(), bytes.data(), bytes.size());
}

void StartWriteBack(int fd) { ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

bool MakeDurable(const std::vector<std::string>& files, const std::string& root, std::string* failed) {
  std::string top = NativePath(root);
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  std::set<std::string> folders;
  int firstError = 0;
  // What cannot be flushed cannot be vouched for: the caller is about to
  // record these files as installed.
  const auto fail = [&](const std::string& path) {
    if (firstError != 0) return;
    firstError = errno != 0 ? errno : EIO;
    if (failed != nullptr) *failed = path;
  };
  for (const auto& file : files) {
    std::string name;
    const Descriptor folder(OpenParent(file, name));
    const Descriptor fd(folder ? ::openat(folder.get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)
                               : -1);
    if (!fd || ::fdatasync(fd.get()) != 0) fail(NativePath(file));
    const std::string native = NativePath(file);
    for (std::string at = native.substr(0, native.find_last_of('/'));; at = at.substr(0, at.find_last_of('/'))) {
      folders.insert(at);
      if (at == top || at.size() <= top.size() || at.compare(0, top.size(), top) != 0 ||
          at.find('/') == std::string::npos)
        break;
    }
  }
  for (const auto& folder : folders) {
    const std::vector<std::string> parts = Components(folder);
    const Descriptor opened(OpenFolder(folder, parts, parts.size(), false));
    const Descriptor readable(opened ? ::openat(opened.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
    if (!readable || ::fsync(readable.get()) != 0) fail(folder);
  }
  if (firstError != 0) errno = firstError;
  return firstError == 0;
}

int OpenRegularFileForReading(const std::string& path) {
  // O_NONBLOCK so that a FIFO standing where a file should be cannot hang the
  // open (nor a read later); only regular files are read.
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = error;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  const int fd = OpenRegularFileForReading(path);
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

namespace {

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

bool Refuse(std::string* cause, const std::string& text, int error) {
  if (cause != nullptr) *cause = text;
  errno = error;
  return false;
}

}  // namespace

bool ReadFileGuarded(const std::string& path, std::string& bytes, const SGuardedRead& rules, std::string* cause,
                     FileStamp* stamp) {
  bytes.clear();
  const std::string native = NativePath(path);
  const std::vector<std::string> parts = native.empty() ? std::vector<std::string>{} : Components(native);
  if (parts.empty() || parts.back() == "..") return Refuse(cause, native + " is not a file name", ENOENT);
  const bool inside = FollowedFolders(native, parts) < parts.size();
  const Descriptor folder(OpenFolder(native, parts, parts.size() - 1, false, false));
  if (!folder) {
    const int error = errno;
    if (error == ELOOP)
      return Refuse(cause, native + " lies behind a symbolic link; not following it out of the application directory",
                    error);
    return Refuse(cause, native + " cannot be read: " + std::strerror(error), error);
  }
  const std::string& name = parts.back();
  const Descriptor fd(
      ::openat(folder.get(), name.c_str(),
               O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (inside || rules.privateState ? O_NOFOLLOW : 0)));
  if (!fd) {
    const int error = errno;
    struct stat st {};
    if ((inside || rules.privateState) && (error == ELOOP || error == ENXIO) &&
        ::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
      return Refuse(cause, native + " is a symbolic link; not following it out of the application directory", ELOOP);
    return Refuse(cause, native + " cannot be read: " + std::strerror(error), error);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Refuse(cause, native + " cannot be read: " + std::strerror(errno), errno);
  if (!S_ISREG(st.st_mode))
    return Refuse(cause, native + " is " + KindOf(st.st_mode) + ", not a regular file",
                  S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  const uid_t self = ::geteuid();
  if (rules.ownOnly && st.st_uid != self)
    return Refuse(cause, native + " belongs to another user (uid " + std::to_string(st.st_uid) + ")", EACCES);
  if (rules.trustAnchor && !inside) {
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      return Refuse(cause, native + " can be changed by other users (mode " + mode + ")", EACCES);
    }
    if (st.st_uid != self && st.st_uid != 0)
      return Refuse(cause, native + " belongs to another user (uid " + std::to_string(st.st_uid) + ")", EACCES);
  }
  if (rules.privateState && st.st_nlink != 1) return Refuse(cause, native + " has other names (hard links)", EACCES);
  if (stamp != nullptr) *stamp = StampOf(st);
  if (static_cast<std::uintmax_t>(st.st_size) > rules.maxBytes)
    return Refuse(cause, native + " is larger than " + std::to_string(rules.maxBytes) + " bytes", EFBIG);
  // The file is read in one piece of the size it has; whatever it grew by
  // meanwhile is appended in blocks, and the bound holds for all of it.
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t filled = 0;
  char block[65536];
  for (;;) {
    const bool whole = filled == bytes.size();
    const ssize_t n =
        whole ? ::read(fd.get(), block, sizeof block) : ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      bytes.clear();
      return Refuse(cause, native + " cannot be read: " + std::strerror(error), error);
    }
    if (n == 0) break;
    if (whole) {
      if (bytes.size() + static_cast<size_t>(n) > rules.maxBytes) {
        bytes.clear();
        return Refuse(cause, native + " is larger than " + std::to_string(rules.maxBytes) + " bytes", EFBIG);
      }
      bytes.append(block, static_cast<size_t>(n));
    }
    filled += static_cast<size_t>(n);
  }
  bytes.resize(filled);
  return true;
}

long long ReadDescriptor(int fd, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

long long ReadDescriptorAt(int fd, void* buffer, std::size_t size, long long offset) {
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

long long DescriptorSize(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::time_t DescriptorModifiedTime(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_mtim.tv_sec : static_cast<std::time_t>(-1);
}

bool TruncateDescriptor(int fd, long long size) {
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0 && ::lseek(fd, static_cast<off_t>(size), SEEK_SET) == size;
}

bool FlushDescriptor(int fd) { return ::fdatasync(fd) == 0; }

void AdviseSequentialRead(int fd) { ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

void CloseDescriptor(int fd) {
  const int error = errno;
  ::close(fd);
  errno = error;
}

bool SetDescriptorModifiedTime(int fd, std::time_t modified) {
  const timespec times[2] = {{0, UTIME_NOW}, {modified, 0}};
  return ::futimens(fd, times) == 0;
}
