#include "platform/visual/VisualTypes.h"

#include <Qt>

// A cursor handle is the Qt cursor shape plus one, so that null stays "none".
HCURSOR LoadCursorA(HINSTANCE, const char* name) {
  Qt::CursorShape shape;
  if (name == IDC_HAND)
    shape = Qt::PointingHandCursor;
  else if (name == IDC_ARROW)
    shape = Qt::ArrowCursor;
  else
    return nullptr;
  return reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(shape) + 1);
}

HBRUSH GetStockObject(int object) {
  static int stockBrushes[6];
  return object >= 0 && object < 6 ? reinterpret_cast<HBRUSH>(&stockBrushes[object]) : nullptr;
}
