#include "update/ReleaseTrust.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>

#include "platform/configfile/Profile.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/win32/Files.h"
#include "update/UpdateManifest.h"

namespace {

constexpr std::size_t kSignatureBytes = 64;

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<BIO, BioDeleter> MemoryBio(std::string_view text) {
  return std::unique_ptr<BIO, BioDeleter>(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

bool IsLowerHex(const std::string& text, std::size_t length) {
  if (text.size() != length) return false;
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

CReleaseTrust CReleaseTrust::Load(const std::string& appPath) {
  const std::string path = appPath + kTrustedKeysFile;
  if (!PathFileExistsA(path.c_str())) return CReleaseTrust();
  std::string pem;
  if (!ReadWholeFile(NativePath(path), pem)) {
    CReleaseTrust trust;
    trust.required_ = true;
    trust.problem_ = NativePath(path) + " cannot be read";
    return trust;
  }
  return FromPem(pem, NativePath(path));
}

CReleaseTrust CReleaseTrust::FromPem(std::string_view pem, const std::string& source) {
  CReleaseTrust trust;
  trust.required_ = true;
  const auto bio = MemoryBio(pem);
  // Read key after key until the text holds no further PEM block; a block of
  // another kind or type is skipped rather than trusted.
  while (bio) {
    EVP_PKEY* key = PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
    if (key == nullptr) break;
    if (EVP_PKEY_id(key) == EVP_PKEY_ED25519)
      trust.keys_.emplace_back(key, EVP_PKEY_free);
    else
      EVP_PKEY_free(key);
  }
  ERR_clear_error();
  if (trust.keys_.empty()) trust.problem_ = source + " holds no Ed25519 public key";
  return trust;
}

bool CReleaseTrust::Verify(std::string_view content, std::string_view signature) const {
  if (signature.size() != kSignatureBytes) return false;
  for (const auto& key : keys_) {
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
    // Ed25519 hashes internally: no digest is named, and the message goes in
    // one piece.
    if (context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                         reinterpret_cast<const unsigned char*>(content.data()), content.size()) == 1)
      return true;
  }
  ERR_clear_error();
  return false;
}

bool CReleaseTrust::CheckManifest(const std::string& manifestPath, const std::string& signaturePath, bool component,
                                  std::time_t now, std::string& reason, std::string* verified) const {
  std::string content, signature;
  if (!ReadWholeFile(NativePath(manifestPath), content)) {
    reason = "the manifest cannot be read";
    return false;
  }
  if (!ReadWholeFile(NativePath(signaturePath), signature)) {
    reason = "it has no signature";
    return false;
  }
  if (!Verify(content, signature)) {
    reason = "its signature does not verify under any key of " + std::string(kTrustedKeysFile);
    return false;
  }
  // The rest is read from the very bytes that were verified.
  const CProfile manifest = CProfile::Parse(content);
  std::string expires;
  if (manifest.GetValue("Version", "EXPIRES", expires)) {
    std::time_t expiry = 0;
    if (!ParseExpiry(expires, expiry)) {
      reason = "its EXPIRES \"" + expires + "\" is not a time";
      return false;
    }
    if (now >= expiry) {
      reason =
          "it expired at " + expires + " UTC: the publisher must publish the release again (zolt-publish --expires)";
      return false;
    }
  }
  std::vector<std::string> files;
  if (component) {
    files = manifest.SectionNames();
  } else if (auto lines = manifest.GetSectionLines("FILES")) {
    files = std::move(*lines);
  }
  for (const std::string& name : files) {
    std::string sha256;
    if (!manifest.GetValue(name, "SHA256", sha256) || !IsLowerHex(sha256, 64)) {
      reason = "it gives no SHA256 for " + name;
      return false;
    }
  }
  if (verified != nullptr) *verified = std::move(content);
  return true;
}

bool StagedCopyMatches(CMD5& hasher, const UpdateFileInfo& file, const std::string& stagingDir, bool sha256,
                       std::string* cause) {
  const std::string path = stagingDir + file.fileName;
  if (!PathFileExistsA(path.c_str())) {
    if (cause != nullptr) *cause = file.fileName + " is missing";
    return false;
  }
  FileDigests digests;
  hasher.GetFileMD5(path.c_str(), digests.md5);
  // SHA256 only matters once MD5 matched; a mismatch need not read the file twice.
  if (sha256 && digests.md5 == file.md5) hasher.GetFileSHA256(path.c_str(), digests.sha256);
  return DigestsMatch(file, digests, sha256, cause);
}

bool DigestsMatch(const UpdateFileInfo& file, const FileDigests& digests, bool sha256, std::string* cause) {
  if (digests.md5 != file.md5) {
    if (cause != nullptr) *cause = file.fileName + " arrived with MD5 " + digests.md5 + " instead of " + file.md5;
    return false;
  }
  if (!sha256 || digests.sha256 == file.sha256) return true;
  if (cause != nullptr)
    *cause = file.fileName + " arrived with SHA256 " + digests.sha256 + " instead of " + file.sha256;
  return false;
}

bool SignManifest(std::string_view privateKeyPem, std::string_view content, std::string& signature,
                  std::string& error) {
  const auto bio = MemoryBio(privateKeyPem);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
  ERR_clear_error();
  if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
    error = "not an Ed25519 private key in PEM form (openssl genpkey -algorithm ed25519)";
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
  unsigned char bytes[kSignatureBytes];
  std::size_t length = sizeof bytes;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), bytes, &length, reinterpret_cast<const unsigned char*>(content.data()),
                     content.size()) != 1 ||
      length != kSignatureBytes) {
    ERR_clear_error();
    error = "signing failed";
    return false;
  }
  signature.assign(reinterpret_cast<const char*>(bytes), length);
  return true;
}

std::string FormatExpiry(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

bool ParseExpiry(const std::string& text, std::time_t& time) {
  // Digits exactly where the form has them, so that "2026-1-5" or a trailing
  // word cannot slip through sscanf's leniency.
  static constexpr char kForm[] = "dddd-dd-dd dd:dd:dd";
  if (text.size() != sizeof kForm - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;
  }
  std::tm utc{};
  std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour, &utc.tm_min,
              &utc.tm_sec);
  if (utc.tm_mon < 1 || utc.tm_mon > 12 || utc.tm_mday < 1 || utc.tm_mday > 31 || utc.tm_hour > 23 || utc.tm_min > 59 ||
      utc.tm_sec > 60)
    return false;
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  time = timegm(&utc);
  return true;
}
