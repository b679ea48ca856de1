// Digests of whole files, MD5 (RFC 1321) and SHA-256, in their text forms:
// lowercase hexadecimal, as md5sum and sha256sum print them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/crypt/StreamDigest.h"

class CDigestEngine {
 public:
  CDigestEngine();
  ~CDigestEngine();
  CDigestEngine(const CDigestEngine&) = delete;
  CDigestEngine& operator=(const CDigestEngine&) = delete;

  // Replaces digest with the text of the file's digest of kind (kDigestMD5 or
  // kDigestSHA256). The file is streamed in large blocks through one buffer
  // that the object reuses for every file. When the file cannot be opened or
  // read (missing, a directory, a FIFO, an I/O error), digest becomes
  // kUnreadableDigest, a text no published digest can equal. Returns 1 on
  // success, 0 on failure. "\" in path is taken as "/". One object per thread.
  long FileDigest(const char* path, DigestKind kind, std::string& digest);

  // The digest of a buffer, in the same text form.
  static std::string OfBytes(const void* data, std::size_t size, DigestKind kind);

  // The MD5 digests of many files, as FileDigest gives them, in the order of
  // paths. Up to threads files (0: one per processor) are hashed at a time,
  // each by a worker with its own buffer, so memory stays bounded however long
  // the list is. Returns when every file is done; may be called from any thread.
  static std::vector<std::string> FilesMD5(const std::vector<std::string>& paths, unsigned threads = 0);

  // How many files were hashed for their MD5 in this process, by any object.
  // Lets diagnostics and tests see whether a comparison hashed at all.
  static std::uint64_t FilesHashed();

 private:
  struct Buffer;
  std::unique_ptr<Buffer> buffer_;  // allocated on first use, reused across files
};
