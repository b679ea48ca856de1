// Runs killed at random moments of a program update, then completed.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "tests/silent/SilentE2E.h"
#include "update/UpdateRecord.h"

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
  // Published long ago, so every run keeps the manifest's validators (one
  // rename): the count of renames is then the same in every run.
  fs::last_write_time(pub + "1/UpdateConfig.ini", fs::file_time_type::clock::now() - std::chrono::hours(1));
  int mixed = 0;
  // The downloads' own renames come first; the range covers them, the eight
  // installing renames and the records written after them.
  for (int when = 1; when <= 22; ++when) {
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

// Kills the updater at every system call that touches one of the three stores
// (the folder that holds it, or the file by name), each kill followed by one
// clean run: whatever the moment, that run leaves the release installed and
// all three stores agreeing on it. Config.dat's version is written last, so a
// run stopped before it is completed by the next one.
TEST_F(SilentE2ETest, AKillAtEveryTouchOfAStoreIsCompletedByOneCleanRun) {
  ASSERT_EQ(::access("/usr/bin/strace", X_OK), 0) << "strace is part of the set-up";
  const FileSet old = {{"a.bin", "old a"}, {"data\\b.bin", "old b"}};
  const FileSet release = {{"a.bin", "new a"}, {"data\\b.bin", "new b"}};
  NginxServer server(pub);
  Publish(pub, 1, release, {"4.1.0", "GD"});
  const std::string key = registry + "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro";
  const auto reset = [&] {
    Install(old, "4.0.9", server.port());
    fs::remove_all(registry);
    fs::create_directories(key);
  };
  const struct {
    const char* name;
    std::vector<std::string> paths;
  } stores[] = {
      {"Config.dat and UpdateRecord.dat", {work / "app", app + "Config.dat", app + "UpdateRecord.dat"}},
      {"registry", {key, key + "/Version", key + "/InstallPath"}},
  };
  int kills = 0;
  for (const auto& store : stores) {
    SCOPED_TRACE(store.name);
    std::vector<std::string> trace{"/usr/bin/strace", "-qq", "-o", work / "touches"};
    for (const auto& path : store.paths) trace.insert(trace.end(), {"-P", path});
    // One undisturbed run lists the touches: how often each call is made.
    reset();
    ASSERT_EQ(Wait(Start({"-silent"}, "listed", trace)), 0) << ReadTextFile(work / "listed.err");
    std::map<std::string, int> calls;
    std::istringstream lines(ReadTextFile(work / "touches"));
    for (std::string line; std::getline(lines, line);)
      if (const auto paren = line.find('('); paren != std::string::npos && line[0] != '+')
        ++calls[line.substr(0, paren)];
    ASSERT_FALSE(calls.empty());

    for (const auto& [call, count] : calls) {
      for (int n = 1; n <= count; ++n) {
        SCOPED_TRACE(call + " #" + std::to_string(n));
        reset();
        std::vector<std::string> killer{
            "/usr/bin/strace", "-qq", "-o",
            "/dev/null",       "-e",  "inject=" + call + ":signal=SIGKILL:when=" + std::to_string(n)};
        for (const auto& path : store.paths) killer.insert(killer.end(), {"-P", path});
        const int killed = Wait(Start({"-silent"}, "killed", killer));
        if (killed == 0) continue;  // the run took another way and ended first
        ASSERT_EQ(killed, 128 + SIGKILL) << ReadTextFile(work / "killed.err");
        ++kills;

        ASSERT_EQ(Wait(Start()), 0) << ReadTextFile(work / "run.err");
        ASSERT_EQ(Installed(), WithNativeNames(release));
        ASSERT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.1.0");
        const std::string today = FormatLocalTime("%Y-%m-%d");
        ASSERT_EQ(ReadConfig(app + "UpdateRecord.dat", today, "IsSucceed"), "1");
        ASSERT_EQ(ReadConfig(app + "UpdateRecord.dat", today, "NewVersion"), "4.1.0");
        ASSERT_EQ(ReadTextFile(key + "/Version"), std::string("4.1.0", 6));
        ASSERT_EQ(ReadTextFile(key + "/InstallPath"), app + std::string(1, '\0'));
      }
    }
  }
  std::printf("kills at a touch of a store: %d\n", kills);
  EXPECT_GE(kills, 10);
}
