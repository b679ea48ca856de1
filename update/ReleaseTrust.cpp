#include "update/ReleaseTrust.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "platform/configfile/Profile.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/transfer/ZOLTUpdateIntf.h"
#include "platform/win32/Files.h"
#include "platform/win32/Runtime.h"
#include "update/UpdateManifest.h"

namespace {

// A key file of more than this is not a list of public keys.
constexpr std::size_t kMaximumKeyFileBytes = 1 << 20;

constexpr std::string_view kHeaderStart = "; zolt-release ";

bool IsLowerHex(const std::string& text, std::size_t length) {
  if (text.size() != length) return false;
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

// "name=<digits>" at the start of text, at most maxDigits digits, no leading
// zero and no overflow; text keeps what follows.
bool TakeNumber(std::string_view& text, std::string_view name, std::size_t maxDigits, std::uint64_t& value) {
  if (text.substr(0, name.size()) != name || text.substr(name.size(), 1) != "=") return false;
  text.remove_prefix(name.size() + 1);
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > maxDigits || (digits > 1 && text[0] == '0')) return false;
  value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  text.remove_prefix(digits);
  return true;
}

std::string FormatHeaderTime(std::time_t time) {
  std::string text = FormatExpiry(time);
  text[10] = 'T';
  return text + "Z";
}

bool ParseHeaderTime(std::string_view text, std::time_t& time) {
  if (text.size() != 20 || text[10] != 'T' || text[19] != 'Z') return false;
  std::string plain(text.substr(0, 19));
  plain[10] = ' ';
  return ParseExpiry(plain, time);
}

std::string Expired(const std::string& when) {
  return "it expired at " + when + " UTC: the publisher must publish the release again (zolt-publish --expires)";
}

}  // namespace

std::string FormatReleaseHeader(const SReleaseHeader& header) {
  std::string line =
      std::string(kHeaderStart) + "type=" + std::to_string(header.type) + " serial=" + std::to_string(header.serial);
  if (header.expires) line += " expires=" + FormatHeaderTime(*header.expires);
  return line + "\n";
}

bool ParseReleaseHeader(std::string_view content, SReleaseHeader& header) {
  const std::size_t end = content.find('\n');
  if (end == std::string_view::npos) return false;
  std::string_view line = content.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.substr(0, kHeaderStart.size()) != kHeaderStart) return false;
  line.remove_prefix(kHeaderStart.size());
  SReleaseHeader read;
  std::uint64_t type = 0;
  // Update types are what zolt-publish accepts: up to nine digits.
  if (!TakeNumber(line, "type", 9, type) || type == 0 || line.substr(0, 1) != " ") return false;
  line.remove_prefix(1);
  if (!TakeNumber(line, "serial", 20, read.serial)) return false;
  read.type = static_cast<unsigned long>(type);
  if (!line.empty()) {
    constexpr std::string_view kExpires = " expires=";
    std::time_t expires = 0;
    if (line.substr(0, kExpires.size()) != kExpires || !ParseHeaderTime(line.substr(kExpires.size()), expires))
      return false;
    read.expires = expires;
  }
  header = read;
  return true;
}

CReleaseTrust CReleaseTrust::Load(const std::string& appPath) {
  const std::string path = appPath + kTrustedKeysFile;
  std::string pem, cause;
  if (!ReadFileGuarded(path, pem, {kMaximumKeyFileBytes}, &cause)) {
    if (errno == ENOENT) return CReleaseTrust();
    // Anything at all there means the installation asked for signed releases:
    // a link, a FIFO or a file too large must not turn checking off.
    CReleaseTrust trust;
    trust.required_ = true;
    trust.problem_ = cause;
    return trust;
  }
  return FromPem(pem, NativePath(path));
}

CReleaseTrust CReleaseTrust::FromPem(std::string_view pem, const std::string& source) {
  CReleaseTrust trust;
  trust.required_ = true;
  trust.keys_ = CEd25519Keys::FromPem(pem);
  if (trust.keys_.Empty()) trust.problem_ = source + " holds no Ed25519 public key";
  return trust;
}

bool CReleaseTrust::CheckManifest(const std::string& manifestPath, const std::string& signaturePath,
                                  const SManifestExpectation& expected, std::string& reason, SReleaseHeader* accepted,
                                  std::string* verified) const {
  std::string content, signature;
  if (!ReadFileGuarded(manifestPath, content, {CZOLTUpdateIntf::kDefaultSizeCap})) {
    reason = "the manifest cannot be read";
    return false;
  }
  if (!ReadFileGuarded(signaturePath, signature, {4096})) {
    reason = "it has no signature";
    return false;
  }
  if (!Verify(content, signature)) {
    reason = "its signature does not verify under any key of " + std::string(kTrustedKeysFile);
    return false;
  }
  // The rest is read from the very bytes that were verified.
  SReleaseHeader header;
  if (!ParseReleaseHeader(content, header)) {
    reason = "it does not begin with a release header (\"; zolt-release type=... serial=...\")";
    return false;
  }
  // The signature says who published the bytes, the header what for: a
  // manifest of another type, served in place of this one, is refused.
  if (header.type != expected.updateType) {
    reason = "it was published for update type " + std::to_string(header.type) + ", not " +
             std::to_string(expected.updateType);
    return false;
  }
  if (expected.highestSerial && header.serial < *expected.highestSerial &&
      *expected.highestSerial == std::numeric_limits<std::uint64_t>::max()) {
    // No publication can go above this floor, so a rollback or any later
    // release would be refused for good: the record did not come from a
    // release the publisher made, and only clearing it helps.
    const std::string record = expected.serialRecord.empty() ? "the serial record" : expected.serialRecord;
    reason = "its serial " + std::to_string(header.serial) + " is below " + std::to_string(*expected.highestSerial) +
             ", the highest serial there is, kept in " + record + " as accepted for update type " +
             std::to_string(expected.updateType) +
             ": no release can be published above it; unless your publisher published that serial, delete " +
             record + " to accept signed releases again";
    return false;
  }
  if (expected.highestSerial && header.serial < *expected.highestSerial) {
    reason = "its serial " + std::to_string(header.serial) + " is below " + std::to_string(*expected.highestSerial) +
             ", already accepted for update type " + std::to_string(expected.updateType) +
             ": an older release replayed";
    return false;
  }
  if (header.expires && expected.now >= *header.expires) {
    reason = Expired(FormatExpiry(*header.expires));
    return false;
  }
  const CProfile manifest = CProfile::Parse(content);
  std::string expires;
  if (manifest.GetValue("Version", "EXPIRES", expires)) {
    std::time_t expiry = 0;
    if (!ParseExpiry(expires, expiry)) {
      reason = "its EXPIRES \"" + expires + "\" is not a time";
      return false;
    }
    if (expected.now >= expiry) {
      reason = Expired(expires);
      return false;
    }
  }
  std::vector<std::string> files;
  if (expected.component) {
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
  if (accepted != nullptr) *accepted = header;
  if (verified != nullptr) *verified = std::move(content);
  return true;
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

std::string FormatExpiry(std::time_t time) {
  std::tm utc{};
  crt::UtcCalendar(time, utc);
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
  if (utc.tm_mon < 1 || utc.tm_mon > 12 || utc.tm_mday < 1 || utc.tm_hour > 23 || utc.tm_min > 59 || utc.tm_sec > 60)
    return false;
  // timegm would carry an impossible day into the next month (2030-02-31 as
  // 2030-03-03): such a date is a malformed expiry, not another one.
  const int year = utc.tm_year;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (utc.tm_mday > kDays[utc.tm_mon - 1] + (utc.tm_mon == 2 && leap ? 1 : 0)) return false;
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  time = crt::TimeFromUtcCalendar(utc);
  return true;
}
