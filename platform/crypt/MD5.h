// MD5 digests of files (RFC 1321), and SHA-256 for signed releases, over
// OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CMD5 {
 public:
  CMD5();
  ~CMD5();
  CMD5(const CMD5&) = delete;
  CMD5& operator=(const CMD5&) = delete;

  // Replaces digest with the 32 lowercase hexadecimal digits of the file's MD5,
  // the text md5sum prints. The file is streamed in large blocks through one
  // buffer that the object reuses for every file. When the file cannot be
  // opened or read (missing, a directory, an I/O error), digest becomes
  // kUnreadable, a text no published digest can equal. Returns 1 on success, 0
  // on failure. "\" in path is taken as "/". One object per thread.
  long GetFileMD5(const char* path, std::string& digest);

  // The digest of a buffer, in the same text form.
  static std::string OfBytes(const void* data, std::size_t size);

  // The same for SHA-256: 64 lowercase hexadecimal digits, as sha256sum prints.
  // Signed releases carry it beside the MD5, which no longer resists a forger.
  long GetFileSHA256(const char* path, std::string& digest);
  static std::string SHA256OfBytes(const void* data, std::size_t size);

  // The MD5 digests of many files, as GetFileMD5 gives them, in the order of
  // paths. Up to threads files (0: one per processor) are hashed at a time,
  // each by a worker with its own buffer, so memory stays bounded however long
  // the list is. Returns when every file is done; may be called from any thread.
  static std::vector<std::string> GetFilesMD5(const std::vector<std::string>& paths, unsigned threads = 0);

  // How many files GetFileMD5 was asked to hash in this process, by any
  // object. Lets diagnostics and tests see whether a comparison hashed at all.
  static std::uint64_t FilesHashed();

  static constexpr const char* kUnreadable = "<unreadable>";

 private:
  struct Buffer;
  long HashFile(const char* path, bool sha256, std::string& digest);
  std::unique_ptr<Buffer> buffer_;  // allocated on first use, reused across files
};
