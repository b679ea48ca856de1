// Manifests ("UpdateConfig.ini", "config.ini") and their comparison with the
// installed files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CConfigFile;
class CMD5;

// One file to update, copied verbatim from the manifest.
struct UpdateFileInfo {
  std::string fileName;    // relative path, "\" between folders; also section and remote name
  std::string modifyTime;  // "MODIFYTIME"
  std::string size;        // "SIZE", decimal text
  std::string md5;         // "MD5" of the published file
};

// The request of CompareUpdateConfig.
struct UpdateCheckInfo {
  UpdateCheckInfo(std::string installDir, std::string manifestPath, std::string localVersion, std::string region);
  std::string installDir;  // always ends with "\" (or "/")
  std::string manifestPath;
  std::string localVersion;
  std::string region;
};

// True when name can safely be appended to an installation or staging
// directory: non-empty, relative, no drive letter, and every "\"- or
// "/"-separated segment a plain name (not empty, ".", or "..").
bool IsSafeRelativeName(std::string_view name);

// The per-file rule: appends entry's record to files when directory + entry is
// missing or its digest differs from the manifest's "MD5" (exact, case matters).
// directory ends with a separator.
void CompareManifestEntry(CConfigFile& manifest, CMD5& md5, const std::string& directory, const std::string& entry,
                          std::vector<UpdateFileInfo>& files);

// Compares the versioned manifest with the installed copies. Returns -1 when
// the manifest is missing, lists no files, or lists an unsafe name (then
// nothing is hashed or appended); 1 when the installation is current by version
// and region (nothing hashed); 0 when the copies were compared. Appends, never
// clears.
int CompareUpdateConfig(const UpdateCheckInfo& request, std::vector<UpdateFileInfo>& files);

// Byte-wise version order: true when candidate is greater than installed as
// std::string::compare orders them (so "2.1.10" < "2.1.9").
bool IsVersionGreater(const std::string& candidate, const std::string& installed);
