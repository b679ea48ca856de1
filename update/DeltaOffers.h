// What a manifest offers besides the plain file: patches against earlier
// releases' copies and a compressed copy, each a zstd frame stored on the
// servers under "<type>/.zolt/" and named by its own SHA-256. In a file's
// section:
//   PATCH_<MD5 of the base>=<bytes> <SHA-256>   a patch that turns the file
//                                               with that MD5 into this one
//   ZSTDSIZE=<bytes>, ZSTDSHA256=<SHA-256>      the compressed copy
// Readers without this feature ignore these keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CConfigFile;

inline constexpr const char* kPatchKeyPrefix = "PATCH_";
inline constexpr const char* kPackedSizeKey = "ZSTDSIZE";
inline constexpr const char* kPackedSha256Key = "ZSTDSHA256";
// The folder of the frames, below the type's folder. No release file may lie
// there (publishing refuses one), so nothing published can collide with them.
inline constexpr const char* kDeltaFolder = ".zolt";

// True when the relative name lies in kDeltaFolder, in any letter case (a
// server on a file system that ignores case serves ".ZOLT" from there too).
bool LiesInDeltaFolder(std::string_view name);

struct DeltaOffer {
  bool patch = false;      // a patch against the installed copy; else the compressed copy
  std::uint64_t size = 0;  // of the frame
  std::string sha256;      // of the frame
  std::string remoteName;  // ".zolt\<sha256>.patch" or ".zolt\<sha256>.zst"
};

// A "SIZE"-like text that is a plain decimal number of at most 19 digits.
bool ParseDecimalSize(const std::string& text, std::uint64_t& size);

std::string PatchKey(const std::string& baseMd5);
// "<bytes> <sha256>", the value of a patch key.
std::string PatchValue(std::uint64_t size, const std::string& sha256);
std::string PatchRemoteName(const std::string& sha256);
std::string PackedRemoteName(const std::string& sha256);

// True when entry's section lists any patch: only then is the installed
// copy's digest needed.
bool ListsPatches(CConfigFile& manifest, const std::string& entry);

// The offers of entry's section that can stand in for its plain file of
// fileSize bytes for an installed copy whose digest is installedMd5 (empty:
// none installed): well-formed, smaller than the file, smallest first. A
// malformed value offers nothing.
std::vector<DeltaOffer> ReadDeltaOffers(CConfigFile& manifest, const std::string& entry,
                                        const std::string& installedMd5, std::uint64_t fileSize);
