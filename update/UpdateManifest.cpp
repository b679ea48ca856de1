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
void AppendIfChanged(CConfigFile& manifest, std::string entry, const std::string* installedDigest,
                     std::vector<UpdateFileInfo>& files) {
  UpdateFileInfo info;
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
  info.fileName = std::move(entry);
  files.push_back(std::move(info));
}

// Compares entries a batch at a time: the installed copies of one batch are
// hashed on every processor at once, and only one batch of names and digests
// is held, so a manifest of a million entries costs no more memory here than
// one of a few thousand.
class BatchComparison {
 public:
  BatchComparison(CConfigFile& manifest, const std::string& directory, std::vector<UpdateFileInfo>& files)
      : manifest_(manifest), directory_(directory), files_(files) {}
  ~BatchComparison() { Flush(); }
  BatchComparison(const BatchComparison&) = delete;
  BatchComparison& operator=(const BatchComparison&) = delete;

  void Add(std::string_view entry) {
    if (!IsSafeRelativeName(entry)) return;
    entries_.emplace_back(entry);
    if (entries_.size() == kBatch) Flush();
  }

  void Flush() {
    constexpr std::size_t kMissing = static_cast<std::size_t>(-1);
    std::vector<std::string> installed;
    std::vector<std::size_t> slot(entries_.size(), kMissing);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      std::string localPath = directory_ + entries_[i];
      if (!PathFileExistsA(localPath.c_str())) continue;
      slot[i] = installed.size();
      installed.push_back(std::move(localPath));
    }
    const std::vector<std::string> digests = CMD5::GetFilesMD5(installed);
    for (std::size_t i = 0; i < entries_.size(); ++i)
      AppendIfChanged(manifest_, std::move(entries_[i]), slot[i] == kMissing ? nullptr : &digests[slot[i]], files_);
    entries_.clear();
  }

 private:
  static constexpr std::size_t kBatch = 4096;
  CConfigFile& manifest_;
  const std::string& directory_;
  std::vector<UpdateFileInfo>& files_;
  std::vector<std::string> entries_;
};

}  // namespace

void CompareManifestEntry(CConfigFile& manifest, CMD5& md5, const std::string& directory, std::string entry,
                          std::vector<UpdateFileInfo>& files) {
  if (!IsSafeRelativeName(entry)) return;
  const std::string localPath = directory + entry;
  if (!PathFileExistsA(localPath.c_str())) return AppendIfChanged(manifest, std::move(entry), nullptr, files);
  std::string installed;
  md5.GetFileMD5(localPath.c_str(), installed);
  AppendIfChanged(manifest, std::move(entry), &installed, files);
}

void CompareManifestEntries(CConfigFile& manifest, const std::string& directory,
                            const std::vector<std::string>& entries, std::vector<UpdateFileInfo>& files) {
  BatchComparison comparison(manifest, directory, files);
  for (const std::string& entry : entries) comparison.Add(entry);
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

  // One name pointing outside the installation makes the whole manifest
  // suspect: nothing of it is installed, not even the harmless entries.
  bool safe = true;
  const long count = manifest.VisitSection("FILES", [&](std::string_view entry) {
    if (!IsSafeRelativeName(entry)) safe = false;
  });
  if (count == 0 || !safe) return -1;

  // Sized for the case where every entry differs: growing the list by
  // doubling would hold two copies of it for a moment, and a large manifest's
  // list is the biggest thing the comparison keeps.
  files.reserve(files.size() + static_cast<std::size_t>(count));
  BatchComparison comparison(manifest, request.installDir, files);
  manifest.VisitSection("FILES", [&](std::string_view entry) { comparison.Add(entry); });
  return 0;
}
