// The Win32 visual layer under a real window system (Wine under Xvfb in CI):
// the templates of ZOLTUpdateUI.rc, the images, the dialog base with its
// keyboard, cross-thread messages and drag, and the notification window.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/visual/ImageButtonX.h"
#include "platform/visual/ImageDialog.h"
#include "platform/visual/Resources.h"
#include "platform/visual/StaticText.h"
#include "platform/visual/VisualApp.h"
#include "tests/ui/win32/WindowPictures.h"
#include "ui/DialogSkin.h"
#include "ui/DialogTemplates.h"
#include "ui/DlgNotify.h"

namespace {

// A dialog on the notification template with a few members bound, a handler
// for a message of its own, and the title-band drag.
class ProbeDialog : public CImageDialog {
 public:
  ProbeDialog() : CImageDialog((RegisterDialogTemplates(), IDD_NOTIFY), nullptr) {
    MapClicked(IDC_LATER, [this] { EndDialog(7); });
    MapClicked(IDC_UPGRADE_NOW, [this] { ++upgradeClicks; });
    MapMessage(WM_USER + 1, [this](WPARAM w, LPARAM l) {
      handlerThread = std::this_thread::get_id();
      return static_cast<LRESULT>(w + static_cast<WPARAM>(l));
    });
  }
  ~ProbeDialog() override { DestroyWindowTarget(); }
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, IDC_NEW_VERSION, version);
    DDX_Control(pDX, IDC_LATER, later);
    DDX_Control(pDX, IDC_UPGRADE_NOW, upgrade);
    DDX_Control(pDX, IDC_NEW_VERSION, versionText);
  }
  HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind) override {
    return StaticTextColour(*this, dc, control, kind, 0x663D0D);
  }
  BOOL OnInitDialog() override {
    CImageDialog::OnInitDialog();
    SetBackPicture(2, 19523, nullptr, false);
    SkinPushButton(later);
    SkinPushButton(upgrade);
    return TRUE;
  }
  void OnLButtonDown(UINT flags, CPoint point) override { DragByTitleBand(*this, flags, point); }
  using CImageDialog::DestroyWindowTarget;

  std::string version = "1.2.3";
  CImageButtonX later;
  CImageButtonX upgrade;
  CStaticText versionText;
  std::thread::id handlerThread;
  int upgradeClicks = 0;
};

CRect WindowRect(HWND window) {
  CRect rect;
  ::GetWindowRect(window, &rect);
  return rect;
}

CRect ChildRect(HWND dialog, HWND child) {
  CRect rect = WindowRect(child);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void Key(HWND window, WPARAM key) {
  PostMessageW(window, WM_KEYDOWN, key, 0);
  PumpWindowMessages([] { return false; }, 100);
}

TEST(VisualWin32, TheResourceTemplatesAreTheRegisteredOnes) {
  RegisterDialogTemplates();
  for (const UINT id : {IDD_NOTIFY, IDD_UPDATE}) {
    DialogTemplate resource;
    ASSERT_TRUE(LoadDialogTemplateResource(id, resource)) << id;
    const DialogTemplate* registered = FindDialogTemplate(id);
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(resource.width, registered->width) << id;
    EXPECT_EQ(resource.height, registered->height) << id;
    EXPECT_EQ(resource.fontName, registered->fontName) << id;
    ASSERT_EQ(resource.controls.size(), registered->controls.size()) << id;
    for (std::size_t i = 0; i < resource.controls.size(); ++i) {
      const auto& r = resource.controls[i];
      const auto& t = registered->controls[i];
      const std::string where = std::to_string(id) + " #" + std::to_string(i);
      EXPECT_EQ(r.id, t.id) << where;
      EXPECT_EQ(r.kind, t.kind) << where;
      EXPECT_EQ(CRect(r.x, r.y, r.width, r.height), CRect(t.x, t.y, t.width, t.height)) << where;
      EXPECT_EQ(r.text, t.text) << where;
      EXPECT_EQ(r.visible, t.visible) << where;
      EXPECT_EQ(r.notify, t.notify) << where;
    }
  }
  DialogTemplate none;
  EXPECT_FALSE(LoadDialogTemplateResource(4711, none));
}

TEST(VisualWin32, ImagesDecodeAtTheirDrawnSizes) {
  struct Case {
    UINT id;
    int width, height;
  };
  const Case cases[] = {{19536, 430, 230}, {19523, 350, 230}, {19531, 84, 84},  {19530, 80, 80}, {19533, 132, 20},
                        {19534, 132, 20},  {19532, 214, 20},  {19535, 214, 20}, {19525, 73, 28}, {19526, 73, 28},
                        {19524, 73, 28},   {19527, 39, 22},   {19529, 39, 22},  {19528, 39, 22}, {19500, 300, 12},
                        {19502, 10, 12},   {19501, 5, 12},    {19503, 10, 12}};
  for (const auto& c : cases) {
    auto image = LoadImageResource(c.id);
    ASSERT_TRUE(image) << c.id;
    EXPECT_EQ(image->Width(), c.width) << c.id;
    EXPECT_EQ(image->Height(), c.height) << c.id;
  }
  EXPECT_FALSE(LoadImageResource(4711));
  // The pixels are the image's: the update background's title band is blue.
  const COLORREF band = LoadImageResource(19536)->PixelAt(200, 10);
  EXPECT_GT(GetBValue(band), GetRValue(band)) << std::hex << band;
}

TEST(VisualWin32, BuildsTheTemplateAndBindsMembersByID) {
  ProbeDialog dialog;
  ASSERT_TRUE(dialog.Create());
  const HWND window = dialog.GetSafeHwnd();
  ASSERT_NE(window, nullptr);
  const CRect frame = WindowRect(window);
  EXPECT_EQ(frame.Width(), 350);  // the background's size
  EXPECT_EQ(frame.Height(), 230);
  // Not placed by its own code: in the middle of the work area.
  RECT work;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(frame.left, work.left + (work.right - work.left - 350) / 2);
  EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - 230) / 2);
  EXPECT_EQ(dialog.GetDlgItem(IDC_LATER), &dialog.later);
  EXPECT_EQ(::GetDlgItem(window, IDC_LATER), dialog.later.GetSafeHwnd());
  EXPECT_EQ(ChildRect(window, dialog.later.GetSafeHwnd()), DialogRectToPixels(153, 129, 53, 20));
  EXPECT_EQ(dialog.later.GetWindowText(), "下次升级 ");
  EXPECT_EQ(dialog.versionText.GetWindowText(), "1.2.3");  // the exchange replaced the placeholder
  // The system's window carries the text too, for other programs.
  wchar_t text[64] = {};
  GetWindowTextW(dialog.versionText.GetSafeHwnd(), text, 64);
  EXPECT_STREQ(text, L"1.2.3");
  // Unbound statics take their colours from OnCtlColor; hidden ones stay hidden.
  int statics = 0, hidden = 0;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) != -1 && GetDlgCtrlID(child) != 0xFFFF) continue;
    auto* text = dynamic_cast<CStaticText*>(CWnd::FromHandle(child));
    ASSERT_NE(text, nullptr);
    ++statics;
    EXPECT_EQ(text->TextColor(), 0x663D0Du);
    if (!IsWindowVisible(child)) ++hidden;
  }
  EXPECT_EQ(statics, 4);
  EXPECT_EQ(hidden, 1);

  dialog.versionText.SetWindowText("9.9");
  dialog.UpdateData(TRUE);
  EXPECT_EQ(dialog.version, "9.9");

  // A click from another program's point of view: BM_CLICK to the control.
  SendMessageW(::GetDlgItem(window, IDC_LATER), BM_CLICK, 0, 0);
  EXPECT_TRUE(dialog.IsEnded());
  EXPECT_EQ(dialog.Result(), 7);
  EXPECT_FALSE(IsWindowVisible(window));
}

TEST(VisualWin32, TabMovesTheFocusMarkEnterPressesAndEscapeCloses) {
  ProbeDialog dialog;
  ASSERT_TRUE(dialog.Create());
  const HWND window = dialog.GetSafeHwnd();
  PumpWindowMessages([] { return false; }, 200);
  // No button has the focus before the keyboard is used: Enter presses the
  // main button (the first visible one with a text).
  EXPECT_FALSE(IsChild(window, GetFocus()));
  const CRect upgrade = ChildRect(window, dialog.upgrade.GetSafeHwnd());
  const auto plain = CaptureClient(dialog);
  Key(window, VK_RETURN);
  EXPECT_EQ(dialog.upgradeClicks, 1);
  // Tab: the first button in template order, with its mark and no other change.
  Key(window, VK_TAB);
  EXPECT_EQ(GetFocus(), dialog.upgrade.GetSafeHwnd());
  const auto focused = CaptureClient(dialog);
  int inside = 0, outside = 0;
  for (int y = 0; y < focused.height; ++y)
    for (int x = 0; x < focused.width; ++x)
      if (focused.Pixel(x, y) != plain.Pixel(x, y))
        ++(x >= upgrade.left && x < upgrade.right && y >= upgrade.top && y < upgrade.bottom ? inside : outside);
  EXPECT_GT(inside, 20);
  EXPECT_EQ(outside, 0);
  SaveClientPicture(dialog, "visual-focus");
  // Tab again: the next button; Enter presses the focused one.
  Key(window, VK_TAB);
  EXPECT_EQ(GetFocus(), dialog.later.GetSafeHwnd());
  Key(window, VK_RETURN);
  EXPECT_TRUE(dialog.IsEnded());
  EXPECT_EQ(dialog.Result(), 7);
  EXPECT_EQ(dialog.upgradeClicks, 1);

  ProbeDialog other;
  ASSERT_TRUE(other.Create());
  Key(other.GetSafeHwnd(), VK_ESCAPE);
  EXPECT_TRUE(other.IsEnded());
  EXPECT_EQ(other.Result(), IDCANCEL);
}

TEST(VisualWin32, DoModalReturnsTheResultOfEndDialog) {
  ProbeDialog dialog;
  // Pressed from another thread, as a test program or xdotool would.
  std::thread presser([&] {
    HWND window = nullptr;
    for (int i = 0; i < 500 && window == nullptr; ++i) {
      window = dialog.GetSafeHwnd();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (window != nullptr) PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_LATER, BN_CLICKED), 0);
  });
  EXPECT_EQ(dialog.DoModal(), 7);
  presser.join();
}

TEST(VisualWin32, SendFromAWorkerRunsTheHandlerOnTheDialogsThread) {
  ProbeDialog dialog;
  ASSERT_TRUE(dialog.Create());
  const HWND window = dialog.GetSafeHwnd();
  std::atomic<LRESULT> result{-1};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = SendMessageA(window, WM_USER + 1, 40, 2);
    done = true;
  });
  EXPECT_TRUE(PumpWindowMessages([&] { return done.load(); }, 5000));
  worker.join();
  EXPECT_EQ(result.load(), 42);
  EXPECT_EQ(dialog.handlerThread, std::this_thread::get_id());
  // From the dialog's thread: at once.
  EXPECT_EQ(SendMessageA(window, WM_USER + 1, 1, 1), 2);

  // Once the target is destroyed, a sender is answered 0 and nothing runs.
  dialog.handlerThread = {};
  dialog.DestroyWindowTarget();
  EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
  done = false;
  std::thread late([&] {
    result = SendMessageA(window, WM_USER + 1, 40, 2);
    done = true;
  });
  EXPECT_TRUE(PumpWindowMessages([&] { return done.load(); }, 5000));
  late.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(dialog.handlerThread, std::thread::id{});
}

TEST(VisualWin32, DragsOnlyByTheTopThirtyPixels) {
  struct Case {
    int y;
    bool drags;
  };
  for (const Case c : {Case{2, true}, Case{29, true}, Case{30, false}, Case{150, false}}) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create());
    const HWND window = dialog.GetSafeHwnd();
    SetWindowPos(window, nullptr, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PumpWindowMessages([] { return false; }, 100);
    // The pointer, as the user moves it (Xvfb has no window manager: the
    // move loop is the system's own).
    const bool moveLoop = DragPointer(window, POINT{100 + 200, 100 + c.y}, POINT{100 + 260, 100 + c.y + 40});
    EXPECT_EQ(moveLoop, c.drags) << "y = " << c.y;
    const CRect moved = WindowRect(window);
    EXPECT_EQ(moved.left != 100 || moved.top != 100, c.drags)
        << "y = " << c.y << ": at " << moved.left << "," << moved.top;
  }
}

TEST(VisualWin32, TheNotificationWindowSitsAboveTheWorkAreasBottomEdge) {
  CDlgNotify dialog;
  dialog.currentVersion = "4.0.1006.0101";
  dialog.newVersion = "4.0.1007.0715";
  dialog.webSiteUrl = "http://127.0.0.1/";
  ASSERT_TRUE(dialog.Create());
  RECT work;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  const CRect frame = WindowRect(dialog.GetSafeHwnd());
  EXPECT_EQ(frame.right, work.right - 5);
  EXPECT_EQ(frame.bottom, work.bottom - 5);
  EXPECT_EQ(frame.Width(), 350);
  EXPECT_EQ(frame.Height(), 230);
  EXPECT_TRUE(dialog.linkText.IsWindowVisible());
  PumpWindowMessages([] { return false; }, 200);
  SaveScreenPicture(dialog, "notification");
  SendMessageW(::GetDlgItem(dialog.GetSafeHwnd(), IDC_UPGRADE_NOW), BM_CLICK, 0, 0);
  EXPECT_EQ(dialog.Result(), 6);
}

// Nobody answers: the system's timer on the window ends it as "下次升级 "
// once its time is up, and not before; an answer given in time stands.
TEST(VisualWin32, AnUnansweredNotificationEndsAsLaterWhenItsTimeIsUp) {
  CDlgNotify dialog;
  dialog.timeLimitMs = 400;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dialog.DoModal(), 7);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(390)) << "the system's timer may round to its tick";
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_TRUE(dialog.timedOut);

  CDlgNotify answered;
  answered.timeLimitMs = 400;
  ASSERT_TRUE(answered.Create());
  SendMessageW(::GetDlgItem(answered.GetSafeHwnd(), IDC_UPGRADE_NOW), BM_CLICK, 0, 0);
  PumpWindowMessages([] { return false; }, 800);
  EXPECT_EQ(answered.Result(), 6);
  EXPECT_FALSE(answered.timedOut);
}

}  // namespace
