// Digests of a byte stream, taken while the bytes pass by (for example while a
// download is written into staging), so that checking the stored file later
// costs no second read.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// The digests a stream can carry; combine with "|".
enum DigestKind : unsigned {
  kDigestMD5 = 1u << 0,
  kDigestSHA256 = 1u << 1,
};

// The text of a digest that could not be taken; no published digest equals it.
inline constexpr const char* kUnreadableDigest = "<unreadable>";

// The text forms of one stream's digests: lowercase hexadecimal (as md5sum and
// sha256sum print them); empty for a digest that was not asked for.
struct FileDigests {
  std::string md5;
  std::string sha256;
};

class CStreamDigest {
 public:
  // kinds: the DigestKind values to compute. MD5 alone is the default; SHA-256
  // roughly doubles the work, so it is only taken when someone checks it.
  explicit CStreamDigest(unsigned kinds = kDigestMD5);
  ~CStreamDigest();
  CStreamDigest(const CStreamDigest&) = delete;
  CStreamDigest& operator=(const CStreamDigest&) = delete;

  // Starts a new stream (also after Finish); the kinds stay. False when the
  // digest library cannot be set up.
  bool Reset();
  void SetKinds(unsigned kinds);
  unsigned Kinds() const { return kinds_; }

  // Appends bytes to the stream. False on a library failure (the digests are
  // then unusable until the next Reset).
  bool Update(const void* data, std::size_t size);

  // Appends what descriptor fd holds in [0, length), read with pread: a file
  // stored earlier, or the part of it a continued stream begins with. False
  // on a read error or a file shorter than length.
  bool UpdateFromFile(int fd, long long length);

  // Ends the stream and returns its digests; after a failure each asked-for
  // text is kUnreadableDigest, which no published digest equals.
  FileDigests Finish();

 private:
  struct Contexts;
  unsigned kinds_;
  bool failed_ = false;
  std::unique_ptr<Contexts> contexts_;
};
