#include "ui/TitleBandDrag.h"

void DragByTitleBand(CImageDialog& dialog, UINT flags, CPoint point) {
  if (point.y < kTitleBandHeight) dialog.PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
  dialog.CImageDialog::OnLButtonDown(flags, point);
}
