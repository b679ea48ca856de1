#include "platform/diagnostics/LogFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/Files.h"

namespace diagnostics {

// Opens the log for appending without following a link at its name, and only
// when it is a regular file: a FIFO planted there must not block the run.
int OpenLogFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    errno = EEXIST;  // something else holds the name
    return -1;
  }
  return fd;
}

// Creates each missing folder of path (mode 0700: a log says what is installed
// where) and refuses one that is a link or not the user's own.
bool MakePrivateFolders(const std::string& path) {
  for (std::size_t end = path.find('/', 1); end != std::string::npos; end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
}

bool RotateLogFile(const std::string& path, const std::string& older) {
  // rename replaces the older one and never follows a link at either name.
  return ::rename(path.c_str(), older.c_str()) == 0;
}

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

void SetProcessVariable(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

std::string FallbackLogFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/zoltupdate/";
  const char* home = std::getenv("HOME");
  std::string folder;
  if (home != nullptr && home[0] == '/') {
    folder = home;
  } else if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr && user->pw_dir != nullptr) {
    folder = user->pw_dir;
  }
  return folder + "/.local/state/zoltupdate/";
}

std::string UserName() {
  if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr && user->pw_name != nullptr) return user->pw_name;
  return "uid " + std::to_string(::geteuid());
}

int FolderWriteError(const std::string& folder) {
  const std::string path = NativePath(folder);
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

std::string ErrorText(int error) {
  const char* description = ::strerrordesc_np(error);
  std::string text = description != nullptr ? description : "error " + std::to_string(error);
  if (error == ENOSPC || error == EDQUOT) text += " (the disk is full)";
  return text;
}

}  // namespace diagnostics
