#include "platform/visual/VisualTypes.h"

#include <QGuiApplication>
#include <QScreen>
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

BOOL SystemParametersInfoA(UINT action, UINT, void* param, UINT) {
  if (action != SPI_GETWORKAREA || param == nullptr) return FALSE;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return FALSE;
  // The screen less the task bar and docks, as the desktop reports them.
  const QRect area = screen->availableGeometry();
  *static_cast<RECT*>(param) = RECT{area.x(), area.y(), area.x() + area.width(), area.y() + area.height()};
  return TRUE;
}

HBRUSH GetStockObject(int object) {
  static int stockBrushes[6];
  return object >= 0 && object < 6 ? reinterpret_cast<HBRUSH>(&stockBrushes[object]) : nullptr;
}
