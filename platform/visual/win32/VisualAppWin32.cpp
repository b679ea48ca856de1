// The GUI application on Windows: COM for the image decoder, and whether a
// window can be shown at all.
#include "platform/visual/VisualApp.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <objbase.h>
#include <shobjidl.h>
#include <windows.h>

#include "platform/visual/ImageDialog.h"
#include "platform/visual/Resources.h"

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

void ShowTaskBarProgress(CImageDialog& window, const std::string& label, int percent) {
  // The window itself, also while it refuses other threads' messages.
  HWND handle = static_cast<CWnd&>(window).GetSafeHwnd();
  if (handle == nullptr) return;
  // The download reports many times a second: only a new percentage, or a
  // new window, goes to the shell.
  static HWND shownWindow = nullptr;
  static int shownPercent = -1;
  if (handle == shownWindow && percent == shownPercent) return;
  shownWindow = handle;
  shownPercent = percent;
  ITaskbarList3* taskBar = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&taskBar))))
    return;
  if (SUCCEEDED(taskBar->HrInit())) {
    const int shown = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    taskBar->SetProgressState(handle, TBPF_NORMAL);
    taskBar->SetProgressValue(handle, static_cast<ULONGLONG>(shown), 100);
    taskBar->SetThumbnailTooltip(handle, Utf8ToWide(label).c_str());
  }
  taskBar->Release();
}
