#include "platform/configfile/ConfigCipher.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>
#include <memory>

#include "platform/core_guard.h"

namespace configcipher {
namespace {

constexpr std::string_view kMagic = "ZOLTCFG";
constexpr unsigned char kVersion = 1;
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;
constexpr std::string_view kSecret = "ZOLTUpdate profile key: Tovaro 2026 \x7f\x13\x5c\xa2";

using Key = std::array<unsigned char, SHA256_DIGEST_LENGTH>;
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

Key DeriveKey(std::string_view secondText) {
  std::string material(kSecret);
  material += '\0';
  material += secondText;
  Key key{};
  SHA256(reinterpret_cast<const unsigned char*>(material.data()), material.size(), key.data());
  return key;
}

std::string Header() {
  std::string header(kMagic);
  header += static_cast<char>(kVersion);
  return header;
}

const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

}  // namespace

std::string Encipher(std::string_view plain, std::string_view secondText) {
  const Key key = DeriveKey(secondText);
  std::string out = Header();
  std::array<unsigned char, kNonceSize> nonce{};
  if (RAND_bytes(nonce.data(), nonce.size()) != 1) return {};
  out.append(reinterpret_cast<const char*>(nonce.data()), nonce.size());

  CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  int length = 0;
  std::string body(plain.size(), '\0');
  std::array<unsigned char, kTagSize> tag{};
  const std::string header = Header();
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) != 1 ||
      EVP_EncryptUpdate(ctx.get(), nullptr, &length, Bytes(header), static_cast<int>(header.size())) != 1 ||
      EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(body.data()), &length, Bytes(plain),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), nullptr, &length) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, tag.data()) != 1)
    return {};
  out += body;
  out.append(reinterpret_cast<const char*>(tag.data()), tag.size());
  return out;
}

std::optional<std::string> Decipher(std::string_view sealed, std::string_view secondText) {
  if (sealed.size() < kHeaderSize + kNonceSize + kTagSize) return std::nullopt;
  const std::string header = Header();
  if (sealed.substr(0, kHeaderSize) != header) return std::nullopt;
  const std::string_view nonce = sealed.substr(kHeaderSize, kNonceSize);
  const std::string_view body =
      sealed.substr(kHeaderSize + kNonceSize, sealed.size() - kHeaderSize - kNonceSize - kTagSize);
  std::string tag(sealed.substr(sealed.size() - kTagSize));

  const Key key = DeriveKey(secondText);
  CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  std::string plain(body.size(), '\0');
  int length = 0;
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), Bytes(nonce)) != 1 ||
      EVP_DecryptUpdate(ctx.get(), nullptr, &length, Bytes(header), static_cast<int>(header.size())) != 1 ||
      EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &length, Bytes(body),
                        static_cast<int>(body.size())) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data()) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), nullptr, &length) != 1)
    return std::nullopt;
  return plain;
}

}  // namespace configcipher
