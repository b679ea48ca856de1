// The connection's cost as Windows' Network List Manager reports it: Wine's
// answers for the machine, as Windows does without a metered connection.
#include <objbase.h>

#include <gtest/gtest.h>

#include "platform/network/NetworkCost.h"

TEST(NetworkCost, TheNetworkListManagerAnswersOnAnyThread) {
  const struct {
    const char* what;
    DWORD model;  // the thread's own COM, or -1: none
  } cases[] = {
      {"a thread without COM", static_cast<DWORD>(-1)},
      {"a thread with COM of its own, single-threaded", COINIT_APARTMENTTHREADED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool own = c.model != static_cast<DWORD>(-1);
    if (own) {
      ASSERT_EQ(::CoInitializeEx(nullptr, c.model), S_OK);
    }
    std::string detail;
    EXPECT_NE(CurrentNetworkCost(detail), NetworkCost::kUnknown) << detail;
    EXPECT_NE(detail.find("the Network List Manager says cost 0x"), std::string::npos) << detail;
    if (own) {
      // The thread's COM is still its own: a second start counts it once more.
      EXPECT_EQ(::CoInitializeEx(nullptr, c.model), S_FALSE);
      ::CoUninitialize();
      ::CoUninitialize();
    }
  }
}
