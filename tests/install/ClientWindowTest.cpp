// The real sample client, closed through its window and started again by the
// updater's own calls (FindWindowA, SendMessageA(WM_CLOSE), ShellExecuteA),
// and its window's owner known to have started before or since a moment that
// the trial of a release keeps.
// On Windows (under Wine) it needs a display: the client owns a real window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "install/Installation.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/RemoteWindow.h"
#include "platform/win32/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

std::size_t Lines(const std::string& text, const std::string& part) { return Count(text, part); }

// When the running client's window's owner started, against moment.
EWindowOwnerStart ClientStart(const std::string& moment) {
  HWND window = FindWindowA("ZOLTCLIENT", nullptr);
  if (window == nullptr) return EWindowOwnerStart::kUnknown;
  const EWindowOwnerStart start = WindowOwnerStart(window, moment);
  UnregisterWindow(window);
  return start;
}

}  // namespace

TEST(ClientWindowTest, TheRunningClientIsClosedByItsWindowAndStartedAgain) {
  const char* client = std::getenv("ZOLT_CLIENT_BIN");
  ASSERT_NE(client, nullptr);
  TempDir app;
#ifndef _WIN32
  // The Linux stand-in for windows lives in the runtime folder: one of the
  // test's own, so that no other client is found.
  TempDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
#endif
  std::filesystem::copy_file(client, app / "ZOLTClient.exe");
  WriteTextFile(app / "version.txt", "4.1.0\n");
  const std::string log = app / "client.log";

  const std::string beforeFirst = ProcessClockNow();
  StartClient(app.path(), 0);
  ASSERT_TRUE(WaitFor([&] { return Lines(ReadTextFile(log), "started version 4.1.0") == 1; }, 30000))
      << ReadTextFile(log);
  ASSERT_TRUE(WaitFor([&] { return ClientStart(beforeFirst) == EWindowOwnerStart::kSince; }, 30000));
  // A moment past the system's resolution of a process's start (on Linux a
  // clock tick) finds the client older.
  std::string betweenTheTwo;
  ASSERT_TRUE(WaitFor([&] {
    betweenTheTwo = ProcessClockNow();
    return ClientStart(betweenTheTwo) == EWindowOwnerStart::kBefore;
  }));
  // A moment this system did not write is no proof either way.
#ifdef _WIN32
  EXPECT_EQ(ClientStart("boot 0b4f7a2e-5d1c-4c6e-9a43-1f2e3d4c5b6a 1"), EWindowOwnerStart::kUnknown);
#else
  EXPECT_EQ(ClientStart("filetime 1"), EWindowOwnerStart::kUnknown);
  // A moment of an earlier boot: every process running now started since.
  EXPECT_EQ(ClientStart("boot 00000000-0000-0000-0000-000000000000 99999999999999999"), EWindowOwnerStart::kSince);
#endif
  EXPECT_EQ(ClientStart("boot"), EWindowOwnerStart::kUnknown);
  // The window is made just before that line is written; give the system the
  // moment it needs to list it.
  ASSERT_TRUE(WaitFor([&] {
    CloseRunningClient();
    return Lines(ReadTextFile(log), " closed") == 1;
  }, 30000)) << ReadTextFile(log);

  StartClient(app.path(), 0);
  ASSERT_TRUE(WaitFor([&] { return Lines(ReadTextFile(log), "started version 4.1.0") == 2; }, 30000))
      << ReadTextFile(log);
  ASSERT_TRUE(WaitFor([&] { return ClientStart(betweenTheTwo) == EWindowOwnerStart::kSince; }, 30000));
  ASSERT_TRUE(WaitFor([&] {
    CloseRunningClient();
    return Lines(ReadTextFile(log), " closed") == 2;
  }, 30000)) << ReadTextFile(log);
  CloseRunningClient();  // none is left: nothing happens
  EXPECT_EQ(Lines(ReadTextFile(log), " closed"), 2u) << ReadTextFile(log);
}
