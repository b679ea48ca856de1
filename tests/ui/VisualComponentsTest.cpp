// The skinned controls and the dialog base: what the dialogs rely on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <thread>

#include "platform/visual/DialogWindowTarget.h"
#include "platform/visual/ImageButtonX.h"
#include "platform/visual/ImageDialog.h"
#include "platform/visual/PNGPicture.h"
#include "platform/visual/ProgressBar.h"
#include "platform/visual/Resources.h"
#include "platform/visual/StaticText.h"
#include "ui/DialogSkin.h"
#include "ui/DialogTemplates.h"

namespace {

QRgb PixelAt(QWidget& widget, int x, int y) { return widget.grab().toImage().pixel(x, y); }

TEST(VisualComponents, ImagesHaveTheirDrawnSizes) {
  struct Case {
    UINT id;
    int width, height;
  };
  const Case cases[] = {{19536, 430, 230}, {19523, 350, 230}, {19531, 84, 84},  {19530, 80, 80}, {19533, 132, 20},
                        {19534, 132, 20},  {19532, 214, 20},  {19535, 214, 20}, {19525, 73, 28}, {19526, 73, 28},
                        {19524, 73, 28},   {19527, 39, 22},   {19529, 39, 22},  {19528, 39, 22}, {19500, 300, 12},
                        {19502, 10, 12},   {19501, 5, 12},    {19503, 10, 12}};
  for (const auto& c : cases) {
    const QPixmap image = LoadImageResource(c.id);
    ASSERT_FALSE(image.isNull()) << c.id;
    EXPECT_EQ(image.size(), QSize(c.width, c.height)) << c.id;
  }
  EXPECT_TRUE(LoadImageResource(4711).isNull());
}

TEST(VisualComponents, DialogUnitsAreOneAndAHalfPixels) {
  EXPECT_EQ(DialogRectToPixels(0, 0, 287, 154), QRect(0, 0, 430, 231));
  // The close button of the update dialog fits its 39 x 22 face.
  EXPECT_EQ(DialogRectToPixels(257, 2, 26, 15), QRect(385, 3, 39, 22));
  // The progress bar is as wide as its track.
  EXPECT_EQ(DialogRectToPixels(70, 57, 200, 8), QRect(105, 85, 300, 12));
}

TEST(VisualComponents, ProgressBarFillsInProportionToTheRange) {
  CProgressBar bar;
  bar.resize(300, 12);
  bar.SetBmpResource(19500, 19502, 19501, 19503, nullptr);
  struct Case {
    unsigned long low, high, position;
    int filled;
  };
  const Case cases[] = {
      {0, 100, 0, 0}, {0, 100, 50, 150}, {0, 100, 100, 300}, {0, 100, 250, 300},  // past the end: full
      {0, 3, 1, 100}, {0, 3, 2, 200},    {0, 0, 0, 0},       {5, 5, 7, 0},        // empty range: empty bar
      {10, 20, 5, 0},                                                             // before the start
  };
  for (const auto& c : cases) {
    bar.SetRange(c.low, c.high);
    bar.SetProgress(c.position);
    EXPECT_EQ(bar.FilledWidth(), c.filled) << c.low << ".." << c.high << " at " << c.position;
  }
  // Green where filled, the grey track beyond.
  bar.SetRange(0, 2);
  bar.SetProgress(1);
  const QColor filled = QColor::fromRgb(PixelAt(bar, 75, 6));
  const QColor track = QColor::fromRgb(PixelAt(bar, 225, 6));
  EXPECT_GT(filled.green(), filled.red() + 40);
  EXPECT_LT(std::abs(track.red() - track.green()), 20);
}

TEST(VisualComponents, ButtonShowsTheFaceAndTextColourOfItsState) {
  CImageButtonX button;
  button.resize(80, 30);
  EXPECT_EQ(button.SetNormalImage(19525, nullptr), 1);
  EXPECT_EQ(button.SetOverImage(19526, nullptr), 1);
  EXPECT_EQ(button.SetSelectImage(19524, nullptr), 1);
  EXPECT_EQ(button.SetOverImage(1, nullptr), 0);
  button.SetTextColor(CImageButtonX::kNormal, 0x333333);
  button.SetTextColor(CImageButtonX::kPressed, 0xFFFFFF);
  button.SetShowText(true);
  button.SetWindowText("关闭");

  EXPECT_EQ(button.CurrentState(), CImageButtonX::kNormal);
  const QColor normal = QColor::fromRgb(PixelAt(button, 8, 15));
  button.setDown(true);
  EXPECT_EQ(button.CurrentState(), CImageButtonX::kPressed);
  const QColor pressed = QColor::fromRgb(PixelAt(button, 8, 15));
  EXPECT_GT(normal.lightness(), 220);   // white face
  EXPECT_LT(pressed.lightness(), 150);  // blue face
  EXPECT_GT(pressed.blue(), pressed.red() + 60);
  EXPECT_EQ(button.TextColor(CImageButtonX::kPressed), 0xFFFFFFu);
  EXPECT_EQ(button.GetWindowText(), "关闭");
}

TEST(VisualComponents, StaticTextDrawsInItsColourAndLetsClicksThroughUnlessNotifying) {
  CStaticText text;
  text.resize(120, 16);
  text.SetFontSize(12, 0);
  text.SetBold(true);
  text.SetUnderline(true);
  text.SetTextColor(RGB(0xFF, 0, 0));
  text.SetWindowText("████");
  EXPECT_EQ(text.font().pixelSize(), 12);
  EXPECT_TRUE(text.font().bold());
  EXPECT_TRUE(text.font().underline());
  const QImage image = text.grab().toImage();
  bool red = false;
  for (int x = 0; x < image.width() && !red; ++x)
    for (int y = 0; y < image.height() && !red; ++y) red = image.pixel(x, y) == qRgb(0xFF, 0, 0);
  EXPECT_TRUE(red) << "COLORREF 0x0000FF is red";

  EXPECT_TRUE(text.testAttribute(Qt::WA_TransparentForMouseEvents));
  text.SetNotify(true);
  EXPECT_FALSE(text.testAttribute(Qt::WA_TransparentForMouseEvents));
  text.SetHoverCursor(LoadCursorA(nullptr, IDC_HAND));
  EXPECT_EQ(text.cursor().shape(), Qt::PointingHandCursor);
}

TEST(VisualComponents, PictureTakesTheSizeOfEachImageItShows) {
  CPNGPicture picture;
  picture.move(12, 52);
  EXPECT_EQ(picture.SetPicture(19531, nullptr), 1);
  EXPECT_EQ(picture.geometry(), QRect(12, 52, 84, 84));
  EXPECT_EQ(picture.SetPicture(19530, nullptr), 1);
  EXPECT_EQ(picture.geometry(), QRect(12, 52, 80, 80));
  EXPECT_EQ(picture.PictureId(), 19530u);
  EXPECT_EQ(picture.SetPicture(2, nullptr), 0);
  EXPECT_EQ(picture.PictureId(), 0u);
}

// A dialog on the notification template with two bound controls, a text
// exchange and the title-band drag.
class ProbeDialog : public CImageDialog {
 public:
  ProbeDialog() : CImageDialog((RegisterDialogTemplates(), IDD_NOTIFY), nullptr) {
    MapClicked(IDC_LATER, [this] { EndDialog(7); });
    MapMessage(WM_USER + 1, [this](WPARAM w, LPARAM l) {
      handlerThread = std::this_thread::get_id();
      return static_cast<LRESULT>(w + static_cast<WPARAM>(l));
    });
  }
  ~ProbeDialog() override { DestroyWindowTarget(); }
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, IDC_NEW_VERSION, version);
    DDX_Control(pDX, IDC_LATER, later);
    DDX_Control(pDX, IDC_NEW_VERSION, versionText);
  }
  HBRUSH OnCtlColor(CDC* dc, CWnd*, UINT kind) override {
    if (kind == CTLCOLOR_STATIC) dc->SetTextColor(0x663D0D), dc->SetBkMode(TRANSPARENT);
    return GetStockObject(NULL_BRUSH);
  }
  BOOL OnInitDialog() override {
    CImageDialog::OnInitDialog();
    SetBackPicture(2, 19523, nullptr, false);
    return TRUE;
  }
  void OnLButtonDown(UINT flags, CPoint point) override { DragByTitleBand(*this, flags, point); }

  std::string version = "1.2.3";
  CImageButtonX later;
  CStaticText versionText;
  std::thread::id handlerThread;
};

TEST(ImageDialog, BuildsTheTemplateAndBindsMembersByID) {
  ProbeDialog dialog;
  ASSERT_TRUE(dialog.Create());
  EXPECT_EQ(dialog.size(), QSize(350, 230));  // the background's size
  EXPECT_EQ(dialog.GetDlgItem(IDC_LATER), &dialog.later);
  EXPECT_EQ(dialog.later.objectName(), QString::number(IDC_LATER));
  EXPECT_EQ(dialog.later.geometry(), DialogRectToPixels(153, 129, 53, 20));
  EXPECT_EQ(dialog.later.GetWindowText(), "下次升级 ");
  EXPECT_EQ(dialog.versionText.GetWindowText(), "1.2.3");  // the exchange replaced the placeholder
  // Unbound statics take their colours from OnCtlColor; hidden ones stay hidden.
  auto statics = dialog.findChildren<CStaticText*>(QStringLiteral("-1"));
  ASSERT_EQ(statics.size(), 4);
  EXPECT_EQ(statics[0]->TextColor(), 0x663D0Du);
  EXPECT_EQ(std::count_if(statics.begin(), statics.end(), [](auto* s) { return s->isHidden(); }), 1);

  dialog.versionText.SetWindowText("9.9");
  dialog.UpdateData(TRUE);
  EXPECT_EQ(dialog.version, "9.9");

  QTest::mouseClick(&dialog.later, Qt::LeftButton);
  EXPECT_TRUE(dialog.IsEnded());
  EXPECT_EQ(dialog.Result(), 7);
}

TEST(ImageDialog, DoModalReturnsTheResultOfEndDialog) {
  ProbeDialog dialog;
  QTimer::singleShot(0, &dialog, [&] { QTest::mouseClick(&dialog.later, Qt::LeftButton); });
  EXPECT_EQ(dialog.DoModal(), 7);
  // Escape (the framework's cancel) ends with IDCANCEL.
  ProbeDialog other;
  QTimer::singleShot(0, &other, [&] { QTest::keyClick(&other, Qt::Key_Escape); });
  EXPECT_EQ(other.DoModal(), IDCANCEL);
}

TEST(ImageDialog, DragsOnlyByTheTopThirtyPixels) {
  struct Case {
    int y;
    bool drags;
  };
  for (const Case c : {Case{0, true}, Case{29, true}, Case{30, false}, Case{150, false}}) {
    ProbeDialog dialog;
    dialog.Create();
    dialog.move(100, 100);
    QTest::mousePress(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(200, c.y));
    // The drag starts when the posted caption message is handled.
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.IsMoving(), c.drags) << "y = " << c.y;
    QTest::mouseMove(&dialog, QPoint(250, c.y + 40));
    QTest::mouseRelease(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(250, c.y + 40));
    EXPECT_EQ(dialog.pos() != QPoint(100, 100), c.drags) << "y = " << c.y;
  }
}

TEST(DialogWindowTarget, SendFromAWorkerRunsTheHandlerOnTheGuiThreadAndWaitsForIt) {
  ProbeDialog dialog;
  dialog.Create();
  const HWND window = dialog.GetSafeHwnd();
  ASSERT_NE(window, nullptr);
  std::atomic<LRESULT> result{-1};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = SendMessageA(window, WM_USER + 1, 40, 2);
    done = true;
  });
  // The handler runs when the GUI thread handles its events.
  QElapsedTimer timer;
  timer.start();
  while (!done && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(done.load());
  worker.join();
  EXPECT_EQ(result.load(), 42);
  EXPECT_EQ(dialog.handlerThread, std::this_thread::get_id());
  // From the GUI thread itself: at once.
  EXPECT_EQ(SendMessageA(window, WM_USER + 1, 1, 1), 2);
}

TEST(DialogWindowTarget, DestroyingTheDialogReleasesAWaitingSender) {
  std::atomic<bool> done{false};
  std::atomic<LRESULT> result{-1};
  std::thread worker;
  HWND window;
  {
    ProbeDialog dialog;
    dialog.Create();
    window = dialog.GetSafeHwnd();
    worker = std::thread([&] {
      result = SendMessageA(window, WM_USER + 1, 40, 2);
      done = true;
    });
    // Give the worker time to queue its call; the GUI thread never handles it.
    for (int i = 0; i < 50 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (int i = 0; i < 2500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(done.load());
  worker.join();
  EXPECT_EQ(result.load(), 0);
  QCoreApplication::processEvents();  // the dropped call must not run
  EXPECT_EQ(SendMessageA(window, WM_USER + 1, 1, 1), 0);
  EXPECT_EQ(PostMessageA(window, WM_USER + 1, 1, 1), FALSE);
}

}  // namespace
