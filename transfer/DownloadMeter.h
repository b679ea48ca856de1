// What a download of many files tells its operator: a progress line on a
// terminal while it runs (files, bytes, rate, as curl shows them), and one
// summary line in the run log when it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/transfer/ZOLTUpdateIntf.h"

class CDownloadMeter {
 public:
  using Clock = std::chrono::steady_clock;

  // files and totalBytes: what is to come (totalBytes 0 when unknown); Expect
  // adds to both as a long list is fetched a part at a time.
  // terminal: where the progress line goes, or null for none; by default
  // stderr when it is a terminal, so that logs and pipes get no extra text.
  explicit CDownloadMeter(std::size_t files = 0, std::uint64_t totalBytes = 0, std::FILE* terminal = DefaultTerminal(),
                          Clock::time_point start = Clock::now());
  // Ends the progress line, if one was drawn.
  ~CDownloadMeter();
  CDownloadMeter(const CDownloadMeter&) = delete;
  CDownloadMeter& operator=(const CDownloadMeter&) = delete;

  // Hands transfer a progress function that feeds this meter; Detach takes it back.
  void Attach(CZOLTUpdateIntf& transfer);
  static void Detach(CZOLTUpdateIntf& transfer);

  // The file under way has received bytes so far.
  void Progress(std::uint64_t bytes, Clock::time_point now = Clock::now());
  // The file under way is complete with bytes.
  void FileDone(std::uint64_t bytes, Clock::time_point now = Clock::now());

  void Expect(std::size_t files, std::uint64_t bytes);
  // bytes more came over the wire (a cut-short body, a patch or a resumed
  // rest counts what it moved, not the file's size).
  void NoteWire(std::uint64_t bytes) { wireBytes_ += bytes; }

  // "downloaded 3 of 5 files, 1048576 bytes in 2.5 s (410 KiB/s)", the bytes
  // being those over the wire; when the files have another size (patches,
  // compressed copies, resumed downloads) that follows:
  // "...; the files have 3044213 bytes (patches, compressed copies and
  // resumed downloads made up the difference)".
  std::string Summary(Clock::time_point now = Clock::now()) const;
  // Writes Summary to the run log once, when anything was to come.
  void LogSummary();
  // The progress line as drawn: "2/5 files  1.2 of 30.0 MiB  410 KiB/s".
  std::string Line(Clock::time_point now) const;

  static std::FILE* DefaultTerminal();

 private:
  void Draw(Clock::time_point now);

  std::size_t files_;
  std::uint64_t totalBytes_;
  std::FILE* terminal_;
  Clock::time_point start_;
  std::size_t filesDone_ = 0;
  std::uint64_t bytesDone_ = 0;  // of the complete files
  std::uint64_t current_ = 0;    // of the file under way
  std::uint64_t wireBytes_ = 0;  // over the wire, as NoteWire reported
  std::size_t drawn_ = 0;        // length of the line on the terminal
  bool logged_ = false;
};
