// The notification window: placement, answers, texts and the web-site link.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include <sys/stat.h>

#include "tests/ui/UpdateFixture.h"
#include "ui/DialogTemplates.h"
#include "ui/DlgNotify.h"
#include "ui/UiModes.h"

namespace {

TEST(DlgNotify, SitsFivePixelsFromTheRightEdgeAndAboveTheTaskBar) {
  struct Case {
    const char* taskBar;
    CRect workArea;  // left, top, right, bottom; the screen is 1920 x 1080
    CPoint expected;
  };
  const Case cases[] = {
      {"bottom, 40 pixels", CRect(0, 0, 1920, 1040), CPoint{1565, 805}},
      {"none", CRect(0, 0, 1920, 1080), CPoint{1565, 845}},
      {"top", CRect(0, 40, 1920, 1080), CPoint{1565, 845}},
      {"left", CRect(60, 0, 1920, 1080), CPoint{1565, 845}},
      {"right", CRect(0, 0, 1860, 1080), CPoint{1505, 845}},
      {"bottom of a second screen", CRect(1920, 0, 3200, 984), CPoint{2845, 749}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CDlgNotify::PlaceAboveTaskBarPosition(c.workArea, CSize{350, 230}), c.expected) << c.taskBar;

  CDlgNotify dialog;
  dialog.Create();
  EXPECT_EQ(dialog.size(), QSize(350, 230));
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  const CPoint place = CDlgNotify::PlaceAboveTaskBarPosition(
      CRect(available.x(), available.y(), available.x() + available.width(), available.y() + available.height()),
      CSize{350, 230});
  EXPECT_EQ(dialog.pos(), QPoint(place.x, place.y));
}

TEST(DlgNotify, AnswersSixForUpgradeNowAndSevenOtherwise) {
  struct Case {
    int control;
    INT_PTR result;
  };
  for (const Case c : {Case{IDC_UPGRADE_NOW, 6}, Case{IDC_LATER, 7}, Case{IDC_CLOSE, 7}}) {
    CDlgNotify dialog;
    QTimer::singleShot(0, &dialog, [&] { QTest::mouseClick(Control(dialog, c.control), Qt::LeftButton); });
    EXPECT_EQ(dialog.DoModal(), c.result) << c.control;
  }
}

// Nobody at the screen: the window ends as "下次升级 " once its time is up,
// and not before; an answer given in time stands.
TEST(DlgNotify, AnUnansweredWindowEndsAsLaterWhenItsTimeIsUp) {
  CDlgNotify dialog;
  dialog.timeLimitMs = 400;
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(dialog.DoModal(), 7);
  EXPECT_GE(clock.elapsed(), 400);
  EXPECT_LT(clock.elapsed(), 10000);
  EXPECT_TRUE(dialog.timedOut);

  CDlgNotify answered;
  answered.timeLimitMs = 400;
  QTimer::singleShot(0, &answered, [&] { QTest::mouseClick(Control(answered, IDC_UPGRADE_NOW), Qt::LeftButton); });
  EXPECT_EQ(answered.DoModal(), 6);
  EXPECT_FALSE(answered.timedOut);

  // Through the silent run's notifier, with the limit in whole seconds.
  clock.restart();
  EXPECT_EQ(NotificationWindowNotifier()({"4.0.9", "4.1.0", "", 1}), kNotifyTimedOut);
  EXPECT_GE(clock.elapsed(), 1000);
}

TEST(DlgNotify, TheSilentUpdatesNotifierFillsTheWindowAndReturnsTheAnswer) {
  struct Case {
    int control;
    int answer;
  };
  for (const Case c : {Case{IDC_UPGRADE_NOW, 6}, Case{IDC_CLOSE, 7}}) {
    std::string shownVersion;
    QTimer::singleShot(0, [&] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = dynamic_cast<CDlgNotify*>(window);
        if (!dialog || !dialog->isVisible()) continue;
        shownVersion = dialog->newVersionText.GetWindowText();
        QTest::mouseClick(Control(*dialog, c.control), Qt::LeftButton);
      }
    });
    EXPECT_EQ(NotificationWindowNotifier()({"4.0.9", "4.1.0", ""}), c.answer);
    EXPECT_EQ(shownVersion, "4.1.0");
  }
}

TEST(DlgNotify, ShowsTheVersionsAndALinkOnlyWhenThereIsAnAddress) {
  struct Case {
    std::string current, next, url;
  };
  for (const Case& c : {Case{"4.0.1006.0101", "4.0.1007.0715", "http://127.0.0.1:9/"}, Case{"", "", ""}}) {
    CDlgNotify dialog;
    dialog.currentVersion = c.current;
    dialog.newVersion = c.next;
    dialog.webSiteUrl = c.url;
    dialog.Create();
    EXPECT_EQ(dialog.GetWindowText(), "Tovaro升级通知");
    EXPECT_EQ(dialog.currentVersionText.GetWindowText(), c.current);
    EXPECT_EQ(dialog.newVersionText.GetWindowText(), c.next);
    EXPECT_EQ(dialog.newVersionText.TextColor(), 0x663D0Du);
    EXPECT_TRUE(dialog.newVersionText.font().bold());
    EXPECT_EQ(Control(dialog, IDC_WEBSITE_LINK), &dialog.linkText);
    EXPECT_EQ(dialog.linkText.isHidden(), c.url.empty());
    EXPECT_TRUE(dialog.linkText.font().underline());
    EXPECT_EQ(dialog.linkText.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(dialog.IsEnded());
  }
}

TEST(DlgNotify, TheLinkOpensTheWebSiteAndKeepsTheWindowOpen) {
  // A stand-in for the desktop's opener that notes what it was asked to open.
  TempDir bin;
  WriteTextFile(bin / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.opened\"\n");
  ASSERT_EQ(chmod((bin / "xdg-open").c_str(), 0755), 0);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", (bin.path() + ":" + path).c_str(), 1);

  CDlgNotify dialog;
  dialog.webSiteUrl = "http://127.0.0.1:9/tovaro";
  dialog.Create();
  QTest::mouseClick(&dialog.linkText, Qt::LeftButton);
  EXPECT_TRUE(WaitPumpingEvents([&] { return ReadTextFile(bin / "xdg-open.opened") == "http://127.0.0.1:9/tovaro"; }));
  EXPECT_FALSE(dialog.IsEnded());
  setenv("PATH", path.c_str(), 1);
}

}  // namespace
