#include "update/UpdateManifest.h"

#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/win32/Files.h"

UpdateCheckInfo::UpdateCheckInfo(std::string installDir, std::string manifestPath, std::string localVersion,
                                 std::string region)
    : installDir(std::move(installDir)),
      manifestPath(std::move(manifestPath)),
      localVersion(std::move(localVersion)),
      region(std::move(region)) {
  // On Linux the application directory ends with "/"; both count as an ending.
  if (!this->installDir.empty() && this->installDir.back() != '\\' && this->installDir.back() != '/')
    this->installDir += '\\';
}

bool IsSafeRelativeName(std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return false;
  if (name.front() == '\\' || name.front() == '/') return false;
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') return false;
  for (;;) {
    const auto separator = name.find_first_of("\\/");
    const std::string_view segment = name.substr(0, separator);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (separator == std::string_view::npos) return true;
    name.remove_prefix(separator + 1);
  }
}

bool AreSafeRelativeNames(const std::vector<std::string>& names) {
  for (const std::string& name : names)
    if (!IsSafeRelativeName(name)) return false;
  return true;
}

bool IsVersionGreater(const std::string& candidate, const std::string& installed) {
  return candidate.compare(installed) > 0;
}

namespace {

// The rule for one safe entry; installedDigest is null when the installed copy
// is missing.
void AppendIfChanged(CConfigFile& manifest, const std::string& entry, const std::string* installedDigest,
                     std::vector<UpdateFileInfo>& files) {
  UpdateFileInfo info;
  info.fileName = entry;
  if (installedDigest != nullptr) {
    manifest.ReadString(entry, "MD5", "", info.md5);
    if (*installedDigest == info.md5) return;
    manifest.ReadString(entry, "SIZE", "", info.size);
    manifest.ReadString(entry, "MODIFYTIME", "", info.modifyTime);
  } else {
    manifest.ReadString(entry, "SIZE", "", info.size);
    manifest.ReadString(entry, "MODIFYTIME", "", info.modifyTime);
    manifest.ReadString(entry, "MD5", "", info.md5);
  }
  manifest.ReadString(entry, "SHA256", "", info.sha256);
  files.push_back(std::move(info));
}

}  // namespace

void CompareManifestEntry(CConfigFile& manifest, CMD5& md5, const std::string& directory, const std::string& entry,
                          std::vector<UpdateFileInfo>& files) {
  if (!IsSafeRelativeName(entry)) return;
  const std::string localPath = directory + entry;
  if (!PathFileExistsA(localPath.c_str())) return AppendIfChanged(manifest, entry, nullptr, files);
  std::string installed;
  md5.GetFileMD5(localPath.c_str(), installed);
  AppendIfChanged(manifest, entry, &installed, files);
}

void CompareManifestEntries(CConfigFile& manifest, const std::string& directory,
                            const std::vector<std::string>& entries, std::vector<UpdateFileInfo>& files) {
  constexpr std::size_t kMissing = static_cast<std::size_t>(-1);
  std::vector<std::string> installed;
  std::vector<std::size_t> slot(entries.size(), kMissing);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!IsSafeRelativeName(entries[i])) continue;
    const std::string localPath = directory + entries[i];
    if (!PathFileExistsA(localPath.c_str())) continue;
    slot[i] = installed.size();
    installed.push_back(localPath);
  }
  const std::vector<std::string> digests = CMD5::GetFilesMD5(installed);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!IsSafeRelativeName(entries[i])) continue;
    AppendIfChanged(manifest, entries[i], slot[i] == kMissing ? nullptr : &digests[slot[i]], files);
  }
}

int CompareUpdateConfig(const UpdateCheckInfo& request, std::vector<UpdateFileInfo>& files) {
  if (request.installDir.empty()) return -1;
  if (!PathFileExistsA(request.manifestPath.c_str())) return -1;

  CConfigFile manifest(request.manifestPath);
  std::string remoteVersion;
  std::string remoteRegion;
  manifest.ReadString("Version", "VERSION", "", remoteVersion);
  manifest.ReadString("Version", "REGION", "", remoteRegion);
  const int unconditional = manifest.ReadInteger("Version", "UNCONDITIONALUPDATE", 0);
  if (unconditional == 0 && remoteRegion == request.region && !IsVersionGreater(remoteVersion, request.localVersion))
    return 1;

  std::vector<std::string> entries;
  manifest.ReadSection("FILES", entries);
  if (entries.empty()) return -1;
  // One name pointing outside the installation makes the whole manifest
  // suspect: nothing of it is installed, not even the harmless entries.
  if (!AreSafeRelativeNames(entries)) return -1;

  CompareManifestEntries(manifest, request.installDir, entries, files);
  return 0;
}
