// What every control of the dialog base offers besides being a QWidget: the
// window text, as the framework's CWnd has it.
#pragma once

#include <QWidget>
#include <string>

class CControl {
 public:
  virtual ~CControl() = default;
  // UTF-8 text; shown by the control the way its kind shows text. Controls
  // without text (pictures, bars) ignore it.
  virtual void SetWindowText(const std::string&) {}
  virtual std::string GetWindowText() const { return {}; }
  virtual QWidget* Widget() = 0;
};
