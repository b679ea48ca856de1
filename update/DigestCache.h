// The digests of installed files, kept between runs so that a file that has
// not changed since it was last hashed is not read again: an entry per file,
// keyed by its relative name and trusted only while the file's device, inode,
// size and modification and change times (in nanoseconds) are exactly those
// recorded, as git's index trusts its entries.
//
// The cache is a hint, never a reason to skip a file that differs: it is read
// only from a regular file of the user's own, reached without a link, of a
// bounded size; one that is damaged, cut short or kept for another folder
// reads as empty and is rewritten. A file changed in the same tick of the
// file-system clock as it was looked at, or as the cache was written, is
// "racy": its stamp cannot tell a later change, so it is hashed again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win32/Files.h"

class CDigestCache {
 public:
  // The cache of the files below installDir, kept at path. Nothing is read
  // until the first Lookup.
  CDigestCache(std::string path, std::string installDir);

  // The digests recorded for name when stamp is exactly its entry's and the
  // entry is not racy. sha256 (if given) is empty when none was recorded.
  bool Lookup(std::string_view name, const FileStamp& stamp, std::string& md5, std::string* sha256 = nullptr);

  // Remembers name's digests as of stamp, taken after seenNs (FileClockNow
  // before the stat): a file changed at or after seenNs is not remembered.
  // A digest that is not lowercase hexadecimal of the right length is not
  // remembered either. A later Record of the same name replaces the earlier.
  void Record(std::string_view name, const FileStamp& stamp, std::int64_t seenNs, std::string_view md5,
              std::string_view sha256 = {});

  // Replaces the kept file with what was recorded since construction (also
  // when nothing was: the files looked at are the files that count). Does
  // nothing when neither Lookup nor Record was called. A kill leaves the old
  // file or the new one; a power loss at worst a file that reads as damaged.
  bool Write();

  std::size_t LoadedEntries() const { return loaded_.size(); }
  std::size_t RecordedEntries() const { return fresh_.size(); }

  // Bound of the kept file: about 200 bytes for each of a million files.
  static constexpr std::size_t kMaximumBytes = std::size_t{192} << 20;

 private:
  struct Entry {
    std::uint32_t nameStart = 0;
    std::uint32_t nameLength = 0;
    FileStamp stamp;
    unsigned char md5[16] = {};
    unsigned char sha256[32] = {};
    bool hasSha256 = false;
    bool dropped = false;  // recorded, then found racy: not written
  };
  void Load();
  bool Decode(const std::string& bytes);

  std::string path_;
  std::string installDir_;
  bool loaded_once_ = false;
  bool touched_ = false;
  std::int64_t writtenNs_ = 0;  // the kept file's modification time
  std::string loadedNames_;
  std::vector<Entry> loaded_;
  std::unordered_map<std::string_view, std::uint32_t> loadedIndex_;
  std::string freshNames_;
  std::vector<Entry> fresh_;
  std::unordered_map<std::string, std::uint32_t> freshIndex_;
};
