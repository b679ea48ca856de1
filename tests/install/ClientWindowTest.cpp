// The real sample client, closed through its window and started again by the
// updater's own calls (FindWindowA, SendMessageA(WM_CLOSE), ShellExecuteA).
// On Windows (under Wine) it needs a display: the client owns a real window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "install/Installation.h"
#include "platform/directory/DirectoryEx.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

std::size_t Lines(const std::string& text, const std::string& part) { return Count(text, part); }

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

  StartClient(app.path(), 0);
  ASSERT_TRUE(WaitFor([&] { return Lines(ReadTextFile(log), "started version 4.1.0") == 1; }, 30000))
      << ReadTextFile(log);
  // The window is made just before that line is written; give the system the
  // moment it needs to list it.
  ASSERT_TRUE(WaitFor([&] {
    CloseRunningClient();
    return Lines(ReadTextFile(log), " closed") == 1;
  }, 30000)) << ReadTextFile(log);

  StartClient(app.path(), 0);
  ASSERT_TRUE(WaitFor([&] { return Lines(ReadTextFile(log), "started version 4.1.0") == 2; }, 30000))
      << ReadTextFile(log);
  ASSERT_TRUE(WaitFor([&] {
    CloseRunningClient();
    return Lines(ReadTextFile(log), " closed") == 2;
  }, 30000)) << ReadTextFile(log);
  CloseRunningClient();  // none is left: nothing happens
  EXPECT_EQ(Lines(ReadTextFile(log), " closed"), 2u) << ReadTextFile(log);
}
