// The real ZOLTUpdate under Xvfb: the dialog opens against a server, a click on
// "立即升级" (sent by xdotool) updates the installation and the program ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>
#include <thread>

#include "platform/win32/Files.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpServers.h"
#include "tests/ui/UpdateFixture.h"

namespace {

bool Poll(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST(EndToEnd, ClickingUpgradeInTheDialogUpdatesTheInstallation) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  ServedInstallation installation("2.0", {{"a.dat", "new a"}, {"lib\\b.dat", "new b"}});
  ASSERT_TRUE(CopyFileA(exe, (installation.app / "ZOLTUpdate").c_str(), FALSE));
  installation.Install("a.dat", "old a");

  // Xvfb picks a free display and writes its number to its output.
  TempDir x;
  ChildProcess xvfb({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                    x / "xvfb.log");
  std::string display;
  ASSERT_TRUE(Poll(
      [&] {
        std::smatch match;
        const std::string log = ReadTextFile(x / "xvfb.log");
        if (!std::regex_search(log, match, std::regex(R"((?:^|\n)(\d+)\n)"))) return false;
        display = ":" + match[1].str();
        return true;
      },
      std::chrono::seconds(15)))
      << ReadTextFile(x / "xvfb.log");

  setenv("DISPLAY", display.c_str(), 1);
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("WAYLAND_DISPLAY");
  ChildProcess updater({installation.app / "ZOLTUpdate"}, x / "updater.log");

  std::string window;
  ASSERT_TRUE(Poll(
      [&] {
        const ChildResult found = RunChild({"/usr/bin/xdotool", "search", "--name", "^在线更新$"}, {}, 5);
        window = found.out.substr(0, found.out.find('\n'));
        return found.exitCode == 0 && !window.empty();
      },
      std::chrono::seconds(20)))
      << ReadTextFile(x / "updater.log");

  // The centre of "立即升级" (template rectangle 166, 129, 53, 20 in dialog units).
  const ChildResult click =
      RunChild({"/usr/bin/xdotool", "mousemove", "--window", window, "289", "208", "click", "1"}, {}, 10);
  ASSERT_EQ(click.exitCode, 0) << click.err;

  ASSERT_TRUE(Poll([&] { return updater.Exited(); }, std::chrono::seconds(30))) << ReadTextFile(x / "updater.log");
  EXPECT_EQ(installation.Installed("a.dat"), "new a");
  EXPECT_EQ(installation.Installed("lib/b.dat"), "new b");
  EXPECT_EQ(installation.ConfiguredVersion(), "2.0");
  EXPECT_EQ(installation.RecordOutcomes(), std::vector<std::string>{"1"});
}

TEST(EndToEnd, WithoutADisplayTheDialogSaysSoAndTheProgramEnds) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  ServedInstallation installation("2.0", {{"a.dat", "new a"}});
  ASSERT_TRUE(CopyFileA(exe, (installation.app / "ZOLTUpdate").c_str(), FALSE));
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
  const ChildResult run = RunChild({installation.app / "ZOLTUpdate"}, {}, 20);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
  EXPECT_TRUE(installation.Installed("a.dat").empty());
}

}  // namespace
