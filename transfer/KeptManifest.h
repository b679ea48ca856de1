// The last manifest a run fetched, kept with what its server said about it, so
// that the next check can ask the server whether it changed and, when it has
// not, read the kept copy instead of fetching the whole manifest again.
//
// Kept copies live in appPath + "UPDATE.kept\<update type>\": beside the
// staging folders below "UPDATE\", never inside a folder that a run removes
// (a component without a name is staged in "UPDATE\" itself). Each name has its
// copy and a "<name>.validators" file (server, ETag, Last-Modified and the
// copy's MD5). A copy whose digest no longer matches is never used.
#pragma once

#include <string>

#include "platform/transfer/ZOLTUpdateIntf.h"

class CKeptFiles {
 public:
  CKeptFiles(const std::string& appPath, unsigned updateType);

  // The validators of the kept copy of name. False (and nothing to ask
  // conditionally) when there is no intact copy, or the folder is a link.
  bool Lookup(const std::string& name, CZOLTUpdateIntf::Validators& validators) const;
  // Copies the kept copy of name to path (atomically). False when there is no
  // intact copy or the copy fails.
  bool CopyOut(const std::string& name, const std::string& path) const;
  // Keeps the file at path as the copy of name. The old validators go first
  // and the new ones are written last, so a run stopped half way leaves no
  // validators that could vouch for the wrong bytes. False on failure.
  bool Keep(const std::string& name, const std::string& path, const CZOLTUpdateIntf::Validators& validators) const;
  // Forgets the kept copy of name.
  void Forget(const std::string& name) const;

  const std::string& folder() const { return folder_; }

 private:
  bool Usable() const;

  std::string appPath_;
  std::string folder_;  // ends with "\"
};

// Fetches manifestName into stagingDir + manifestName (its folder created
// first) with GetRemoteManifest: conditionally when a copy of it is kept, and
// on 304 Not Modified the kept copy is put there instead, byte for byte, so
// what follows reads exactly what a full fetch would have stored. A newly
// fetched manifest is kept for the next run. True when the manifest is in
// staging; false when no server delivered it (nothing kept changes then).
bool FetchManifest(const std::string& appPath, const std::string& stagingDir, unsigned updateType,
                   CZOLTUpdateIntf& transfer, const std::string& manifestName);

// The same for an owner with appPath, stagingDir, updateType, transfer and
// manifestName members (the update dialog, the silent-update object).
template <class Owner>
bool FetchManifest(Owner& owner) {
  return FetchManifest(owner.appPath, owner.stagingDir, static_cast<unsigned>(owner.updateType), *owner.transfer,
                       owner.manifestName);
}
