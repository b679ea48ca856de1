// The GUI application the dialogs need, and whether there is a screen for it.
#pragma once

#include <memory>
#include <string>

class QApplication;
class QWidget;

// Sets the text that labels window where it is shown small (a task bar, a
// window list), UTF-8. Qt keeps it to itself on X11, so it is also written as
// the window's _NET_WM_ICON_NAME and WM_ICON_NAME there, as window managers
// (and xprop) read them. Call on the GUI thread.
void SetWindowIconLabel(QWidget& window, const std::string& text);

// True when a window can be shown. On Windows: a window can be created. On
// Linux: QT_QPA_PLATFORM names a platform that needs
// no server (offscreen, minimal), or the X server of DISPLAY (the Wayland
// compositor of WAYLAND_DISPLAY when there is no DISPLAY, or when
// QT_QPA_PLATFORM asks for wayland) accepts a connection, tried three times.
// Call it before a CVisualApp exists: Qt ends the process when it cannot
// reach the display it was given. Otherwise why says what is missing.
bool IsDisplayAvailable(std::string& why);

// Holds the process's QApplication for the life of the object; uses the one
// that already exists instead of making a second. On Windows it initialises
// COM on the thread (for the image decoder).
class CVisualApp {
 public:
  CVisualApp();
  ~CVisualApp();
  CVisualApp(const CVisualApp&) = delete;
  CVisualApp& operator=(const CVisualApp&) = delete;

 private:
#if defined(_WIN32)
  bool comInitialised_ = false;
#else
  std::unique_ptr<QApplication> owned_;
#endif
};
