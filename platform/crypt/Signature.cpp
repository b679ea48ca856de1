#include "platform/crypt/Signature.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<BIO, BioDeleter> MemoryBio(std::string_view text) {
  return std::unique_ptr<BIO, BioDeleter>(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

}  // namespace

CEd25519Keys CEd25519Keys::FromPem(std::string_view pem) {
  CEd25519Keys keys;
  const auto bio = MemoryBio(pem);
  // Key after key until the text holds no further PEM block.
  while (bio) {
    EVP_PKEY* key = PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
    if (key == nullptr) break;
    if (EVP_PKEY_id(key) == EVP_PKEY_ED25519)
      keys.keys_.emplace_back(key, EVP_PKEY_free);
    else
      EVP_PKEY_free(key);
  }
  ERR_clear_error();
  return keys;
}

bool CEd25519Keys::Verify(std::string_view message, std::string_view signature) const {
  if (signature.size() != kEd25519SignatureBytes) return false;
  for (const auto& key : keys_) {
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
    // Ed25519 hashes internally: no digest is named, and the message goes in
    // one piece.
    if (context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), Bytes(signature), signature.size(), Bytes(message), message.size()) == 1)
      return true;
  }
  ERR_clear_error();
  return false;
}

bool SignEd25519(std::string_view privateKeyPem, std::string_view message, std::string& signature, std::string& error) {
  const auto bio = MemoryBio(privateKeyPem);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
  ERR_clear_error();
  if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
    error = "not an Ed25519 private key in PEM form (openssl genpkey -algorithm ed25519)";
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
  unsigned char bytes[kEd25519SignatureBytes];
  std::size_t length = sizeof bytes;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), bytes, &length, Bytes(message), message.size()) != 1 ||
      length != kEd25519SignatureBytes) {
    ERR_clear_error();
    error = "signing failed";
    return false;
  }
  signature.assign(reinterpret_cast<const char*>(bytes), length);
  return true;
}
