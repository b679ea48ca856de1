// The update dialog against a real HTTP server: the states of the check, the
// download, the installation and its failures.
#include <gtest/gtest.h>

#include <QTest>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "platform/crypt/MD5.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "platform/win32/MessageWindow.h"
#include "platform/win32/RemoteWindow.h"
#include "tests/support/HttpServers.h"
#include "tests/ui/UpdateFixture.h"
#include "transfer/DownFileThread.h"
#include "ui/DialogTemplates.h"
#include "ui/DlgUpdate.h"

namespace {

const std::string kUpToDate = "您安装的Tovaro已经是最新版本！";
const std::string kConnectionFailed = "无法与服务器建立连接,请稍候重试！";
const std::string kUpdateFailed = "更新过程出现错误,请稍候重试！";

bool Shown(CDlgUpdate& dialog, int id) { return !Control(dialog, id)->isHidden(); }

void Click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton); }

TEST(DlgUpdateCheck, ShowsWhetherAnUpdateIsAvailable) {
  enum class Server { Serving, ManifestMissing, Down };
  struct Case {
    const char* name;
    Server server;
    bool changed;
    bool available;
    const char* rollout = nullptr;  // "ROLLOUT" of the release
    // A check that failed: its text instead of "up to date", and no caption,
    // since "没有可用更新！" would claim what it could not find out.
    const std::string* failed = nullptr;
  };
  const Case cases[] = {
      {"update available", Server::Serving, true, true},
      {"installed copies current", Server::Serving, false, false},
      {"manifest missing on the server", Server::ManifestMissing, true, false, nullptr, &kUpdateFailed},
      {"server down", Server::Down, true, false, nullptr, &kConnectionFailed},
      {"staged rollout halted", Server::Serving, true, false, "0"},
      {"staged rollout complete", Server::Serving, true, true, "100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation installation;
    installation.Install("ZOLTAssist.dll", "old library");
    installation.Publish("2.0", {{"ZOLTAssist.dll", c.changed ? "new library" : "old library"}});
    const std::string manifest = installation.publish / "1/UpdateConfig.ini";
    if (c.server == Server::ManifestMissing) DeleteFileA(manifest.c_str());
    if (c.rollout) {
      std::string text = ReadTextFile(manifest);
      WriteTextFile(manifest, text.insert(text.find("REGION="), "ROLLOUT=" + std::string(c.rollout) + "\n"));
    }
    std::unique_ptr<NginxServer> server;
    if (c.server == Server::Down) {
      installation.Configure(PickFreePort());
    } else {
      server = std::make_unique<NginxServer>(installation.publish.path());
      installation.Configure(server->port());
    }

    CDlgUpdate dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.iconPicture.PictureId(), c.available ? 19531u : 19530u);
    EXPECT_EQ(Shown(dialog, IDC_BANNER), c.failed == nullptr);
    if (c.failed == nullptr) {
      EXPECT_EQ(dialog.bannerPicture.PictureId(), c.available ? 19533u : 19534u);
    }
    EXPECT_EQ(dialog.statusText.GetWindowText(), c.failed ? *c.failed : c.available ? "Tovaro有新版本" : kUpToDate);
    EXPECT_EQ(dialog.exitStatus, c.failed ? 1 : 0);
    for (int id : {IDC_VERSION, IDC_UPDATABLE, IDC_QUESTION, IDC_UPGRADE})
      EXPECT_EQ(Shown(dialog, id), c.available) << id;
    for (int id : {IDC_CLOSE, IDC_TITLE_CLOSE, IDC_TITLE, IDC_PROGRESS}) EXPECT_TRUE(Shown(dialog, id)) << id;
    if (c.available) {
      EXPECT_EQ(dialog.versionText.GetWindowText(), "2.0");
    }
    EXPECT_EQ(dialog.progressBar.High(), 100u);
    EXPECT_EQ(dialog.progressBar.Progress(), 0u);
    EXPECT_EQ(dialog.GetWindowText(), "在线更新");
  }
}

TEST(DlgUpdateCheck, WorksOnTheFoldersOfTheUpdateTypeAndRemovesOldBackups) {
  struct Case {
    int type;
    const char* module;
    const char* install;
    const char* staging;
  };
  const Case cases[] = {
      {1, "", "", "UPDATE\\Program\\"},
      {3, "Plugin", "Plugin\\", "UPDATE\\Plugin\\"},
      {2, "", "\\", "UPDATE\\\\"},  // the name is not checked
  };
  for (const auto& c : cases) {
    Installation installation;
    installation.Configure(PickFreePort());
    installation.Install("old.dll.bak", "backup");
    installation.Install("Plugin/deep/x.bak", "backup");
    CDlgUpdate dialog;
    dialog.updateType = c.type;
    dialog.moduleName = c.module;
    dialog.Create();
    EXPECT_EQ(dialog.installDir, installation.app.path() + c.install) << c.type;
    EXPECT_EQ(dialog.stagingDir, installation.app.path() + c.staging) << c.type;
    EXPECT_EQ(dialog.manifestName, "UpdateConfig.ini");
    EXPECT_FALSE(PathFileExistsA((installation.app / "old.dll.bak").c_str()));
    EXPECT_FALSE(PathFileExistsA((installation.app / "Plugin/deep/x.bak").c_str()));
  }
}

TEST(DlgUpdateDownload, FetchesOnlyWhatIsNotStagedThenInstallsAndRecords) {
  ServedInstallation installation(
      "2.0", {{"ZOLTClient.dat", "new client"}, {"bin\\tool.dat", "new tool, longer"}, {"lang\\zh.dat", "新的语言"}});
  installation.Install("ZOLTClient.dat", "old client");
  installation.Install("bin\\tool.dat", "old tool");
  installation.Stage("ZOLTClient.dat", "new client");  // staged by an earlier run
  installation.Stage("bin\\tool.dat", "new too");      // an interrupted download

  CDlgUpdate dialog;
  dialog.Create();
  ASSERT_EQ(dialog.updateFiles.size(), 3u);
  EXPECT_EQ(dialog.downloadList, (std::vector<std::string>{"bin\\tool.dat", "lang\\zh.dat"}));
  EXPECT_EQ(dialog.expectedSizes, (std::vector<std::int64_t>{16, 12}));

  Click(Control(dialog, IDC_UPGRADE));
  // Downloading, the bar counts thousandths of the listed files' bytes.
  EXPECT_EQ(dialog.progressBar.High(), 1000u);
  EXPECT_EQ(dialog.bannerPicture.PictureId(), 19532u);
  EXPECT_EQ(dialog.statusText.GetWindowText(), "软件更新后会自动启用新版本！");
  for (int id : {IDC_VERSION, IDC_UPDATABLE, IDC_QUESTION, IDC_UPGRADE}) EXPECT_FALSE(Shown(dialog, id)) << id;

  ASSERT_TRUE(WaitPumpingEvents([&] { return dialog.IsEnded(); }));
  EXPECT_EQ(dialog.Result(), 1);
  EXPECT_EQ(dialog.bannerPicture.PictureId(), 19535u);
  // Installing, the bar is full.
  EXPECT_EQ(dialog.progressBar.Progress(), 2u);
  EXPECT_EQ(installation.Installed("ZOLTClient.dat"), "new client");
  EXPECT_EQ(installation.Installed("bin/tool.dat"), "new tool, longer");
  EXPECT_EQ(installation.Installed("lang/zh.dat"), "新的语言");
  EXPECT_EQ(installation.ConfiguredVersion(), "2.0");
  EXPECT_EQ(installation.RegistryVersion(), "2.0");
  EXPECT_EQ(installation.RecordOutcomes(), std::vector<std::string>{"1"});
  EXPECT_FALSE(PathIsDirectoryA((installation.app / "UPDATE/Program").c_str()));
  const std::string log = installation.server.AccessLog();
  EXPECT_EQ(log.find("/1/ZOLTClient.dat"), std::string::npos) << log;
  EXPECT_NE(log.find("/1/bin/tool.dat"), std::string::npos) << log;
}

TEST(DlgUpdateDownload, InstallsAtOnceWhenEverythingIsStaged) {
  ServedInstallation installation("2.0", {{"a.dat", "new a!"}, {"b.dat", "new b"}});
  installation.Install("a.dat", "old a");
  installation.Stage("a.dat", "new a!");
  installation.Stage("b.dat", "new b");

  // The running client is asked to close after the staged files were hashed
  // and before they are copied: by then the window must show the installing
  // state with the bar full. The dialog's thread waits for the answer, so the
  // client's handler reads a state that holds still.
  CRemoteWindowOwner client;
  ASSERT_TRUE(client.Listen("ZOLTCLIENT"));
  struct Seen {
    unsigned banner = 0;
    unsigned long progress = 0, high = 0;
  } seen;
  CDlgUpdate dialog;
  std::thread clientThread([&] {
    for (int i = 0; i < 4 && seen.banner == 0; ++i)
      client.HandleNext(
          [&](UINT, WPARAM, LPARAM) {
            seen = {dialog.bannerPicture.PictureId(), dialog.progressBar.Progress(), dialog.progressBar.High()};
            return 0;
          },
          10000);
  });
  dialog.Create();
  EXPECT_TRUE(dialog.downloadList.empty());
  EXPECT_TRUE(Shown(dialog, IDC_UPGRADE));
  Click(Control(dialog, IDC_UPGRADE));
  clientThread.join();
  EXPECT_EQ(seen.banner, 19535u);
  EXPECT_EQ(seen.progress, 1u);
  EXPECT_EQ(seen.high, 1u);
  // Installed inside the click, through the report the dialog sends itself.
  EXPECT_TRUE(dialog.IsEnded());
  EXPECT_EQ(dialog.downloadList, std::vector<std::string>{"a.dat"});
  EXPECT_EQ(dialog.expectedSizes, std::vector<std::int64_t>{6});
  EXPECT_EQ(dialog.downloadThread, nullptr);
  EXPECT_EQ(installation.Installed("a.dat"), "new a!");
  EXPECT_EQ(installation.Installed("b.dat"), "new b");
  EXPECT_EQ(installation.ConfiguredVersion(), "2.0");
  EXPECT_EQ(installation.server.AccessLog().find("/1/a.dat"), std::string::npos);
}

TEST(DlgUpdateDownload, FailuresShowTheirTextAndInstallNothing) {
  struct Case {
    const char* name;
    PublishedFile broken;
    bool removeFromServer;
    const std::string& text;
    bool everyFileCounted;
  };
  const Case cases[] = {
      {"connection failure", {"b.dat", "new b"}, true, kConnectionFailed, false},
      {"size differs", {"b.dat", "new b", "999"}, false, kUpdateFailed, false},
      // A body past the manifest's SIZE is cut off there and fails as a download.
      {"body larger than its size", {"b.dat", "new b", "3"}, false, kConnectionFailed, false},
      // Right size, other content: only the digest tells.
      {"digest differs", {"b.dat", "new b", "", "0123456789abcdef0123456789abcdef"}, false, kUpdateFailed, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ServedInstallation installation("2.0", {{"a.dat", "new a"}, c.broken});
    installation.Install("a.dat", "old a");
    installation.Install("b.dat", "old b");
    if (c.removeFromServer) DeleteFileA((installation.publish / "1/b.dat").c_str());

    CDlgUpdate dialog;
    dialog.Create();
    ASSERT_EQ(dialog.downloadList.size(), 2u);
    Click(Control(dialog, IDC_UPGRADE));
    ASSERT_TRUE(WaitPumpingEvents([&] { return dialog.statusText.GetWindowText() == c.text; }))
        << dialog.statusText.GetWindowText();
    if (c.everyFileCounted) {
      // A completion report after the last counted file has nothing to count.
      EXPECT_EQ(dialog.finishedCount, 2);
      const std::int64_t late = dialog.expectedSizes.back();
      std::thread worker([&] { SendMessageA(dialog.GetSafeHwnd(), WM_UPDATE_DOWNLOAD_DONE, late, late); });
      WaitPumpingEvents([] { return false; }, 200);
      worker.join();
      EXPECT_EQ(dialog.finishedCount, 2);
    }
    // The failed state keeps the pictures of the download.
    EXPECT_FALSE(dialog.IsEnded());
    EXPECT_EQ(dialog.statusText.GetWindowText(), c.text);
    EXPECT_EQ(dialog.iconPicture.PictureId(), 19531u);
    EXPECT_EQ(dialog.bannerPicture.PictureId(), 19532u);
    EXPECT_FALSE(Shown(dialog, IDC_UPGRADE));
    EXPECT_TRUE(Shown(dialog, IDC_PROGRESS));
    EXPECT_EQ(installation.Installed("a.dat"), "old a");
    EXPECT_EQ(installation.Installed("b.dat"), "old b");
    EXPECT_EQ(installation.ConfiguredVersion(), "1.0");
    EXPECT_TRUE(installation.RecordOutcomes().empty());
  }
}

// A file of 2 GiB or more: its SIZE is counted in 64 bits, so the report the
// transfer sends when it is complete counts it. The report is sent here as
// the transfer sends it, without moving 3 GB.
TEST(DlgUpdateDownload, AFileOf2GiBOrMoreIsCountedByItsSize) {
  ServedInstallation installation("2.0", {{"big.dat", "stands in for 3 GB", "3000000000"}, {"b.dat", "new b"}});
  CDlgUpdate dialog;
  dialog.Create();
  ASSERT_EQ(dialog.expectedSizes.size(), 2u);
  EXPECT_EQ(dialog.expectedSizes.front(), 3000000000LL);
  testing::internal::CaptureStderr();
  std::thread transfer([&] { SendMessageA(dialog.GetSafeHwnd(), WM_UPDATE_DOWNLOAD_DONE, 3000000000u, 3000000000LL); });
  WaitPumpingEvents([&] { return dialog.finishedCount == 1; }, 5000);
  transfer.join();
  EXPECT_EQ(dialog.finishedCount, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_NE(dialog.statusText.GetWindowText(), kUpdateFailed);
}

TEST(DlgUpdateDownload, SignedReleases) {
  TempDir keys;
  const Ed25519KeyFiles trusted = MakeEd25519Key(keys.path(), "trusted");
  const Ed25519KeyFiles foreign = MakeEd25519Key(keys.path(), "foreign");
  const std::string goodSha = CMD5::SHA256OfBytes("new b", 5);
  struct Case {
    const char* name;
    std::string keyFile;  // ZOLTUpdate.pub
    std::string signer;   // private key; empty: unsigned
    PublishedFile b;      // as served and listed
    bool offered;         // the check shows an update
    bool installed;       // after "立即升级"
  };
  const Case cases[] = {
      {"signed release", ReadTextFile(trusted.publicKey), trusted.privateKey, {"b.dat", "new b"}, true, true},
      {"foreign key", ReadTextFile(trusted.publicKey), foreign.privateKey, {"b.dat", "new b"}, false, false},
      {"unsigned", ReadTextFile(trusted.publicKey), "", {"b.dat", "new b"}, false, false},
      {"key file without a usable key", "no key", trusted.privateKey, {"b.dat", "new b"}, false, false},
      {"MD5 matches a re-signed manifest, SHA256 does not",
       ReadTextFile(trusted.publicKey),
       trusted.privateKey,
       {"b.dat", "bad b", "", "", goodSha},
       true,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ServedInstallation installation("2.0", {{"a.dat", "new a"}, c.b});
    if (!c.signer.empty()) installation.Sign(c.signer);
    WriteTextFile(installation.app / "ZOLTUpdate.pub", c.keyFile);
    installation.Install("a.dat", "old a");
    installation.Install("b.dat", "old b");

    testing::internal::CaptureStderr();
    CDlgUpdate dialog;
    dialog.Create();
    EXPECT_EQ(Shown(dialog, IDC_UPGRADE), c.offered);
    if (!c.offered) {
      EXPECT_EQ(dialog.statusText.GetWindowText(), kUpdateFailed) << "a refused release is not \"up to date\"";
      EXPECT_EQ(installation.server.AccessLog().find("/1/a.dat"), std::string::npos);
    } else {
      Click(Control(dialog, IDC_UPGRADE));
      ASSERT_TRUE(
          WaitPumpingEvents([&] { return dialog.IsEnded() || dialog.statusText.GetWindowText() == kUpdateFailed; }));
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.empty(), c.installed) << errors;
    EXPECT_EQ(installation.Installed("b.dat"), c.installed ? "new b" : "old b");
    EXPECT_EQ(installation.Installed("a.dat"), c.installed ? "new a" : "old a");
    EXPECT_EQ(installation.ConfiguredVersion(), c.installed ? "2.0" : "1.0");
  }
}

// An update of one large file whose download stalls after its first bytes.
struct StalledInstallation : Installation {
  StalledInstallation() : server((Publish("2.0", {{"big.dat", std::string(200000, 'x')}}), publish.path())) {
    server.SetRule("/1/big.dat", R"({"stall": 1000})");
    Configure(server.port());
  }
  FaultServer server;
};

TEST(DlgUpdateClose, ClosingDuringTheDownloadEndsTheWorker) {
  StalledInstallation installation;
  FaultServer& server = installation.server;

  auto started = std::chrono::steady_clock::now();
  {
    CDlgUpdate dialog;
    dialog.Create();
    Click(Control(dialog, IDC_UPGRADE));
    ASSERT_NE(dialog.downloadThread, nullptr);
    ASSERT_TRUE(WaitPumpingEvents([&] {
      for (const auto& path : server.RequestedPaths())
        if (path == "/1/big.dat") return true;
      return false;
    }));
    started = std::chrono::steady_clock::now();
    Click(Control(dialog, IDC_CLOSE));
    EXPECT_TRUE(dialog.IsEnded());
    EXPECT_EQ(dialog.Result(), 1);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_FALSE(PathFileExistsA((installation.app / "big.dat").c_str()));
}

// A second OnUpgrade while the earlier worker waits in a send to the dialog:
// deleting that worker waits for it, so its send must be released first.
TEST(DlgUpdateClose, UpgradingAgainWhileTheWorkerWaitsForTheWindowDoesNotHang) {
  StalledInstallation installation;
  FaultServer& server = installation.server;

  CDlgUpdate dialog;
  dialog.Create();
  Click(Control(dialog, IDC_UPGRADE));
  ASSERT_TRUE(WaitPumpingEvents([&] { return !server.RequestedPaths().empty(); }));
  // Not pumping from here on: the worker's next progress report waits.
  const auto window = std::dynamic_pointer_cast<CMessageWindow>(LookupWindow(dialog.GetSafeHwnd()));
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(window->WaitForMessage(std::chrono::seconds(10)));

  // Should the old order hang, a watchdog releases the worker after 10 s so
  // that the test ends and fails instead of hanging.
  std::promise<void> returned;
  std::thread watchdog([&, done = returned.get_future()] {
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) window->Destroy();
  });
  const auto start = std::chrono::steady_clock::now();
  dialog.OnUpgrade();
  returned.set_value();
  watchdog.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(dialog.GetSafeHwnd(), nullptr);
  EXPECT_NE(dialog.downloadThread, nullptr);
}

}  // namespace
