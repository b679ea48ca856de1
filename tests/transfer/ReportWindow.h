// A window on the test's thread that records the reports it receives.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/win32/MessageWindow.h"

struct Report {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Report&) const = default;
};

class ReportWindow {
 public:
  // onReport runs on the test's thread for every report, after it is recorded.
  explicit ReportWindow(std::function<void(const Report&)> onReport = {})
      : window_(CMessageWindow::Create([this, onReport](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
          reports_.push_back({msg, wParam, lParam});
          if (onReport) onReport(reports_.back());
          return 0;
        })) {}
  ~ReportWindow() { window_->Destroy(); }

  HWND hwnd() const { return window_->Handle(); }
  CMessageWindow& window() { return *window_; }
  const std::vector<Report>& reports() const { return reports_; }

  // Handles messages until done() holds; false when timeout passed first.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      window_->WaitForMessage(std::chrono::milliseconds(20));
      window_->PumpMessages();
    }
    window_->PumpMessages();
    return true;
  }

  // The reports with equal values (files completed), as their sizes.
  std::vector<WPARAM> Completions() const {
    std::vector<WPARAM> sizes;
    for (const auto& report : reports_) {
      if (report.wParam == static_cast<WPARAM>(report.lParam)) sizes.push_back(report.wParam);
    }
    return sizes;
  }
  int Failures() const {
    int count = 0;
    for (const auto& report : reports_) count += report.wParam == 0 && report.lParam == -1 ? 1 : 0;
    return count;
  }

 private:
  std::vector<Report> reports_;
  std::shared_ptr<CMessageWindow> window_;
};
