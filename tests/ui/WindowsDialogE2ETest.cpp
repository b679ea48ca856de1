// The Windows program's dialogs under Wine and Xvfb, driven from outside with
// zolt-window (BM_CLICK to the control, as another program or the user would
// press it): the update dialog against nginx, and the notification window of
// the silent program update. Runs only with ZOLT_TARGET=windows (the
// wine_dialog test of a Linux build given ZOLT_WINDOWS_BUILD_DIR).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include <sys/wait.h>

#include "platform/configfile/ConfigFile.h"
#include "tests/silent/SilentE2E.h"
#include "tests/support/Wait.h"
#include "update/UpdateRecord.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUpdateTitle = "在线更新";
constexpr const char* kNotifyTitle = "Tovaro升级通知";

class WindowsDialogE2ETest : public SilentE2ETest {
 protected:
  void SetUp() override {
    if (!WindowsTarget()) GTEST_SKIP() << "the Windows program's dialogs (ZOLT_TARGET=windows)";
    SilentE2ETest::SetUp();
  }
  void InstallDialogs() {
    const std::string dll = fs::path(Env("ZOLT_UPDATE_BIN")).parent_path() / "ZOLTUpdateUI.dll";
    fs::copy_file(dll, app + "ZOLTUpdateUI.dll", fs::copy_options::overwrite_existing);
  }
  // zolt-window with args, under Wine; its exit status and output.
  ChildResult Window(std::vector<std::string> args) {
    args.insert(args.begin(), Env("ZOLT_WINDOW_BIN"));
    return RunWine(args);
  }
  // Ends every sample client of the prefix (a restarted one is no child of
  // the test), so the next case's client is not "another client".
  void EndClients() {
    EXPECT_TRUE(WaitFor([&] { return RunWine({"taskkill", "/F", "/IM", "ZOLTClient.exe"}).exitCode == 128; }, 20000));
  }
  bool Shown(const char* title) { return Window({"wait", title, "30000"}).exitCode == 0; }
  std::string Text(const char* title, int id) {
    std::string text = Window({"text", title, std::to_string(id)}).out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }
  // <build>/screenshots-windows/<name>.png, as the screen shows the window.
  void Picture(const char* title, const std::string& name) {
    const std::string folder = Env("ZOLT_BUILD_DIR") + "/screenshots-windows";
    fs::create_directories(folder);
    EXPECT_EQ(Window({"shot", title, "Z:" + folder + "/" + name + ".png"}).exitCode, 0) << name;
  }
};

TEST_F(WindowsDialogE2ETest, AnInstallationThatIsCurrentIsSaidToBeUpToDate) {
  NginxServer server(pub);
  Install({{"version.txt", "4.1.0"}}, "4.1.0", server.port());
  InstallDialogs();
  ResetRegistryKey(true);
  Publish(pub, 1, {{"version.txt", "4.1.0"}}, {"4.1.0", "GD"});
  const pid_t updater = Start({});
  ASSERT_TRUE(Shown(kUpdateTitle)) << ReadTextFile(work / "run.err");
  EXPECT_EQ(Text(kUpdateTitle, 19511), "您安装的Tovaro已经是最新版本！");
  EXPECT_NE(Window({"visible", kUpdateTitle, "19508"}).exitCode, 0) << "no offer";
  Picture(kUpdateTitle, "no-update");
  ASSERT_EQ(Window({"press", kUpdateTitle, "19504"}).exitCode, 0);
  EXPECT_EQ(Wait(updater), 0) << ReadTextFile(work / "run.err");
}

TEST_F(WindowsDialogE2ETest, UpgradeNowInstallsWritesTheStoresAndRestartsTheClient) {
  const std::string client = ReadTextFile(Env("ZOLT_CLIENT_BIN"));
  ASSERT_FALSE(client.empty());
  const FileSet old = {{"ZOLTClient.exe", client}, {"version.txt", "4.0.9"}, {"data\\strings.ini", "old"}};
  const FileSet release = {{"ZOLTClient.exe", client}, {"version.txt", "4.1.0"}, {"data\\strings.ini", "new"}};
  NginxServer server(pub);
  Install(old, "4.0.9", server.port());
  InstallDialogs();
  ResetRegistryKey(true);
  Publish(pub, 1, release, {"4.1.0", "GD"});
  const pid_t running = StartClient();
  ASSERT_TRUE(WaitFor([&] { return ReadTextFile(app + "client.log").find("started version 4.0.9") != std::string::npos; }));

  const pid_t updater = Start({});
  ASSERT_TRUE(Shown(kUpdateTitle)) << ReadTextFile(work / "run.err");
  EXPECT_EQ(Text(kUpdateTitle, 19519), "4.1.0");
  EXPECT_EQ(Window({"visible", kUpdateTitle, "19508"}).exitCode, 0) << "the offer";
  Picture(kUpdateTitle, "update-available");
  // Tab puts the keyboard's focus, and its mark, on the first button.
  ASSERT_EQ(Window({"key", kUpdateTitle, "9" /* VK_TAB */}).exitCode, 0);
  Picture(kUpdateTitle, "update-available-focus");
  ASSERT_EQ(Window({"press", kUpdateTitle, "19508"}).exitCode, 0);
  EXPECT_EQ(Wait(updater), 0) << ReadTextFile(work / "run.err") << ReadTextFile(app + "ZOLTUpdate.log");
  // The running client was asked to close (WM_CLOSE), the new one started.
  EXPECT_EQ(Wait(running), 0);
  ASSERT_TRUE(WaitFor([&] { return ReadTextFile(app + "client.log").find("started version 4.1.0") != std::string::npos; }));
  EXPECT_NE(ReadTextFile(app + "client.log").find("closed"), std::string::npos);
  FileSet installed = Installed();
  installed.erase("ZOLTUpdateUI.dll");
  EXPECT_EQ(installed, WithNativeNames(release));
  EXPECT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.1.0");
  // The dialog's record names its section by date and time.
  const std::string record = CCryptConfigFile(app + "UpdateRecord.dat", "").PlainText();
  EXPECT_NE(record.find("[" + FormatLocalTime("%Y-%m-%d")), std::string::npos) << record;
  EXPECT_TRUE(std::regex_search(record, std::regex(R"(IsSucceed\s*=\s*1)", std::regex::icase))) << record;
  EXPECT_EQ(RegistryValue("Version"), "4.1.0");
}

// A file the server does not have, and one whose content is not what the
// manifest's digest says: each shows its error text, and nothing is installed.
TEST_F(WindowsDialogE2ETest, AFailedDownloadShowsTheErrorText) {
  struct Case {
    const char* picture;
    bool missing;
    FileSet digests;
    const char* text;
  };
  const Case cases[] = {
      {"connection-failed", true, {}, "无法与服务器建立连接,请稍候重试！"},
      {"update-failed", false, {{"version.txt", "00000000000000000000000000000000"}}, "更新过程出现错误,请稍候重试！"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    fs::remove_all(pub);
    NginxServer server(pub);
    Install({{"version.txt", "4.0.9"}}, "4.0.9", server.port());
    InstallDialogs();
    ResetRegistryKey(true);
    Publish(pub, 1, {{"version.txt", "4.1.0"}}, {"4.1.0", "GD"}, c.digests);
    if (c.missing) fs::remove(pub + "1/version.txt");
    const pid_t updater = Start({});
    ASSERT_TRUE(Shown(kUpdateTitle)) << ReadTextFile(work / "run.err");
    ASSERT_EQ(Window({"press", kUpdateTitle, "19508"}).exitCode, 0);
    EXPECT_TRUE(WaitFor([&] { return Text(kUpdateTitle, 19511).find("请稍候重试") != std::string::npos; }));
    EXPECT_EQ(Text(kUpdateTitle, 19511), c.text);
    Picture(kUpdateTitle, c.picture);
    ASSERT_EQ(Window({"press", kUpdateTitle, "19504"}).exitCode, 0);
    EXPECT_EQ(Wait(updater), 1);
    EXPECT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.0.9");
  }
}

// Two of three files in, the third held back by the server after its first
// bytes: the bar, read from outside as the system's progress bar is, shows
// the bytes that came while the download goes on.
TEST_F(WindowsDialogE2ETest, TheDownloadShowsItsProgress) {
  Publish(pub, 1, {{"a.dat", "new a"}, {"b.dat", "new b"}, {"c.dat", std::string(100000, 'c')}}, {"4.1.0", "GD"});
  FaultServer server(pub);
  server.SetRule("/1/c.dat", R"({"stall": 1000})");
  Install({{"a.dat", "old a"}}, "4.0.9", server.port());
  InstallDialogs();
  ResetRegistryKey(true);
  const pid_t updater = Start({});
  ASSERT_TRUE(Shown(kUpdateTitle)) << ReadTextFile(work / "run.err");
  ASSERT_EQ(Window({"press", kUpdateTitle, "19508"}).exitCode, 0);
  EXPECT_EQ(Text(kUpdateTitle, 19511), "软件更新后会自动启用新版本！");
  EXPECT_NE(Window({"visible", kUpdateTitle, "19508"}).exitCode, 0) << "the offer is gone";
  ASSERT_TRUE(WaitFor([&] {
    const auto paths = server.RequestedPaths();
    return std::find(paths.begin(), paths.end(), "/1/c.dat") != paths.end();
  }));
  // In thousandths of the 100010 bytes: a.dat and b.dat alone (10 bytes)
  // would leave it at 0, the first 1000 bytes of c.dat bring it to 10.
  long position = -1, low = -1, high = -1;
  EXPECT_TRUE(WaitFor([&] {
    std::istringstream(Window({"progress", kUpdateTitle, "19509"}).out) >> position >> low >> high;
    return position >= 10;
  })) << position;
  EXPECT_EQ(position, 10);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 1000);
  Picture(kUpdateTitle, "downloading");
  // Closing it now cancels the download; nothing is installed.
  ASSERT_EQ(Window({"press", kUpdateTitle, "19504"}).exitCode, 0);
  EXPECT_EQ(Wait(updater), 1);
  EXPECT_EQ(ReadConfig(app + "Config.dat", "Update", "Version"), "4.0.9");
}

// The notification window above the task bar: answered 6 ("立即升级") it
// closes and restarts the client; left unanswered it closes by itself after
// [Update] NotifySeconds, which counts as "下次升级": the client keeps running,
// untouched, and the log says why the window went.
TEST_F(WindowsDialogE2ETest, TheNotificationSitsAboveTheTaskBarAndItsAnswerDecidesTheRestart) {
  struct Case {
    const char* what;
    const char* notifySeconds;  // null: the default (minutes)
    const char* press;          // null: nobody answers
    bool restarted;
  };
  const Case cases[] = {
      {"six restarts the client", nullptr, "19507", true},
      {"unanswered within its time limit", "2", nullptr, false},
  };
  const std::string client = ReadTextFile(Env("ZOLT_CLIENT_BIN"));
  const FileSet old = {{"ZOLTClient.exe", client}, {"version.txt", "4.0.9"}};
  const FileSet release = {{"ZOLTClient.exe", client}, {"version.txt", "4.1.0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(pub);
    NginxServer server(pub);
    Install(old, "4.0.9", server.port());
    InstallDialogs();
    if (c.notifySeconds != nullptr) {
      // The old client, never closed, keeps its window: the release stays on
      // trial, and the run waits out the trial's time before it ends.
      CCryptConfigFile config(app + "Config.dat", "");
      config.WriteString("Update", "NotifySeconds", c.notifySeconds);
      config.WriteString("Update", "TrialSeconds", "2");
    }
    ResetRegistryKey(true);
    // A release whose manifest asks for the notification window.
    Publish(pub, 1, release, {"4.1.0", "GD", 1});
    const pid_t running = StartClient();
    ASSERT_TRUE(
        WaitFor([&] { return ReadTextFile(app + "client.log").find("started version 4.0.9") != std::string::npos; }));
    const pid_t updater = Start({"-silent"});
    ASSERT_TRUE(Shown(kNotifyTitle)) << ReadTextFile(work / "run.err") << ReadTextFile(app + "ZOLTUpdate.log");
    // "left top right bottom" of the window, then of the work area.
    std::istringstream where(Window({"rect", kNotifyTitle}).out);
    long window[4] = {}, area[4] = {};
    for (long& edge : window) where >> edge;
    for (long& edge : area) where >> edge;
    EXPECT_EQ(window[2], area[2] - 5);
    EXPECT_EQ(window[3], area[3] - 5);
    if (c.press != nullptr) {
      Picture(kNotifyTitle, "notification");
      ASSERT_EQ(Window({"press", kNotifyTitle, c.press}).exitCode, 0);
    }
    EXPECT_EQ(Wait(updater), 0) << ReadTextFile(work / "run.err");
    const std::string log = ReadTextFile(app + "ZOLTUpdate.log");
    EXPECT_EQ(log.find("was not answered within") == std::string::npos, c.restarted) << log;
    if (c.restarted) {
      EXPECT_EQ(Wait(running), 0);
      ASSERT_TRUE(WaitFor(
          [&] { return ReadTextFile(app + "client.log").find("started version 4.1.0") != std::string::npos; }));
      EndClients();
      continue;
    }
    EXPECT_NE(log.find("the notification window was not answered within 2 s; taken as \"下次升级\""),
              std::string::npos)
        << log;
    // Never asked to close: the client that ran before the update still runs.
    EXPECT_EQ(::waitpid(running, nullptr, WNOHANG), 0);
    const std::string clientLog = ReadTextFile(app + "client.log");
    EXPECT_EQ(clientLog.find("closed"), std::string::npos) << clientLog;
    EXPECT_EQ(clientLog.find("started version 4.1.0"), std::string::npos) << clientLog;
    EndClients();
    Wait(running);
  }
}

}  // namespace
