#include "ui/DialogSkin.h"

void DragByTitleBand(CImageDialog& dialog, UINT flags, CPoint point) {
  if (point.y < kTitleBandHeight) dialog.PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
  dialog.CImageDialog::OnLButtonDown(flags, point);
}

void SkinPushButton(CImageButtonX& button) {
  button.SetNormalImage(19525, nullptr);
  button.SetOverImage(19526, nullptr);
  button.SetSelectImage(19524, nullptr);
  button.SetTextColor(CImageButtonX::kNormal, 0x333333);
  button.SetTextColor(CImageButtonX::kHovered, 0xFFFFFF);
  button.SetTextColor(CImageButtonX::kPressed, 0xFFFFFF);
  button.SetShowText(true);
}

void SkinTitleCloseButton(CImageButtonX& button) {
  button.SetNormalImage(19527, nullptr);
  button.SetOverImage(19529, nullptr);
  button.SetSelectImage(19528, nullptr);
}

HBRUSH StaticTextColour(CImageDialog& dialog, CDC* dc, CWnd* control, UINT ctlColor, COLORREF colour) {
  HBRUSH brush = dialog.CImageDialog::OnCtlColor(dc, control, ctlColor);
  if (ctlColor != CTLCOLOR_STATIC) return brush;
  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(colour);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}
