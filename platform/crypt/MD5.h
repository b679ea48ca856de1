// CMD5, the digest component the comparisons are written against: MD5 digests
// of files (RFC 1321), and SHA-256 for signed releases, over CDigestEngine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/crypt/DigestEngine.h"

class CMD5 {
 public:
  // Replaces digest with the 32 lowercase hexadecimal digits of the file's MD5,
  // the text md5sum prints; kUnreadable when the file cannot be read. Returns
  // 1 on success, 0 on failure. One object per thread; it keeps its buffer.
  long GetFileMD5(const char* path, std::string& digest) { return engine_.FileDigest(path, kDigestMD5, digest); }
  static std::string OfBytes(const void* data, std::size_t size) {
    return CDigestEngine::OfBytes(data, size, kDigestMD5);
  }

  // The same for SHA-256: 64 lowercase hexadecimal digits, as sha256sum prints.
  // Signed releases carry it beside the MD5, which no longer resists a forger.
  long GetFileSHA256(const char* path, std::string& digest) { return engine_.FileDigest(path, kDigestSHA256, digest); }
  static std::string SHA256OfBytes(const void* data, std::size_t size) {
    return CDigestEngine::OfBytes(data, size, kDigestSHA256);
  }

  // Many files at once (see CDigestEngine::FilesMD5).
  static std::vector<std::string> GetFilesMD5(const std::vector<std::string>& paths, unsigned threads = 0) {
    return CDigestEngine::FilesMD5(paths, threads);
  }
  static std::uint64_t FilesHashed() { return CDigestEngine::FilesHashed(); }

  static constexpr const char* kUnreadable = kUnreadableDigest;

 private:
  CDigestEngine engine_;
};
