#include "update/UpdateManifest.h"

#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/win32/Files.h"
#include "update/DeltaOffers.h"
#include "update/DigestCache.h"

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

bool IsReleaseFileName(std::string_view name) { return IsSafeRelativeName(name) && !LiesInDeltaFolder(name); }

std::string ComponentNameProblem(std::string_view name) {
  constexpr std::size_t kLongestFolderName = 255;
  if (name.empty()) return "";
  if (!IsSafeRelativeName(name) || name.find_first_of("\\/:") != std::string_view::npos)
    return "\"" + std::string(name) +
           "\" is not a component directory name: -d: takes one folder name below the application directory (no "
           "\\, /, drive or \".\"/\"..\")";
  // Cut in the cause: the name itself may be far longer than a line.
  if (name.size() > kLongestFolderName)
    return "the directory name \"" + std::string(name.substr(0, 40)) + "...\" is too long (" +
           std::to_string(name.size()) + " bytes; a folder name has at most " + std::to_string(kLongestFolderName) +
           ")";
  return "";
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

// The entry's SIZE as a plain decimal number; false when it is missing or is
// none (then the size decides nothing, and the digest decides as always).
bool ListedSize(CConfigFile& manifest, const std::string& entry, std::uint64_t& size) {
  std::string text;
  manifest.ReadString(entry, "SIZE", "", text);
  return ParseDecimalSize(text, size);
}

// The rule for one safe entry; installedDigest is null when the installed copy
// is missing or was not read because its size differs from the manifest's.
template <class Files>
void AppendIfChanged(CConfigFile& manifest, std::string entry, const std::string* installedDigest, Files& files,
                     bool sizeDiffers = false) {
  UpdateFileInfo info;
  if (installedDigest != nullptr || sizeDiffers) {
    manifest.ReadString(entry, "MD5", "", info.md5);
    if (!sizeDiffers && *installedDigest == info.md5) return;
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
template <class Files>
class BatchComparison {
 public:
  BatchComparison(CConfigFile& manifest, const std::string& directory, Files& files, CDigestCache* cache = nullptr,
                  std::size_t batch = kBatch, unsigned threads = 0)
      : manifest_(manifest),
        directory_(directory),
        files_(files),
        cache_(cache),
        batch_(batch != 0 ? batch : kBatch),
        threads_(threads) {}
  BatchComparison(const BatchComparison&) = delete;
  BatchComparison& operator=(const BatchComparison&) = delete;

  void Add(std::string_view entry) {
    if (!IsReleaseFileName(entry)) return;
    entries_.emplace_back(entry);
    if (entries_.size() >= batch_) Flush();
  }

  // Compares what is left; called once the last entry was added. Not left to
  // a destructor: hashing can fail by throwing, which must reach the caller.
  void Flush() {
    constexpr std::size_t kMissing = static_cast<std::size_t>(-1);
    std::vector<std::string> installed, known;
    std::vector<std::size_t> slot(entries_.size(), kMissing);
    std::vector<bool> hashed(entries_.size(), true), sizeDiffers(entries_.size(), false);
    // Taken before the stats: what changes from now on is stamped no earlier.
    const std::int64_t seen = cache_ != nullptr ? FileClockNow() : 0;
    std::vector<FileStamp> stamps(entries_.size());
    std::vector<bool> stamped(stamps.size(), false);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      std::string localPath = directory_ + entries_[i];
      std::uint64_t listedSize = 0;
      const bool sized = ListedSize(manifest_, entries_[i], listedSize);
      const bool regular = (cache_ != nullptr || sized) && StampRegularFile(localPath, stamps[i]);
      // A copy of another size than the release's file differs from it: it
      // is not read (most changed files of a release change size). Decided
      // before the cache, so that a kept digest cannot say otherwise.
      if (regular && sized && stamps[i].size != listedSize) {
        sizeDiffers[i] = true;
        continue;
      }
      if (cache_ != nullptr && regular) {
        stamped[i] = true;
        std::string md5, sha256;
        if (cache_->Lookup(entries_[i], stamps[i], md5, &sha256)) {
          cache_->Record(entries_[i], stamps[i], seen, md5, sha256);
          slot[i] = known.size();
          hashed[i] = false;
          known.push_back(std::move(md5));
          continue;
        }
      } else if (!regular && !PathFileExistsA(localPath.c_str())) {
        continue;
      }
      slot[i] = installed.size();
      installed.push_back(std::move(localPath));
    }
    const std::vector<std::string> digests = CMD5::GetFilesMD5(installed, threads_);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const std::string* digest = slot[i] == kMissing ? nullptr : hashed[i] ? &digests[slot[i]] : &known[slot[i]];
      // A copy that is a link, or was no regular file when stamped, is hashed
      // every time.
      if (hashed[i] && digest != nullptr && cache_ != nullptr && stamped[i])
        cache_->Record(entries_[i], stamps[i], seen, *digest);
      AppendIfChanged(manifest_, std::move(entries_[i]), digest, files_, sizeDiffers[i]);
    }
    entries_.clear();
  }

 private:
  static constexpr std::size_t kBatch = 4096;
  CConfigFile& manifest_;
  const std::string& directory_;
  Files& files_;
  CDigestCache* cache_;
  std::size_t batch_;
  unsigned threads_;
  std::vector<std::string> entries_;
};

}  // namespace

void CompareManifestEntry(CConfigFile& manifest, CMD5& md5, const std::string& directory, std::string entry,
                          std::vector<UpdateFileInfo>& files) {
  if (!IsReleaseFileName(entry)) return;
  const std::string localPath = directory + entry;
  if (!PathFileExistsA(localPath.c_str())) return AppendIfChanged(manifest, std::move(entry), nullptr, files);
  std::uint64_t listedSize = 0;
  FileStamp stamp;
  if (ListedSize(manifest, entry, listedSize) && StampRegularFile(localPath, stamp) && stamp.size != listedSize)
    return AppendIfChanged(manifest, std::move(entry), nullptr, files, true);
  std::string installed;
  md5.GetFileMD5(localPath.c_str(), installed);
  AppendIfChanged(manifest, std::move(entry), &installed, files);
}

void CompareManifestEntries(CConfigFile& manifest, const std::string& directory,
                            const std::vector<std::string>& entries, std::vector<UpdateFileInfo>& files) {
  BatchComparison<std::vector<UpdateFileInfo>> comparison(manifest, directory, files);
  for (const std::string& entry : entries) comparison.Add(entry);
  comparison.Flush();
}

void CompareManifestEntries(CConfigFile& manifest, const UpdateCheckInfo& request,
                            const std::vector<std::string>& entries, IChangedFileSink& files) {
  BatchComparison<IChangedFileSink> comparison(manifest, request.installDir, files, request.digestCache,
                                               request.hashBatch, request.hashThreads);
  for (const std::string& entry : entries) comparison.Add(entry);
  comparison.Flush();
}

template <class Files>
int CompareVersioned(CConfigFile& manifest, const UpdateCheckInfo& request, Files& files) {
  if (request.installDir.empty()) return -1;
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
    if (!IsReleaseFileName(entry)) safe = false;
  });
  if (count == 0 || !safe) return -1;

  // Sized for the case where every entry differs: growing the list by
  // doubling would hold two copies of it for a moment, and a large manifest's
  // list is the biggest thing the comparison keeps.
  files.reserve(files.size() + static_cast<std::size_t>(count));
  BatchComparison<Files> comparison(manifest, request.installDir, files, request.digestCache, request.hashBatch,
                                    request.hashThreads);
  manifest.VisitSection("FILES", [&](std::string_view entry) { comparison.Add(entry); });
  comparison.Flush();
  return 0;
}

int CompareUpdateConfig(CConfigFile& manifest, const UpdateCheckInfo& request, std::vector<UpdateFileInfo>& files) {
  return CompareVersioned(manifest, request, files);
}

int CompareUpdateConfig(CConfigFile& manifest, const UpdateCheckInfo& request, CChangedFiles& files) {
  return CompareVersioned(manifest, request, files);
}

int CompareUpdateConfig(CConfigFile& manifest, const UpdateCheckInfo& request, IChangedFileSink& files) {
  return CompareVersioned(manifest, request, files);
}

void CChangedFiles::reserve(std::size_t count) { records_.reserve(count); }

void CChangedFiles::push_back(UpdateFileInfo&& file) {
  Record record;
  record.start = text_.size();
  const std::string* fields[] = {&file.fileName, &file.modifyTime, &file.size, &file.md5, &file.sha256};
  for (std::size_t i = 0; i < 5; ++i) {
    record.lengths[i] = static_cast<std::uint32_t>(fields[i]->size());
    text_ += *fields[i];
  }
  records_.push_back(record);
}

UpdateFileInfo CChangedFiles::operator[](std::size_t index) const {
  const Record& record = records_[index];
  UpdateFileInfo file;
  std::string* fields[] = {&file.fileName, &file.modifyTime, &file.size, &file.md5, &file.sha256};
  std::size_t at = record.start;
  for (std::size_t i = 0; i < 5; ++i) {
    fields[i]->assign(text_, at, record.lengths[i]);
    at += record.lengths[i];
  }
  return file;
}

std::vector<UpdateFileInfo> CChangedFiles::All() const {
  std::vector<UpdateFileInfo> files;
  files.reserve(size());
  for (std::size_t i = 0; i < size(); ++i) files.push_back((*this)[i]);
  return files;
}

void CChangedFiles::clear() {
  records_.clear();
  text_.clear();
}

int CompareUpdateConfig(const UpdateCheckInfo& request, std::vector<UpdateFileInfo>& files) {
  if (request.installDir.empty()) return -1;
  if (!PathFileExistsA(request.manifestPath.c_str())) return -1;
  CConfigFile manifest(request.manifestPath);
  return CompareUpdateConfig(manifest, request, files);
}
