#include "platform/win32/Shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

namespace {

// ShellExecute's own error codes are all 32 or below.
HINSTANCE Result(std::intptr_t code) { return reinterpret_cast<HINSTANCE>(code); }
constexpr std::intptr_t kSucceeded = 42;
constexpr std::intptr_t kSeFileNotFound = 2;
constexpr std::intptr_t kSeAccessDenied = 5;
constexpr std::intptr_t kSeOutOfResources = 0;

bool IsWebAddress(std::string_view file) { return file.starts_with("http://") || file.starts_with("https://"); }

std::vector<std::string> SplitParameters(const char* parameters) {
  std::vector<std::string> words;
  if (parameters == nullptr) return words;
  std::string word;
  for (const char* c = parameters; *c != '\0'; ++c) {
    if (*c == ' ' || *c == '\t') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += *c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// Runs argv detached: a grandchild in its own session, reparented to init, with
// only /dev/null on descriptors 0-2 and nothing else inherited, so the started
// program outlives the caller and holds none of its files, sockets or locks.
// Returns 0, or the errno of the failed exec.
int SpawnDetached(const std::vector<std::string>& args, const std::string& directory, bool searchPath) {
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // Reports the exec's failure; closed by a successful exec (O_CLOEXEC).
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;

  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return error;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);

    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);

    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    // Everything but the standard descriptors and the report pipe goes.
    const int keep = report[1];
    if (keep > 3) ::close_range(3, static_cast<unsigned>(keep - 1), 0);
    ::close_range(static_cast<unsigned>(keep + 1), ~0U, 0);
    if (null > 2 && null != keep) ::close(null);

    if (!directory.empty() && ::chdir(directory.c_str()) != 0) {
      const int error = errno;
      (void)!::write(keep, &error, sizeof error);
      ::_exit(127);
    }
    if (searchPath)
      ::execvp(argv[0], argv.data());
    else
      ::execv(argv[0], argv.data());
    const int error = errno;
    (void)!::write(keep, &error, sizeof error);
    ::_exit(127);
  }

  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof error)) return error;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return EAGAIN;
  return 0;
}

}  // namespace

HINSTANCE ShellExecuteA(HWND /*parent*/, const char* /*verb*/, const char* file, const char* parameters,
                        const char* directory, int /*showCommand*/) {
  if (file == nullptr || *file == '\0') return Result(kSeFileNotFound);
  const std::string dir = directory != nullptr ? NativePath(directory) : std::string();

  if (IsWebAddress(file)) {
    const int error = SpawnDetached({"xdg-open", file}, dir, true);
    return Result(error == 0 ? kSucceeded : kSeFileNotFound);
  }

  std::vector<std::string> args{NativePath(file)};
  struct stat st {};
  if (::stat(args[0].c_str(), &st) != 0) return Result(kSeFileNotFound);
  if (!S_ISREG(st.st_mode) || ::access(args[0].c_str(), X_OK) != 0) return Result(kSeAccessDenied);
  for (auto& word : SplitParameters(parameters)) args.push_back(std::move(word));

  const int error = SpawnDetached(args, dir, false);
  if (error == 0) return Result(kSucceeded);
  if (error == ENOENT) return Result(kSeFileNotFound);
  if (error == EACCES || error == ENOEXEC) return Result(kSeAccessDenied);
  return Result(kSeOutOfResources);
}
