// A stand-in for the assistant's client program: owns the "ZOLTCLIENT" window,
// closes itself on WM_CLOSE, and logs which version of its files it runs.
//
// Log lines, appended to client.log beside the executable:
//   <pid> started version <content of version.txt>
//   <pid> closed
//
// A release can make it misbehave, to show the updater's trial: a file
// "ZOLTClient.mode" beside it holding "crash" makes it exit at once, before
// it opens its window (a missing library, a bad migration); "flash" makes it
// close its window again after a moment (a crash soon after start).
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "platform/win32/RemoteWindow.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void AppendLog(const std::string& directory, const std::string& line) {
  AppendToFile(directory + "client.log", std::to_string(::getpid()) + " " + line + "\n");
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

int main() {
  std::string directory;
  if (!CDirectoryEx::GetApplicationPath(directory)) return 1;

  std::string mode;
  ReadWholeFile(directory + "ZOLTClient.mode", mode);
  mode = Trimmed(mode);
  if (mode == "crash") {
    std::string version;
    ReadWholeFile(directory + "version.txt", version);
    AppendLog(directory, "crashed at start, version " + Trimmed(version));
    return 3;
  }

  CRemoteWindowOwner window;
  if (!window.Listen("ZOLTCLIENT")) {
    std::fprintf(stderr, "ZOLTClient: another client is running\n");
    return 1;
  }
  signal(SIGTERM, [](int) { g_stop = 1; });
  signal(SIGINT, [](int) { g_stop = 1; });

  std::string version;
  ReadWholeFile(directory + "version.txt", version);
  AppendLog(directory, "started version " + Trimmed(version));

  bool closing = false;
  const auto handler = [&closing](UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg == WM_CLOSE) closing = true;
    return 0;
  };
  // The folder going away (an uninstall, or a test's temporary installation
  // being removed) ends the client too, so no orphan is left behind.
  // "flash": the window is gone again after about 300 ms.
  for (int turns = 0; !closing && !g_stop && PathIsDirectoryA(directory.c_str()); ++turns) {
    if (mode == "flash" && turns == 3) {
      AppendLog(directory, "crashed soon after start");
      return 3;
    }
    window.HandleNext(handler, mode == "flash" ? 100 : 500);
  }

  window.Close();
  if (PathIsDirectoryA(directory.c_str())) AppendLog(directory, "closed");
  return 0;
}
