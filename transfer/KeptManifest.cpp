#include "transfer/KeptManifest.h"

#include <cerrno>
#include <charconv>

#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "transfer/DownloadFileList.h"

namespace {

constexpr const char* kValidatorsSuffix = ".validators";
constexpr const char* kSerialSuffix = ".serial";
// The record of the whole type that versions before one record per manifest kept.
constexpr const char* kSharedSerialFile = "release-serial";
constexpr std::size_t kMaximumValidatorsBytes = 8192;

// One value per line; header values never hold a line break, and a value that
// somehow did would shift the lines and make the file unreadable, not wrong.
std::string Lines(const CZOLTUpdateIntf::Validators& validators, const std::string& digest) {
  return validators.server + "\n" + validators.etag + "\n" + validators.lastModified + "\n" + digest + "\n";
}

bool HasLineBreak(const CZOLTUpdateIntf::Validators& v) {
  return (v.server + v.etag + v.lastModified).find_first_of("\r\n") != std::string::npos;
}

// Why a manifest did not arrive: empty when the transfer has reported why
// each server failed, which says it all.
std::string FetchFailure(const CZOLTUpdateIntf& transfer, const std::string& manifestName) {
  return transfer.LastFetchReported() ? std::string() : "cannot fetch " + manifestName + " from the update servers";
}

bool ReadManifest(const std::string& path, const std::string& name, std::string& cause, std::string& content) {
  if (ReadWholeFile(path, content)) return true;
  cause = "cannot read the fetched " + name + ": " + diagnostics::ErrorText(errno);
  return false;
}

}  // namespace

CKeptFiles::CKeptFiles(const std::string& appPath, unsigned updateType)
    : appPath_(appPath), folder_(appPath + "UPDATE.kept\\" + std::to_string(updateType) + "\\") {}

bool CKeptFiles::Usable() const {
  // The kept copies decide what the next run installs: never read or write
  // them through a link that could lead out of the application directory.
  for (const std::string& folder : {appPath_ + "UPDATE.kept", folder_.substr(0, folder_.size() - 1)})
    if (PathIsSymbolicLinkA(folder.c_str())) return false;
  return true;
}

bool CKeptFiles::ReadIntact(const std::string& name, CZOLTUpdateIntf::Validators& validators,
                            std::string& bytes) const {
  if (!Usable()) return false;
  std::string text, cause;
  const auto refused = [&] {
    // Something stands there that this user did not keep (another user's
    // file, a link, a FIFO): drop it, so that the next fetch is a full one.
    if (errno != ENOENT) {
      diagnostics::LogFact("kept copy not used: " + cause);
      Forget(name);
    }
    return false;
  };
  if (!ReadFileGuarded(folder_ + name + kValidatorsSuffix, text, {kMaximumValidatorsBytes, true}, &cause))
    return refused();
  std::string fields[4];
  std::size_t at = 0;
  for (auto& field : fields) {
    const auto end = text.find('\n', at);
    if (end == std::string::npos) return false;
    field = text.substr(at, end - at);
    at = end + 1;
  }
  if (at != text.size() || fields[0].empty() || (fields[1].empty() && fields[2].empty())) return false;
  if (!ReadFileGuarded(folder_ + name, bytes, {CZOLTUpdateIntf::kDefaultSizeCap, true}, &cause)) return refused();
  if (CMD5::OfBytes(bytes.data(), bytes.size()) != fields[3]) return false;
  validators = {fields[0], fields[1], fields[2]};
  return true;
}

bool CKeptFiles::Lookup(const std::string& name, CZOLTUpdateIntf::Validators& validators) const {
  // Read once: on a 304 these very bytes are what the run acts on.
  std::string bytes;
  if (!ReadIntact(name, validators, bytes)) return false;
  lookedUpName_ = name;
  lookedUpBytes_ = std::move(bytes);
  return true;
}

bool CKeptFiles::TakeLookedUp(const std::string& name, std::string& bytes) const {
  if (lookedUpName_ != name || lookedUpName_.empty()) return false;
  bytes = std::move(lookedUpBytes_);
  lookedUpName_.clear();
  lookedUpBytes_.clear();
  return true;
}

bool CKeptFiles::CopyOut(const std::string& name, const std::string& path) const {
  // The very bytes whose digest was checked go to staging.
  CZOLTUpdateIntf::Validators unused;
  std::string bytes;
  return ReadIntact(name, unused, bytes) && WriteFileAtomically(path, bytes);
}

bool CKeptFiles::Keep(const std::string& name, const std::string& path,
                      const CZOLTUpdateIntf::Validators& validators) const {
  if (!Usable()) return false;
  Forget(name);
  // A response without validators cannot be asked about next time.
  if (validators.server.empty() || (validators.etag.empty() && validators.lastModified.empty()) ||
      HasLineBreak(validators))
    return false;
  if (!PathIsDirectoryA(folder_.c_str())) CDirectoryEx::CreateMultipleDirectory(folder_);
  CMD5 md5;
  std::string digest;
  if (!md5.GetFileMD5(path.c_str(), digest)) return false;
  if (!CopyFileA(path.c_str(), (folder_ + name).c_str(), FALSE)) return false;
  return WriteFileAtomically(folder_ + name + kValidatorsSuffix, Lines(validators, digest));
}

void CKeptFiles::Forget(const std::string& name) const { DeleteFileA((folder_ + name + kValidatorsSuffix).c_str()); }

std::optional<std::uint64_t> CKeptFiles::ReadSerial(const std::string& file) const {
  const std::string path = folder_ + file;
  SGuardedRead rules;
  rules.maxBytes = 64;
  rules.ownOnly = true;
  rules.privateState = true;
  std::string text, cause;
  if (!ReadFileGuarded(path, text, rules, &cause)) {
    if (errno != ENOENT) diagnostics::LogFact("serial record not used, no floor known from it: " + cause);
    return std::nullopt;
  }
  // One decimal number and a line end; anything else, a number beyond 64
  // bits included, is damage, not a floor.
  std::uint64_t serial = 0;
  const bool digits = text.size() >= 2 && text.back() == '\n' && text[0] >= '0' && text[0] <= '9';
  const char* end = text.data() + text.size() - (digits ? 1 : 0);
  const auto [stop, error] = std::from_chars(text.data(), end, serial);
  if (!digits || error != std::errc() || stop != end) {
    diagnostics::LogFact("serial record " + NativePath(path) + " is damaged; no floor known from it");
    return std::nullopt;
  }
  return serial;
}

SSerialFloor CKeptFiles::HighestSerial(const std::string& name) const {
  if (!Usable()) return {};
  for (const std::string& file : {name + kSerialSuffix, std::string(kSharedSerialFile)})
    if (const auto serial = ReadSerial(file)) return {serial, NativePath(folder_ + file)};
  return {};
}

void CKeptFiles::RecordSerial(const std::string& name, std::uint64_t serial) const {
  const SSerialFloor highest = HighestSerial(name);
  if (!Usable() || (highest.serial && *highest.serial >= serial)) return;
  if (!PathIsDirectoryA(folder_.c_str())) CDirectoryEx::CreateMultipleDirectory(folder_);
  const std::string path = folder_ + name + kSerialSuffix;
  if (!WriteFileAtomically(path, std::to_string(serial) + "\n"))
    diagnostics::LogFact("cannot record release serial " + std::to_string(serial) + " in " + NativePath(path));
}

bool FetchManifest(const std::string& appPath, const std::string& stagingDir, unsigned updateType,
                   CZOLTUpdateIntf& transfer, const std::string& manifestName, const CReleaseTrust& trust,
                   std::string& cause, std::string& content, bool keep) {
  const CKeptFiles kept(appPath, updateType);
  if (!keep) {
    PrepareLocalDirectory(stagingDir + manifestName);
    if (trust.Required()) {
      SReleaseHeader accepted;
      return DownloadSignedManifest(stagingDir, updateType, transfer, manifestName, trust, kept.HighestSerial(manifestName),
                                    accepted, cause, nullptr, {}, nullptr, &content);
    }
    CZOLTUpdateIntf::Validators none;
    if (transfer.GetRemoteManifest(updateType, manifestName.c_str(), (stagingDir + manifestName).c_str(), none) != 0) {
      cause = FetchFailure(transfer, manifestName);
      return false;
    }
    return ReadManifest(stagingDir + manifestName, manifestName, cause, content);
  }
  const std::string signatureName = manifestName + kSignatureSuffix;
  const std::string localPath = stagingDir + manifestName;
  CZOLTUpdateIntf::Validators validators, signatureValidators;
  // A signed manifest is only asked about when its signature is kept with it.
  const bool conditional =
      kept.Lookup(manifestName, validators) && (!trust.Required() || kept.Lookup(signatureName, signatureValidators));
  if (!conditional) validators = {};

  if (trust.Required()) {
    PrepareLocalDirectory(localPath);
    bool notModified = false;
    const auto useKept = [&] {
      return kept.CopyOut(manifestName, localPath) && kept.CopyOut(signatureName, localPath + kSignatureSuffix);
    };
    const SSerialFloor highest = kept.HighestSerial(manifestName);
    SReleaseHeader accepted;
    bool fetched = DownloadSignedManifest(stagingDir, updateType, transfer, manifestName, trust, highest, accepted,
                                          cause, &validators, useKept, &notModified, &content);
    if (!fetched && conditional) {
      // The kept pair was refused (a key rotated away, an expiry passed, a
      // damaged copy): it must not stand in for the server's answer again.
      kept.Forget(manifestName);
      validators = {};
      fetched = DownloadSignedManifest(stagingDir, updateType, transfer, manifestName, trust, highest, accepted, cause,
                                       &validators, useKept, &notModified, &content);
    }
    if (!fetched) return false;
    kept.RecordSerial(manifestName, accepted.serial);
    if (!notModified && kept.Keep(manifestName, localPath, validators))
      kept.Keep(signatureName, localPath + kSignatureSuffix, validators);
    return true;
  }

  int result = transfer.GetRemoteManifest(updateType, manifestName.c_str(), localPath.c_str(), validators);
  // Not modified: the run reads the kept copy as it was checked before the
  // request, in place; nothing is copied into staging.
  if (result == 1 && kept.TakeLookedUp(manifestName, content)) return true;
  std::string unused;
  kept.TakeLookedUp(manifestName, unused);  // a manifest sent whole: the kept bytes are not held beside it
  if (result == 1) {
    PrepareLocalDirectory(localPath);
    if (kept.CopyOut(manifestName, localPath)) return ReadManifest(localPath, manifestName, cause, content);
    // The kept copy went missing since it was checked: ask for the whole file.
    kept.Forget(manifestName);
    validators = {};
    result = transfer.GetRemoteManifest(updateType, manifestName.c_str(), localPath.c_str(), validators);
  }
  if (result != 0) {
    cause = FetchFailure(transfer, manifestName);
    return false;
  }
  kept.Keep(manifestName, localPath, validators);
  return ReadManifest(localPath, manifestName, cause, content);
}
