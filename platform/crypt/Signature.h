// Ed25519 signatures over OpenSSL's libcrypto: public keys read from PEM text,
// verification of raw 64-byte signatures (what `openssl pkeyutl -sign -rawin`
// writes) and signing with a PEM private key (what `openssl genpkey -algorithm
// ed25519` writes).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct evp_pkey_st;

inline constexpr std::size_t kEd25519SignatureBytes = 64;

class CEd25519Keys {
 public:
  // The Ed25519 public keys of PEM text holding one or more public keys;
  // blocks of another kind or key type are skipped rather than trusted.
  static CEd25519Keys FromPem(std::string_view pem);

  bool Empty() const { return keys_.empty(); }
  // True when signature is an Ed25519 signature of message under one of the keys.
  bool Verify(std::string_view message, std::string_view signature) const;

 private:
  std::vector<std::shared_ptr<evp_pkey_st>> keys_;
};

// Signs message with the Ed25519 private key in PEM text: the raw 64-byte
// signature. False with the cause in error when the key is not such a key.
bool SignEd25519(std::string_view privateKeyPem, std::string_view message, std::string& signature, std::string& error);
