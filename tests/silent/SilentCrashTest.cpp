// Runs killed at random moments of a program update, then completed.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
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
  // A run under Wine takes seconds where a native one takes a fraction:
  // there the loop ends once enough kills are made rather than by the clock.
  const auto deadline = Clock::now() + std::chrono::seconds(WindowsTarget() ? 240 : 60);
  for (int trial = 0; trial < 30 && Clock::now() < deadline && !(WindowsTarget() && killPoints >= 24); ++trial) {
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
// (the folder that holds it, or the file by name), and makes every write,
// rename and flush of the stores and of the installed files fail once; each
// fault is followed by one clean run. A failed call is a failed run, with its
// cause named, and no store may then claim the version that Config.dat, the
// commit point written last, does not hold. Whatever the moment, the clean run
// leaves the release installed and all three stores agreeing on it.
TEST_F(SilentE2ETest, AFaultAtEveryTouchOfAStoreIsCompletedByOneCleanRun) {
  ASSERT_EQ(::access("/usr/bin/strace", X_OK), 0) << "strace is part of the set-up";
  const FileSet old = {{"a.bin", "old a"}, {"data\\b.bin", "old b"}};
  const FileSet release = {{"a.bin", "new a"}, {"data\\b.bin", "new b"}};
  NginxServer server(pub);
  Publish(pub, 1, release, {"4.1.0", "GD"});
  const std::string key = registry + "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro";
  const std::string today = FormatLocalTime("%Y-%m-%d");
  const auto reset = [&] {
    Install(old, "4.0.9", server.port());
    fs::remove_all(registry);
    fs::create_directories(key);
  };
  const std::vector<std::string> stores{work / "app", app + "Config.dat", app + "UpdateRecord.dat"};
  const std::vector<std::string> registryKey{key, key + "/Version", key + "/InstallPath"};
  const std::vector<std::string> installed{work / "app", app + "a.bin", app + "data", app + "data/b.bin"};
  const std::vector<std::string> digestCache{app + "UPDATE.kept/1", app + "UPDATE.kept/1/digests"};
  const std::vector<std::string> staged{app + "UPDATE/Program/a.bin", app + "UPDATE/Program/data/b.bin"};
  const std::set<std::string> writes{"write", "renameat", "renameat2"}, flushes{"fsync", "fdatasync"};
  const struct {
    const char* name;
    const std::vector<std::string>& paths;
    std::set<std::string> calls;  // empty: every call
    const char* fault;
  } rows[] = {
      {"killed at a touch of Config.dat or UpdateRecord.dat", stores, {}, "signal=SIGKILL"},
      {"killed at a touch of the registry", registryKey, {}, "signal=SIGKILL"},
      {"killed while the digest cache is written", digestCache, {}, "signal=SIGKILL"},
      {"killed while a download is staged or checked", staged, {}, "signal=SIGKILL"},
      {"a staged download cannot be read back", staged, {"pread64"}, "error=EIO"},
      {"a store write finds the disk full", stores, writes, "error=ENOSPC"},
      {"a registry write finds the disk full", registryKey, writes, "error=ENOSPC"},
      {"a store flush fails", stores, flushes, "error=EIO"},
      {"an install rename finds the disk full", installed, {"renameat", "renameat2"}, "error=ENOSPC"},
      {"an installed file cannot be flushed", installed, flushes, "error=EIO"},
  };
  int kills = 0, failures = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> trace{"/usr/bin/strace", "-f", "-qq", "-o", work / "touches"};
    for (const auto& path : row.paths) trace.insert(trace.end(), {"-P", path});
    // One undisturbed run lists the touches: how often each call is made.
    reset();
    ASSERT_EQ(Wait(Start({"-silent"}, "listed", trace)), 0) << ReadTextFile(work / "listed.err");
    std::map<std::string, int> calls;
    std::istringstream lines(ReadTextFile(work / "touches"));
    // Lines begin with the thread's id: the staged check has a thread of its own.
    for (std::string line; std::getline(lines, line);) {
      line.erase(0, line.find_first_not_of("0123456789 "));
      const auto paren = line.find('(');
      if (line.empty() || line[0] == '+' || line[0] == '<' || paren == std::string::npos) continue;
      if (const std::string call = line.substr(0, paren); row.calls.empty() || row.calls.count(call) > 0)
        ++calls[call];
    }
    ASSERT_FALSE(calls.empty());

    for (const auto& [call, count] : calls) {
      for (int n = 1; n <= count; ++n) {
        SCOPED_TRACE(call + " #" + std::to_string(n));
        reset();
        std::vector<std::string> faulty{
            "/usr/bin/strace", "-f", "-qq", "-o",
            "/dev/null",       "-e",  "inject=" + call + ":" + row.fault + ":when=" + std::to_string(n)};
        for (const auto& path : row.paths) faulty.insert(faulty.end(), {"-P", path});
        const int status = Wait(Start({"-silent"}, "faulty", faulty));
        const std::string version = ReadConfig(app + "Config.dat", "Update", "Version");
        if (status == 128 + SIGKILL) {
          ++kills;
        } else if (status != 0) {
          ++failures;
          EXPECT_EQ(status, 1);
          EXPECT_NE(ReadTextFile(work / "faulty.err"), "") << "a failure without a cause";
          EXPECT_EQ(version, "4.0.9") << ReadTextFile(work / "faulty.err");
          if (ReadConfig(app + "UpdateRecord.dat", today, "NewVersion") == "4.1.0") {
            EXPECT_EQ(ReadConfig(app + "UpdateRecord.dat", today, "IsSucceed"), "0") << "a success not committed";
          }
          EXPECT_NE(ReadTextFile(key + "/Version"), std::string("4.1.0", 6)) << "a version not committed";
        } else {
          EXPECT_EQ(version, "4.1.0") << "a run that failed to commit exited 0";
        }

        ASSERT_EQ(Wait(Start()), 0) << ReadTextFile(work / "run.err");
        ASSERT_EQ(Installed(), WithNativeNames(release));
        ASSERT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.1.0");
        ASSERT_EQ(ReadConfig(app + "UpdateRecord.dat", today, "IsSucceed"), "1");
        ASSERT_EQ(ReadConfig(app + "UpdateRecord.dat", today, "NewVersion"), "4.1.0");
        ASSERT_EQ(ReadTextFile(key + "/Version"), std::string("4.1.0", 6));
        ASSERT_EQ(ReadTextFile(key + "/InstallPath"), app + std::string(1, '\0'));
      }
    }
  }
  std::printf("faults at a touch of a store: %d kills, %d failed runs\n", kills, failures);
  EXPECT_GE(kills, 10);
  EXPECT_GE(failures, 10);
}
