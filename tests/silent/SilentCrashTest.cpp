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
//
// The journal's rows (journalRows) kill the updater at every touch of the
// install journal, the kept copies and the installed files, for an upgrade, an
// unconditional older release (an operator's rollback) and ZOLTUpdate
// --rollback: after one clean run the tree is one release and the stores name
// it. They run as a test of their own, beside the stores' rows.
class SilentFaultRows : public SilentE2ETest {
 protected:
  void RunRows(bool journalRows);
};

TEST_F(SilentFaultRows, AFaultAtEveryTouchOfAStoreIsCompletedByOneCleanRun) { RunRows(false); }
TEST_F(SilentFaultRows, AKillAtEveryTouchOfTheJournalLeavesOneRelease) { RunRows(true); }

void SilentFaultRows::RunRows(bool journalRows) {
  ASSERT_EQ(::access("/usr/bin/strace", X_OK), 0) << "strace is part of the set-up";
  const FileSet old = {{"a.bin", "old a"}, {"data\\b.bin", "old b"}};
  const FileSet release = {{"a.bin", "new a"}, {"data\\b.bin", "new b"}};
  NginxServer server(pub);
  Publish(pub, 1, release, {"4.1.0", "GD"});
  const std::string key = registry + "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro";
  const std::string today = FormatLocalTime("%Y-%m-%d");
  // The row under way: an upgrade from 4.0.9, an unconditional older release
  // over 6.0 (an operator's rollback), or ZOLTUpdate --rollback of an
  // installed 4.1.0 back to 4.0.9.
  enum class Kind { kUpgrade, kOlder, kRollback } kind = Kind::kUpgrade;
  std::string from = "4.0.9";
  const auto reset = [&] {
    from = kind == Kind::kOlder ? "6.0" : "4.0.9";
    Publish(pub, 1, release, {"4.1.0", "GD", 0, kind == Kind::kOlder ? 1 : 0});
    Install(old, from, server.port());
    fs::remove_all(registry);
    fs::create_directories(key);
    // --rollback puts back what an install kept: 4.1.0 installed over 4.0.9.
    if (kind == Kind::kRollback) {
      ASSERT_EQ(Wait(Start({"-silent"}, "installed")), 0);
    }
  };
  const auto arguments = [&] {
    return kind == Kind::kRollback ? std::vector<std::string>{"--rollback"} : std::vector<std::string>{"-silent"};
  };
  const std::vector<std::string> stores{work / "app", app + "Config.dat", app + "UpdateRecord.dat"};
  const std::vector<std::string> registryKey{key, key + "/Version", key + "/InstallPath"};
  const std::vector<std::string> installed{work / "app", app + "a.bin", app + "data", app + "data/b.bin"};
  const std::vector<std::string> digestCache{app + "UPDATE.kept/1", app + "UPDATE.kept/1/digests"};
  const std::vector<std::string> staged{app + "UPDATE/Program/a.bin", app + "UPDATE/Program/data/b.bin"};
  const std::string kept = app + "UPDATE.kept/1/";
  // The install's and the rollback's own renames of installed files name the
  // files; the journal and the kept copies live below kept.
  const std::vector<std::string> journal{kept + "journal", kept + "previous", kept + "previous/a.bin",
                                         kept + "previous/data/b.bin", kept + "held", app + "a.bin",
                                         app + "data/b.bin"};
  const std::set<std::string> writes{"write", "renameat", "renameat2"}, flushes{"fsync", "fdatasync"};
  const struct {
    const char* name;
    const std::vector<std::string>& paths;
    std::set<std::string> calls;  // empty: every call
    const char* fault;
    Kind kind = Kind::kUpgrade;
    bool journalRow = false;
  } rows[] = {
      {"killed at a touch of the journal, a kept copy or an installed file", journal, {}, "signal=SIGKILL",
       Kind::kUpgrade, true},
      {"an unconditional older release killed at a touch of the journal, a kept copy or an installed file",
       journal, {}, "signal=SIGKILL", Kind::kOlder, true},
      {"--rollback killed at a touch of the journal, a kept copy or an installed file", journal, {},
       "signal=SIGKILL", Kind::kRollback, true},
      {"--rollback killed at a touch of a store", stores, {}, "signal=SIGKILL", Kind::kRollback, true},
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
    if (row.journalRow != journalRows) continue;
    SCOPED_TRACE(row.name);
    kind = row.kind;
    std::vector<std::string> trace{"/usr/bin/strace", "-f", "-qq", "-o", work / "touches"};
    for (const auto& path : row.paths) trace.insert(trace.end(), {"-P", path});
    // One undisturbed run lists the touches: how often each call is made.
    reset();
    ASSERT_EQ(Wait(Start(arguments(), "listed", trace)), 0) << ReadTextFile(work / "listed.err");
    std::map<std::string, int> calls;
    std::istringstream lines(ReadTextFile(work / "touches"));
    // Lines begin with the thread's id: the staged check has a thread of its own.
    for (std::string line; std::getline(lines, line);) {
      line.erase(0, line.find_first_not_of("0123456789 "));
      const auto paren = line.find('(');
      if (line.empty() || line[0] == '+' || line[0] == '<' || paren == std::string::npos) continue;
      if (const std::string call = line.substr(0, paren); row.calls.empty() || row.calls.count(call) > 0) ++calls[call];
    }
    ASSERT_FALSE(calls.empty());

    for (const auto& [call, count] : calls) {
      for (int n = 1; n <= count; ++n) {
        SCOPED_TRACE(call + " #" + std::to_string(n));
        reset();
        std::vector<std::string> faulty{"/usr/bin/strace",
                                        "-f",
                                        "-qq",
                                        "-o",
                                        "/dev/null",
                                        "-e",
                                        "inject=" + call + ":" + row.fault + ":when=" + std::to_string(n)};
        for (const auto& path : row.paths) faulty.insert(faulty.end(), {"-P", path});
        const int status = Wait(Start(arguments(), "faulty", faulty));
        const std::string version = ReadConfig(app + "Config.dat", "Update", "Version");
        if (status == 128 + SIGKILL) {
          ++kills;
        } else if (status != 0) {
          ++failures;
          EXPECT_EQ(status, 1);
          EXPECT_NE(ReadTextFile(work / "faulty.err"), "") << "a failure without a cause";
          EXPECT_EQ(version, kind == Kind::kRollback ? "4.1.0" : from) << ReadTextFile(work / "faulty.err");
          if (ReadConfig(app + "UpdateRecord.dat", today, "NewVersion") == "4.1.0") {
            EXPECT_EQ(ReadConfig(app + "UpdateRecord.dat", today, "IsSucceed"), "0") << "a success not committed";
          }
          EXPECT_NE(ReadTextFile(key + "/Version"), std::string("4.1.0", 6)) << "a version not committed";
        } else {
          EXPECT_EQ(version, kind == Kind::kRollback ? "4.0.9" : "4.1.0") << "a run that failed to commit exited 0";
        }

        // A rollback cut short is finished by the clean run, which says so with 4.
        const int clean = Wait(Start());
        ASSERT_TRUE(clean == 0 || (clean == 4 && kind == Kind::kRollback)) << clean << ReadTextFile(work / "run.err");
        if (kind == Kind::kRollback) {
          // Either the rollback had not begun (4.1.0 stays) or it is finished
          // (4.0.9 back, 4.1.0 held): one release, and the stores name it.
          const std::string now = ReadConfig(app + "Config.dat", "Update", "Version");
          ASSERT_EQ(Installed(), WithNativeNames(now == "4.0.9" ? old : release)) << now;
          ASSERT_EQ(ReadTextFile(key + "/Version"), now + std::string(1, '\0'));
          ASSERT_EQ(ReadConfig(app + "UpdateRecord.dat", today, "IsSucceed"), now == "4.0.9" ? "0" : "1");
          ASSERT_FALSE(fs::exists(kept + "journal"));
          continue;
        }
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
  EXPECT_GE(kills, journalRows ? 40 : 10);
  if (!journalRows) {
    EXPECT_GE(failures, 10);
  }
}

// The log is written as the run goes, not when it ends: a run killed after
// its commit point (here while it waits to restart the client) has left every
// line it reached, the installed files among them.
TEST_F(SilentE2ETest, ARunKilledAfterItsCommitHasLoggedItsLines) {
  NginxServer server(pub);
  const FileSet old = {{"version.txt", "4.0.9"}, {"ZOLTClient.exe", "#!/bin/sh\n"}};
  Install(old, "4.0.9", server.port());
  fs::permissions(app + "ZOLTClient.exe", fs::perms(0755));
  Publish(pub, 1, {{"version.txt", "4.1.0"}, {"ZOLTClient.exe", "#!/bin/sh\n"}}, {"4.1.0", "GD"});
  const pid_t run = Start();
  ASSERT_TRUE(WaitFor([&] { return ReadConfig(app + "Config.dat", "Update", "Version") == "4.1.0"; }, 20000));
  // The client starts five seconds after the commit: the lines must be there
  // well before.
  const auto logged = [&](const std::string& line) { return ReadTextFile(app + "ZOLTUpdate.log").find(line); };
  EXPECT_TRUE(
      WaitFor([&] { return logged("installed version 4.1.0: 1 file: version.txt") != std::string::npos; }, 2000));
  ::kill(run, SIGKILL);
  EXPECT_EQ(Wait(run), 128 + SIGKILL);
  const std::string log = ReadTextFile(app + "ZOLTUpdate.log");
  std::size_t at = 0;
  for (const std::string line : {"started: silent program update", "installed version \"4.0.9\", region \"GD\"",
                                 "published version \"4.1.0\", region \"GD\"; to install: 1 file: version.txt",
                                 "downloaded 1 of 1 files", "installed version 4.1.0: 1 file: version.txt"}) {
    const std::size_t found = log.find(line, at);
    EXPECT_NE(found, std::string::npos) << "in order: " << line << "\n" << log;
    if (found != std::string::npos) at = found;
  }
}
