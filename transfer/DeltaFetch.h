// Staging changed files by the smallest way the manifest offers: a patch
// against the installed copy, else a compressed copy, else the plain file.
// Whatever way a file takes, what is staged is checked as a plain download is
// checked; a patch or copy that cannot be fetched, is damaged, or yields the
// wrong file is dropped for the plain file, for that file only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "update/DeltaOffers.h"
#include "update/UpdateManifest.h"

class CConfigFile;

// Where a run stages from.
struct StagingSource {
  std::string stagingDir;  // ends with a separator
  std::string installDir;  // the installed copies (the bases of patches); ends with a separator
  // The run's verified manifest, which lists patches and compressed copies:
  // the very parse the comparison used, never the staged file read again.
  // Used by one thread at a time. None: every file is fetched plain.
  std::shared_ptr<CConfigFile> manifest;
  unsigned updateType = 1;
  bool sha256 = false;  // a signed release: a result must match "SHA256" as well as "MD5"
};

// What staging moved.
struct TransferTally {
  std::uint64_t wireBytes = 0;  // bodies received for the staged files
  std::uint64_t fileBytes = 0;  // the staged files' listed sizes
  std::size_t patched = 0;
  std::size_t compressed = 0;
  std::size_t plain = 0;
};

// "12345 of 1234567 bytes over the wire (1.0%; 2 patched, 1 compressed, 0 plain)".
std::string DescribeTally(const TransferTally& tally);

class CDeltaFetch {
 public:
  // Reads the offers from source.manifest as each file is fetched. tally,
  // when given, is where Tally() adds up; it is up to date before a file is
  // reported to a window.
  explicit CDeltaFetch(StagingSource source, TransferTally* tally = nullptr);
  ~CDeltaFetch();
  CDeltaFetch(const CDeltaFetch&) = delete;
  CDeltaFetch& operator=(const CDeltaFetch&) = delete;

  // Stages file at stagingDir + fileName. The result is GetRemoteFile's: 0
  // staged, -1 not (then the plain file's fetch failed as GetRemoteFile
  // says, LastFetchAnswered included). The plain file is fetched with
  // notifyWnd and notifyMsg; a file staged otherwise is reported to notifyWnd
  // once complete as a fetched file is, with wParam == lParam == its size.
  // transfer's size caps are its own for the plain file; a patch or copy is
  // capped at its listed size. A staged patched or compressed result has been
  // checked already; a plain one is checked by the caller, as before.
  int FetchFile(CZOLTUpdateIntf& transfer, const UpdateFileInfo& file, HWND notifyWnd = nullptr,
                unsigned notifyMsg = 0);

  // The digests of the file the last FetchFile staged (MD5, and SHA-256 when
  // source.sha256 or the transfer's kinds ask for it).
  const FileDigests& LastDigests() const { return lastDigests_; }
  const TransferTally& Tally() const { return *tally_; }

 private:
  bool TryOffer(CZOLTUpdateIntf& transfer, const UpdateFileInfo& file, std::uint64_t size, const DeltaOffer& offer,
                const std::string& installedMd5);

  StagingSource source_;
  std::shared_ptr<CConfigFile> manifest_;
  FileDigests lastDigests_;
  TransferTally ownTally_;
  TransferTally* tally_;
};
