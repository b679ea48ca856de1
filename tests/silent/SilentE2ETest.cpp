// The real ZOLTUpdate binary, copied into a temporary application directory,
// against nginx on 127.0.0.1: a whole silent run with the client restart, and a
// second instance.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "platform/crypt/MD5.h"
#include "platform/win32/Shell.h"
#include "platform/win32/Window.h"
#include "tests/silent/SilentE2E.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TEST_F(SilentE2ETest, NewerVersionIsInstalledAndTheClientRestartedFiveSecondsLater) {
  const std::string client = ReadTextFile(Env("ZOLT_CLIENT_BIN"));
  ASSERT_FALSE(client.empty());
  const FileSet old = {{"ZOLTClient.exe", client}, {"version.txt", "4.0.9"}, {"data\\strings.ini", "old"}};
  const FileSet release = {{"ZOLTClient.exe", client},
                           {"version.txt", "4.1.0"},
                           {"data\\strings.ini", "new"},
                           {"data\\skins\\blue.skin", "blue"}};
  NginxServer server(pub);
  Install(old, "4.0.9", server.port());
  fs::permissions(app + "ZOLTClient.exe", fs::perms(0755));
  Publish(pub, 1, release, {"4.1.0", "GD"});

  const auto start = Clock::now();
  EXPECT_EQ(Wait(Start()), 0);
  const auto ended = Clock::now();
  EXPECT_EQ(ReadTextFile(work / "run.out") + ReadTextFile(work / "run.err"), "") << "a successful run is quiet";
  EXPECT_EQ(Installed(), WithNativeNames(release));
  EXPECT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.1.0");
  EXPECT_FALSE(fs::exists(app + "UPDATE/Program"));

  ASSERT_TRUE(WaitFor([&] { return ReadTextFile(app + "client.log").find("started") != std::string::npos; }));
  const double seconds = std::chrono::duration<double>(ended - start).count();
  std::printf("updater ran %.2f s including the client start delay\n", seconds);
  EXPECT_GE(seconds, 4.9);
  EXPECT_LT(seconds, 15.0);
  EXPECT_NE(ReadTextFile(app + "client.log").find("started version 4.1.0"), std::string::npos);
  EXPECT_EQ(ReadTextFile(app + "ZOLTClient.exe"), client) << "the client binary kept its bytes";
}

TEST_F(SilentE2ETest, SecondInstanceEndsAtOnceAndChangesNothing) {
  FileSet release;
  for (int i = 0; i < 8; ++i) release["f" + std::to_string(i) + ".bin"] = std::string(128 * 1024, char('a' + i));
  NginxServer server(pub, "256k");  // the first run takes about three seconds
  Install({}, "4.0.9", server.port());
  Publish(pub, 1, release, {"4.1.0", "GD"});

  const pid_t first = Start({"-silent"}, "first");
  ASSERT_TRUE(WaitFor([&] { return Requests(server, "/1/UpdateConfig.ini") == 1; }));
  const auto start = Clock::now();
  const int second = Wait(Start({"-silent"}, "second"), 10000);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_NE(second, -1);
  ASSERT_EQ(::waitpid(first, nullptr, WNOHANG), 0) << "the first run is still going";
  EXPECT_EQ(Wait(first), 0);
  EXPECT_EQ(Requests(server, "/1/UpdateConfig.ini"), 1) << "the second instance fetched nothing";
  EXPECT_EQ(Installed(), release);
}

// Before the version is recorded, the installed files and the folders whose
// entries changed are flushed, and nothing else: a flush of the whole file
// system would wait for every other program's unwritten data as well.
TEST_F(SilentE2ETest, OnlyWhatTheRunWroteIsFlushedBeforeTheVersionIsRecorded) {
  const FileSet old = {{"version.txt", "4.0.9"}, {"data\\strings.ini", "old"}};
  const FileSet release = {{"version.txt", "4.1.0"}, {"data\\strings.ini", "new"}, {"data\\skins\\blue.skin", "b"}};
  NginxServer server(pub);
  Install(old, "4.0.9", server.port());
  Publish(pub, 1, release, {"4.1.0", "GD"});
  const std::string trace = work / "trace.txt";
  ASSERT_EQ(Wait(Start({"-silent"}, "run",
                       {"/usr/bin/strace", "-f", "-qq", "-y", "-o", trace, "-e",
                        "trace=sync,syncfs,fsync,fdatasync,rename,renameat,renameat2"})),
            0)
      << ReadTextFile(work / "run.err");
  EXPECT_EQ(Installed(), WithNativeNames(release));

  std::vector<std::string> lines;
  std::istringstream text(ReadTextFile(trace));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  const auto firstLine = [&](const std::string& call, const std::string& path) {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].find(call + "(") != std::string::npos && lines[i].find(path) != std::string::npos) return i;
    return lines.size();
  };
  const std::size_t recorded = firstLine("rename", "Config.dat\"");
  ASSERT_LT(recorded, lines.size()) << "the version was not recorded";
  EXPECT_EQ(firstLine(" syncfs", ""), lines.size()) << "the whole file system was flushed";
  EXPECT_EQ(firstLine(" sync", ""), lines.size());
  for (const auto& [name, content] : release) {
    SCOPED_TRACE(name);
    EXPECT_LT(firstLine("fdatasync", app + Native(name) + ">"), recorded);
  }
  for (const std::string folder : {"data", "data/skins"}) EXPECT_LT(firstLine("fsync", app + folder + ">"), recorded);
}
