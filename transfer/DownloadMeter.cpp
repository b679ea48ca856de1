#include "transfer/DownloadMeter.h"

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/Runtime.h"

namespace {

// 1.2 MiB, 410 KiB, 12 B: three significant figures are what a person reads.
std::string Amount(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  std::size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(units)) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 || bytes >= 100 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

double Seconds(CDownloadMeter::Clock::duration elapsed) { return std::chrono::duration<double>(elapsed).count(); }

std::string Rate(std::uint64_t bytes, CDownloadMeter::Clock::duration elapsed) {
  const double seconds = Seconds(elapsed);
  return seconds > 0 ? Amount(static_cast<double>(bytes) / seconds) + "/s" : "-";
}

}  // namespace

CDownloadMeter::CDownloadMeter(std::size_t files, std::uint64_t totalBytes, std::FILE* terminal,
                               Clock::time_point start)
    : files_(files), totalBytes_(totalBytes), terminal_(terminal), start_(start) {}

CDownloadMeter::~CDownloadMeter() {
  if (drawn_ > 0) std::fputc('\n', terminal_);
}

std::FILE* CDownloadMeter::DefaultTerminal() { return crt::StandardErrorIsTerminal() ? stderr : nullptr; }

void CDownloadMeter::Attach(CZOLTUpdateIntf& transfer) {
  transfer.SetProgress([this](std::uint64_t received, std::uint64_t) { Progress(received); });
}

void CDownloadMeter::Detach(CZOLTUpdateIntf& transfer) { transfer.SetProgress({}); }

void CDownloadMeter::Expect(std::size_t files, std::uint64_t bytes) {
  files_ += files;
  totalBytes_ += bytes;
}

void CDownloadMeter::LogSummary() {
  if (logged_ || files_ == 0) return;
  logged_ = true;
  diagnostics::LogFact(Summary());
}

void CDownloadMeter::Progress(std::uint64_t bytes, Clock::time_point now) {
  current_ = bytes;
  Draw(now);
}

void CDownloadMeter::FileDone(std::uint64_t bytes, Clock::time_point now) {
  ++filesDone_;
  bytesDone_ += bytes;
  current_ = 0;
  Draw(now);
}

std::string CDownloadMeter::Line(Clock::time_point now) const {
  const std::uint64_t received = bytesDone_ + current_;
  std::string line = std::to_string(filesDone_) + "/" + std::to_string(files_) + " files  " + Amount(received);
  if (totalBytes_ > 0) line += " of " + Amount(static_cast<double>(totalBytes_));
  return line + "  " + Rate(received, now - start_);
}

std::string CDownloadMeter::Summary(Clock::time_point now) const {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", Seconds(now - start_));
  std::string summary = "downloaded " + std::to_string(filesDone_) + " of " + std::to_string(files_) + " files, " +
                        std::to_string(wireBytes_) + " bytes in " + seconds + " s (" + Rate(wireBytes_, now - start_) +
                        ")";
  if (bytesDone_ != wireBytes_ && filesDone_ > 0)
    summary += "; the files have " + std::to_string(bytesDone_) +
               " bytes (patches, compressed copies and resumed downloads made up the difference)";
  return summary;
}

void CDownloadMeter::Draw(Clock::time_point now) {
  if (terminal_ == nullptr) return;
  std::string line = "ZOLTUpdate: " + Line(now);
  const std::size_t length = line.size();
  // Blanks over what a longer line before left behind.
  if (length < drawn_) line.append(drawn_ - length, ' ');
  std::fprintf(terminal_, "\r%s", line.c_str());
  std::fflush(terminal_);
  drawn_ = length;
}
