// Signed releases: which manifests an installation that trusts its
// publisher's Ed25519 keys ("ZOLTUpdate.pub" in the application directory) may
// act on. A manifest is signed as a whole ("<manifest>.sig", the raw 64 bytes
// over the file's exact bytes), begins with a release header that binds it to
// its update type and orders it among the publications of that type, may
// expire, and gives the SHA-256 of every file it lists.
//
// An installation without "ZOLTUpdate.pub" trusts its servers as before; one
// with it acts only on manifests that pass CheckManifest, and a key file that
// holds no usable key, or cannot be read safely, stops every update (it fails
// closed).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypt/Signature.h"
#include "platform/crypt/StreamDigest.h"

struct UpdateFileInfo;
class CMD5;

inline constexpr const char* kTrustedKeysFile = "ZOLTUpdate.pub";
inline constexpr const char* kSignatureSuffix = ".sig";

// The first line of a signed manifest, a profile comment that readers without
// a key skip:
//   "; zolt-release type=<N> serial=<S> expires=<YYYY-MM-DDTHH:MM:SSZ>"
// with expires optional. serial grows with every publication of the type.
struct SReleaseHeader {
  unsigned long type = 0;
  std::uint64_t serial = 0;
  std::optional<std::time_t> expires;
};
// The line, ending with "\n".
std::string FormatReleaseHeader(const SReleaseHeader& header);
// Reads the header from the first line of content, strictly in the form
// above; false when that line is not one.
bool ParseReleaseHeader(std::string_view content, SReleaseHeader& header);

// What a run demands of its manifest beyond the signature.
struct SManifestExpectation {
  unsigned long updateType = 1;  // the header's type must be this
  bool component = false;        // a "config.ini": every section lists a file
  // The highest serial an earlier run accepted for updateType; a lower one is
  // an older release replayed. None when no record is kept (or it is damaged):
  // then only the other checks hold.
  std::optional<std::uint64_t> highestSerial;
  std::time_t now = 0;
  // The file that keeps highestSerial, named in the cause of a refusal.
  std::string serialRecord;
};

// The highest serial accepted before for a manifest, and the file keeping it.
struct SSerialFloor {
  std::optional<std::uint64_t> serial;
  std::string record;
};

class CReleaseTrust {
 public:
  // Reads appPath + "ZOLTUpdate.pub" as a file of the installation: a regular
  // file, not through a symbolic link, of bounded size. Nothing at all there
  // gives an object that requires nothing; anything else that cannot be read
  // so gives a required, unusable one.
  static CReleaseTrust Load(const std::string& appPath);
  // The keys of PEM text holding one or more public keys; keys of another
  // type are skipped.
  static CReleaseTrust FromPem(std::string_view pem, const std::string& source);

  // The installation holds a key file: every manifest must be signed.
  bool Required() const { return required_; }
  // Required, and at least one Ed25519 key was read.
  bool Usable() const { return !keys_.Empty(); }
  // Why a required key file is not usable (empty when it is).
  const std::string& Problem() const { return problem_; }

  // True when signature is an Ed25519 signature of content under one of the keys.
  bool Verify(std::string_view content, std::string_view signature) const { return keys_.Verify(content, signature); }

  // Checks a fetched manifest: its signature (file signaturePath), its release
  // header (type, serial, expiry), [Version] "EXPIRES" when present, and a
  // well-formed SHA256 for every file it lists ("FILES" entries, or every
  // section of a component's "config.ini"). False with the cause in reason;
  // true with the header in accepted (if given) and, in verified (if given),
  // the very bytes that were checked, so that a caller acts on them and not on
  // whatever the file holds by the time it reads it again.
  bool CheckManifest(const std::string& manifestPath, const std::string& signaturePath,
                     const SManifestExpectation& expected, std::string& reason, SReleaseHeader* accepted = nullptr,
                     std::string* verified = nullptr) const;

 private:
  bool required_ = false;
  std::string problem_;
  CEd25519Keys keys_;
};

// Whether digests taken of a file (while it was downloaded, or by
// StagedCopyMatches in update/StagedCheck.h) are those of its manifest entry:
// MD5 (as md5 and sha256 of FileDigests) always, SHA256 when
// sha256 is true.
bool DigestsMatch(const UpdateFileInfo& file, const FileDigests& digests, bool sha256, std::string* cause = nullptr);

// "YYYY-MM-DD HH:MM:SS" in UTC, the form of "EXPIRES".
std::string FormatExpiry(std::time_t time);
// Parses that form strictly; false for anything else.
bool ParseExpiry(const std::string& text, std::time_t& time);
