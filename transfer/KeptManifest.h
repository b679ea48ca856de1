// The last manifest a run fetched, kept with what its server said about it, so
// that the next check can ask the server whether it changed and, when it has
// not, read the kept copy instead of fetching the whole manifest again.
//
// Kept copies live in appPath + "UPDATE.kept\<update type>\": beside the
// staging folders below "UPDATE\", never inside a folder that a run removes
// (a component without a name is staged in "UPDATE\" itself). Each name has its
// copy and a "<name>.validators" file (server, ETag, Last-Modified and the
// copy's MD5). Beside them "<name>.serial" holds the highest serial of a
// signed release of that manifest accepted for the type: "UpdateConfig.ini"
// and "config.ini" of one type are published (and re-signed) apart, so each
// has its own floor. "release-serial", which earlier versions kept for the
// whole type, still gives the floor of a manifest that has no record of its own.
//
// Everything kept is a hint or a guard, never a reason to install: it is read
// only from regular files of the user's own, never through a link, and within
// a bounded size. A copy that is refused or whose digest no longer matches is
// dropped (the run fetches in full); a damaged serial record, one of another
// user's or one with a second name (a hard link) reads as none, and the log
// says so.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "update/ReleaseTrust.h"

class CKeptFiles {
 public:
  CKeptFiles(const std::string& appPath, unsigned updateType);

  // The validators of the kept copy of name. False (and nothing to ask
  // conditionally) when there is no intact copy, or the folder is a link.
  bool Lookup(const std::string& name, CZOLTUpdateIntf::Validators& validators) const;
  // The bytes of the kept copy that the last Lookup found intact, handed over
  // once (they are not read or hashed again). False when Lookup found none.
  bool TakeLookedUp(const std::string& name, std::string& bytes) const;
  // Copies the kept copy of name to path (atomically). False when there is no
  // intact copy or the copy fails.
  bool CopyOut(const std::string& name, const std::string& path) const;
  // Keeps the file at path as the copy of name. The old validators go first
  // and the new ones are written last, so a run stopped half way leaves no
  // validators that could vouch for the wrong bytes. False on failure.
  bool Keep(const std::string& name, const std::string& path, const CZOLTUpdateIntf::Validators& validators) const;
  // Forgets the kept copy of name.
  void Forget(const std::string& name) const;

  // The highest serial of a signed manifest name accepted for the type, with
  // the record that keeps it (name's own, else the type's earlier shared
  // one); no serial when no intact record is kept.
  SSerialFloor HighestSerial(const std::string& name) const;
  // Raises name's record to serial (written atomically); a serial not above
  // the floor leaves it. The type's shared record is never written.
  void RecordSerial(const std::string& name, std::uint64_t serial) const;

  const std::string& folder() const { return folder_; }

 private:
  bool Usable() const;
  // The serial kept in file of the folder; none (logged) when it is missing,
  // damaged, or not a private file of the user's own.
  std::optional<std::uint64_t> ReadSerial(const std::string& file) const;
  // The kept copy of name and its validators when the copy is intact.
  bool ReadIntact(const std::string& name, CZOLTUpdateIntf::Validators& validators, std::string& bytes) const;

  std::string appPath_;
  std::string folder_;  // ends with "\"
  mutable std::string lookedUpName_, lookedUpBytes_;
};

// Fetches manifestName into stagingDir + manifestName (its folder created
// first): conditionally when a copy of it is kept. On 304 Not Modified the
// kept copy's bytes, read and checked once before the request, are the
// content, and nothing is put in staging. When trust requires signed releases
// the signature comes with it (DownloadSignedManifest): on 304 the kept pair
// is put in staging and checked again as a fresh one would be, against the
// serial recorded for the type; the serial of an accepted signed manifest is
// recorded. A newly fetched manifest (and signature) is kept for the next run.
// True when the manifest's bytes are in content: for a signed release the
// very bytes whose signature was checked, otherwise the staged file as read
// once right after the fetch (what the run acts on from then on, whatever
// happens to the staged file), or the kept copy. False (with cause) when no
// server delivered one; cause is empty when the transfer has reported why
// each server failed already.
// keep false: a look that changes nothing kept. The manifest is fetched in
// full (no kept copy is read or written), and a signed one is still held to
// the recorded serial, which is not raised.
bool FetchManifest(const std::string& appPath, const std::string& stagingDir, unsigned updateType,
                   CZOLTUpdateIntf& transfer, const std::string& manifestName, const CReleaseTrust& trust,
                   std::string& cause, std::string& content, bool keep = true);
