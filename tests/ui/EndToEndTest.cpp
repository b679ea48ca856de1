// The real ZOLTUpdate under Xvfb: the dialog opens against a server, a click on
// "立即升级" (sent by xdotool) updates the installation and the program ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "platform/win32/Files.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpServers.h"
#include "tests/support/Wait.h"
#include "tests/ui/UpdateFixture.h"

namespace {

// The program and its dialog module, as an installation has them.
void InstallProgram(const std::string& exe, const TempDir& app) {
  ASSERT_TRUE(CopyFileA(exe.c_str(), (app / "ZOLTUpdate").c_str(), FALSE));
  const std::string module = exe.substr(0, exe.rfind('/') + 1) + "ZOLTUpdateUI.so";
  ASSERT_TRUE(CopyFileA(module.c_str(), (app / "ZOLTUpdateUI.so").c_str(), FALSE));
}

// Starts Xvfb on a display number it picks itself and points DISPLAY at it.
std::unique_ptr<ChildProcess> StartXvfb(const TempDir& x) {
  auto xvfb = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
      x / "xvfb.log");
  std::string display;
  const bool started = WaitFor(
      [&] {
        std::smatch match;
        const std::string log = ReadTextFile(x / "xvfb.log");
        if (!std::regex_search(log, match, std::regex(R"((?:^|\n)(\d+)\n)"))) return false;
        display = ":" + match[1].str();
        return true;
      },
      15000);
  EXPECT_TRUE(started) << ReadTextFile(x / "xvfb.log");
  setenv("DISPLAY", display.c_str(), 1);
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("WAYLAND_DISPLAY");
  return xvfb;
}

// The X window id of the window whose name matches, waiting for it to appear;
// empty when none appears.
std::string FindWindowNamed(const std::string& pattern) {
  std::string window;
  WaitFor(
      [&] {
        const ChildResult found = RunChild({"/usr/bin/xdotool", "search", "--name", pattern}, {}, 5);
        window = found.out.substr(0, found.out.find('\n'));
        return found.exitCode == 0 && !window.empty();
      },
      20000);
  return window;
}

// Runs the updater of installation with args under a fresh Xvfb, waits for the
// window whose name matches, runs beforeClick, clicks at (x, y) of the window
// (pixels) and waits for the updater to end. Returns its exit status, or -2
// when a step failed (the failure is reported).
int RunAndClick(Installation& installation, const std::vector<std::string>& args, const std::string& windowName,
                const char* x, const char* y, const std::function<void()>& beforeClick = {}) {
  std::vector<std::string> command{installation.app / "ZOLTUpdate"};
  command.insert(command.end(), args.begin(), args.end());
  TempDir display;
  const auto xvfb = StartXvfb(display);
  ChildProcess updater(command, display / "updater.log");
  const std::string window = FindWindowNamed(windowName);
  if (window.empty()) {
    ADD_FAILURE() << "no window " << windowName << "\n" << ReadTextFile(display / "updater.log");
    return -2;
  }
  if (beforeClick) beforeClick();
  const ChildResult click = RunChild({"/usr/bin/xdotool", "mousemove", "--window", window, x, y, "click", "1"}, {}, 10);
  if (click.exitCode != 0) {
    ADD_FAILURE() << click.err;
    return -2;
  }
  if (!WaitFor([&] { return updater.Exited(); }, 30000)) {
    ADD_FAILURE() << "the updater did not end\n" << ReadTextFile(display / "updater.log");
    return -2;
  }
  return updater.exitCode();
}

TEST(EndToEnd, ClickingUpgradeInTheDialogUpdatesTheInstallation) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  ServedInstallation installation("2.0", {{"a.dat", "new a"}, {"lib\\b.dat", "new b"}});
  InstallProgram(exe, installation.app);
  installation.Install("a.dat", "old a");

  // The centre of "立即升级" (template rectangle 166, 129, 53, 20 in dialog units).
  EXPECT_EQ(RunAndClick(installation, {}, "^在线更新$", "289", "208"), 0);
  EXPECT_EQ(installation.Installed("a.dat"), "new a");
  EXPECT_EQ(installation.Installed("lib/b.dat"), "new b");
  EXPECT_EQ(installation.ConfiguredVersion(), "2.0");
  EXPECT_EQ(installation.RecordOutcomes(), std::vector<std::string>{"1"});
}

// The silent program update asks through the notification window, which comes
// from the dialog module; "下次升级 " leaves the client alone and ends the run.
TEST(EndToEnd, SilentUpdateAsksThroughTheNotificationWindow) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  ServedInstallation installation("2.0", {{"a.dat", "new a"}});
  InstallProgram(exe, installation.app);
  installation.Install("a.dat", "old a");
  const std::string manifest = installation.publish / "1/UpdateConfig.ini";
  std::string text = ReadTextFile(manifest);
  text.insert(text.find("[Version]\n") + 10, "NOTIFIY=1\n");
  WriteTextFile(manifest, text);

  // The centre of "下次升级 " (template rectangle 153, 129, 53, 20 in dialog units).
  const int status = RunAndClick(installation, {"-silent"}, "^Tovaro升级通知$", "269", "208", [&] {
    // The files are in place before the question is asked.
    EXPECT_EQ(installation.Installed("a.dat"), "new a");
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(installation.ConfiguredVersion(), "2.0");
}

// A dialog that cannot reach the server says why in the run log, and the
// process exits 1 once the user closes it, so a script that started it knows.
TEST(EndToEnd, DialogThatCouldNotCheckExitsOneWithTheCauseLogged) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  ServedInstallation installation("2.0", {{"a.dat", "new a"}});
  InstallProgram(exe, installation.app);
  const int closedPort = PickFreePort();
  installation.Configure(closedPort);

  // The centre of "关闭" (template rectangle 226, 129, 53, 20 in dialog units).
  EXPECT_EQ(RunAndClick(installation, {}, "^在线更新$", "379", "208"), 1);

  const std::string log = ReadTextFile(installation.app / "ZOLTUpdate.log");
  EXPECT_NE(log.find("started: update dialog, type 1"), std::string::npos) << log;
  EXPECT_NE(log.find("cannot connect to 127.0.0.1:" + std::to_string(closedPort) +
                     " for /1/UpdateConfig.ini: Connection refused"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("outcome: exit 1, failed"), std::string::npos) << log;
}

TEST(EndToEnd, WithoutADisplayTheDialogSaysSoAndTheProgramEnds) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  ServedInstallation installation("2.0", {{"a.dat", "new a"}});
  InstallProgram(exe, installation.app);
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
  const ChildResult run = RunChild({installation.app / "ZOLTUpdate"}, {}, 20);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
  EXPECT_TRUE(installation.Installed("a.dat").empty());
}

}  // namespace
