#include "transfer/FetchList.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/Files.h"
#include "transfer/DownloadFileList.h"
#include "update/DeltaOffers.h"

CFetchList::CFetchList(CZOLTUpdateIntf& transfer, StagingSource source, CDownloadMeter* meter, TransferTally* tally)
    : transfer_(transfer), stagingDir_(source.stagingDir), delta_(std::move(source), tally), meter_(meter) {
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
  if (transfer_.LastWriteError() == ENOSPC) diskFull_ = true;
  CountFailure(file);
  return false;
}

void CFetchList::Skip(const UpdateFileInfo& file) {
  ++wanted_;
  CountFailure(file);
}

void CFetchList::CountFailure(const UpdateFileInfo& file) {
  ++failed_;
  if (missing_.size() < diagnostics::kShownPerKind) missing_.push_back(file.fileName);
  // What the file still needs: a ".part" kept from this run or an earlier
  // one is resumed, not fetched again.
  std::uint64_t size = 0;
  if (!ParseDecimalSize(file.size, size)) return;
  FileStamp part;
  if (StampRegularFile(stagingDir_ + file.fileName + ".part", part)) size -= std::min(size, part.size);
  missingBytes_ += size;
}

std::string CFetchList::Shortfall() const {
  if (failed_ == 0) return "";
  const std::string shortage = DiskShortage();
  return "cannot fetch " + std::to_string(failed_) + " of the " + std::to_string(wanted_) + " changed files (" +
         diagnostics::NameList(missing_, failed_) + ")" + (shortage.empty() ? "" : "; " + shortage);
}

std::string CFetchList::DiskShortage() const {
  if (!diskFull_) return "";
  const long long free = FreeDiskBytes(stagingDir_);
  return "the disk holding " + NativePath(stagingDir_) + " is full: the files still to download need " +
         std::to_string(missingBytes_) + " bytes more, and " +
         (free >= 0 ? std::to_string(free) + " bytes are free there" : "the free space cannot be told");
}
