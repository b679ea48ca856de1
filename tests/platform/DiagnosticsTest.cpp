// The run log: what may lie at its name, and its rotation.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <regex>

#include <gtest/gtest.h>

#include "platform/diagnostics/Diagnostics.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

class DiagnosticsTest : public ::testing::Test {
 protected:
  void TearDown() override { diagnostics::CloseRunLog(); }
  std::string Log() const { return ReadTextFile(dir_ / diagnostics::kLogName); }

  TempDir dir_;
  std::string log_ = dir_ / diagnostics::kLogName;
};

TEST_F(DiagnosticsTest, LinesAreTimestampedAndAppendedOnlyOnceOpened) {
  diagnostics::LogFact("before the log is open");
  EXPECT_FALSE(fs::exists(log_));
  WriteTextFile(log_, "an earlier run\n");
  diagnostics::OpenRunLog(dir_.path());
  diagnostics::LogFact("the mode");
  testing::internal::CaptureStderr();
  diagnostics::ReportCause("the cause");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ZOLTUpdate: the cause\n");
  const std::string text = Log();
  EXPECT_EQ(text.rfind("an earlier run\n", 0), 0u) << text;
  const std::string pid = " [" + std::to_string(::getpid()) + "] ";
  EXPECT_NE(text.find(pid + "the mode\n"), std::string::npos) << text;
  EXPECT_NE(text.find(pid + "the cause\n"), std::string::npos) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[)"))) << text;
  EXPECT_EQ(text.find("before the log is open"), std::string::npos);
}

// Held facts: an up-to-date run's are one line; a cause writes them as they
// came, then itself.
TEST_F(DiagnosticsTest, AnUpToDateRunLeavesOneLine) {
  diagnostics::OpenRunLog(dir_.path());
  for (const bool upToDate : {true, false}) {
    diagnostics::HoldFacts();
    diagnostics::LogFact("started");
    if (upToDate) {
      diagnostics::NoteUpToDate();
    } else {
      testing::internal::CaptureStderr();
      diagnostics::ReportCause("failed");
      testing::internal::GetCapturedStderr();
    }
    diagnostics::LogFact("outcome");
    diagnostics::ReleaseFacts();
  }
  const std::string pid = " \\[" + std::to_string(::getpid()) + "\\] ";
  EXPECT_TRUE(
      std::regex_search(Log(), std::regex("^[-0-9: ]+" + pid + "started; outcome\n[-0-9: ]+" + pid +
                                          "started\n[-0-9: ]+" + pid + "failed\n[-0-9: ]+" + pid + "outcome\n$")))
      << Log();
}

TEST_F(DiagnosticsTest, RotatesAtOneMebibyteIntoTheOneOlderFile) {
  WriteTextFile(log_ + ".1", "the oldest\n");
  WriteTextFile(log_, std::string(diagnostics::kLogRotateBytes - 1, 'x') + "\n");
  diagnostics::OpenRunLog(dir_.path());
  diagnostics::LogFact("first of the new file");
  diagnostics::LogFact("second");
  EXPECT_EQ(fs::file_size(log_ + ".1"), static_cast<std::uintmax_t>(diagnostics::kLogRotateBytes));
  const std::string text = Log();
  EXPECT_NE(text.find("first of the new file\n"), std::string::npos);
  EXPECT_NE(text.find("second\n"), std::string::npos);
  EXPECT_LT(text.size(), 200u);
}

// Whatever lies at the log's name, a line is never written through a link or
// into something other than a regular file, and the run goes on at once: its
// log goes to the user's state folder, and stderr says so once.
TEST_F(DiagnosticsTest, WhatCannotBeALogIsSkippedForTheStateFolder) {
  const std::string state = dir_ / "state";
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  const std::string outside = dir_ / "outside.txt";
  const struct {
    const char* what;
    std::function<void()> place;
  } cases[] = {
      {"symbolic link to a file", [&] { WriteTextFile(outside, ""), fs::create_symlink(outside, log_); }},
      {"dangling symbolic link", [&] { fs::create_symlink(outside, log_); }},
      {"FIFO, which would block an open for writing", [&] { ASSERT_EQ(::mkfifo(log_.c_str(), 0600), 0); }},
      {"folder", [&] { fs::create_directory(log_); }},
      {"missing folder", [&] { fs::remove_all(dir_ / "gone"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(log_);
    fs::remove_all(outside);
    c.place();
    fs::remove_all(state);
    ::unsetenv("ZOLTUPDATE_LOG_FALLBACK");
    diagnostics::OpenRunLog(std::string(c.what) == "missing folder" ? dir_ / "gone/" : dir_.path());
    testing::internal::CaptureStderr();
    diagnostics::ReportCause("still said on stderr");
    diagnostics::ReportCause("and again");
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find(" cannot be written ("), std::string::npos) << errors;
    EXPECT_EQ(Count(errors, "; this run is logged to " + state + "/zoltupdate/ZOLTUpdate.log\n"), 1u) << errors;
    EXPECT_NE(errors.find("\nZOLTUpdate: still said on stderr\nZOLTUpdate: and again\n"), std::string::npos) << errors;
    diagnostics::LogFact("in the state folder");
    EXPECT_NE(ReadTextFile(state + "/zoltupdate/ZOLTUpdate.log").find("] in the state folder\n"), std::string::npos);
    EXPECT_EQ(fs::status(state + "/zoltupdate").permissions(), fs::perms::owner_all);
    EXPECT_EQ(ReadTextFile(outside), "");
    EXPECT_FALSE(fs::exists(outside) && fs::file_size(outside) > 0);
    EXPECT_FALSE(fs::exists(dir_ / "gone"));
  }
  ::unsetenv("XDG_STATE_HOME");
}

TEST(DiagnosticsErrorText, NamesTheSystemsReasonAndAFullDisk) {
  EXPECT_EQ(diagnostics::ErrorText(EACCES), "Permission denied");
  EXPECT_EQ(diagnostics::ErrorText(ENOSPC), "No space left on device (the disk is full)");
  EXPECT_EQ(diagnostics::ErrorText(EROFS), "Read-only file system");
}

}  // namespace
