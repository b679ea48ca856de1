#include "platform/crypt/StreamDigest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <algorithm>
#include <memory>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

namespace {

constexpr const char* kUnusable = kUnreadableDigest;

std::string ToHex(const unsigned char* bytes, unsigned length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(length * 2, '\0');
  for (unsigned i = 0; i < length; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return text;
}

struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextDeleter>;

}  // namespace

struct CStreamDigest::Contexts {
  Context md5{EVP_MD_CTX_new()};
  Context sha256{EVP_MD_CTX_new()};
};

CStreamDigest::CStreamDigest(unsigned kinds) : kinds_(kinds), contexts_(std::make_unique<Contexts>()) { Reset(); }

CStreamDigest::~CStreamDigest() = default;

void CStreamDigest::SetKinds(unsigned kinds) {
  kinds_ = kinds;
  Reset();
}

bool CStreamDigest::Reset() {
  failed_ = false;
  if ((kinds_ & kDigestMD5) != 0 &&
      (!contexts_->md5 || EVP_DigestInit_ex(contexts_->md5.get(), EVP_md5(), nullptr) != 1))
    failed_ = true;
  if ((kinds_ & kDigestSHA256) != 0 &&
      (!contexts_->sha256 || EVP_DigestInit_ex(contexts_->sha256.get(), EVP_sha256(), nullptr) != 1))
    failed_ = true;
  return !failed_;
}

bool CStreamDigest::Update(const void* data, std::size_t size) {
  if (failed_) return false;
  if ((kinds_ & kDigestMD5) != 0 && EVP_DigestUpdate(contexts_->md5.get(), data, size) != 1) failed_ = true;
  if ((kinds_ & kDigestSHA256) != 0 && EVP_DigestUpdate(contexts_->sha256.get(), data, size) != 1) failed_ = true;
  return !failed_;
}

bool CStreamDigest::UpdateFromFile(int fd, long long length) {
  // One buffer per thread, never cleared: a file checked per download must
  // not cost an allocation and a memset of the buffer each time.
  constexpr std::size_t kPiece = std::size_t{256} << 10;
  static thread_local const std::unique_ptr<char[]> buffer(new char[kPiece]);
  long long done = 0;
  while (done < length) {
    const auto want = static_cast<std::size_t>(std::min<long long>(length - done, kPiece));
    const long long n = ReadDescriptorAt(fd, buffer.get(), want, done);
    if (n <= 0) {
      failed_ = true;
      return false;
    }
    if (!Update(buffer.get(), static_cast<std::size_t>(n))) return false;
    done += n;
  }
  return !failed_;
}

FileDigests CStreamDigest::Finish() {
  FileDigests digests;
  const auto finish = [&](unsigned kind, EVP_MD_CTX* context, std::string& text) {
    if ((kinds_ & kind) == 0) return;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (failed_ || EVP_DigestFinal_ex(context, md, &length) != 1)
      text = kUnusable;
    else
      text = ToHex(md, length);
  };
  finish(kDigestMD5, contexts_->md5.get(), digests.md5);
  finish(kDigestSHA256, contexts_->sha256.get(), digests.sha256);
  failed_ = true;  // a finished stream takes no more bytes until Reset
  return digests;
}
