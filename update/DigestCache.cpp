#include "update/DigestCache.h"

#include <cstring>
#include <utility>

#include "platform/core_guard.h"
#include "platform/directory/DirectoryEx.h"

namespace {

// Layout: magic, the folder's text, the entry count, the entries, and a
// checksum of all that. An entry: the length of the part of its name shared
// with the previous entry's and the rest of the name, device, inode, size,
// modification time (8 bytes), change time less modification time, a flag
// byte (1: a SHA-256 follows), the MD5 and the SHA-256, as bytes. Numbers are
// LEB128 varints unless said otherwise: 200,000 entries take about 10 MiB.
constexpr char kMagic[8] = {'Z', 'O', 'L', 'T', 'D', 'I', 'G', '1'};

// The coarsest clock a Linux file system keeps is FAT's, two seconds: a stamp
// within that of the moment a file was looked at cannot tell a later change.
constexpr std::int64_t kTick = 2'000'000'000;
std::int64_t TickStart(std::int64_t ns) { return ns - ((ns % kTick) + kTick) % kTick; }

bool Racy(const FileStamp& stamp, std::int64_t boundNs) {
  const std::int64_t bound = TickStart(boundNs);
  return stamp.modifiedNs >= bound || stamp.changedNs >= bound;
}

// A word-at-a-time checksum: it finds damage, not forgery (the file is the
// user's own, and whoever can write it can write the installation too).
std::uint64_t Checksum(const char* data, std::size_t size) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ size;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    h = (h ^ word) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  for (; i < size; ++i) h = (h ^ static_cast<unsigned char>(data[i])) * 0x100000001B3ull;
  return h ^ (h >> 32);
}

void PutVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>(value | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

void PutFixed(std::string& out, std::uint64_t value) {
  char bytes[8];
  std::memcpy(bytes, &value, 8);
  out.append(bytes, 8);
}

class Reader {
 public:
  Reader(const char* data, std::size_t size) : at_(data), end_(data + size) {}
  bool Varint(std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at_ < end_; shift += 7) {
      const auto byte = static_cast<unsigned char>(*at_++);
      value |= std::uint64_t{byte & 0x7Fu} << shift;
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  }
  bool Fixed(std::uint64_t& value) {
    if (end_ - at_ < 8) return false;
    std::memcpy(&value, at_, 8);
    at_ += 8;
    return true;
  }
  const char* Take(std::size_t size) {
    if (static_cast<std::size_t>(end_ - at_) < size) return nullptr;
    const char* start = at_;
    at_ += size;
    return start;
  }
  bool AtEnd() const { return at_ == end_; }

 private:
  const char* at_;
  const char* end_;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool FromHex(std::string_view text, unsigned char* bytes, std::size_t size) {
  if (text.size() != size * 2) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

std::string ToHex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace

CDigestCache::CDigestCache(std::string path, std::string installDir)
    : path_(std::move(path)), installDir_(std::move(installDir)) {}

void CDigestCache::Load() {
  loaded_once_ = true;
  std::string bytes;
  FileStamp stamp;
  SGuardedRead rules;
  rules.maxBytes = kMaximumBytes;
  rules.ownOnly = true;
  rules.privateState = true;
  if (!ReadFileGuarded(path_, bytes, rules, nullptr, &stamp) || !Decode(bytes)) {
    loaded_.clear();
    loadedNames_.clear();
    return;
  }
  writtenNs_ = stamp.modifiedNs;
  loadedIndex_.reserve(loaded_.size());
  for (std::uint32_t i = 0; i < loaded_.size(); ++i)
    loadedIndex_.emplace(std::string_view(loadedNames_).substr(loaded_[i].nameStart, loaded_[i].nameLength), i);
}

bool CDigestCache::Decode(const std::string& bytes) {
  if (bytes.size() < sizeof kMagic + 8 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
  const std::size_t body = bytes.size() - 8;
  std::uint64_t sum = 0;
  std::memcpy(&sum, bytes.data() + body, 8);
  if (sum != Checksum(bytes.data(), body)) return false;
  Reader in(bytes.data() + sizeof kMagic, body - sizeof kMagic);
  std::uint64_t length = 0, count = 0;
  const char* folder = nullptr;
  // Kept for another folder (another component of the same type): foreign.
  if (!in.Varint(length) || (folder = in.Take(length)) == nullptr || std::string_view(folder, length) != installDir_ ||
      !in.Varint(count) || count > body / 20)
    return false;
  loaded_.resize(count);
  loadedNames_.reserve(body);
  std::string previous;
  for (Entry& entry : loaded_) {
    std::uint64_t shared = 0, rest = 0, changedDelta = 0, modified = 0;
    const char* name = nullptr;
    if (!in.Varint(shared) || shared > previous.size() || !in.Varint(rest) || (name = in.Take(rest)) == nullptr ||
        shared + rest > 0xFFFFFFFFull)
      return false;
    const std::size_t start = loadedNames_.size();
    previous.resize(shared);
    previous.append(name, rest);
    loadedNames_ += previous;
    entry.nameStart = static_cast<std::uint32_t>(start);
    entry.nameLength = static_cast<std::uint32_t>(previous.size());
    const char* flags = nullptr;
    const char* md5 = nullptr;
    if (!in.Varint(entry.stamp.device) || !in.Varint(entry.stamp.inode) || !in.Varint(entry.stamp.size) ||
        !in.Fixed(modified) || !in.Varint(changedDelta) || (flags = in.Take(1)) == nullptr ||
        (md5 = in.Take(16)) == nullptr)
      return false;
    entry.stamp.modifiedNs = static_cast<std::int64_t>(modified);
    // zigzag: the change time may even lie before the modification time (touch -d ahead).
    const auto delta = static_cast<std::int64_t>(changedDelta >> 1) ^ -static_cast<std::int64_t>(changedDelta & 1);
    entry.stamp.changedNs = entry.stamp.modifiedNs + delta;
    std::memcpy(entry.md5, md5, 16);
    entry.hasSha256 = (*flags & 1) != 0;
    if (entry.hasSha256) {
      const char* sha = in.Take(32);
      if (sha == nullptr) return false;
      std::memcpy(entry.sha256, sha, 32);
    }
  }
  return in.AtEnd();
}

bool CDigestCache::Lookup(std::string_view name, const FileStamp& stamp, std::string& md5, std::string* sha256) {
  touched_ = true;
  if (!loaded_once_) Load();
  const auto found = loadedIndex_.find(name);
  if (found == loadedIndex_.end()) return false;
  const Entry& entry = loaded_[found->second];
  if (!(entry.stamp == stamp) || Racy(stamp, writtenNs_)) return false;
  md5 = ToHex(entry.md5, 16);
  if (sha256 != nullptr) *sha256 = entry.hasSha256 ? ToHex(entry.sha256, 32) : std::string();
  return true;
}

void CDigestCache::Record(std::string_view name, const FileStamp& stamp, std::int64_t seenNs, std::string_view md5,
                          std::string_view sha256) {
  touched_ = true;
  Entry entry;
  entry.stamp = stamp;
  const bool usable = !Racy(stamp, seenNs) && FromHex(md5, entry.md5, 16) && name.size() < 0xFFFFFFFFull;
  entry.hasSha256 = FromHex(sha256, entry.sha256, 32);
  const auto [at, inserted] = freshIndex_.try_emplace(std::string(name), static_cast<std::uint32_t>(fresh_.size()));
  if (!inserted) {
    // Replaced, or (a racy stamp) forgotten: the earlier digest no longer holds.
    Entry& earlier = fresh_[at->second];
    const std::uint32_t start = earlier.nameStart, length = earlier.nameLength;
    earlier = entry;
    earlier.nameStart = start;
    earlier.nameLength = length;
    earlier.dropped = !usable;
    return;
  }
  if (!usable) {
    freshIndex_.erase(at);
    return;
  }
  entry.nameStart = static_cast<std::uint32_t>(freshNames_.size());
  entry.nameLength = static_cast<std::uint32_t>(name.size());
  freshNames_.append(name);
  fresh_.push_back(entry);
}

bool CDigestCache::Write() {
  if (!touched_) return true;
  std::string out(kMagic, sizeof kMagic);
  PutVarint(out, installDir_.size());
  out += installDir_;
  std::size_t count = 0;
  for (const Entry& entry : fresh_) count += !entry.dropped;
  PutVarint(out, count);
  out.reserve(out.size() + count * 64 + freshNames_.size());
  std::string_view previous;
  for (const Entry& entry : fresh_) {
    if (entry.dropped) continue;
    const std::string_view name = std::string_view(freshNames_).substr(entry.nameStart, entry.nameLength);
    std::size_t shared = 0;
    while (shared < name.size() && shared < previous.size() && name[shared] == previous[shared]) ++shared;
    PutVarint(out, shared);
    PutVarint(out, name.size() - shared);
    out.append(name.substr(shared));
    previous = name;
    PutVarint(out, entry.stamp.device);
    PutVarint(out, entry.stamp.inode);
    PutVarint(out, entry.stamp.size);
    PutFixed(out, static_cast<std::uint64_t>(entry.stamp.modifiedNs));
    const std::int64_t delta = entry.stamp.changedNs - entry.stamp.modifiedNs;
    PutVarint(out, (static_cast<std::uint64_t>(delta) << 1) ^ static_cast<std::uint64_t>(delta >> 63));
    out += static_cast<char>(entry.hasSha256 ? 1 : 0);
    out.append(reinterpret_cast<const char*>(entry.md5), 16);
    if (entry.hasSha256) out.append(reinterpret_cast<const char*>(entry.sha256), 32);
  }
  PutFixed(out, Checksum(out.data(), out.size()));
  std::string folder;
  CDirectoryEx::GetFilePath(path_, folder);
  if (!PathIsDirectoryA(folder.c_str())) CreateDirectoryTree(folder.c_str());
  return ReplaceFileUnflushed(path_, out);
}
