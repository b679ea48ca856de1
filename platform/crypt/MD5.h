// MD5 digests of files (RFC 1321), over OpenSSL's libcrypto.
#pragma once

#include <string>

class CMD5 {
 public:
  CMD5();
  ~CMD5();
  CMD5(const CMD5&) = delete;
  CMD5& operator=(const CMD5&) = delete;

  // Replaces digest with the 32 lowercase hexadecimal digits of the file's MD5,
  // the text md5sum prints. The file is streamed in large blocks. When the file
  // cannot be opened or read, digest becomes kUnreadable, a text no published
  // digest can equal. Returns 1 on success, 0 on failure.
  long GetFileMD5(const char* path, std::string& digest);

  // The digest of a buffer, in the same text form.
  static std::string OfBytes(const void* data, std::size_t size);

  static constexpr const char* kUnreadable = "<unreadable>";

 private:
  std::string buffer_;  // reused across files
};
