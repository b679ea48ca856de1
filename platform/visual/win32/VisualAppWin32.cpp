// The GUI application on Windows: COM for the image decoder, and whether a
// window can be shown at all.
#include "platform/visual/VisualApp.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <objbase.h>
#include <windows.h>

// Under Wine without an X display, and on a Windows session without a
// desktop, creating a window fails (error 1400 or 1410 and the like): try
// one, hidden, and keep nothing.
bool IsDisplayAvailable(std::string& why) {
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (probe == nullptr) {
    why = "no display: a window cannot be created (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  DestroyWindow(probe);
  return true;
}

CVisualApp::CVisualApp() { comInitialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }

CVisualApp::~CVisualApp() {
  if (comInitialised_) CoUninitialize();
}
