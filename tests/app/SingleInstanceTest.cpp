#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "app/UpdateApp.h"
#include "platform/win32/Mutex.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// Everything below dir but the run log, which every run appends to.
std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.path().filename() != "ZOLTUpdate.log") names.insert(entry.path().string());
  return names;
}

class SingleInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* exe = std::getenv("ZOLTUPDATE_EXE");
    ASSERT_NE(exe, nullptr);
    // The runs that are let through do real (failing) update runs in their
    // application directory: a copy of their own, not the build folder that
    // other tests read at the same time.
    exe_ = app_ / "ZOLTUpdate";
    fs::copy_file(exe, exe_);
    ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
    env_ = {"XDG_RUNTIME_DIR=" + runtime_.path(), "ZOLT_REGISTRY_ROOT=" + app_ / "registry"};
  }
  void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

  ChildResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), exe_);
    return RunChild(args, env_);
  }

  TempDir runtime_;
  TempDir app_;
  std::string exe_;
  std::vector<std::string> env_;
};

TEST_F(SingleInstance, SecondInstanceEndsAtOnceTouchingNothing) {
  HANDLE held = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
  ASSERT_EQ(GetLastError(), ERROR_SUCCESS);
  const fs::path appDir = fs::path(exe_).parent_path();
  const auto before = Listing(appDir);
  for (const auto& args :
       {std::vector<std::string>{}, {"-silent"}, {"-silent", "-t:2", "-d:Plugin"}, {"-t:2", "-d:.."}, {"--check"}}) {
    const ChildResult result = Run(args);
    EXPECT_EQ(result.exitCode, kExitOtherInstance);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "ZOLTUpdate: another instance is running; this one ends\n");
    EXPECT_LT(result.seconds, 5.0);
  }
  // Not even the log: it belongs to the instance holding the lock, and two
  // writers could rotate it at once.
  EXPECT_EQ(Listing(appDir), before);
  EXPECT_FALSE(fs::exists(appDir / "ZOLTUpdate.log"));

  // --help and --version answer even then: they start nothing.
  const struct {
    std::vector<std::string> args;
    const char* shown;
  } asked[] = {
      {{"--help"}, "Exit status: 0 up to date"},
      {{"-silent", "--version"}, "ZOLTUpdate 1."},
      {{"--version", "--help"}, "ZOLTUpdate 1."},
  };
  for (const auto& c : asked) {
    const ChildResult result = Run(c.args);
    EXPECT_EQ(result.exitCode, kExitOk) << c.shown;
    EXPECT_NE(result.out.find(c.shown), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
  }
  // Nor does a mistyped option, which is refused before anything starts.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--helpp"}, {"-silent", "--", "--help"}}) {
    const ChildResult refused = Run(args);
    EXPECT_EQ(refused.exitCode, kExitRefusedName) << args[0];
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("ZOLTUpdate: unknown option \"" + args[args.size() == 1 ? 0 : 1] + "\""),
              std::string::npos)
        << refused.err;
  }
  // So is a -d: without a component type (here behind a typo of -t:, which is
  // named); a typo alone is named and keeps its meaning, none, so the run goes
  // on to the lock.
  const ChildResult untyped = Run({"-silent", "-type:3", "-d:Plugins"});
  EXPECT_EQ(untyped.exitCode, kExitRefusedName);
  EXPECT_NE(untyped.err.find("ignoring the argument \"-type:3\""), std::string::npos) << untyped.err;
  EXPECT_NE(untyped.err.find("\"-d:Plugins\" names a component folder, but the update type is 1"), std::string::npos)
      << untyped.err;
  for (const char* typo : {"-check", "-silnet"}) {
    const ChildResult named = Run({"-silent", typo});
    EXPECT_EQ(named.exitCode, kExitOtherInstance) << typo;
    EXPECT_EQ(named.err, "ZOLTUpdate: ignoring the argument \"" + std::string(typo) +
                             "\" (the updater takes -silent, -t:N and -d:NAME)\n"
                             "ZOLTUpdate: another instance is running; this one ends\n");
  }
  EXPECT_FALSE(fs::exists(appDir / "ZOLTUpdate.log")) << "they do not even log";
  EXPECT_EQ(Listing(appDir), before);
  CloseHandle(held);
}

TEST_F(SingleInstance, KilledHolderDoesNotBlockTheNext) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    ::close(ready[0]);
    CreateMutexA(nullptr, TRUE, kInstanceMutexName);
    (void)!::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  const std::string held = "another instance is running";
  EXPECT_NE(Run({"-silent"}).err.find(held), std::string::npos);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  // With the lock free the program goes on to its mode.
  const std::string err = Run({"-silent"}).err;
  EXPECT_NE(err, "");
  EXPECT_EQ(err.find(held), std::string::npos) << err;
}

TEST_F(SingleInstance, UnsafeDirectoryNameIsRefused) {
  for (const char* name : {"-d:..", "-d:..\\..\\etc", "-d:/tmp/x", "-d:C:"}) {
    const ChildResult silent = Run({"-silent", "-t:2", name});
    EXPECT_EQ(silent.exitCode, kExitRefusedName) << name;
    EXPECT_NE(silent.err.find("is not a component directory name"), std::string::npos) << name;
    EXPECT_EQ(Run({"-t:3", name}).exitCode, kExitRefusedName) << name;
  }
  // The program update has no folder: any -d: there is refused as one
  // without a component type, before the name is looked at.
  const ChildResult program = Run({"-silent", "-d:.."});
  EXPECT_EQ(program.exitCode, kExitRefusedName);
  EXPECT_NE(program.err.find("the update type is 1"), std::string::npos) << program.err;
  // Too long for a folder: refused before the run, not reported as a failed
  // fetch.
  const ChildResult longName = Run({"-silent", "-t:2", "-d:" + std::string(256, 'p')});
  EXPECT_EQ(longName.exitCode, kExitRefusedName);
  EXPECT_NE(longName.err.find("is too long (256 bytes"), std::string::npos) << longName.err;
  // An empty name keeps its meaning.
  EXPECT_NE(Run({"-silent", "-t:2"}).exitCode, kExitRefusedName);
}

}  // namespace
