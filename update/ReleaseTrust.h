// Signed releases: the publisher's Ed25519 keys that an installation trusts
// ("ZOLTUpdate.pub" in the application directory), the signature of a manifest
// ("<manifest>.sig", the raw 64 bytes over the manifest file's exact bytes),
// its expiry ([Version] "EXPIRES") and the SHA-256 of every file it lists.
//
// An installation without "ZOLTUpdate.pub" trusts its servers as before; one
// with it acts only on manifests that pass CheckManifest, and a key file that
// holds no usable key stops every update (it fails closed).
#pragma once

#include "platform/crypt/StreamDigest.h"

#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct evp_pkey_st;
struct UpdateFileInfo;
class CMD5;

inline constexpr const char* kTrustedKeysFile = "ZOLTUpdate.pub";
inline constexpr const char* kSignatureSuffix = ".sig";

class CReleaseTrust {
 public:
  // Reads appPath + "ZOLTUpdate.pub". A missing file gives an object that
  // requires nothing.
  static CReleaseTrust Load(const std::string& appPath);
  // The keys of PEM text holding one or more public keys; keys of another
  // type are skipped.
  static CReleaseTrust FromPem(std::string_view pem, const std::string& source);

  // The installation holds a key file: every manifest must be signed.
  bool Required() const { return required_; }
  // Required, and at least one Ed25519 key was read.
  bool Usable() const { return !keys_.empty(); }
  // Why a required key file is not usable (empty when it is).
  const std::string& Problem() const { return problem_; }

  // True when signature is an Ed25519 signature of content under one of the keys.
  bool Verify(std::string_view content, std::string_view signature) const;

  // Checks a fetched manifest: its signature (file signaturePath), its expiry
  // against now, and a well-formed SHA256 for every file it lists ("FILES"
  // entries, or every section of a component's "config.ini" when component is
  // true). False with the cause in reason. On success, verified (if given)
  // receives the very bytes that were checked, so that a caller acts on them
  // and not on whatever the file holds by the time it reads it again.
  bool CheckManifest(const std::string& manifestPath, const std::string& signaturePath, bool component, std::time_t now,
                     std::string& reason, std::string* verified = nullptr) const;

 private:
  bool required_ = false;
  std::string problem_;
  std::vector<std::shared_ptr<evp_pkey_st>> keys_;
};

// True when the staged copy stagingDir + file.fileName has the manifest's MD5
// and, when sha256 is true, also its SHA256. A missing or unreadable copy does
// not. When it does not match, cause (if given) says which digest differs.
// hasher is reused across calls (it keeps its read buffer).
bool StagedCopyMatches(CMD5& hasher, const UpdateFileInfo& file, const std::string& stagingDir, bool sha256,
                       std::string* cause = nullptr);

// The same judgement on digests already taken (for example while the file was
// downloaded): MD5 (as md5 and sha256 of FileDigests) always, SHA256 when
// sha256 is true.
bool DigestsMatch(const UpdateFileInfo& file, const FileDigests& digests, bool sha256, std::string* cause = nullptr);

// Signs content with the Ed25519 private key in PEM text (as `openssl genpkey
// -algorithm ed25519` writes it): the raw 64-byte signature. False with the
// cause in error when the key is not such a key.
bool SignManifest(std::string_view privateKeyPem, std::string_view content, std::string& signature, std::string& error);

// "YYYY-MM-DD HH:MM:SS" in UTC, the form of "EXPIRES".
std::string FormatExpiry(std::time_t time);
// Parses that form strictly; false for anything else.
bool ParseExpiry(const std::string& text, std::time_t& time);
