// The real ZOLTUpdate under Xvfb: the dialog opens against a server, a click on
// "立即升级" (sent by xdotool) updates the installation and the program ends.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "platform/configfile/ConfigFile.h"
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

// Whether the X server of display answers a client now.
bool Answers(const std::string& display) {
  return RunChild({"/usr/bin/xdpyinfo", "-display", display}, {}, 10).exitCode == 0;
}

// Starts Xvfb on a display number it picks itself, waits until it answers and
// points DISPLAY at it. A server that does not come up, or refuses its first
// clients, is stopped and started again. -noreset: an X server resets when its
// last client leaves and refuses connections meanwhile, which the probe of a
// test or of the program could otherwise cause for the next connection.
std::unique_ptr<ChildProcess> StartXvfb(const TempDir& x) {
  for (int attempt = 1; attempt <= 3; ++attempt) {
    const std::string log = x / ("xvfb" + std::to_string(attempt) + ".log");
    auto xvfb =
        std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0",
                                                                "1280x800x24", "-nolisten", "tcp", "-noreset"},
                                       log);
    std::string display;
    const bool started = WaitFor(
        [&] {
          std::smatch match;
          const std::string text = ReadTextFile(log);
          if (!std::regex_search(text, match, std::regex(R"((?:^|\n)(\d+)\n)"))) return xvfb->Exited();
          display = ":" + match[1].str();
          return true;
        },
        15000);
    if (started && !display.empty() && WaitFor([&] { return Answers(display) || xvfb->Exited(); }, 15000) &&
        !xvfb->Exited()) {
      setenv("DISPLAY", display.c_str(), 1);
      unsetenv("QT_QPA_PLATFORM");
      unsetenv("WAYLAND_DISPLAY");
      return xvfb;
    }
    std::fprintf(stderr, "Xvfb attempt %d did not answer: %s\n", attempt, ReadTextFile(log).c_str());
  }
  ADD_FAILURE() << "Xvfb did not start";
  return nullptr;
}

// A display number whose socket does not exist: DISPLAY names a server that
// cannot be reached.
std::string UnreachableDisplay() {
  for (int number = 4000;; ++number) {
    if (!PathFileExistsA(("/tmp/.X11-unix/X" + std::to_string(number)).c_str()) &&
        !PathFileExistsA(("/tmp/.X" + std::to_string(number) + "-lock").c_str()))
      return ":" + std::to_string(number);
  }
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
// window whose name matches, runs beforeActions, then each xdotool command of
// actions ("%w" standing for the window) and waits for the updater to end.
// Returns its exit status, or -2 when a step failed (the failure is reported).
int RunAndAct(Installation& installation, const std::vector<std::string>& args, const std::string& windowName,
              const std::vector<std::vector<std::string>>& actions, const std::function<void()>& beforeActions = {}) {
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
  if (beforeActions) beforeActions();
  for (std::vector<std::string> action : actions) {
    for (std::string& word : action) word = word == "%w" ? window : word;
    action.insert(action.begin(), "/usr/bin/xdotool");
    const ChildResult done = RunChild(action, {}, 10);
    if (done.exitCode != 0) {
      ADD_FAILURE() << done.err;
      return -2;
    }
  }
  if (!WaitFor([&] { return updater.Exited(); }, 30000)) {
    ADD_FAILURE() << "the updater did not end\n" << ReadTextFile(display / "updater.log");
    return -2;
  }
  return updater.exitCode();
}

// A click at (x, y) of the window, in pixels.
int RunAndClick(Installation& installation, const std::vector<std::string>& args, const std::string& windowName,
                const char* x, const char* y, const std::function<void()>& beforeClick = {}) {
  return RunAndAct(installation, args, windowName, {{"mousemove", "--window", "%w", x, y, "click", "1"}}, beforeClick);
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
// The program beside an old a.dat, and a release of a.dat whose manifest asks
// for the notification window.
void InstallForANotifyingRelease(ServedInstallation& installation) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  InstallProgram(exe, installation.app);
  installation.Install("a.dat", "old a");
  const std::string manifest = installation.publish / "1/UpdateConfig.ini";
  std::string text = ReadTextFile(manifest);
  text.insert(text.find("[Version]\n") + 10, "NOTIFIY=1\n");
  WriteTextFile(manifest, text);
}

TEST(EndToEnd, SilentUpdateAsksThroughTheNotificationWindow) {
  ServedInstallation installation("2.0", {{"a.dat", "new a"}});
  ASSERT_NO_FATAL_FAILURE(InstallForANotifyingRelease(installation));

  // The centre of "下次升级 " (template rectangle 153, 129, 53, 20 in dialog units).
  const int status = RunAndClick(installation, {"-silent"}, "^Tovaro升级通知$", "269", "208", [&] {
    // The files are in place before the question is asked.
    EXPECT_EQ(installation.Installed("a.dat"), "new a");
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(installation.ConfiguredVersion(), "2.0");
}

// Nobody answers the notification window: after [Update] NotifySeconds it
// counts as "下次升级 ", and the run ends, giving up the instance lock.
TEST(EndToEnd, AnUnansweredNotificationEndsTheSilentRunWhenItsTimeIsUp) {
  ServedInstallation installation("2.0", {{"a.dat", "new a"}});
  ASSERT_NO_FATAL_FAILURE(InstallForANotifyingRelease(installation));
  CCryptConfigFile(installation.app / "Config.dat", "").WriteString("Update", "NotifySeconds", "2");

  EXPECT_EQ(RunAndAct(installation, {"-silent"}, "^Tovaro升级通知$", {}), 0);
  EXPECT_EQ(installation.ConfiguredVersion(), "2.0");
  const std::string log = ReadTextFile(installation.app / "ZOLTUpdate.log");
  EXPECT_NE(log.find("the notification window was not answered within 2 s; taken as \"下次升级\""), std::string::npos)
      << log;
}

// A dialog that cannot reach the server says why in the run log, and the
// process exits 1 once the user closes it, so a script that started it knows.
TEST(EndToEnd, DialogThatCouldNotCheckExitsOneWithTheCauseLogged) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  const int closedPort = PickFreePort();
  // A manifest the comparison rejects is not "up to date": nothing of it may
  // be installed, and the operator reads why.
  const struct {
    const char* what;
    std::vector<PublishedFile> files;
    bool reachable;
    std::string cause;
  } cases[] = {
      {"no server answers",
       {{"a.dat", "new a"}},
       false,
       "cannot connect to 127.0.0.1:" + std::to_string(closedPort) + " for /1/UpdateConfig.ini: Connection refused"},
      {"a name outside the installation",
       {{"a.dat", "new a"}, {"..\\x.dat", "x"}},
       true,
       "UpdateConfig.ini names \"..\\x.dat\", which lies outside the application directory; nothing was installed"},
      {"no files listed", {}, true, "UpdateConfig.ini lists no files; nothing was installed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ServedInstallation installation("2.0", c.files);
    InstallProgram(exe, installation.app);
    installation.Configure(c.reachable ? installation.server.port() : closedPort);

    // The centre of "关闭" (template rectangle 226, 129, 53, 20 in dialog units).
    EXPECT_EQ(RunAndClick(installation, {}, "^在线更新$", "379", "208"), 1);

    const std::string log = ReadTextFile(installation.app / "ZOLTUpdate.log");
    EXPECT_NE(log.find("started: update dialog, type 1"), std::string::npos) << log;
    EXPECT_NE(log.find(c.cause), std::string::npos) << log;
    EXPECT_NE(log.find("outcome: exit 1, failed"), std::string::npos) << log;
    EXPECT_TRUE(installation.Installed("a.dat").empty());
  }
}

// The keyboard alone: the focus starts on 立即升级, Tab moves it, Enter presses
// the focused button and Escape closes. Closing with an update on offer
// declines it, closing during the download cancels it: both are logged and
// exit 1, since nothing was installed.
TEST(EndToEnd, KeysDriveTheDialogAndTheLogSaysHowItEnded) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  const struct {
    const char* what;
    std::vector<const char*> keys;
    bool stalled;  // the server holds the file back
    int status;
    std::string logged;
  } cases[] = {
      {"Enter presses 立即升级", {"Return"}, false, 0, "outcome: exit 0, up to date or everything installed"},
      {"Escape declines", {"Escape"}, false, 1, "declined: the user closed the dialog without installing version 2.0"},
      {"Tab, then Enter on a close button",
       {"Tab", "Return"},
       false,
       1,
       "outcome: exit 1, nothing installed: the user declined"},
      {"Escape during the download cancels",
       {"Return", "Escape"},
       true,
       1,
       "cancelled: the user closed the dialog during the download (0 of 1 files in)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ServedInstallation installation("2.0", {{"a.dat", std::string(200000, 'a')}});
    InstallProgram(exe, installation.app);
    installation.Install("a.dat", "old a");
    std::unique_ptr<FaultServer> stalling;
    if (c.stalled) {
      stalling = std::make_unique<FaultServer>(installation.publish.path());
      stalling->SetRule("/1/a.dat", R"({"stall": 1000})");
      installation.Configure(stalling->port());
    }
    std::vector<std::vector<std::string>> actions{{"windowfocus", "--sync", "%w"}};
    for (const char* key : c.keys) actions.push_back({"key", "--delay", "100", key});
    EXPECT_EQ(RunAndAct(installation, {}, "^在线更新$", actions), c.status);
    const std::string log = ReadTextFile(installation.app / "ZOLTUpdate.log");
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    // Each line is written when it happens, the start first.
    EXPECT_LT(log.find("started: update dialog"), log.find("published version")) << log;
    if (c.status == 0) {
      EXPECT_LT(log.find("started: update dialog"), log.find("installed version 2.0")) << log;
    }
    EXPECT_EQ(installation.Installed("a.dat") == "old a", c.status != 0);
  }
}

// On a real X server the bar moves with the bytes as the transfer reports
// them. Its value is read from the running dialog, through the window's icon
// text (what a task bar labels the window with), which the dialog keeps at the
// bar's percentage: it must rise twice while the file is still arriving. A
// cancel then logs the bytes that did arrive.
TEST(EndToEnd, TheBarMovesWithTheBytesAndACancelCountsThem) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  ServedInstallation installation("2.0", {{"a.dat", std::string(3 << 20, 'a')}});
  InstallProgram(exe, installation.app);
  installation.Install("a.dat", "old a");
  NginxServer slow(installation.publish.path(), "512k");  // six seconds for the file
  installation.Configure(slow.port());
  std::vector<int> seen;
  const auto percent = [](const std::string& window) {
    const ChildResult shown = RunChild({"/usr/bin/xprop", "-id", window, "WM_ICON_NAME"}, {}, 5);
    const std::size_t sign = shown.out.find('%');
    const std::size_t blank = shown.out.rfind(' ', sign);
    return sign == std::string::npos || blank == std::string::npos
               ? -1
               : std::atoi(shown.out.substr(blank + 1, sign - blank - 1).c_str());
  };
  const int status = RunAndAct(installation, {}, "^在线更新$", {{"key", "Escape"}}, [&] {
    const std::string window = FindWindowNamed("^在线更新$");
    RunChild({"/usr/bin/xdotool", "windowfocus", "--sync", window}, {}, 10);
    RunChild({"/usr/bin/xdotool", "key", "Return"}, {}, 10);
    for (int reading = 0; reading < 2; ++reading) {
      int now = -1;
      EXPECT_TRUE(WaitFor(
          [&] {
            now = percent(window);
            return now > (seen.empty() ? 0 : seen.back()) && now < 100;
          },
          5000))
          << "the bar stays at " << now;
      seen.push_back(now);
    }
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(seen.size(), 2u);
  const std::string log = ReadTextFile(installation.app / "ZOLTUpdate.log");
  EXPECT_NE(log.find("cancelled: the user closed the dialog during the download"), std::string::npos) << log;
  const std::size_t summary = log.find("downloaded 0 of 1 files, ");
  ASSERT_NE(summary, std::string::npos) << log;
  EXPECT_GT(std::atoll(log.c_str() + summary + 25), 0) << "the bytes that arrived are counted\n" << log;
}

// No display at all, and a DISPLAY whose server cannot be reached (Qt would
// end the process with SIGABRT): the dialog says so and the program ends with 1.
TEST(EndToEnd, WithoutADisplayTheDialogSaysSoAndTheProgramEnds) {
  const char* exe = std::getenv("ZOLT_UPDATE_EXE");
  ASSERT_NE(exe, nullptr);
  for (const bool unreachable : {false, true}) {
    SCOPED_TRACE(unreachable ? "DISPLAY unreachable" : "no DISPLAY");
    ServedInstallation installation("2.0", {{"a.dat", "new a"}});
    InstallProgram(exe, installation.app);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
    if (unreachable) setenv("DISPLAY", UnreachableDisplay().c_str(), 1);
    const ChildResult run = RunChild({installation.app / "ZOLTUpdate"}, {}, 20);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
    EXPECT_TRUE(installation.Installed("a.dat").empty());
  }
  unsetenv("DISPLAY");
}

// The silent program update installs, then wants the notification window on a
// display that cannot be reached: the answer is "later", and the run still
// restarts the client and removes the staging folder.
TEST(EndToEnd, SilentUpdateWithAnUnreachableDisplayStillRestartsTheClient) {
  ServedInstallation installation("2.0", {{"a.dat", "new a"}});
  ASSERT_NO_FATAL_FAILURE(InstallForANotifyingRelease(installation));
  installation.Install("ZOLTClient.exe", "#!/bin/sh\necho started > \"$(dirname \"$0\")/client.started\"\n");
  ::chmod((installation.app / "ZOLTClient.exe").c_str(), 0755);
  // A stand-in client that opens no window: no trial judges it.
  CCryptConfigFile((installation.app / "Config.dat").c_str(), "").WriteString("Update", "TrialSeconds", "0");

  for (const char* name : {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
  setenv("DISPLAY", UnreachableDisplay().c_str(), 1);
  const ChildResult run = RunChild({installation.app / "ZOLTUpdate", "-silent"}, {}, 60);
  unsetenv("DISPLAY");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(installation.Installed("a.dat"), "new a");
  EXPECT_EQ(installation.ConfiguredVersion(), "2.0");
  EXPECT_TRUE(WaitFor([&] { return PathFileExistsA((installation.app / "client.started").c_str()) != 0; }, 10000));
  EXPECT_FALSE(PathFileExistsA((installation.app / "UPDATE/Program").c_str()));
}

}  // namespace
