#include "transfer/FetchList.h"

#include <chrono>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "transfer/DownloadFileList.h"
#include "update/DeltaOffers.h"

CFetchList::CFetchList(CZOLTUpdateIntf& transfer, StagingSource source, CDownloadMeter* meter, TransferTally* tally)
    : transfer_(transfer), delta_(std::move(source), tally), meter_(meter) {
  if (meter_ != nullptr) meter_->Attach(transfer_);
}

CFetchList::~CFetchList() {
  // The meter may go before the transfer: no progress may reach it after.
  if (meter_ != nullptr) CDownloadMeter::Detach(transfer_);
}

bool CFetchList::Fetch(const UpdateFileInfo& file, HWND notifyWnd, unsigned notifyMsg) {
  ++wanted_;
  std::uint64_t size = 0;
  const bool sized = ParseDecimalSize(file.size, size);
  if (sized) transfer_.LimitSize(file.fileName, size);
  const std::uint64_t wireBefore = transfer_.ReceivedBytes();
  const auto start = std::chrono::steady_clock::now();
  const bool arrived = delta_.FetchFile(transfer_, file, notifyWnd, notifyMsg) != -1;
  seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // A long list would otherwise keep a cap for every name it ever fetched.
  if (sized) transfer_.ForgetSizeLimit(file.fileName);
  if (meter_ != nullptr) {
    meter_->NoteWire(transfer_.ReceivedBytes() - wireBefore);
    if (arrived) meter_->FileDone(sized ? size : transfer_.LastSize());
  }
  if (arrived) return true;
  reachable_ = transfer_.LastFetchAnswered();
  CountFailure(file.fileName);
  return false;
}

void CFetchList::Skip(const UpdateFileInfo& file) {
  ++wanted_;
  CountFailure(file.fileName);
}

void CFetchList::CountFailure(const std::string& name) {
  ++failed_;
  if (missing_.size() < diagnostics::kShownPerKind) missing_.push_back(name);
}

std::string CFetchList::Shortfall() const {
  if (failed_ == 0) return "";
  return "cannot fetch " + std::to_string(failed_) + " of the " + std::to_string(wanted_) + " changed files (" +
         diagnostics::NameList(missing_, failed_) + ")";
}
