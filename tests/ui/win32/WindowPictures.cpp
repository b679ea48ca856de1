#include "tests/ui/win32/WindowPictures.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/visual/Resources.h"

bool PumpWindowMessages(const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) CImageDialog::RouteMessage(msg);
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    // Wakes for any message, a sent one included, or after a short while to
    // look at done() again.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), 20)),
                              QS_ALLINPUT);
  }
}

namespace {

struct Dib {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  int width = 0, height = 0;
  Dib(int w, int h) : width(w), height(h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    old = SelectObject(dc, bitmap);
  }
  ~Dib() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
};

SIZE ClientSize(CImageDialog& dialog) {
  RECT client{};
  GetClientRect(dialog.GetSafeHwnd() != nullptr ? dialog.GetSafeHwnd() : nullptr, &client);
  return SIZE{client.right, client.bottom};
}

std::wstring PicturePath(const std::string& name) {
  const char* build = std::getenv("ZOLT_BUILD_DIR");
  std::filesystem::path folder = std::filesystem::path(build != nullptr ? build : ".") / "screenshots-windows";
  std::filesystem::create_directories(folder);
  return (folder / (name + ".png")).wstring();
}

bool SavePng(const Dib& dib, const std::wstring& path) {
  IWICImagingFactory* factory = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&factory))))
    return false;
  IWICBitmap* bitmap = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  bool written = false;
  if (SUCCEEDED(factory->CreateBitmapFromHBITMAP(dib.bitmap, nullptr, WICBitmapIgnoreAlpha, &bitmap)) &&
      SUCCEEDED(factory->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
      SUCCEEDED(frame->SetSize(static_cast<UINT>(dib.width), static_cast<UINT>(dib.height)))) {
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    written = SUCCEEDED(frame->SetPixelFormat(&format)) && SUCCEEDED(frame->WriteSource(bitmap, nullptr)) &&
              SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  }
  for (IUnknown* object : std::initializer_list<IUnknown*>{frame, encoder, stream, bitmap, factory})
    if (object != nullptr) object->Release();
  return written;
}

}  // namespace

Picture CaptureClient(CImageDialog& dialog) {
  const SIZE size = ClientSize(dialog);
  Picture picture;
  if (size.cx <= 0 || size.cy <= 0) return picture;
  Dib dib(size.cx, size.cy);
  dialog.PrintClient(dib.dc);
  GdiFlush();
  picture.width = size.cx;
  picture.height = size.cy;
  const auto* bits = static_cast<const std::uint32_t*>(dib.bits);
  picture.pixels.assign(bits, bits + static_cast<std::size_t>(size.cx) * size.cy);
  for (auto& pixel : picture.pixels) pixel &= 0x00FFFFFF;
  return picture;
}

bool SaveClientPicture(CImageDialog& dialog, const std::string& name, SIZE* size) {
  const SIZE client = ClientSize(dialog);
  if (size != nullptr) *size = client;
  if (client.cx <= 0 || client.cy <= 0) return false;
  Dib dib(client.cx, client.cy);
  dialog.PrintClient(dib.dc);
  GdiFlush();
  return SavePng(dib, PicturePath(name));
}

bool SaveScreenPicture(CImageDialog& dialog, const std::string& name, SIZE* size) {
  RECT frame{};
  if (dialog.GetSafeHwnd() == nullptr || !GetWindowRect(dialog.GetSafeHwnd(), &frame)) return false;
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  if (size != nullptr) *size = SIZE{width, height};
  Dib dib(width, height);
  HDC screen = GetDC(nullptr);
  BitBlt(dib.dc, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  GdiFlush();
  return SavePng(dib, PicturePath(name));
}

bool DragPointer(HWND window, POINT from, POINT to) {
  std::atomic<bool> finished{false};
  std::atomic<bool> moveLoop{false};
  const DWORD guiThread = GetWindowThreadProcessId(window, nullptr);
  std::thread hand([&] {
    auto input = [](DWORD flags) {
      INPUT event{};
      event.type = INPUT_MOUSE;
      event.mi.dwFlags = flags;
      SendInput(1, &event, sizeof event);
    };
    auto inMoveLoop = [guiThread] {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      return GetGUIThreadInfo(guiThread, &info) && (info.flags & GUI_INMOVESIZE) != 0;
    };
    SetCursorPos(from.x, from.y);
    input(MOUSEEVENTF_MOVE);
    input(MOUSEEVENTF_LEFTDOWN);
    // The press is handled (and the move loop entered, when it is a drag)
    // before the pointer moves on, as at a user's pace.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!(moveLoop = inMoveLoop()) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int step = 1; step <= 4; ++step) {
      SetCursorPos(from.x + (to.x - from.x) * step / 4, from.y + (to.y - from.y) * step / 4);
      input(MOUSEEVENTF_MOVE);
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    input(MOUSEEVENTF_LEFTUP);
    // The loop has seen the release and ended.
    const auto over = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (inMoveLoop() && std::chrono::steady_clock::now() < over)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    finished = true;
  });
  PumpWindowMessages([&] { return finished.load(); }, 20000);
  hand.join();
  // What the release left in the queue.
  PumpWindowMessages([] { return false; }, 50);
  return moveLoop.load();
}
