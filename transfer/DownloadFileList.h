// Fetching a list of files into a staging directory in the caller's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "transfer/DownloadMeter.h"
#include "update/ReleaseTrust.h"
#include "update/UpdateManifest.h"

// Download caps by remote name.
using SizeCaps = std::vector<std::pair<std::string, std::uint64_t>>;

// Each file's manifest "SIZE" as the cap of its download. A SIZE that is not
// a plain decimal number gives no cap of its own (the transfer's default
// applies).
SizeCaps ManifestSizeCaps(const std::vector<UpdateFileInfo>& files);
// The same for one file: false when its SIZE gives no cap.
bool ManifestSizeCap(const UpdateFileInfo& file, std::uint64_t& bytes);
void LimitSizes(CZOLTUpdateIntf& transfer, const SizeCaps& caps);

// Creates the folder that will hold localPath when it is missing (a failure
// shows in the fetch that follows).
void PrepareLocalDirectory(const std::string& localPath);

// Fetches each name into stagingDir + name, creating its folders first, in
// order (files already fetched stay). The first failure ends the list, except
// that with missing given, a file the servers answered for but did not deliver
// (missing there, cut short) is added to missing and the list goes on, so that
// every missing file is named; any other failure (no server reachable, a local
// write refused, a cancel) still ends it, and is added to missing too. True when
// every name was fetched; an empty list is true at once. With digests given, it
// receives the digests of each name's file (taken while it was written; empty
// for a file that did not arrive), in the order of names. Progress shows on
// meter (one of the list's own when null, whose summary is then logged).
bool DownloadFileList(const std::string& stagingDir, unsigned updateType, CZOLTUpdateIntf& transfer,
                      const std::vector<std::string>& names, std::vector<std::string>* missing = nullptr,
                      std::vector<FileDigests>* digests = nullptr, CDownloadMeter* meter = nullptr);

// The same for an owner that has stagingDir, updateType and transfer members
// (the update dialog, the silent-update object).
template <class Owner>
bool DownloadFileList(Owner& owner, const std::vector<std::string>& names, std::vector<std::string>* missing = nullptr,
                      std::vector<FileDigests>* digests = nullptr) {
  return DownloadFileList(owner.stagingDir, static_cast<unsigned>(owner.updateType), *owner.transfer, names, missing,
                          digests);
}

// Fetches the manifest name into stagingDir + name for an installation that
// requires signed releases: from the first server whose manifest passes
// trust.CheckManifest for updateType and the highest serial accepted so far
// (its signature fetched from the same server right after it); accepted then
// holds its release header. A server whose manifest is refused counts as
// failed and the next one is tried. False when no server gave one; then
// nothing of the manifest or its signature is left in stagingDir and cause
// says what each server gave (empty when every server failed to deliver and
// the transfer has reported why). A signature that does not arrive is the
// cause "it has no signature" of its server: the transfer's own line about it
// goes to the log only.
//
// With kept and useKept given, the manifest is asked for conditionally (see
// CZOLTUpdateIntf::GetSignedFile) and a 304 puts the kept pair in staging to
// be checked again; notModified then says whether it was the kept pair that
// passed. verified (if given) receives the bytes of the manifest that passed.
bool DownloadSignedManifest(const std::string& stagingDir, unsigned updateType, CZOLTUpdateIntf& transfer,
                            const std::string& name, const CReleaseTrust& trust,
                            const SSerialFloor& highestSerial, SReleaseHeader& accepted,
                            std::string& cause, CZOLTUpdateIntf::Validators* kept = nullptr,
                            const std::function<bool()>& useKept = {}, bool* notModified = nullptr,
                            std::string* verified = nullptr);
