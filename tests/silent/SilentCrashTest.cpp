// Runs killed at random moments of a program update, then completed.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/silent/SilentE2E.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Kills the updater at random moments of a program update (downloading and
// installing), then runs it once more undisturbed: the installation must be the
// release byte for byte, with its version recorded and no temporary file left.
TEST_F(SilentE2ETest, KilledRunsAreCompletedByTheNextRun) {
  FileSet old, release;
  for (int i = 0; i < 24; ++i) {
    const std::string name = (i % 3 == 0 ? "sub\\f" : "f") + std::to_string(i) + ".bin";
    old[name] = std::string(16 * 1024, 'o');
    release[name] = std::string(48 * 1024 + i, char('A' + i));
  }
  NginxServer server(pub, "4m");  // downloads take a few hundred milliseconds
  Publish(pub, 1, release, {"4.1.0", "GD"});

  // How long an undisturbed run takes, to spread the kills over it.
  Install(old, "4.0.9", server.port());
  auto start = Clock::now();
  ASSERT_EQ(Wait(Start()), 0);
  const int fullMs =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  ASSERT_EQ(Installed(), WithNativeNames(release));

  std::mt19937 random(std::random_device{}());
  int killPoints = 0, duringInstall = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  for (int trial = 0; trial < 30 && Clock::now() < deadline; ++trial) {
    Install(old, "4.0.9", server.port());
    for (int kill = 0; kill <= trial % 3; ++kill) {
      const pid_t pid = Start();
      if (trial % 2 == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % (fullMs + 1)));
      } else {
        // Aim at the installation: wait for the first replaced file.
        WaitFor([&] { return ReadTextFile(app + "f1.bin") != old.at("f1.bin"); }, 5000);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        ++duringInstall;
      }
      ::kill(pid, SIGKILL);
      Wait(pid);
      ++killPoints;
    }
    ASSERT_EQ(Wait(Start()), 0) << ReadTextFile(work / "run.err");
    SCOPED_TRACE("trial " + std::to_string(trial));
    ASSERT_EQ(Installed(), WithNativeNames(release));
    ASSERT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.1.0");
    for (const auto& entry : fs::recursive_directory_iterator(work.path() + "app")) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find(".zolt-tmp."), std::string::npos) << entry.path();
      EXPECT_FALSE(name.ends_with(".part")) << entry.path();
    }
  }
  std::printf("kill points tried: %d (%d aimed at the installation)\n", killPoints, duringInstall);
  EXPECT_GE(killPoints, 20);
}

// Files go into place by rename, one after the other. A run killed between two
// of those renames (strace kills it at its Nth renameat call) has installed some
// of the files and not recorded the version; the next run must install the
// rest, from what is still staged, and record it.
TEST_F(SilentE2ETest, KillBetweenTwoInstallRenamesIsHealedByTheNextRun) {
  FileSet old, release;
  for (int i = 0; i < 8; ++i) {
    const std::string name = (i % 2 == 0 ? "sub\\f" : "f") + std::to_string(i) + ".bin";
    old[name] = std::string(4096, 'o');
    release[name] = std::string(8192 + i, char('A' + i));
  }
  NginxServer server(pub);
  Publish(pub, 1, release, {"4.1.0", "GD"});
  int mixed = 0;
  for (int when = 1; when <= 8; ++when) {
    SCOPED_TRACE("killed at rename call " + std::to_string(when));
    Install(old, "4.0.9", server.port());
    const std::string inject = "inject=renameat:signal=SIGKILL:when=" + std::to_string(when);
    const int status =
        Wait(Start({"-silent"}, "killed",
                   {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=renameat", "-e", inject}));
    ASSERT_NE(status, 0) << "the run was not killed: " << ReadTextFile(work / "killed.err");
    int installed = 0;
    for (const auto& [name, content] : release) installed += ReadTextFile(app + Native(name)) == content;
    if (installed > 0 && installed < static_cast<int>(release.size())) {
      ++mixed;
      EXPECT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.0.9") << "recorded before every file was in";
    }

    ASSERT_EQ(Wait(Start()), 0) << ReadTextFile(work / "run.err");
    EXPECT_EQ(Installed(), WithNativeNames(release));
    EXPECT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.1.0");
    EXPECT_FALSE(fs::exists(app + "UPDATE/Program"));
  }
  EXPECT_GE(mixed, 3) << "too few kills landed between two renames";
}
