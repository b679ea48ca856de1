#include "ui/DlgNotify.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "platform/win32/Shell.h"
#include "ui/DialogSkin.h"
#include "ui/DialogTemplates.h"

namespace {

constexpr COLORREF kTextColour = 0x663D0D;
constexpr int kMargin = 5;

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
  linkText.setVisible(!webSiteUrl.empty());
  // The title band is light text on blue, whatever the statics' colour.
  if (auto* title = dynamic_cast<CStaticText*>(GetDlgItem(IDC_TITLE))) {
    title->SetFontSize(12, 0);
    title->SetTextColor(0xFEF7E9);
    title->SetBold(true);
  }
  PlaceAboveTaskBar();
  if (timeLimitMs > 0)
    QTimer::singleShot(timeLimitMs, this, [this] {
      if (IsEnded()) return;
      timedOut = true;
      OnLater();
    });
  return TRUE;
}

HBRUSH CDlgNotify::OnCtlColor(CDC* dc, QWidget* control, UINT ctlColor) {
  return StaticTextColour(*this, dc, control, ctlColor, kTextColour);
}

void CDlgNotify::OnLButtonDown(UINT flags, CPoint point) { DragByTitleBand(*this, flags, point); }

void CDlgNotify::OnUpgradeNow() { EndDialog(6); }

void CDlgNotify::OnLater() { EndDialog(7); }

void CDlgNotify::OnOpenWebSite() {
  if (webSiteUrl.empty()) return;
  ShellExecuteA(nullptr, "open", webSiteUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

QPoint CDlgNotify::PlaceAboveTaskBarPosition(const QRect& available, const QSize& window) {
  // QRect's right() and bottom() are the last pixel inside; the edges are one further.
  const int rightEdge = available.x() + available.width();
  const int bottomEdge = available.y() + available.height();
  return QPoint(rightEdge - window.width() - kMargin, bottomEdge - window.height() - kMargin);
}

void CDlgNotify::PlaceAboveTaskBar() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  move(PlaceAboveTaskBarPosition(screen->availableGeometry(), size()));
}
