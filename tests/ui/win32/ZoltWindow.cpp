// zolt-window: what a test does to a dialog of another Windows program, from
// outside, as a user or a tool would. Windows are found by title (UTF-8).
//   zolt-window wait TITLE MS           exit 0 once a dialog titled TITLE is shown
//   zolt-window press TITLE ID          BM_CLICK to control ID of that dialog
//   zolt-window text TITLE ID           prints the control's text
//   zolt-window visible TITLE ID        exit 0 when the control is shown
//   zolt-window progress TITLE ID       prints "position low high" of a progress bar
//   zolt-window key TITLE VK            the key VK (a number) pressed in that dialog
//   zolt-window rect TITLE              prints "left top right bottom" of the window,
//                                       then of the work area (SPI_GETWORKAREA)
//   zolt-window shot TITLE FILE.png     the window as the screen shows it
// Exit 1 when the window or control is not there, 2 for a bad invocation.
#include <wincodec.h>
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring Wide(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(wcslen(wide.c_str()));
  return wide;
}

std::string Narrow(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(strlen(narrow.c_str()));
  return narrow;
}

// A shown dialog (class "#32770") with that title.
HWND FindDialog(const std::wstring& title) {
  HWND found = nullptr;
  for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", title.c_str()); window != nullptr;
       window = FindWindowExW(nullptr, window, L"#32770", title.c_str()))
    if (IsWindowVisible(window)) found = window;
  return found;
}

bool SavePng(HBITMAP bitmap, int width, int height, const std::wstring& path) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IWICImagingFactory* factory = nullptr;
  IWICBitmap* source = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  bool written = false;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &source)) &&
      SUCCEEDED(factory->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
      SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) {
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    written = SUCCEEDED(frame->SetPixelFormat(&format)) && SUCCEEDED(frame->WriteSource(source, nullptr)) &&
              SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  }
  for (IUnknown* object : {static_cast<IUnknown*>(frame), static_cast<IUnknown*>(encoder),
                           static_cast<IUnknown*>(stream), static_cast<IUnknown*>(source),
                           static_cast<IUnknown*>(factory)})
    if (object != nullptr) object->Release();
  return written;
}

int Usage() {
  std::fprintf(stderr,
               "usage: zolt-window wait TITLE MS | press TITLE ID | text TITLE ID | visible TITLE ID | rect TITLE |"
               " progress TITLE ID | key TITLE VK | rect TITLE | shot TITLE FILE.png\n");
  return 2;
}

}  // namespace

// The arguments as UTF-16, whatever the process's code page: titles are Chinese.
int wmain(int argc, wchar_t** wideArgv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Narrow(wideArgv[i]));
  std::vector<const char*> argvList;
  for (const auto& arg : args) argvList.push_back(arg.c_str());
  const char* const* argv = argvList.data();
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  const std::wstring title = Wide(argv[2]);
  if (command == "wait") {
    if (argc != 4) return Usage();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(argv[3]));
    while (FindDialog(title) == nullptr) {
      if (std::chrono::steady_clock::now() >= end) return 1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }
  HWND dialog = FindDialog(title);
  if (dialog == nullptr) {
    std::fprintf(stderr, "zolt-window: no dialog titled %s\n", argv[2]);
    return 1;
  }
  if (command == "press" || command == "text" || command == "visible" || command == "progress") {
    if (argc != 4) return Usage();
    HWND control = GetDlgItem(dialog, std::atoi(argv[3]));
    if (control == nullptr) {
      std::fprintf(stderr, "zolt-window: no control %s\n", argv[3]);
      return 1;
    }
    if (command == "press") {
      SendMessageW(control, BM_CLICK, 0, 0);
      return 0;
    }
    if (command == "visible") return IsWindowVisible(control) ? 0 : 1;
    if (command == "progress") {
      std::printf("%ld %ld %ld\n", static_cast<long>(SendMessageW(control, PBM_GETPOS, 0, 0)),
                  static_cast<long>(SendMessageW(control, PBM_GETRANGE, TRUE, 0)),
                  static_cast<long>(SendMessageW(control, PBM_GETRANGE, FALSE, 0)));
      return 0;
    }
    wchar_t text[512] = {};
    GetWindowTextW(control, text, 512);
    std::printf("%s\n", Narrow(text).c_str());
    return 0;
  }
  if (command == "key" && argc == 4) {
    // Into the dialog's queue, as the keyboard's messages arrive: its own
    // loop gives them the dialog's rules (Tab, Enter, Escape).
    const auto key = static_cast<WPARAM>(std::atoi(argv[3]));
    return PostMessageW(dialog, WM_KEYDOWN, key, 1) && PostMessageW(dialog, WM_KEYUP, key, 0xC0000001) ? 0 : 1;
  }
  RECT frame{};
  GetWindowRect(dialog, &frame);
  if (command == "rect" && argc == 3) {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    std::printf("%ld %ld %ld %ld\n%ld %ld %ld %ld\n", frame.left, frame.top, frame.right, frame.bottom, work.left,
                work.top, work.right, work.bottom);
    return 0;
  }
  if (command == "shot" && argc == 4) {
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, old);
    const bool written = SavePng(bitmap, width, height, Wide(argv[3]));
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return written ? 0 : 1;
  }
  return Usage();
}
