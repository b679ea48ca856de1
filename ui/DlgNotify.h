// The notification window of the silent program update: shown above the task
// bar after a new version was installed; ends with 6 ("立即升级": restart the
// client now) or 7 ("下次升级 " or the close button: leave it running, or no
// answer within the time limit).
#pragma once

#include <string>

#include "platform/visual/ImageButtonX.h"
#include "platform/visual/ImageDialog.h"
#include "platform/visual/StaticText.h"

class CDlgNotify : public CImageDialog {
 public:
  CDlgNotify();
  ~CDlgNotify() override;

  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor) override;
  void OnLButtonDown(UINT flags, CPoint point) override;
  void OnTimer(UINT_PTR id) override;

  void OnUpgradeNow();
  void OnLater();
  void OnOpenWebSite();
  // Moves the window to the bottom right corner of the screen, 5 pixels from
  // its right edge and 5 pixels above the task bar.
  void PlaceAboveTaskBar();

  // Where a window of size window goes on a screen whose work area (the screen
  // less the task bar, as SPI_GETWORKAREA gives it) is workArea: right edge 5
  // pixels left of the area's right edge, bottom 5 pixels above its bottom,
  // which is the task bar's top when the task bar is at the bottom. With the
  // task bar at the top or a side (or none) this keeps the window in the
  // bottom right corner of what is visible, instead of above the top of the
  // screen.
  static CPoint PlaceAboveTaskBarPosition(const CRect& workArea, const CSize& window);

  std::string currentVersion;
  std::string newVersion;
  std::string webSiteUrl;
  // Set before it is shown: after this many milliseconds without an answer
  // the window ends with 7 and timedOut is set. 0: no limit.
  int timeLimitMs = 0;
  bool timedOut = false;

  CImageButtonX upgradeButton;
  CImageButtonX laterButton;
  CImageButtonX titleCloseButton;
  CStaticText currentVersionText;
  CStaticText newVersionText;
  CStaticText linkText;
};
