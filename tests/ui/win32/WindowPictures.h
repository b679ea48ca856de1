// What the Windows dialog tests share: running the thread's window messages,
// pictures of a dialog, and the pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/visual/ImageDialog.h"

// Runs the thread's window messages as a modal loop does until done() holds
// or timeoutMs pass; true when done() held.
bool PumpWindowMessages(const std::function<bool()>& done, int timeoutMs = 10000);

// The dialog's client area as it draws itself (PrintClient), also when hidden.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, rows top down
  std::uint32_t Pixel(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
Picture CaptureClient(CImageDialog& dialog);

// <ZOLT_BUILD_DIR or .>/screenshots-windows/<name>.png: the dialog as it draws
// itself, or as the screen shows it (the window must be visible). True when
// written, with the picture's size in *size.
bool SaveClientPicture(CImageDialog& dialog, const std::string& name, SIZE* size = nullptr);
bool SaveScreenPicture(CImageDialog& dialog, const std::string& name, SIZE* size = nullptr);

// Presses the left button at from (screen coordinates), moves to to and
// releases it, as a user does, from another thread while this one (the
// thread of window) runs its messages. True when the system's move loop ran
// for window's thread meanwhile; it is waited for up to 5 s after the press.
bool DragPointer(HWND window, POINT from, POINT to);
