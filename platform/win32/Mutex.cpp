#include "platform/win32/Mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <mutex>
#include <unordered_set>

#include "platform/core_guard.h"
#include "platform/win32/RuntimeFolder.h"

namespace {

struct MutexObject {
  int fd = -1;  // -1 for an unnamed mutex
  bool owned = false;
  std::string name;
};

constexpr std::size_t kNoteBytes = 1024;

// Handles given out and not yet closed, so that a stray or double close is an
// error instead of freed memory.
std::mutex tableMutex;
std::unordered_set<MutexObject*> liveHandles;

MutexObject* Lookup(HANDLE handle) {
  auto* object = static_cast<MutexObject*>(handle);
  std::lock_guard lock(tableMutex);
  return liveHandles.count(object) != 0 ? object : nullptr;
}

HANDLE Register(MutexObject* object) {
  std::lock_guard lock(tableMutex);
  liveHandles.insert(object);
  return object;
}

bool IsOwnRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// Moves the folder at path aside, to a free name beside it; false when it
// cannot be moved.
bool MoveFolderAside(const std::string& path, std::string& aside) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    aside = path + ".in-the-way." + std::to_string(::getpid()) + (attempt == 0 ? "" : "." + std::to_string(attempt));
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EEXIST && errno != ENOTEMPTY) return false;
  }
  return false;
}

// Opens (creating) the user's own lock file at path. Anything else found under
// the name (a link, another user's file, a folder) cannot stand for the name:
// no instance of this user can hold it, and running unguarded would let two
// instances run at once. The folder holding it is the user's own, so a file
// or link is removed and a folder, which may hold something, moved aside; a
// fresh file is made in its place.
int OpenOwnLockFile(const std::string& path) {
  constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int fd = ::open(path.c_str(), kFlags | O_CREAT, 0600);
  if (fd >= 0 && IsOwnRegularFile(fd)) return fd;
  if (fd >= 0) ::close(fd);
  struct stat st {};
  const char* program = program_invocation_short_name;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::string aside;
    if (!MoveFolderAside(path, aside)) {
      std::fprintf(stderr, "%s: cannot take the instance lock: %s is a folder that cannot be moved aside (%s)\n",
                   program, path.c_str(), std::strerror(errno));
      return -1;
    }
    std::fprintf(stderr, "%s: %s is a folder, not a lock file; moved it aside to %s\n", program, path.c_str(),
                 aside.c_str());
  } else {
    std::fprintf(stderr, "%s: %s is not a lock file of this user; replacing it\n", program, path.c_str());
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      std::fprintf(stderr, "%s: cannot take the instance lock: cannot remove %s (%s)\n", program, path.c_str(),
                   std::strerror(errno));
      return -1;
    }
  }
  fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "%s: cannot take the instance lock: cannot create %s (%s)\n", program, path.c_str(),
                 std::strerror(errno));
    return -1;
  }
  if (!IsOwnRegularFile(fd)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string MutexLockPath(const std::string& name) {
  std::string dir = UserRuntimeFolder();
  if (dir.empty()) return {};
  dir += '/';
  // A "\" or "/" in the name (Windows allows "Global\..." prefixes) must not
  // lead out of the runtime folder.
  std::string file = name;
  for (char& c : file)
    if (c == '/' || c == '\\') c = '_';
  return dir + file + ".lock";
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, const char* name) {
  if (name == nullptr) {
    SetLastError(ERROR_SUCCESS);
    return Register(new MutexObject{-1, initialOwner != FALSE, {}});
  }
  const std::string path = MutexLockPath(name);
  if (path.empty()) {
    std::fprintf(stderr, "%s: no private runtime folder for the instance lock (set XDG_RUNTIME_DIR or HOME)\n",
                 program_invocation_short_name);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const int fd = OpenOwnLockFile(path);
  if (fd < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  int result;
  while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (result != 0) {
    const int error = errno;
    ::close(fd);
    if (error != EWOULDBLOCK) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    // Held by another handle: hand out one that owns nothing, as Windows does
    // for an existing mutex.
    SetLastError(ERROR_ALREADY_EXISTS);
    return Register(new MutexObject{-1, false, {}});
  }
  SetLastError(ERROR_SUCCESS);
  return Register(new MutexObject{fd, initialOwner != FALSE, name});
}

void NoteMutexHolder(const char* name, const std::string& note) {
  std::lock_guard lock(tableMutex);
  for (MutexObject* object : liveHandles) {
    if (object->fd < 0 || object->name != name) continue;
    const std::string text = note.substr(0, kNoteBytes);
    // Only the holder writes here; one that finds the lock taken only reads.
    if (::ftruncate(object->fd, 0) == 0) (void)!::pwrite(object->fd, text.data(), text.size(), 0);
    return;
  }
}

std::string MutexHolderNote(const char* name) {
  const std::string path = MutexLockPath(name);
  if (path.empty()) return {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return {};
  std::string note;
  if (IsOwnRegularFile(fd)) {
    char buffer[kNoteBytes];
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
    if (got > 0) note.assign(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return note;
}

BOOL ReleaseMutex(HANDLE mutex) {
  MutexObject* object = Lookup(mutex);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!object->owned) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  object->owned = false;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  auto* object = static_cast<MutexObject*>(handle);
  {
    std::lock_guard lock(tableMutex);
    if (liveHandles.erase(object) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  if (object->fd >= 0) ::close(object->fd);
  delete object;
  return TRUE;
}
