// The GUI application the dialogs need, and whether there is a screen for it.
#pragma once

#include <memory>
#include <string>

class QApplication;

// True when a window can be shown: QT_QPA_PLATFORM names a platform, or
// DISPLAY or WAYLAND_DISPLAY is set. Otherwise why says what is missing.
bool IsDisplayAvailable(std::string& why);

// Holds the process's QApplication for the life of the object; uses the one
// that already exists instead of making a second.
class CVisualApp {
 public:
  CVisualApp();
  ~CVisualApp();
  CVisualApp(const CVisualApp&) = delete;
  CVisualApp& operator=(const CVisualApp&) = delete;

 private:
  std::unique_ptr<QApplication> owned_;
};
