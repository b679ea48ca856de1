// The GUI application the dialogs need, and whether there is a screen for it.
#pragma once

#include <memory>
#include <string>

class QApplication;
class CImageDialog;

// Shows how far window's work has come where the window is shown small (a
// task bar, a window list): label (UTF-8) and percent (0 to 100). The window's
// title stays as it is: other programs find the dialog by it. Call on the GUI
// thread.
// - Linux: label becomes the window's icon text; Qt keeps that to itself on
//   X11, so it is also written as _NET_WM_ICON_NAME and WM_ICON_NAME, which
//   window managers (and xprop) read.
// - Windows: the task bar button shows percent as its progress fill, and
//   label as the tooltip of its thumbnail (ITaskbarList3). A shell without
//   them (Wine's) ignores both.
void ShowTaskBarProgress(CImageDialog& window, const std::string& label, int percent);

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
