// Replacing installed files, and closing and starting the client.
#include "install/Installation.h"

#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "install/InstallJournal.h"
#include "platform/crypt/MD5.h"
#include "platform/win32/Files.h"
#include "platform/win32/RemoteWindow.h"
#include "platform/win32/Shell.h"
#include "platform/win32/Window.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

template <class Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

UpdateFileInfo Record(const std::string& name) { return UpdateFileInfo{name, "", "", "", ""}; }

// Each test gets its own runtime folder, so windows of parallel tests and of a
// real desktop never meet.
class RuntimeDirTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1); }
  void TearDown() override {
    unsetenv("XDG_RUNTIME_DIR");
    SetRemoteWindowTimeout(0);
  }
  TempDir runtime_;
};

}  // namespace

TEST(ReplaceInstalledFiles, CopiesOverInstalledFilesAndCreatesFolders) {
  TempDir staging, install;
  WriteTextFile(staging / "a.txt", "new a");
  WriteTextFile(staging / "sub/deeper/b.txt", "new b");
  WriteTextFile(install / "a.txt", "old a");

  // A name listed twice is installed once; the second listing finds it done.
  EXPECT_TRUE(ReplaceInstalledFiles({Record("a.txt"), Record("sub\\deeper\\b.txt"), Record("a.txt")}, staging.path(),
                                    install.path()));
  EXPECT_EQ(ReadTextFile(install / "a.txt"), "new a");
  EXPECT_EQ(ReadTextFile(install / "sub/deeper/b.txt"), "new b");
  EXPECT_FALSE(fs::exists(install / "a.txt.bak"));
}

// A download carries no mode; the installed file's mode is kept, so an updated
// program stays executable.
TEST(ReplaceInstalledFiles, KeepsTheInstalledFilesMode) {
  TempDir staging, install;
  const struct {
    const char* name;
    mode_t installed;  // 0: not installed yet
    mode_t expected;
  } cases[] = {{"ZOLTClient.exe", 0755, 0755}, {"private.dat", 0600, 0600}, {"new.txt", 0, 0644}};
  std::vector<UpdateFileInfo> files;
  for (const auto& c : cases) {
    WriteTextFile(staging / c.name, "new");
    ::chmod((staging / c.name).c_str(), 0644);
    if (c.installed != 0) {
      WriteTextFile(install / c.name, "old");
      ::chmod((install / c.name).c_str(), c.installed);
    }
    files.push_back(Record(c.name));
  }
  ASSERT_TRUE(ReplaceInstalledFiles(files, staging.path(), install.path()));
  for (const auto& c : cases) {
    struct stat st {};
    ASSERT_EQ(::stat((install / c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.expected) << c.name;
    EXPECT_EQ(ReadTextFile(install / c.name), "new");
  }
}

// On one file system a staged file is renamed into place (the installed file
// is the staged inode: no byte copied); across two (staging on tmpfs here) it
// is copied. Either way the staged copy is gone, the mode kept, the content new.
TEST(ReplaceInstalledFiles, RenamesOnOneFileSystemAndCopiesAcrossTwo) {
  const struct {
    const char* name;
    const char* stagingBase;  // nullptr: beside the installation
    bool sameInode;
  } cases[] = {{"one file system", nullptr, true}, {"staging on another file system", "/dev/shm", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir install, local;
    const std::string staging =
        c.stagingBase ? std::string(c.stagingBase) + "/zolt-staging-" + std::to_string(::getpid()) + "/" : local.path();
    WriteTextFile(staging + "bin/ZOLTClient.exe", "new client");
    WriteTextFile(install / "bin/ZOLTClient.exe", "old client");
    ::chmod((install / "bin/ZOLTClient.exe").c_str(), 0750);
    struct stat staged {};
    ASSERT_EQ(::stat((staging + "bin/ZOLTClient.exe").c_str(), &staged), 0);

    EXPECT_TRUE(ReplaceInstalledFiles({Record("bin\\ZOLTClient.exe")}, staging, install.path()));
    struct stat installed {};
    ASSERT_EQ(::stat((install / "bin/ZOLTClient.exe").c_str(), &installed), 0);
    EXPECT_EQ(ReadTextFile(install / "bin/ZOLTClient.exe"), "new client");
    EXPECT_EQ(installed.st_mode & 0777, 0750u);
    EXPECT_EQ(installed.st_ino == staged.st_ino && installed.st_dev == staged.st_dev, c.sameInode);
    EXPECT_FALSE(fs::exists(staging + "bin/ZOLTClient.exe"));
    for (const auto& entry : fs::directory_iterator(install / "bin"))
      EXPECT_EQ(entry.path().filename(), "ZOLTClient.exe") << "a temporary file was left";
    if (c.stagingBase) fs::remove_all(staging);
  }
}

// A target that refuses the copy (here a folder in the way) is moved aside to
// ".bak" and the new file put in its place.
TEST(ReplaceInstalledFiles, MovesRefusingTargetAsideAndCopiesAgain) {
  TempDir staging, install;
  WriteTextFile(staging / "locked.dll", "new");
  WriteTextFile(install / "locked.dll/inside", "x");

  EXPECT_TRUE(ReplaceInstalledFiles({Record("locked.dll")}, staging.path(), install.path()));
  EXPECT_EQ(ReadTextFile(install / "locked.dll"), "new");
  EXPECT_TRUE(fs::is_directory(install / "locked.dll.bak"));
}

struct FailureCase {
  const char* name;
  bool stageSource;
  bool oldBackup;
};

// When the file cannot be installed the installed copy stays where it was, and
// the result says so; the other files are still installed.
TEST(ReplaceInstalledFiles, FailureNeverLeavesInstalledFileMissing) {
  const FailureCase cases[] = {
      {"staged copy vanished: backup is moved back", false, false},
      {"older backup in the way: nothing moves", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir staging, install;
    if (c.stageSource) WriteTextFile(staging / "f.bin", "new");
    WriteTextFile(staging / "other.txt", "new other");
    if (c.oldBackup) {
      WriteTextFile(install / "f.bin/inside", "installed");  // refuses the copy
      WriteTextFile(install / "f.bin.bak", "older backup");
    } else {
      WriteTextFile(install / "f.bin", "installed");
    }

    EXPECT_FALSE(ReplaceInstalledFiles({Record("f.bin"), Record("other.txt")}, staging.path(), install.path()));
    EXPECT_EQ(ReadTextFile(install / (c.oldBackup ? "f.bin/inside" : "f.bin")), "installed");
    EXPECT_EQ(ReadTextFile(install / "other.txt"), "new other");
    if (c.oldBackup)
      EXPECT_EQ(ReadTextFile(install / "f.bin.bak"), "older backup");
    else
      EXPECT_FALSE(fs::exists(install / "f.bin.bak"));
  }
}

TEST_F(RuntimeDirTest, CloseRunningClientReturnsAfterTheClientHandledIt) {
  CRemoteWindowOwner owner;
  ASSERT_TRUE(owner.Listen("ZOLTCLIENT"));
  std::atomic<UINT> received{0};
  std::thread client([&] {
    // The first connection is FindWindowA's probe, which carries no message.
    for (int i = 0; i < 4 && received == 0; ++i)
      owner.HandleNext(
          [&](UINT msg, WPARAM, LPARAM) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a client busy saving
            received = msg;
            return 0;
          },
          5000);
  });
  CloseRunningClient();
  EXPECT_EQ(received.load(), WM_CLOSE);
  client.join();
}

TEST_F(RuntimeDirTest, SendMessageCarriesParametersAndResult) {
  CRemoteWindowOwner owner;
  ASSERT_TRUE(owner.Listen("SOMEWINDOW"));
  std::thread client([&] {
    for (int i = 0; i < 3; ++i)
      if (owner.HandleNext([](UINT msg, WPARAM w, LPARAM l) { return static_cast<LRESULT>(msg + w) * l; }, 5000)) break;
  });
  HWND window = FindWindowA("SOMEWINDOW", nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageA(window, 1000, 24, -3), -3072);
  client.join();
  UnregisterWindow(window);
}

TEST_F(RuntimeDirTest, NoWindowFoundWithoutALiveOwner) {
  EXPECT_EQ(FindWindowA("ZOLTCLIENT", nullptr), nullptr);  // nothing there
  const std::string path = RemoteWindowSocketPath("ZOLTCLIENT", true);
  ASSERT_FALSE(path.empty());

  // A live socket in the user's folder whose listener is another user's
  // process: not this user's client, so it is neither found nor sent anything.
  if (::geteuid() == 0) {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t other = ::fork();
    if (other == 0) {
      ::close(report[0]);
      const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
      // Bound by root in root's folder, listening as nobody: the kernel
      // names the listener's user to whoever connects.
      if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          ::chown(path.c_str(), 65534, 65534) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
          ::setresuid(65534, 65534, 65534) != 0 || ::listen(listener, 4) != 0)
        ::_exit(1);
      (void)!::write(report[1], "L", 1);
      for (;;) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) ::_exit(0);
        char line[64];
        if (::recv(connection, line, sizeof line, 0) > 0) (void)!::write(report[1], "M", 1);
        ::close(connection);
      }
    }
    ::close(report[1]);
    char said = 0;
    ASSERT_EQ(::read(report[0], &said, 1), 1);
    ASSERT_EQ(said, 'L');
    EXPECT_EQ(FindWindowA("ZOLTCLIENT", nullptr), nullptr);
    CloseRunningClient();
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    EXPECT_EQ(::read(report[0], &said, 1), 0) << "a message reached another user's socket";
    ::close(report[0]);
    ::unlink(path.c_str());
  }

  // A socket file left by an owner that died.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  EXPECT_EQ(FindWindowA("ZOLTCLIENT", nullptr), nullptr);
  CloseRunningClient();  // and nothing to close

  // A new owner takes the stale socket over.
  CRemoteWindowOwner owner;
  EXPECT_TRUE(owner.Listen("ZOLTCLIENT"));
  CRemoteWindowOwner second;
  EXPECT_FALSE(second.Listen("ZOLTCLIENT"));
}

TEST_F(RuntimeDirTest, FolderOpenToOthersIsNotUsed) {
  CRemoteWindowOwner owner;
  ASSERT_TRUE(owner.Listen("ZOLTCLIENT"));
  ::chmod((runtime_ / "zolt-windows").c_str(), 0777);
  EXPECT_EQ(FindWindowA("ZOLTCLIENT", nullptr), nullptr);
}

// Without XDG_RUNTIME_DIR the sockets go to the user's own folder, never to a
// shared /tmp/zolt-windows that another user could have made first; a file
// that is not a socket of the user's own is never removed to make room.
TEST_F(RuntimeDirTest, WithoutXdgRuntimeDirTheUsersOwnFolderIsUsed) {
  TempDir home;
  const char* saved = std::getenv("HOME");
  const std::string previous = saved != nullptr ? saved : "";
  ::setenv("HOME", home.path().c_str(), 1);
  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string path = RemoteWindowSocketPath("ZOLTCLIENT", true);
  EXPECT_FALSE(path.empty());
  EXPECT_NE(path.rfind("/tmp/zolt-windows/", 0), 0u) << path;
  {
    CRemoteWindowOwner owner;
    EXPECT_TRUE(owner.Listen("ZOLTCLIENT"));
  }
  // Planting a file is tried only in the test's own home, never in a real
  // /run/user folder of the machine.
  if (path.rfind(home.path(), 0) == 0) {
    WriteTextFile(path, "not a socket");
    CRemoteWindowOwner owner;
    EXPECT_FALSE(owner.Listen("ZOLTCLIENT"));
    EXPECT_EQ(ReadTextFile(path), "not a socket");
  }
  ::setenv("HOME", previous.c_str(), 1);
}

// A client that listens but never answers, and one that no longer accepts
// while its accept queue is full (a blocking connect would wait for ever).
TEST_F(RuntimeDirTest, HungClientDoesNotHangTheUpdater) {
  for (const bool queueFull : {false, true}) {
    SCOPED_TRACE(queueFull ? "accept queue full" : "never answers");
    CRemoteWindowOwner owner;
    std::vector<int> sockets;
    if (!queueFull) {
      ASSERT_TRUE(owner.Listen("ZOLTCLIENT"));
    } else {
      const std::string path = RemoteWindowSocketPath("ZOLTCLIENT", true);
      ::unlink(path.c_str());
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
      const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
      ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      ASSERT_EQ(::listen(listener, 0), 0);
      sockets.push_back(listener);
      // Queue connections until the kernel refuses one more without waiting.
      for (;;) {
        const int peer = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockets.push_back(peer);
        if (::connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
          ASSERT_EQ(errno, EAGAIN);
          break;
        }
      }
    }
    SetRemoteWindowTimeout(queueFull ? 0 : 300);  // the queue case runs on the real limit
    const auto start = std::chrono::steady_clock::now();
    CloseRunningClient();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(queueFull ? 10500 : 3000));
    for (const int fd : sockets) ::close(fd);
  }
}

TEST(StartClient, StartsTheClientDetachedAfterTheDelay) {
  TempDir app;
  // The stand-in client writes down how it was started.
  WriteTextFile(app / "ZOLTClient.exe",
                "#!/usr/bin/python3\n"
                "import os, sys\n"
                "d = os.path.dirname(os.path.abspath(sys.argv[0]))\n"
                "fds = sorted(int(f) for f in os.listdir('/proc/self/fd'))\n"
                "info = 'session=%d pid=%d stdin=%s fds=%s args=%d' % (os.getsid(0), os.getpid(), "
                "os.readlink('/proc/self/fd/0'), fds, len(sys.argv))\n"
                "open(d + '/started.tmp', 'w').write(info)\n"
                "os.rename(d + '/started.tmp', d + '/started.txt')\n");
  ::chmod((app / "ZOLTClient.exe").c_str(), 0755);

  // A descriptor the updater holds without close-on-exec must not reach the client.
  const int leaked = ::open((app / "ZOLTClient.exe").c_str(), O_RDONLY);
  ASSERT_GE(::dup2(leaked, 57), 0);

  unsigned delayed = 0;
  SetStartClientDelay([&](unsigned ms) { delayed = ms; });
  StartClient(app.path(), 5000);
  SetStartClientDelay({});
  ::close(57);
  ::close(leaked);
  EXPECT_EQ(delayed, 5000u);

  ASSERT_TRUE(WaitUntil([&] { return fs::exists(app / "started.txt"); }));
  const std::string info = ReadTextFile(app / "started.txt");
  int session = 0, pid = 0;
  ASSERT_EQ(std::sscanf(info.c_str(), "session=%d pid=%d", &session, &pid), 2) << info;
  EXPECT_NE(session, ::getsid(0)) << "a session of its own";
  EXPECT_NE(pid, 0);
  EXPECT_NE(info.find("stdin=/dev/null"), std::string::npos) << info;
  EXPECT_NE(info.find("fds=[0, 1, 2, 3]"), std::string::npos) << info;  // 3: the listing itself
  EXPECT_NE(info.find("args=1"), std::string::npos) << info;
}

TEST(StartClient, NothingWhenTheClientIsMissingAndACauseWhenItCannotStart) {
  TempDir app;
  bool delayed = false;
  SetStartClientDelay([&](unsigned) { delayed = true; });
  testing::internal::CaptureStderr();
  StartClient(app.path(), 5000);
  EXPECT_FALSE(delayed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  WriteTextFile(app / "ZOLTClient.exe", "#!/bin/sh\n");  // without its exec bit
  testing::internal::CaptureStderr();
  StartClient(app.path(), 5000);
  SetStartClientDelay({});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ZOLTUpdate: cannot start the client " + app / "ZOLTClient.exe" +
                ": it is not an executable program (chmod +x it?); the update itself is installed\n");
}

TEST(ShellExecute, ReportsWhatCannotBeStarted) {
  TempDir dir;
  WriteTextFile(dir / "plain.txt", "not a program");
  const struct {
    std::string file;
    bool started;
  } cases[] = {{dir / "missing.exe", false}, {dir / "plain.txt", false}, {"/bin/true", true}};
  for (const auto& c : cases) {
    const auto result = reinterpret_cast<std::intptr_t>(ShellExecuteA(nullptr, "OPEN", c.file.c_str(), "", "", 5));
    EXPECT_EQ(result > 32, c.started) << c.file;
  }
}

// The journal is read as untrusted bytes: the exact form it is written in, a
// check line over it, and only names that stay inside the installation. Each
// damaged form is refused whole. A journal written before the restart's moment
// was kept (no "restarted" line) is still read.
TEST(InstallJournal, OnlyAnIntactJournalOfItsOwnFormIsRead) {
  SInstallJournal journal;
  journal.state = EJournalState::kTrial;
  journal.folder = "Plugins";
  journal.version = "4.1.0";
  journal.region = "GD";
  journal.release = "serial 7";
  journal.oldVersion = "4.0.9";
  journal.oldRegion = "GD";
  journal.kept = {"a.bin", "data\\b bin"};
  journal.added = {"data\\new.ini"};
  journal.restarted = "boot 0b4f7a2e-5d1c-4c6e-9a43-1f2e3d4c5b6a 81234567890";
  const std::string bytes = FormatJournal(journal);
  SInstallJournal read;
  std::string why;
  ASSERT_TRUE(ParseJournal(bytes, read, why)) << why;
  EXPECT_EQ(FormatJournal(read), bytes);
  EXPECT_EQ(read.kept, journal.kept);
  EXPECT_EQ(read.state, EJournalState::kTrial);
  EXPECT_EQ(read.restarted, journal.restarted);

  // The body changed, with a check line made to match where it says so.
  const auto rechecked = [](std::string body) {
    body.erase(body.rfind("check "));
    return body + "check " + CMD5::OfBytes(body.data(), body.size()) + "\n";
  };
  const std::size_t restartedAt = bytes.find("restarted ");
  const std::string restartedLine = bytes.substr(restartedAt, bytes.find('\n', restartedAt) + 1 - restartedAt);
  const std::string older = rechecked(std::string(bytes).erase(restartedAt, restartedLine.size()));
  ASSERT_TRUE(ParseJournal(older, read, why)) << why;
  EXPECT_EQ(read.restarted, "");
  EXPECT_EQ(read.added, journal.added);
  const std::pair<const char*, std::string> damaged[] = {
      {"cut short", bytes.substr(0, bytes.size() / 2)},
      {"one byte changed", std::string(bytes).replace(bytes.find("4.1.0"), 1, "5")},
      {"no check line", bytes.substr(0, bytes.rfind("check "))},
      {"another format", rechecked("ZOLTUpdate install journal 2" + bytes.substr(bytes.find('\n')))},
      {"an unknown state", rechecked(std::string(bytes).replace(bytes.find("state trial"), 11, "state done!"))},
      {"a name leaving the installation", rechecked(std::string(bytes).replace(bytes.find("added data"), 10, "added ..\\.."))},
      {"a folder with a separator", rechecked(std::string(bytes).replace(bytes.find("folder Plugins"), 14, "folder a\\bcdef"))},
      {"an unknown line", rechecked(std::string(bytes).insert(bytes.rfind("check "), "removed x\n"))},
      {"a field missing", rechecked(std::string(bytes).erase(bytes.find("region GD\n"), 10))},
      {"the restart twice", rechecked(std::string(bytes).insert(restartedAt, restartedLine))},
      {"the restart among the names", rechecked(std::string(older).insert(older.rfind("check "), restartedLine))},
      {"empty", ""},
  };
  for (const auto& [what, text] : damaged) {
    SCOPED_TRACE(what);
    SInstallJournal refused;
    EXPECT_FALSE(ParseJournal(text, refused, why));
  }
}

// An install keeps the copies it replaces as second names and journals them;
// putting them back restores the installed tree whether the install was cut
// short before a file was replaced (the copy is the installed file itself),
// after, or repeated after being cut short itself.
TEST(InstallJournal, KeptCopiesGoBackWhereverTheInstallStopped) {
  TempDir work;
  const std::string app = work / "app/";
  fs::create_directories(app + "data");
  WriteTextFile(app + "a.bin", "old a");
  WriteTextFile(app + "data/b.bin", "old b");
  SetGuardedRoot(app);
  SInstallJournal journal;
  journal.version = "4.1.0";
  journal.oldVersion = "4.0.9";
  std::string cause;
  ASSERT_TRUE(BeginJournaledInstall(app, app, {Record("a.bin"), Record("data\\b.bin"), Record("new.bin")}, journal,
                                    cause))
      << cause;
  EXPECT_EQ(journal.kept, (std::vector<std::string>{"a.bin", "data\\b.bin"}));
  EXPECT_EQ(journal.added, (std::vector<std::string>{"new.bin"}));
  EXPECT_EQ(fs::hard_link_count(app + "a.bin"), 2u) << "a second name, no copy";
  // Stopped after two of three files: a.bin and new.bin replaced, b.bin not.
  WriteTextFile(work / "a.new", "new a");
  fs::rename(work / "a.new", app + "a.bin");
  WriteTextFile(app + "new.bin", "new");
  SInstallJournal read;
  ASSERT_EQ(ReadJournal(JournalPath(app, 1), read, cause), EJournalRead::kRead) << cause;
  ASSERT_TRUE(PutBackKept(app, read, cause)) << cause;
  ASSERT_TRUE(PutBackKept(app, read, cause)) << "repeated: " << cause;
  EXPECT_EQ(ReadTextFile(app + "a.bin"), "old a");
  EXPECT_EQ(ReadTextFile(app + "data/b.bin"), "old b");
  EXPECT_FALSE(fs::exists(app + "new.bin"));
  // A kept copy that is a link is never moved into the installation.
  DropJournalAndPrevious(app, 1);
  ASSERT_TRUE(BeginJournaledInstall(app, app, {Record("a.bin")}, journal, cause)) << cause;
  fs::remove(app + "UPDATE.kept/1/previous/a.bin");
  fs::create_symlink("/etc/passwd", app + "UPDATE.kept/1/previous/a.bin");
  WriteTextFile(app + "a.bin", "new a");
  EXPECT_FALSE(PutBackKept(app, journal, cause));
  EXPECT_NE(cause.find("not a regular file; not following it"), std::string::npos) << cause;
  EXPECT_FALSE(fs::is_symlink(app + "a.bin"));
  SetGuardedRoot("");
}
