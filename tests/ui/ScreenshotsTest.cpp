// Pictures of every state of the update dialog and of the notification window,
// written to <build>/screenshots/ for people to look at (see README).
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTest>
#include <cstdlib>

#include "platform/win32/Files.h"
#include "tests/support/HttpServers.h"
#include "tests/ui/UpdateFixture.h"
#include "ui/DialogTemplates.h"
#include "ui/DlgNotify.h"
#include "ui/DlgUpdate.h"

namespace {

QString ScreenshotFolder() {
  const char* build = std::getenv("ZOLT_BUILD_DIR");
  const QString folder = QString::fromLocal8Bit(build ? build : ".") + QStringLiteral("/screenshots");
  QDir().mkpath(folder);
  return folder;
}

void Save(QWidget& dialog, const char* name, QSize size) {
  const QString path = ScreenshotFolder() + "/" + name + ".png";
  const QImage image = dialog.grab().toImage();
  EXPECT_EQ(image.size(), size) << name;
  EXPECT_TRUE(image.save(path)) << path.toStdString();
}

void Click(QWidget& dialog, int id) { QTest::mouseClick(Control(dialog, id), Qt::LeftButton); }

TEST(Screenshots, EveryStateOfTheUpdateDialog) {
  const QSize size(430, 230);
  {
    ServedInstallation installation("4.0.1007.0715", {{"a.dat", "new a"}});
    CDlgUpdate dialog;
    dialog.Create();
    Save(dialog, "update-available", size);
    // The keyboard's focus shows on the button that has it, and only there.
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    for (const int id : {IDC_UPGRADE, IDC_CLOSE, IDC_TITLE_CLOSE}) {
      Control(dialog, id)->setFocus(Qt::TabFocusReason);
      const QImage focused = dialog.grab().toImage();
      Control(dialog, id)->clearFocus();
      const QImage plain = dialog.grab().toImage();
      const QRect button = Control(dialog, id)->geometry();
      int changed = 0, outside = 0;
      for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
          if (focused.pixel(x, y) != plain.pixel(x, y)) ++(button.contains(x, y) ? changed : outside);
      EXPECT_GT(changed, 20) << id;
      EXPECT_EQ(outside, 0) << id;
      if (id == IDC_UPGRADE) {
        EXPECT_TRUE(focused.save(ScreenshotFolder() + "/update-available-focus.png"));
      }
    }
  }
  {
    ServedInstallation installation("2.0", {{"a.dat", "new a"}});
    installation.Install("a.dat", "new a");
    CDlgUpdate dialog;
    dialog.Create();
    Save(dialog, "no-update", size);
  }
  {
    // No server answers: the check says so, under no "没有可用更新！" caption.
    Installation installation;
    installation.Configure(PickFreePort());
    CDlgUpdate dialog;
    dialog.Create();
    EXPECT_TRUE(Control(dialog, IDC_BANNER)->isHidden());
    EXPECT_EQ(dialog.statusText.GetWindowText(), "无法与服务器建立连接,请稍候重试！");
    Save(dialog, "check-failed", size);
  }
  {
    // Two of three files in, the third held back by the server.
    Installation installation;
    installation.Publish("2.0", {{"a.dat", "new a"}, {"b.dat", "new b"}, {"c.dat", std::string(100000, 'c')}});
    FaultServer server(installation.publish.path());
    server.SetRule("/1/c.dat", R"({"stall": 1000})");
    installation.Configure(server.port());
    CDlgUpdate dialog;
    dialog.Create();
    Click(dialog, IDC_UPGRADE);
    ASSERT_TRUE(WaitPumpingEvents([&] { return dialog.finishedCount == 2; }));
    // A progress report of the held file shows the count on the bar.
    SendMessageA(dialog.GetSafeHwnd(), WM_USER + 0x25A, 1, 100000);
    Save(dialog, "downloading", size);
    Click(dialog, IDC_CLOSE);
  }
  // A file the server does not have; one whose content is not the listed
  // digest (a wrong SIZE would not do: the download stops at it, which
  // reads as a failed transfer).
  struct Failure {
    const char* name;
    PublishedFile file;
    bool missing;
    const char* text;
  };
  for (const Failure& f :
       {Failure{"connection-failed", {"a.dat", "new a"}, true, "无法与服务器建立连接,请稍候重试！"},
        Failure{"update-failed", {"a.dat", "new a", "", "00000000000000000000000000000000"}, false,
                "更新过程出现错误,请稍候重试！"}}) {
    ServedInstallation installation("2.0", {f.file});
    if (f.missing) DeleteFileA((installation.publish / "1/a.dat").c_str());
    CDlgUpdate dialog;
    dialog.Create();
    Click(dialog, IDC_UPGRADE);
    ASSERT_TRUE(
        WaitPumpingEvents([&] { return dialog.statusText.GetWindowText().find("请稍候重试") != std::string::npos; }));
    EXPECT_EQ(dialog.statusText.GetWindowText(), f.text) << f.name;
    Save(dialog, f.name, size);
  }
  {
    ServedInstallation installation("2.0", {{"a.dat", "new a"}});
    CDlgUpdate dialog;
    dialog.Create();
    Click(dialog, IDC_UPGRADE);
    ASSERT_TRUE(WaitPumpingEvents([&] { return dialog.IsEnded(); }));
    // The window as it was when the installation ran.
    Save(dialog, "installing", size);
  }
}

TEST(Screenshots, NotificationWindow) {
  CDlgNotify dialog;
  dialog.currentVersion = "4.0.1006.0101";
  dialog.newVersion = "4.0.1007.0715";
  dialog.webSiteUrl = "http://127.0.0.1/";
  dialog.Create();
  Save(dialog, "notification", QSize(350, 230));
}

}  // namespace
