#include "update/DeltaOffers.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"

namespace {

bool IsLowerHex(const std::string& text, std::size_t length) {
  return text.size() == length && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

bool ParseDecimalSize(const std::string& text, std::uint64_t& size) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  size = std::stoull(text);
  return true;
}

bool LiesInDeltaFolder(std::string_view name) {
  const std::string_view folder = name.substr(0, name.find_first_of("\\/"));
  return std::equal(folder.begin(), folder.end(), std::string_view(kDeltaFolder).begin(),
                    std::string_view(kDeltaFolder).end(), [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
                    });
}

std::string PatchKey(const std::string& baseMd5) { return kPatchKeyPrefix + baseMd5; }

std::string PatchValue(std::uint64_t size, const std::string& sha256) { return std::to_string(size) + " " + sha256; }

std::string PatchRemoteName(const std::string& sha256) { return std::string(kDeltaFolder) + "\\" + sha256 + ".patch"; }

std::string PackedRemoteName(const std::string& sha256) { return std::string(kDeltaFolder) + "\\" + sha256 + ".zst"; }

bool ListsPatches(CConfigFile& manifest, const std::string& entry) {
  bool found = false;
  const std::size_t prefix = std::char_traits<char>::length(kPatchKeyPrefix);
  manifest.VisitSection(entry, [&](std::string_view line) {
    if (line.size() < prefix) return;
    for (std::size_t i = 0; i < prefix; ++i)
      if (std::toupper(static_cast<unsigned char>(line[i])) != kPatchKeyPrefix[i]) return;
    found = true;
  });
  return found;
}

std::vector<DeltaOffer> ReadDeltaOffers(CConfigFile& manifest, const std::string& entry,
                                        const std::string& installedMd5, std::uint64_t fileSize) {
  std::vector<DeltaOffer> offers;
  const auto offer = [&](bool patch, const std::string& size, const std::string& sha256) {
    DeltaOffer candidate;
    candidate.patch = patch;
    if (!ParseDecimalSize(size, candidate.size) || candidate.size >= fileSize || !IsLowerHex(sha256, 64)) return;
    candidate.sha256 = sha256;
    candidate.remoteName = patch ? PatchRemoteName(sha256) : PackedRemoteName(sha256);
    offers.push_back(std::move(candidate));
  };
  if (IsLowerHex(installedMd5, 32)) {
    std::string value;
    manifest.ReadString(entry, PatchKey(installedMd5), "", value);
    const auto space = value.find(' ');
    if (space != std::string::npos) offer(true, value.substr(0, space), value.substr(space + 1));
  }
  std::string size, sha256;
  manifest.ReadString(entry, kPackedSizeKey, "", size);
  manifest.ReadString(entry, kPackedSha256Key, "", sha256);
  if (!size.empty()) offer(false, size, sha256);
  std::stable_sort(offers.begin(), offers.end(),
                   [](const DeltaOffer& a, const DeltaOffer& b) { return a.size < b.size; });
  return offers;
}
