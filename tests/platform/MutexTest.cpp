#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/win32/Mutex.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kName = "WIN32.Test.Instance.Once";

class MutexTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }
  TempDir runtime_;
};

// Forks a child that takes the mutex and then waits to be killed.
pid_t StartHolder() {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kName);
    const char ok = (mutex != nullptr && GetLastError() == ERROR_SUCCESS) ? 1 : 0;
    (void)!::write(ready[1], &ok, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char ok = 0;
  const bool started = ::read(ready[0], &ok, 1) == 1 && ok == 1;
  ::close(ready[0]);
  return started ? pid : -1;
}

TEST_F(MutexTest, SecondCreatorSeesAlreadyExists) {
  HANDLE first = CreateMutexA(nullptr, TRUE, kName);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(runtime_.path() + kName + ".lock"));

  HANDLE second = CreateMutexA(nullptr, TRUE, kName);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(ReleaseMutex(second));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  EXPECT_TRUE(CloseHandle(second));

  // Releasing ownership keeps the name held until the handle is closed.
  EXPECT_TRUE(ReleaseMutex(first));
  HANDLE third = CreateMutexA(nullptr, TRUE, kName);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(third);
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_FALSE(CloseHandle(first));

  HANDLE fourth = CreateMutexA(nullptr, TRUE, kName);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(fourth);
}

TEST_F(MutexTest, HeldByAnotherProcessAndFreedWhenItIsKilled) {
  const pid_t holder = StartHolder();
  ASSERT_GT(holder, 0);
  HANDLE blocked = CreateMutexA(nullptr, TRUE, kName);
  EXPECT_NE(blocked, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(blocked);

  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  HANDLE next = CreateMutexA(nullptr, TRUE, kName);
  EXPECT_NE(next, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(next);
}

// Programs started by the holder must not keep the lock after it ends.
TEST_F(MutexTest, LockIsNotInheritedAcrossExec) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, kName);
  ASSERT_NE(mutex, nullptr);
  const std::string lockPath = MutexLockPath(kName);
  int found = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) != lockPath) continue;
    const int fd = std::atoi(entry.path().filename().c_str());
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    ++found;
  }
  EXPECT_EQ(found, 1);
  CloseHandle(mutex);
}

TEST_F(MutexTest, NameCannotLeaveTheRuntimeFolder) {
  EXPECT_EQ(MutexLockPath("Global\\..\\..\\x"), runtime_.path() + "Global_.._.._x.lock");
}

// No other user may create, hold or replace the lock: a runtime folder that is
// a link, open to others or someone else's is passed over for the user's own
// private one, never a shared folder such as /tmp.
TEST_F(MutexTest, OnlyAFolderOfTheUsersOwnHoldsTheLock) {
  TempDir home;
  const char* savedHome = std::getenv("HOME");
  const std::string previousHome = savedHome != nullptr ? savedHome : "";
  ::setenv("HOME", home.path().c_str(), 1);
  std::filesystem::create_directory_symlink(runtime_.path(), home / "link");
  std::filesystem::create_directory(home / "open");
  ::chmod((home / "open").c_str(), 0777);
  std::filesystem::create_directory(home / "other");
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown((home / "other").c_str(), 65534, 65534), 0);  // nobody
  }

  const struct {
    const char* xdg;  // null: unset
    bool used;
  } rows[] = {{"own", true}, {"link", false}, {"open", false}, {"other", !root}, {nullptr, false}};
  for (const auto& row : rows) {
    const std::string xdg =
        row.xdg == nullptr ? "" : (row.xdg == std::string("own") ? runtime_.path() : home / row.xdg);
    if (row.xdg == nullptr)
      ::unsetenv("XDG_RUNTIME_DIR");
    else
      ::setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
    const std::string path = MutexLockPath(kName);
    ASSERT_FALSE(path.empty()) << (row.xdg ? row.xdg : "unset");
    const std::string folder = path.substr(0, path.find_last_of('/'));
    const std::string passedOver = xdg.empty() ? runtime_.path() : xdg;  // unset: not the earlier one either
    EXPECT_EQ(path.rfind(passedOver + (passedOver.back() == '/' ? "" : "/"), 0) == 0, row.used) << path;
    EXPECT_NE(folder, "/tmp");
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0) << folder;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << folder;
    EXPECT_EQ(st.st_uid, ::geteuid()) << folder;
    EXPECT_EQ(st.st_mode & 022, 0u) << folder;
  }
  ::setenv("HOME", previousHome.c_str(), 1);
}

// A lock file that is not the user's own (left by root, planted as a link, a
// folder made under its name) cannot stand for the name: it is replaced by the
// user's own, never written through (a folder is moved aside with what it
// holds), and the mutex still keeps a second instance out.
TEST_F(MutexTest, ALockFileNotOfTheUsersOwnIsReplaced) {
  TempDir outside;
  WriteTextFile(outside / "target", "kept");
  const std::string lock = runtime_ / (std::string(kName) + ".lock");
  const bool root = ::geteuid() == 0;
  enum class Obstacle { kLink, kFolder, kForeignFile };
  for (const Obstacle obstacle : {Obstacle::kLink, Obstacle::kFolder, Obstacle::kForeignFile}) {
    if (obstacle == Obstacle::kForeignFile && !root) GTEST_SKIP() << "another user's file needs root to make";
    SCOPED_TRACE(obstacle == Obstacle::kLink ? "link" : obstacle == Obstacle::kFolder ? "folder" : "another user's file");
    std::filesystem::remove_all(lock);
    if (obstacle == Obstacle::kLink) {
      std::filesystem::create_symlink(outside / "target", lock);
    } else if (obstacle == Obstacle::kFolder) {
      WriteTextFile(lock + "/inside", "kept too");
    } else {
      WriteTextFile(lock, "");
      ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
    }
    HANDLE first = CreateMutexA(nullptr, TRUE, kName);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::lstat(lock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    HANDLE second = CreateMutexA(nullptr, TRUE, kName);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(second);
    CloseHandle(first);
    EXPECT_EQ(ReadTextFile(outside / "target"), "kept");
    if (obstacle == Obstacle::kFolder) {
      EXPECT_EQ(ReadTextFile(lock + ".in-the-way." + std::to_string(::getpid()) + "/inside"), "kept too");
    }
  }
}

}  // namespace
