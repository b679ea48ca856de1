// A stand-in for the assistant's client program on Windows: owns a top-level
// window of class "ZOLTCLIENT", ends on WM_CLOSE, and logs which version of
// its files it runs. The Linux build has its own (ZOLTClient.cpp).
//
// Log lines, appended to client.log beside the executable:
//   <pid> started version <content of version.txt>
//   <pid> closed
//   <pid> holding                (--hold)
//   <pid> crashed at start, version <v>, or crashed soon after start
// "ZOLTClient.exe --hold" shows no window: it only keeps its own executable
// in use, as any running program of the installation does, until its folder
// goes away.
//
// As on Linux, "ZOLTClient.mode" beside it holding "crash" makes it exit at
// once, before it opens its window, and "flash" makes it close its window
// again after a moment: the releases that fail the updater's trial.
#include <windows.h>

#include <string>

namespace {

const UINT_PTR kFolderTimer = 1;
const UINT_PTR kFlashTimer = 2;
std::wstring g_directory;  // with a trailing backslash

bool FolderExists() {
  const DWORD attributes = GetFileAttributesW(g_directory.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void AppendLog(const std::string& line) {
  const HANDLE file = CreateFileW((g_directory + L"client.log").c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = std::to_string(GetCurrentProcessId()) + " " + line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// The first line of a small file beside the executable; empty when none.
std::string ReadText(const wchar_t* name) {
  const HANDLE file = CreateFileW((g_directory + name).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  char buffer[256];
  DWORD read = 0;
  std::string text;
  if (ReadFile(file, buffer, sizeof buffer, &read, nullptr)) text.assign(buffer, read);
  CloseHandle(file);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_TIMER:
      if (wParam == kFlashTimer) {
        AppendLog("crashed soon after start");
        ExitProcess(3);
      }
      // The folder going away (an uninstall, or a test's temporary
      // installation being removed) ends the client too.
      if (wParam == kFolderTimer && !FolderExists()) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

int Hold() {
  AppendLog("holding");
  while (FolderExists()) Sleep(200);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return 1;
  g_directory.assign(path, length);
  g_directory.erase(g_directory.find_last_of(L"\\/") + 1);

  if (std::string(commandLine).find("--hold") != std::string::npos) return Hold();

  const std::string mode = ReadText(L"ZOLTClient.mode");
  if (mode == "crash") {
    AppendLog("crashed at start, version " + ReadText(L"version.txt"));
    return 3;
  }
  if (FindWindowW(L"ZOLTCLIENT", nullptr) != nullptr) {
    AppendLog("another client is running");
    return 1;
  }
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"ZOLTCLIENT";
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  if (RegisterClassW(&windowClass) == 0) return 1;
  const HWND window = CreateWindowExW(0, L"ZOLTCLIENT", L"ZOLT client", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    // No display (error 1400 under Wine without X): nothing to own.
    AppendLog("cannot create its window: error " + std::to_string(GetLastError()));
    return 1;
  }
  SetTimer(window, kFolderTimer, 500, nullptr);
  if (mode == "flash") SetTimer(window, kFlashTimer, 300, nullptr);
  AppendLog("started version " + ReadText(L"version.txt"));

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (FolderExists()) AppendLog("closed");
  return 0;
}
