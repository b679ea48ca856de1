// What the update dialog and the notification window share: the look of their
// buttons and statics, and the drag by the title band.
#pragma once

#include "platform/visual/ImageButtonX.h"
#include "platform/visual/ImageDialog.h"

inline constexpr int kTitleBandHeight = 30;

// The WM_LBUTTONDOWN handler of both dialogs: a press in the title band
// (client y below 30) hands the window to the system's caption drag.
void DragByTitleBand(CImageDialog& dialog, UINT flags, CPoint point);

// A large button: white, light blue when hovered, blue when pressed; dark text
// turning white on blue.
void SkinPushButton(CImageButtonX& button);
// The close button of the title band: blue, red when hovered, dark red pressed.
void SkinTitleCloseButton(CImageButtonX& button);

// The WM_CTLCOLOR answer of both dialogs: statics drawn in colour straight on
// the background.
HBRUSH StaticTextColour(CImageDialog& dialog, CDC* dc, CWnd* control, UINT ctlColor, COLORREF colour);
