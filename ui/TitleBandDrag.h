// Both dialogs are dragged by their title band, the top 30 pixels.
#pragma once

#include "platform/visual/ImageDialog.h"

inline constexpr int kTitleBandHeight = 30;

// The WM_LBUTTONDOWN handler of both dialogs: a press in the title band
// (client y below 30) hands the window to the system's caption drag.
void DragByTitleBand(CImageDialog& dialog, UINT flags, CPoint point);
