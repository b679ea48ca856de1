#include "platform/win32/MessageWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/win32/Sync.h"
#include "transfer/DownFileThread.h"
#include "transfer/DownloadMeter.h"

using namespace std::chrono_literals;

TEST(MessageWindow, SendFromAnotherThreadRunsTheHandlerOnTheOwnerAndReturnsItsResult) {
  std::thread::id handlerThread;
  std::vector<UINT> order;
  auto window = CMessageWindow::Create([&](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
    handlerThread = std::this_thread::get_id();
    order.push_back(msg);
    return static_cast<LRESULT>(wParam) + lParam;
  });
  const HWND hwnd = window->Handle();
  auto sender = std::async(std::launch::async, [hwnd] {
    EXPECT_TRUE(PostMessageA(hwnd, 1, 0, 0));
    return SendMessageA(hwnd, 2, 40, 2);
  });
  while (sender.wait_for(0ms) != std::future_status::ready) {
    window->WaitForMessage(20ms);
    window->PumpMessages();
  }
  EXPECT_EQ(sender.get(), 42);
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
  EXPECT_EQ(order, (std::vector<UINT>{1, 2}));  // a post queued first is handled first
  // The owner's own send runs at once, without a pump.
  EXPECT_EQ(SendMessageA(hwnd, 3, 1, 1), 2);
}

TEST(MessageWindow, DestroyReleasesAWaitingSenderAndRefusesLaterMessages) {
  std::atomic<int> handled{0};
  auto window = CMessageWindow::Create([&](UINT, WPARAM, LPARAM) -> LRESULT { return ++handled; });
  const HWND hwnd = window->Handle();
  auto sender = std::async(std::launch::async, [hwnd] { return SendMessageA(hwnd, 1, 0, 0); });
  ASSERT_TRUE(window->WaitForMessage(5s));  // the sender is now waiting
  window->Destroy();
  ASSERT_EQ(sender.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(sender.get(), 0);
  EXPECT_EQ(window->PumpMessages(), 0);
  EXPECT_EQ(handled.load(), 0);
  EXPECT_EQ(SendMessageA(hwnd, 1, 0, 0), 0);
  EXPECT_FALSE(PostMessageA(hwnd, 1, 0, 0));
  EXPECT_FALSE(window->Post(1, 0, 0));
}

TEST(MessageWindow, DestroyFromTheHandlerReleasesTheSenderItIsHandling) {
  std::shared_ptr<CMessageWindow> window;
  window = CMessageWindow::Create([&](UINT, WPARAM, LPARAM) -> LRESULT {
    window->Destroy();
    return 7;
  });
  const HWND hwnd = window->Handle();
  auto sender = std::async(std::launch::async, [hwnd] { return SendMessageA(hwnd, 1, 0, 0); });
  ASSERT_TRUE(window->WaitForMessage(5s));
  window->PumpMessages();
  ASSERT_EQ(sender.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(sender.get(), 0);
}

namespace {
// A window whose owner is told about new messages, as a GUI event loop is.
class WakingWindow : public CMessageWindow {
 public:
  using CMessageWindow::CMessageWindow;
  std::atomic<int> wakes{0};

 protected:
  void WakeOwner() override { ++wakes; }
};
}  // namespace

TEST(MessageWindow, WakeOwnerHookRunsForEveryQueuedMessage) {
  auto window = std::make_shared<WakingWindow>([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  const HWND hwnd = window->Register();
  std::thread([hwnd] { PostMessageA(hwnd, 1, 0, 0); }).join();
  EXPECT_EQ(window->wakes.load(), 1);
  EXPECT_EQ(window->PumpMessages(), 1);
  window->Destroy();
}

TEST(CriticalSection, IsRecursiveForItsOwnerAndExcludesOthers) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&section);
    entered = true;
    LeaveCriticalSection(&section);
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(entered.load());
  LeaveCriticalSection(&section);
  EXPECT_FALSE(entered.load());
  LeaveCriticalSection(&section);
  other.join();
  EXPECT_TRUE(entered.load());
  DeleteCriticalSection(&section);
}

TEST(DownFileThread, SetLocalDirEndsWithExactlyOneBackslash) {
  const std::pair<std::string, std::string> cases[] = {
      {"/tmp/app/UPDATE\\Program\\", "/tmp/app/UPDATE\\Program\\"},
      {"/tmp/app/UPDATE\\Program", "/tmp/app/UPDATE\\Program\\"},
      {"/tmp/app/", "/tmp/app/\\"},
  };
  for (const auto& [given, expected] : cases) {
    CDownFileThread thread({}, false, nullptr, WM_UPDATE_DOWNLOAD_DONE);
    thread.SetLocalDir(given);
    EXPECT_EQ(thread.localDir, expected) << given;
  }
}

TEST(TransferRequest, PathHasTheTypeAndPercentEncodedSegments) {
  const std::tuple<unsigned, std::string, std::string> cases[] = {
      {1, "UpdateConfig.ini", "/1/UpdateConfig.ini"},
      {7, "plugins\\sub dir\\a+b.dll", "/7/plugins/sub%20dir/a%2Bb.dll"},
      {1, "数据\\x%y?#.txt", "/1/%E6%95%B0%E6%8D%AE/x%25y%3F%23.txt"},
      {2, "a-b_c.d~e", "/2/a-b_c.d~e"},
  };
  for (const auto& [type, name, expected] : cases) EXPECT_EQ(CZOLTUpdateIntf::RequestPath(type, name), expected);
}

TEST(DownloadMeter, DrawsOneLineOnATerminalAndSumsUpForTheLog) {
  std::FILE* terminal = std::tmpfile();
  const auto start = CDownloadMeter::Clock::now();
  {
    CDownloadMeter meter(2, 3 << 20, terminal, start);
    meter.Progress(1 << 20, start + 1s);
    meter.NoteWire(2 << 20);
    meter.FileDone(2 << 20, start + 2s);
    EXPECT_EQ(meter.Summary(start + 4s), "downloaded 1 of 2 files, 2097152 bytes in 4.0 s (512 KiB/s)");
  }
  {
    // A patch: what went over the wire is counted, and the files' size said.
    CDownloadMeter meter(5, 0, nullptr, start);
    meter.NoteWire(371);
    for (int i = 0; i < 5; ++i) meter.FileDone(608842);
    EXPECT_EQ(meter.Summary(start + 1s),
              "downloaded 5 of 5 files, 371 bytes in 1.0 s (371 B/s); the files have 3044210 bytes (patches, "
              "compressed copies and resumed downloads made up the difference)");
  }
  std::rewind(terminal);
  char text[256] = {};
  text[std::fread(text, 1, sizeof text - 1, terminal)] = '\0';
  std::fclose(terminal);
  EXPECT_STREQ(text,
               "\rZOLTUpdate: 0/2 files  1.0 MiB of 3.0 MiB  1.0 MiB/s"
               "\rZOLTUpdate: 1/2 files  2.0 MiB of 3.0 MiB  1.0 MiB/s\n");
  CDownloadMeter quiet(1, 0, nullptr);  // no terminal: nothing drawn, and nothing to fail on
  quiet.FileDone(5);
}
