#include "ui/DlgNotify.h"

#include "platform/win32/Shell.h"
#include "ui/DialogSkin.h"
#include "ui/DialogTemplates.h"

namespace {

constexpr COLORREF kTextColour = 0x663D0D;
constexpr int kMargin = 5;
constexpr UINT_PTR kTimeLimitTimer = 1;

}  // namespace

CDlgNotify::CDlgNotify() : CImageDialog((RegisterDialogTemplates(), IDD_NOTIFY), nullptr) {
  MapClicked(IDC_UPGRADE_NOW, [this] { OnUpgradeNow(); });
  MapClicked(IDC_LATER, [this] { OnLater(); });
  MapClicked(IDC_CLOSE, [this] { OnLater(); });
  MapClicked(IDC_WEBSITE_LINK, [this] { OnOpenWebSite(); });
}

CDlgNotify::~CDlgNotify() { DestroyWindowTarget(); }

void CDlgNotify::DoDataExchange(CDataExchange* pDX) {
  CImageDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_CURRENT_VERSION, currentVersion);
  DDX_Text(pDX, IDC_NEW_VERSION, newVersion);
  DDX_Control(pDX, IDC_UPGRADE_NOW, upgradeButton);
  DDX_Control(pDX, IDC_LATER, laterButton);
  DDX_Control(pDX, IDC_CLOSE, titleCloseButton);
  DDX_Control(pDX, IDC_CURRENT_VERSION, currentVersionText);
  DDX_Control(pDX, IDC_NEW_VERSION, newVersionText);
  DDX_Control(pDX, IDC_WEBSITE_LINK, linkText);
}

BOOL CDlgNotify::OnInitDialog() {
  CImageDialog::OnInitDialog();
  SetWindowText("Tovaro升级通知");
  SetBackPicture(2, 19523, nullptr, false);
  SkinPushButton(laterButton);
  SkinPushButton(upgradeButton);
  SkinTitleCloseButton(titleCloseButton);
  for (CStaticText* text : {&currentVersionText, &newVersionText}) {
    text->SetFontSize(12, 0);
    text->SetTextColor(kTextColour);
    text->SetBold(true);
  }
  linkText.SetFontSize(12, 0);
  linkText.SetTextColor(kTextColour);
  linkText.SetUnderline(true);
  linkText.SetHoverCursor(LoadCursorA(nullptr, IDC_HAND));
  // A link to nowhere would be a button that does nothing.
  linkText.ShowWindow(webSiteUrl.empty() ? SW_HIDE : SW_SHOW);
  // The title band is light text on blue, whatever the statics' colour.
  if (auto* title = dynamic_cast<CStaticText*>(GetDlgItem(IDC_TITLE))) {
    title->SetFontSize(12, 0);
    title->SetTextColor(0xFEF7E9);
    title->SetBold(true);
  }
  PlaceAboveTaskBar();
  if (timeLimitMs > 0) SetTimer(kTimeLimitTimer, static_cast<UINT>(timeLimitMs));
  return TRUE;
}

HBRUSH CDlgNotify::OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor) {
  return StaticTextColour(*this, dc, control, ctlColor, kTextColour);
}

void CDlgNotify::OnLButtonDown(UINT flags, CPoint point) { DragByTitleBand(*this, flags, point); }

void CDlgNotify::OnTimer(UINT_PTR id) {
  if (id != kTimeLimitTimer) return CImageDialog::OnTimer(id);
  // Once only; an answer given meanwhile stands.
  KillTimer(id);
  if (IsEnded()) return;
  timedOut = true;
  OnLater();
}

void CDlgNotify::OnUpgradeNow() { EndDialog(6); }

void CDlgNotify::OnLater() { EndDialog(7); }

void CDlgNotify::OnOpenWebSite() {
  if (webSiteUrl.empty()) return;
  ShellExecuteA(nullptr, "open", webSiteUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

CPoint CDlgNotify::PlaceAboveTaskBarPosition(const CRect& workArea, const CSize& window) {
  // A RECT's right and bottom are the edges, one past the last pixel inside.
  return CPoint{static_cast<int>(workArea.right) - window.cx - kMargin,
                static_cast<int>(workArea.bottom) - window.cy - kMargin};
}

void CDlgNotify::PlaceAboveTaskBar() {
  CRect workArea;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0)) return;
  CRect window;
  GetWindowRect(&window);
  const CPoint place = PlaceAboveTaskBarPosition(workArea, CSize{window.Width(), window.Height()});
  SetWindowPos(nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
