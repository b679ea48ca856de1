// Manifests ("UpdateConfig.ini", "config.ini") and their comparison with the
// installed files.
//
// "UpdateConfig.ini": section "Version" ("VERSION", "REGION",
// "UNCONDITIONALUPDATE", "NOTIFIY"), section "FILES" with one relative name per
// line, and one section per listed name with "MD5", "SIZE", "MODIFYTIME".
// "config.ini": one such section per file and nothing else. Relative names use
// "\" between folders and must pass IsSafeRelativeName.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CConfigFile;
class CDigestCache;
class CMD5;

// One file to update, copied verbatim from the manifest.
struct UpdateFileInfo {
  std::string fileName;    // relative path, "\" between folders; also section and remote name
  std::string modifyTime;  // "MODIFYTIME"
  std::string size;        // "SIZE", decimal text
  std::string md5;         // "MD5" of the published file
  std::string sha256;      // "SHA256"; checked only by installations that hold ZOLTUpdate.pub
};

// The request of CompareUpdateConfig.
struct UpdateCheckInfo {
  // Appends "\" to a non-empty installDir that ends with neither "\" nor "/".
  UpdateCheckInfo(std::string installDir, std::string manifestPath, std::string localVersion, std::string region);
  std::string installDir;  // ends with "\" or "/" (or is empty)
  std::string manifestPath;
  std::string localVersion;
  std::string region;
  // How the installed copies are read, not what is compared: digests kept
  // from earlier runs (null: every copy is hashed), how many copies are
  // hashed at a time (a receiver that acts on each changed file at once
  // wants them early), and by how many threads (0: one per processor).
  CDigestCache* digestCache = nullptr;
  std::size_t hashBatch = 4096;
  unsigned hashThreads = 0;
};

// Receives each changed file as a comparison finds it, in manifest order.
class IChangedFileSink {
 public:
  virtual ~IChangedFileSink() = default;
  virtual std::size_t size() const { return 0; }
  virtual void reserve(std::size_t count) { (void)count; }
  virtual void push_back(UpdateFileInfo&& file) = 0;
};

// True when name can safely be appended to an installation or staging
// directory: not empty, no zero byte, not starting with "\" or "/", no drive
// letter ("C:..."), and every "\"- or "/"-separated segment a plain name (not
// empty, ".", or ".."). A manifest naming anything else could make the updater
// read, fetch or overwrite files outside the installation.
bool IsSafeRelativeName(std::string_view name);

// True when a manifest may list name as one of its files: IsSafeRelativeName,
// and not in the folder where publications keep their patches and compressed
// copies (LiesInDeltaFolder), whose fetch would overwrite a staged file of
// that name. A manifest listing any other name is refused as a whole.
bool IsReleaseFileName(std::string_view name);

// Why name cannot be the "-d:" name of a component folder, or "" when it can:
// empty (the application directory itself) or one plain folder name (no "\",
// "/" or ":", neither "." nor "..") of at most 255 bytes, the longest name a
// Linux file system gives a folder. Anything else would make an update write
// or delete outside the application directory, or fail later as if the server
// had nothing. Every flow that takes the name asks this.
std::string ComponentNameProblem(std::string_view name);

// True when every name passes IsSafeRelativeName.
bool AreSafeRelativeNames(const std::vector<std::string>& names);

// The per-file rule: reads the entry's "MD5" and appends the entry's record to
// files when directory + entry is missing or its digest text differs from the
// manifest's (byte for byte, so letter case matters). A regular file whose
// size differs from the entry's "SIZE" (a plain decimal number) differs
// without being read; a missing or malformed "SIZE" leaves it to the digest. The record carries the
// manifest's "MD5", "SIZE", "MODIFYTIME" and "SHA256". directory ends with a separator.
// An entry that fails IsReleaseFileName is ignored (callers reject such a
// manifest as a whole before comparing anything).
void CompareManifestEntry(CConfigFile& manifest, CMD5& md5, const std::string& directory, std::string entry,
                          std::vector<UpdateFileInfo>& files);

// The per-file rule for a list of entries, appending in the list's order
// exactly what CompareManifestEntry would append entry by entry. The installed
// copies are hashed on every processor at once (CMD5::GetFilesMD5), so a large
// installation is checked at the pace of its disk rather than of one core.
void CompareManifestEntries(CConfigFile& manifest, const std::string& directory,
                            const std::vector<std::string>& entries, std::vector<UpdateFileInfo>& files);
// The same with the digest cache and batch of request (its installDir is the
// directory), handing each changed file to files.
void CompareManifestEntries(CConfigFile& manifest, const UpdateCheckInfo& request,
                            const std::vector<std::string>& entries, IChangedFileSink& files);

// Compares the versioned manifest with the installed copies. Returns -1 when
// the manifest is missing, lists no files, lists a name that fails
// IsReleaseFileName, or installDir
// is empty (then nothing is hashed or appended); 1 when the installation is
// current by version and region and UNCONDITIONALUPDATE is 0 (nothing hashed or
// appended); 0 when the copies were compared. Appends, never clears. Called on
// one thread; reads every listed installed file with workers of its own.
int CompareUpdateConfig(const UpdateCheckInfo& request, std::vector<UpdateFileInfo>& files);
// The same over a manifest already read (request.manifestPath is not used):
// the run compares the very parse it verified.
int CompareUpdateConfig(CConfigFile& manifest, const UpdateCheckInfo& request, std::vector<UpdateFileInfo>& files);

// A list of UpdateFileInfo records held as one text and a few numbers per
// record: what differs in a manifest of 200,000 files costs about the size of
// its texts, not five strings each. Records come out as copies.
class CChangedFiles {
 public:
  void reserve(std::size_t count);
  void push_back(UpdateFileInfo&& file);
  UpdateFileInfo operator[](std::size_t index) const;
  std::vector<UpdateFileInfo> All() const;
  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  void clear();

 private:
  struct Record {
    std::size_t start = 0;
    std::uint32_t lengths[5] = {};
  };
  std::string text_;
  std::vector<Record> records_;
};
int CompareUpdateConfig(CConfigFile& manifest, const UpdateCheckInfo& request, CChangedFiles& files);
int CompareUpdateConfig(CConfigFile& manifest, const UpdateCheckInfo& request, IChangedFileSink& files);

// Byte-wise version order: true when candidate is greater than installed as
// std::string::compare orders them, bytes unsigned, a proper prefix smaller (so
// "2.1.10" < "2.1.9" and "1.0" < "1.0.0"). Stored versions rely on this order.
bool IsVersionGreater(const std::string& candidate, const std::string& installed);
