#include "update/Rollout.h"

#include <cerrno>
#include <optional>

#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "platform/crypt/Random.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "update/UpdateManifest.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The id's bytes from the file's text, which must be exactly what
// InstallationId writes; anything else is a damaged file.
std::optional<std::string> ParseId(const std::string& text) {
  if (text.size() != 2 * kInstallationIdBytes + 1 || text.back() != '\n') return std::nullopt;
  std::string id(kInstallationIdBytes, '\0');
  for (std::size_t i = 0; i < kInstallationIdBytes; ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    id[i] = static_cast<char>(high * 16 + low);
  }
  return id;
}

std::string IdText(const std::string& id) {
  std::string text;
  for (const unsigned char byte : id) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 15];
  }
  return text + "\n";
}

// The share a ROLLOUT text names, or nothing when it names none.
std::optional<int> ParseShare(const std::string& text) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int share = std::stoi(text);
  if (share > 100) return std::nullopt;
  return share;
}

}  // namespace

RolloutOffer ReadRolloutOffer(CConfigFile& manifest) {
  RolloutOffer offer;
  manifest.ReadString("Version", "VERSION", "", offer.version);
  manifest.ReadString("Version", "REGION", "", offer.region);
  offer.unconditional = manifest.ReadInteger("Version", "UNCONDITIONALUPDATE", 0);
  manifest.ReadString("Version", "ROLLOUT", "", offer.rollout);
  return offer;
}

std::string InstallationId(const std::string& appPath, std::string& cause) {
  const std::string path = appPath + kInstallationIdPath;
  std::string text;
  SGuardedRead rules;
  rules.maxBytes = 4 * kInstallationIdBytes;
  rules.ownOnly = true;
  rules.privateState = true;
  const bool found = ReadFileGuarded(path, text, rules);
  if (found) {
    if (auto id = ParseId(text)) return *id;
  }
  std::string id(kInstallationIdBytes, '\0');
  if (!FillRandomBytes(reinterpret_cast<unsigned char*>(id.data()), id.size())) {
    cause = "the system's random source gave no bytes for an installation id";
    return std::string();
  }
  // The folder is made by the guarded seam (never through a link), and the
  // rename replaces whatever stands at the name (a link, another user's file)
  // without following or writing it.
  const std::string folder = path.substr(0, path.find_last_of('\\'));
  const bool replacing = found || PathFileExistsA(path.c_str()) || PathIsSymbolicLinkA(path.c_str());
  if (!CreateDirectoryTree(folder.c_str()) || !WriteFileAtomically(path, IdText(id))) {
    const int error = errno;
    cause = "cannot keep an installation id in " + NativePath(path) + ": " + diagnostics::ErrorText(error);
    return std::string();
  }
  diagnostics::LogFact(replacing ? "replaced the unusable installation id in " + NativePath(path)
                                 : "made an installation id in " + NativePath(path));
  return id;
}

int RolloutBucket(std::string_view id, std::string_view version) {
  std::string bytes(id);
  bytes += version;
  const std::string digest = CMD5::SHA256OfBytes(bytes.data(), bytes.size());
  int bucket = 0;
  for (const char digit : digest) bucket = (bucket * 16 + HexValue(digit)) % 100;
  return bucket;
}

bool HeldBackByRollout(const RolloutOffer& offer, const std::string& localVersion, const std::string& region,
                       const std::string& appPath, std::string* undecided) {
  if (offer.unconditional != 0 || offer.region != region || !IsVersionGreater(offer.version, localVersion) ||
      offer.rollout.empty())
    return false;
  const std::optional<int> share = ParseShare(offer.rollout);
  if (!share) {
    diagnostics::ReportCause("version " + offer.version + " has ROLLOUT=" + offer.rollout +
                             ", which is not a share from 0 to 100; it waits until it reaches every installation");
    return true;
  }
  if (*share >= 100) return false;
  std::string cause;
  const std::string id = InstallationId(appPath, cause);
  if (id.empty() && undecided != nullptr) {
    *undecided = cause + "; version " + offer.version + " is rolled out to " + offer.rollout +
                 "% and this installation cannot be placed in that share until the id can be kept there";
    return true;
  }
  if (id.empty()) {
    diagnostics::ReportCause(cause + "; version " + offer.version + ", rolled out to " + offer.rollout +
                             "%, waits until it reaches every installation");
    return true;
  }
  const int bucket = RolloutBucket(id, offer.version);
  const std::string where = "(bucket " + std::to_string(bucket) + " of " + std::to_string(*share) + "%)";
  if (bucket < *share) {
    diagnostics::LogFact("version " + offer.version + " taken inside a staged rollout " + where);
    return false;
  }
  diagnostics::LogFact("version " + offer.version + " held back by a staged rollout " + where);
  return true;
}

bool HeldBackByRollout(const std::string& manifestPath, const std::string& localVersion, const std::string& region,
                       const std::string& appPath) {
  CConfigFile manifest(manifestPath);
  return HeldBackByRollout(ReadRolloutOffer(manifest), localVersion, region, appPath);
}
