// The download worker against real servers, reporting to a window on the
// test's thread.
#include "platform/configfile/ConfigFile.h"
#include "transfer/DownFileThread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/crypt/ZstdPatch.h"
#include "tests/transfer/ReportWindow.h"
#include "tests/transfer/TransferFixture.h"
#include "update/DeltaOffers.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class DownFileThreadTest : public TransferServers {
 protected:
  void SetUp() override {
    for (int i = 1; i <= 5; ++i) Publish("t" + std::to_string(i) + ".bin", RandomBytes(1000 * i, 10 + i));
    TransferServers::SetUp();
  }

  std::unique_ptr<CDownFileThread> MakeThread(int port, HWND window, std::vector<std::string> names) {
    auto thread = std::make_unique<CDownFileThread>(std::vector<S_UpdateSerivceAddr>{Local(port)}, false, window,
                                                    WM_UPDATE_DOWNLOAD_DONE);
    thread->SetLocalDir(staging.path() + "UPDATE\\Program");
    EnterCriticalSection(&thread->lock);
    thread->files = std::move(names);
    LeaveCriticalSection(&thread->lock);
    return thread;
  }

  std::string Staged(const std::string& name) { return staging.path() + "UPDATE/Program/" + name; }
};

const std::vector<std::string> kFive = {"t1.bin", "t2.bin", "t3.bin", "t4.bin", "t5.bin"};

TEST_F(DownFileThreadTest, ReportsEachFileCompleteInOrderWithItsSize) {
  faults->SetRule("/1/a.bin", R"({"slow": 4000, "interval": 0.05})");  // long enough for progress reports
  ReportWindow window;
  const std::vector<std::string> names = {"UpdateConfig.ini", "a.bin", "empty.txt",
                                          "sub\\dir one\\file with space.dll"};
  auto thread = MakeThread(faults->port(), window.hwnd(), names);
  ASSERT_TRUE(thread->Start());
  ASSERT_TRUE(window.PumpUntil([&] { return !thread->IsRunning(); }));
  std::vector<WPARAM> expected;
  for (const auto& name : names) expected.push_back(Source(name).size());
  EXPECT_EQ(window.Completions(), expected);
  EXPECT_EQ(window.Failures(), 0);
  EXPECT_GT(window.reports().size(), names.size());  // progress as well
  for (const auto& report : window.reports()) EXPECT_EQ(report.msg, WM_UPDATE_DOWNLOAD_DONE);
  EXPECT_EQ(ReadTextFile(Staged("sub/dir one/file with space.dll")), Source("sub\\dir one\\file with space.dll"));
}

TEST_F(DownFileThreadTest, AFailureOnTheThirdFileIsReportedOnceAndEndsTheRun) {
  faults->SetRule("/1/t3.bin", R"({"status": 404})");
  ReportWindow window;
  auto thread = MakeThread(faults->port(), window.hwnd(), kFive);
  ASSERT_TRUE(thread->Start());
  ASSERT_TRUE(window.PumpUntil([&] { return !thread->IsRunning(); }));
  EXPECT_EQ(window.Failures(), 1);
  EXPECT_EQ(window.reports().back(), (Report{WM_UPDATE_DOWNLOAD_DONE, 0, -1}));
  EXPECT_EQ(window.Completions(), (std::vector<WPARAM>{1000, 2000}));
  EXPECT_EQ(ReadTextFile(Staged("t2.bin")), Source("t2.bin"));
  EXPECT_FALSE(fs::exists(Staged("t3.bin")));
  EXPECT_EQ(faults->RequestedPaths(), (std::vector<std::string>{"/1/t1.bin", "/1/t2.bin", "/1/t3.bin"}));
}

// The stop request comes while the second file hangs: from the test's thread,
// or from the handler while the worker waits in its send to that handler.
TEST_F(DownFileThreadTest, AStopDuringTheSecondFileEndsTheRunWithoutAReport) {
  for (const bool fromHandler : {false, true}) {
    SCOPED_TRACE(fromHandler ? "from the handler" : "from the owner's thread");
    faults->SetRule("/1/t2.bin", R"({"stall": 500})");
    CDownFileThread* running = nullptr;
    ReportWindow window([&](const Report& report) {
      const bool progressOfSecond =
          !window.Completions().empty() && report.wParam != static_cast<WPARAM>(report.lParam);
      if (fromHandler && progressOfSecond) running->Terminate();
    });
    fs::remove_all(staging.path() + "UPDATE");
    auto thread = MakeThread(faults->port(), window.hwnd(), kFive);
    running = thread.get();
    ASSERT_TRUE(thread->Start());
    if (!fromHandler) {
      ASSERT_TRUE(window.PumpUntil([&] { return faults->RequestedPaths().size() == 2; }));
      thread->Terminate();
    }
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(window.PumpUntil([&] { return !thread->IsRunning(); }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, fromHandler ? 3s : 1500ms);
    EXPECT_EQ(window.Failures(), 0);
    EXPECT_EQ(window.Completions(), std::vector<WPARAM>{1000});
    EXPECT_FALSE(fs::exists(Staged("t2.bin")));
    const auto paths = faults->RequestedPaths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/1/t3.bin"), 0);
  }
}

// The owner may delete the worker in the middle of a long download: the
// destructor stops and waits, promptly. With a window, the owner destroys it
// first, which releases a worker waiting in a send to it.
TEST_F(DownFileThreadTest, DeletingTheThreadDuringALongDownloadReturnsPromptly) {
  faults->SetRule("/1/big.bin", R"({"slow": 8192, "interval": 0.05})");  // about 6 s in all
  for (const bool withWindow : {true, false}) {
    SCOPED_TRACE(withWindow ? "reporting to a window" : "without a window");
    fs::remove_all(staging.path() + "UPDATE");
    ReportWindow window;
    auto thread = MakeThread(faults->port(), withWindow ? window.hwnd() : nullptr, {"a.bin", "big.bin", "t1.bin"});
    ASSERT_TRUE(thread->Start());
    // Leave the window unpumped for a while so that the worker may well be
    // waiting in a send when the deletion comes.
    const auto before = faults->RequestedPaths().size();
    ASSERT_TRUE(window.PumpUntil([&] { return faults->RequestedPaths().size() == before + 2; }));
    std::this_thread::sleep_for(150ms);
    const auto start = std::chrono::steady_clock::now();
    window.window().Destroy();
    thread.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(fs::exists(Staged("big.bin")));
    EXPECT_FALSE(fs::exists(Staged("t1.bin")));
  }
}

TEST_F(DownFileThreadTest, AnEmptyListSendsNothing) {
  ReportWindow window;
  auto thread = MakeThread(nginx->port(), window.hwnd(), {});
  ASSERT_TRUE(thread->Start());
  ASSERT_TRUE(window.PumpUntil([&] { return !thread->IsRunning(); }));
  EXPECT_TRUE(window.reports().empty());
  EXPECT_EQ(nginx->AccessLog(), "");
}

}  // namespace

// A file the manifest offers a patch for is staged from it, and reported
// complete with the file's own size, as the dialog counts a fetched one.
TEST_F(DownFileThreadTest, APatchedFileIsReportedCompleteWithItsOwnSize) {
  const std::string base = RandomBytes(30000, 7), target = base.substr(0, 20000) + "changed" + base.substr(20000);
  std::string frame, error;
  ASSERT_TRUE(EncodeZstd(base, target, 3, frame, error)) << error;
  const std::string sha256 = CMD5::SHA256OfBytes(frame.data(), frame.size());
  Publish(PatchRemoteName(sha256), frame);
  Publish("p.bin", target);
  WriteTextFile(staging / "install/p.bin", base);
  const std::string manifest = staging / "UPDATE/Program/UpdateConfig.ini";
  WriteTextFile(manifest, "[p.bin]\n" + PatchKey(Md5Of("t1.bin")) + "=1 " + sha256 + "\n" +
                              PatchKey(CMD5::OfBytes(base.data(), base.size())) + "=" +
                              PatchValue(frame.size(), sha256) + "\n");
  ReportWindow window;
  auto thread = MakeThread(nginx->port(), window.hwnd(), {"t1.bin", "p.bin"});
  thread->source = {staging / "UPDATE/Program/", staging / "install/", std::make_shared<CConfigFile>(manifest), 1,
                    false};
  thread->changedFiles = {{"p.bin", "", std::to_string(target.size()), Md5Of("p.bin"), ""}};
  ASSERT_TRUE(thread->Start());
  ASSERT_TRUE(window.PumpUntil([&] { return !thread->IsRunning(); }));
  EXPECT_EQ(window.Completions(), (std::vector<WPARAM>{Source("t1.bin").size(), target.size()}));
  EXPECT_EQ(ReadTextFile(Staged("p.bin")), target);
  EXPECT_EQ(thread->tally.patched, 1u);
  EXPECT_EQ(thread->tally.wireBytes, frame.size()) << "a name not among the changed files is not counted";
}
