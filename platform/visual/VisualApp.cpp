#include "platform/visual/VisualApp.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/visual/ImageDialog.h"

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The probe's connection stays open until the application object has made
// its own: an X server whose last client leaves resets itself and refuses
// connections meanwhile, so closing the probe first could make the server
// refuse the very connection it was probed for.
xcb_connection_t*& HeldConnection() {
  static xcb_connection_t* connection = nullptr;
  return connection;
}

// A server refuses a connection now and then under load; a display counts as
// unreachable only after a few tries.
constexpr int kTries = 3;
constexpr auto kPause = std::chrono::milliseconds(200);

bool ConnectX11(const std::string& display, std::string& why) {
  for (int attempt = 1;; ++attempt) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const int error = xcb_connection_has_error(connection);
    if (error == 0) {
      if (HeldConnection() != nullptr) xcb_disconnect(HeldConnection());
      HeldConnection() = connection;
      return true;
    }
    xcb_disconnect(connection);
    if (attempt == kTries) {
      why = "no display: the X server of DISPLAY=" + display + " cannot be reached (xcb error " +
            std::to_string(error) + ")";
      return false;
    }
    std::this_thread::sleep_for(kPause);
  }
}

bool ConnectWayland(const std::string& name, std::string& why) {
  const std::string path = !name.empty() && name.front() == '/' ? name : Variable("XDG_RUNTIME_DIR") + "/" + name;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() < sizeof address.sun_path) {
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    for (int attempt = 1; attempt <= kTries; ++attempt) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const bool connected = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
      if (fd >= 0) ::close(fd);
      if (connected) return true;
      if (attempt < kTries) std::this_thread::sleep_for(kPause);
    }
  }
  why = "no display: the Wayland compositor of WAYLAND_DISPLAY=" + name + " cannot be reached";
  return false;
}

}  // namespace

bool IsDisplayAvailable(std::string& why) {
  const std::string platform = Variable("QT_QPA_PLATFORM");
  const std::string x11 = Variable("DISPLAY");
  const std::string wayland = Variable("WAYLAND_DISPLAY");
  // A platform that needs no server (offscreen, minimal, vnc, ...) is always there.
  const bool wantsX11 = platform.empty() || platform.rfind("xcb", 0) == 0;
  const bool wantsWayland = platform.rfind("wayland", 0) == 0;
  if (!wantsX11 && !wantsWayland) return true;
  if (wantsWayland) return ConnectWayland(wayland.empty() ? "wayland-0" : wayland, why);
  if (!x11.empty()) return ConnectX11(x11, why);
  if (platform.empty() && !wayland.empty()) return ConnectWayland(wayland, why);
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
  if (HeldConnection() != nullptr) {
    xcb_disconnect(HeldConnection());
    HeldConnection() = nullptr;
  }
}

CVisualApp::~CVisualApp() = default;

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

}  // namespace

void ShowTaskBarProgress(CImageDialog& window, const std::string& text, int) {
  window.setWindowIconText(QString::fromStdString(text));
  auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr || !window.testAttribute(Qt::WA_WState_Created)) return;
  xcb_connection_t* connection = x11->connection();
  const auto id = static_cast<xcb_window_t>(window.winId());
  static const xcb_atom_t iconName = Atom(connection, "_NET_WM_ICON_NAME");
  static const xcb_atom_t utf8 = Atom(connection, "UTF8_STRING");
  const auto length = static_cast<std::uint32_t>(text.size());
  if (iconName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, iconName, utf8, 8, length, text.data());
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_ICON_NAME,
                      utf8 != XCB_ATOM_NONE ? utf8 : static_cast<xcb_atom_t>(XCB_ATOM_STRING), 8, length, text.data());
  xcb_flush(connection);
}
