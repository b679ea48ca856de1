#include "platform/visual/VisualApp.h"

#include <QApplication>
#include <cstdlib>

static bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

bool IsDisplayAvailable(std::string& why) {
  if (IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) return true;
  why = "no display: neither DISPLAY nor WAYLAND_DISPLAY is set (QT_QPA_PLATFORM=offscreen runs without one)";
  return false;
}

CVisualApp::CVisualApp() {
  if (QApplication::instance()) return;
  // Qt keeps references to argc and argv for the life of the application.
  static int argc = 1;
  static char name[] = "ZOLTUpdate";
  static char* argv[] = {name, nullptr};
  owned_ = std::make_unique<QApplication>(argc, argv);
}

CVisualApp::~CVisualApp() = default;
