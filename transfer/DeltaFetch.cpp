#include "transfer/DeltaFetch.h"

#include <cstdio>

#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/crypt/ZstdPatch.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/Files.h"
#include "transfer/DownloadFileList.h"
#include "update/ReleaseTrust.h"

std::string DescribeTally(const TransferTally& tally) {
  char share[32] = "";
  if (tally.fileBytes != 0)
    std::snprintf(share, sizeof share, "%.2f%%; ",
                  100.0 * static_cast<double>(tally.wireBytes) / static_cast<double>(tally.fileBytes));
  return std::to_string(tally.wireBytes) + " of " + std::to_string(tally.fileBytes) + " bytes over the wire (" + share +
         std::to_string(tally.patched) + " patched, " + std::to_string(tally.compressed) + " compressed, " +
         std::to_string(tally.plain) + " plain)";
}

CDeltaFetch::CDeltaFetch(StagingSource source, TransferTally* tally)
    : source_(std::move(source)), tally_(tally != nullptr ? tally : &ownTally_) {
  manifest_ = source_.manifest;
}

CDeltaFetch::~CDeltaFetch() = default;

int CDeltaFetch::FetchFile(CZOLTUpdateIntf& transfer, const UpdateFileInfo& file, HWND notifyWnd, unsigned notifyMsg) {
  lastDigests_ = {};
  const std::string localPath = source_.stagingDir + file.fileName;
  PrepareLocalDirectory(localPath);
  std::uint64_t size = 0;
  const bool sized = ParseDecimalSize(file.size, size);
  // Without an exact size nothing but the plain file can be capped and
  // checked. The installed copy is hashed again only when a patch is listed:
  // the patch must fit the copy as it is now, whatever the comparison saw
  // (the dialog's check may lie minutes back), and the copy was read moments
  // ago, so this reads the page cache. Only the smallest offer is tried:
  // whatever broke it (a server without the feature's files, a broken mirror)
  // likely breaks the next one too, and the plain file is what the run relies on.
  if (sized && manifest_) {
    std::string installedMd5;
    if (ListsPatches(*manifest_, file.fileName) &&
        CMD5().GetFileMD5((source_.installDir + file.fileName).c_str(), installedMd5) == 0)
      installedMd5.clear();
    const std::vector<DeltaOffer> offers = ReadDeltaOffers(*manifest_, file.fileName, installedMd5, size);
    if (!offers.empty() && TryOffer(transfer, file, size, offers.front(), installedMd5)) {
      const DeltaOffer& offer = offers.front();
      tally_->wireBytes += offer.size;
      tally_->fileBytes += size;
      ++(offer.patch ? tally_->patched : tally_->compressed);
      if (notifyWnd != nullptr)
        SendMessageA(notifyWnd, notifyMsg, static_cast<WPARAM>(size), static_cast<LPARAM>(size));
      return 0;
    }
  }
  // Counted first: the transfer reports the file before it returns.
  const TransferTally before = *tally_;
  tally_->wireBytes += size;
  tally_->fileBytes += size;
  ++tally_->plain;
  const int result =
      transfer.GetRemoteFile(source_.updateType, file.fileName.c_str(), localPath.c_str(), notifyWnd, notifyMsg);
  if (result == -1) *tally_ = before;
  if (result != -1) lastDigests_ = transfer.LastDigests();
  return result;
}

bool CDeltaFetch::TryOffer(CZOLTUpdateIntf& transfer, const UpdateFileInfo& file, std::uint64_t size,
                           const DeltaOffer& offer, const std::string& installedMd5) {
  const std::string localPath = source_.stagingDir + file.fileName;
  const std::string framePath = source_.stagingDir + offer.remoteName;
  const std::string what = offer.patch ? "the patch " + offer.remoteName : "the compressed copy " + offer.remoteName;
  const auto fallBack = [&](const std::string& why) {
    DeleteFileA(framePath.c_str());
    diagnostics::LogFact(file.fileName + ": " + what + " " + why + "; fetching the plain file instead");
    return false;
  };
  PrepareLocalDirectory(framePath);
  const unsigned kinds = transfer.DigestKinds();
  bool arrived = false;
  FileDigests frameDigests;
  {
    // A missing or broken frame costs the plain file, not the run.
    diagnostics::CCausesAsFacts quiet;
    transfer.LimitSize(offer.remoteName, offer.size);
    transfer.SetDigestKinds(kDigestSHA256);
    arrived = transfer.GetRemoteFile(source_.updateType, offer.remoteName.c_str(), framePath.c_str(), nullptr, 0) != -1;
    frameDigests = transfer.LastDigests();
    transfer.SetDigestKinds(kinds);
  }
  if (!arrived) return fallBack("cannot be fetched");
  if (frameDigests.sha256 != offer.sha256) return fallBack("arrived with another SHA-256 than the manifest lists");

  const bool sha256 = source_.sha256 || (kinds & kDigestSHA256) != 0;
  CStreamDigest digest(sha256 ? kDigestMD5 | kDigestSHA256 : kDigestMD5);
  const std::string basePath = offer.patch ? source_.installDir + file.fileName : std::string();
  std::string cause;
  if (!DecodeZstdFile(framePath, basePath, localPath, size, digest, cause)) return fallBack(cause);
  DeleteFileA(framePath.c_str());
  const FileDigests digests = digest.Finish();
  if (!DigestsMatch(file, digests, source_.sha256, &cause)) {
    DeleteFileA(localPath.c_str());
    // Said apart for the operator: the frame may be fine and the base not.
    std::string baseDigest;
    if (offer.patch && CMD5().GetFileMD5(basePath.c_str(), baseDigest) != 0 && baseDigest != installedMd5)
      cause = "the installed copy changed while it was patched";
    return fallBack("gave another file than the published one (" + cause + ")");
  }
  lastDigests_ = digests;
  return true;
}
