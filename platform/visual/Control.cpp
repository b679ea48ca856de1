#include "platform/visual/Control.h"

CWnd::~CWnd() = default;

BOOL CWnd::ShowWindow(int command) {
  QWidget* widget = Widget();
  const BOOL wasVisible = widget->isVisible() ? TRUE : FALSE;
  widget->setVisible(command != SW_HIDE);
  return wasVisible;
}

BOOL CWnd::IsWindowVisible() const { return Widget()->isVisible() ? TRUE : FALSE; }
