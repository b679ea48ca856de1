// Keys, signatures, expiry and per-file SHA-256 of signed releases, with keys
// made by the openssl command as publishers make them.
#include "update/ReleaseTrust.h"

#include "platform/crypt/Signature.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/crypt/MD5.h"
#include "tests/support/HttpServers.h"
#include "tests/support/TempDir.h"
#include "update/StagedCheck.h"
#include "update/UpdateManifest.h"

namespace {

class ReleaseTrustTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    trusted_ = MakeEd25519Key(dir_->path(), "trusted");
    foreign_ = MakeEd25519Key(dir_->path(), "foreign");
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string Signed(const std::string& text, const std::string& privateKey) {
    std::string signature, error;
    EXPECT_TRUE(SignEd25519(ReadTextFile(privateKey), text, signature, error)) << error;
    return signature;
  }

  static TempDir* dir_;
  static Ed25519KeyFiles trusted_, foreign_;
};
TempDir* ReleaseTrustTest::dir_ = nullptr;
Ed25519KeyFiles ReleaseTrustTest::trusted_, ReleaseTrustTest::foreign_;

const std::string kSha = std::string(64, 'a');

TEST_F(ReleaseTrustTest, KeyFiles) {
  TempDir app;
  EXPECT_FALSE(CReleaseTrust::Load(app.path()).Required()) << "no key file, nothing required";

  const std::string rsa = dir_->path() + "rsa.pub";
  ASSERT_EQ(std::system(("openssl genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:1024 2>/dev/null | openssl pkey "
                         "-pubout -out '" +
                         rsa + "' 2>/dev/null")
                            .c_str()),
            0);
  const struct {
    const char* name;
    std::string pem;
    bool usable;
    bool verifiesTrusted;
  } cases[] = {
      {"one key", ReadTextFile(trusted_.publicKey), true, true},
      {"the trusted key second", ReadTextFile(foreign_.publicKey) + ReadTextFile(trusted_.publicKey), true, true},
      {"another Ed25519 key only", ReadTextFile(foreign_.publicKey), true, false},
      {"empty file", "", false, false},
      {"an RSA key only", ReadTextFile(rsa), false, false},
      {"an RSA key, then the trusted key", ReadTextFile(rsa) + ReadTextFile(trusted_.publicKey), true, true},
      {"garbage", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", false, false},
      {"a private key", ReadTextFile(trusted_.privateKey), false, false},
  };
  const std::string text = "[Version]\nVERSION=1\n";
  const std::string signature = Signed(text, trusted_.privateKey);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteTextFile(app / kTrustedKeysFile, c.pem);
    const CReleaseTrust trust = CReleaseTrust::Load(app.path());
    EXPECT_TRUE(trust.Required());
    EXPECT_EQ(trust.Usable(), c.usable);
    EXPECT_EQ(trust.Problem().empty(), c.usable) << trust.Problem();
    EXPECT_EQ(trust.Verify(text, signature), c.verifiesTrusted);
  }
}

TEST_F(ReleaseTrustTest, ManifestChecks) {
  const CReleaseTrust trust = CReleaseTrust::FromPem(ReadTextFile(trusted_.publicKey), "test");
  const std::string files = "[FILES]\na.dll\n[a.dll]\nMD5=0\nSHA256=" + kSha + "\n";
  std::time_t now = 0;
  ASSERT_TRUE(ParseExpiry("2026-12-01 00:00:00", now));
  const std::string header = "; zolt-release type=1 serial=10\n";
  const struct {
    const char* name;
    std::string manifest;  // signed as header + manifest
    const char* signer;    // "trusted", "foreign" or "" (no .sig)
    std::string appended;  // after signing
    bool component;
    const char* reason;  // empty: accepted
    std::string header = "; zolt-release type=1 serial=10\n";
    std::string servedHeader = "";  // served in place of the signed header
    std::optional<std::uint64_t> highest = 10;
  } cases[] = {
      {"signed", "[Version]\nVERSION=2\n" + files, "trusted", "", false, ""},
      {"one byte added after signing", "[Version]\nVERSION=2\n" + files, "trusted", " ", false, "does not verify"},
      {"no signature", "[Version]\nVERSION=2\n" + files, "", "", false, "no signature"},
      {"foreign key", "[Version]\nVERSION=2\n" + files, "foreign", "", false, "does not verify"},
      {"not yet expired", "[Version]\nEXPIRES=2026-12-01 00:00:01\n" + files, "trusted", "", false, ""},
      {"expired", "[Version]\nEXPIRES=2026-11-30 23:59:59\n" + files, "trusted", "", false, "expired at"},
      {"expiry not a time", "[Version]\nEXPIRES=2030-1-1 00:00:00\n" + files, "trusted", "", false, "not a time"},
      {"expiry with a word after it", "[Version]\nEXPIRES=2030-01-01 00:00:00 UTC\n" + files, "trusted", "", false,
       "not a time"},
      {"expiry on a day its month lacks", "[Version]\nEXPIRES=2030-02-31 00:00:00\n" + files, "trusted", "", false,
       "not a time"},
      {"header expiry on a day its month lacks", "[a.dll]\nSHA256=" + kSha + "\n", "trusted", "", true,
       "does not begin with a release header", "; zolt-release type=1 serial=10 expires=2027-04-31T00:00:00Z\n"},
      {"a file without SHA256", "[Version]\nVERSION=2\n[FILES]\na.dll\nb.dll\n[a.dll]\nSHA256=" + kSha + "\n",
       "trusted", "", false, "no SHA256 for b.dll"},
      {"SHA256 in capitals", "[FILES]\na.dll\n[a.dll]\nSHA256=" + std::string(64, 'A') + "\n", "trusted", "", false,
       "no SHA256"},
      {"SHA256 too short", "[FILES]\na.dll\n[a.dll]\nSHA256=" + std::string(63, 'a') + "\n", "trusted", "", false,
       "no SHA256"},
      {"component sections", "[a.dll]\nSHA256=" + kSha + "\n[b\\c.so]\nSHA256=" + kSha + "\n", "trusted", "", true, ""},
      {"component section without SHA256", "[a.dll]\nSHA256=" + kSha + "\n[b.so]\nMD5=0\n", "trusted", "", true,
       "no SHA256 for b.so"},
      // The release header.
      {"signed without a header", files, "trusted", "", false, "does not begin with a release header", ""},
      {"header of another type", files, "trusted", "", false, "published for update type 5, not 1",
       "; zolt-release type=5 serial=10\n"},
      {"type edited after signing", files, "trusted", "", false, "does not verify", header,
       "; zolt-release type=2 serial=10\n"},
      {"serial edited after signing", files, "trusted", "", false, "does not verify", header,
       "; zolt-release type=1 serial=99\n"},
      {"serial below the highest accepted", files, "trusted", "", false, "serial 9 is below 10",
       "; zolt-release type=1 serial=9\n"},
      {"the same serial again", files, "trusted", "", false, ""},
      {"a lower serial without a record", files, "trusted", "", false, "", "; zolt-release type=1 serial=9\n", "",
       std::nullopt},
      {"header expiry passed", "[a.dll]\nSHA256=" + kSha + "\n", "trusted", "", true, "expired at 2026-11-30 23:59:59",
       "; zolt-release type=1 serial=10 expires=2026-11-30T23:59:59Z\n"},
      {"header expiry ahead", "[a.dll]\nSHA256=" + kSha + "\n", "trusted", "", true, "",
       "; zolt-release type=1 serial=10 expires=2026-12-01T00:00:01Z\r\n"},
      {"both expiries, the header's ahead", "[Version]\nEXPIRES=2026-11-30 23:59:59\n" + files, "trusted", "", false,
       "expired at 2026-11-30", "; zolt-release type=1 serial=10 expires=2027-01-01T00:00:00Z\n"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string manifest = dir / "UpdateConfig.ini";
    std::remove((manifest + ".sig").c_str());
    const std::string served = c.servedHeader.empty() ? c.header : c.servedHeader;
    WriteTextFile(manifest, served + c.manifest + c.appended);
    if (*c.signer != '\0')
      WriteTextFile(manifest + ".sig",
                    Signed(c.header + c.manifest,
                           std::string(c.signer) == "trusted" ? trusted_.privateKey : foreign_.privateKey));
    std::string reason;
    const bool accepted = trust.CheckManifest(manifest, manifest + ".sig", {1, c.component, c.highest, now, ""}, reason);
    EXPECT_EQ(accepted, *c.reason == '\0') << reason;
    if (*c.reason != '\0') {
      EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
  }
  SReleaseHeader read;
  for (const char* bad :
       {"; zolt-release type=1\n", "; zolt-release type=1 serial=010\n", "; zolt-release type=0 serial=1\n",
        "; zolt-release type=1 serial=1 \n", "; zolt-release type=1 serial=1 expires=2026-12-01 00:00:00\n",
        "\n; zolt-release type=1 serial=1\n", "; zolt-release type=1 serial=1"})
    EXPECT_FALSE(ParseReleaseHeader(bad, read)) << bad;
  ASSERT_TRUE(ParseReleaseHeader(FormatReleaseHeader({6, 18446744073709551615u, now}), read));
  EXPECT_EQ(read.type, 6u);
  EXPECT_EQ(read.serial, 18446744073709551615u);
  EXPECT_EQ(read.expires, now);
}

// A staged copy that is not the published one is deleted: no later step
// may take it for the file, and the next run need not read it again.
TEST_F(ReleaseTrustTest, StagedCopyNeedsBothDigestsOnlyWhenSigned) {
  TempDir staging;
  const std::string md5 = CMD5::OfBytes("published", 9);
  const std::string sha = CMD5::SHA256OfBytes("published", 9);
  const struct {
    const char* name;
    UpdateFileInfo file;
    bool sha256;
    bool matches;
    const char* cause;
  } cases[] = {
      {"both digests", {"a.dll", "", "9", md5, sha}, true, true, ""},
      {"MD5 only, unsigned installation", {"a.dll", "", "9", md5, kSha}, false, true, ""},
      {"MD5 matches, SHA256 does not", {"a.dll", "", "9", md5, kSha}, true, false, "a.dll arrived with SHA256 "},
      {"SHA256 in capitals", {"a.dll", "", "9", md5, "E" + sha.substr(1)}, true, false, "arrived with SHA256"},
      {"MD5 differs", {"a.dll", "", "9", std::string(32, '0'), sha}, true, false, "a.dll arrived with MD5 "},
      {"missing copy", {"b.dll", "", "9", md5, sha}, true, false, "b.dll is missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteTextFile(staging / "a.dll", "published");
    std::string cause;
    EXPECT_EQ(StagedCopyMatches(c.file, staging.path(), c.sha256, &cause), c.matches) << cause;
    if (!c.matches) {
      EXPECT_NE(cause.find(c.cause), std::string::npos) << cause;
    }
    EXPECT_EQ(std::filesystem::exists(staging / "a.dll"), c.matches || c.file.fileName != "a.dll");
  }
  // A folder where the copy should be cannot be read: it says so, and stays.
  std::filesystem::create_directory(staging / "c.dll");
  std::string cause;
  EXPECT_FALSE(StagedCopyMatches({"c.dll", "", "9", md5, sha}, staging.path(), true, &cause));
  EXPECT_EQ(cause.find("cannot read the staged copy of c.dll: "), 0u) << cause;
  EXPECT_TRUE(std::filesystem::is_directory(staging / "c.dll"));
  WriteTextFile(staging / "a.dll", "published");
  CMD5 hasher;
  // sha256sum's text for the same bytes.
  EXPECT_EQ(CMD5::SHA256OfBytes("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  std::string digest;
  EXPECT_EQ(hasher.GetFileSHA256((staging / "a.dll").c_str(), digest), 1);
  EXPECT_EQ(digest, sha);
}

TEST_F(ReleaseTrustTest, SigningKeyMustBeAnEd25519PrivateKey) {
  std::string signature, error;
  EXPECT_FALSE(SignEd25519(ReadTextFile(trusted_.publicKey), "x", signature, error));
  EXPECT_FALSE(SignEd25519("", "x", signature, error));
  EXPECT_TRUE(SignEd25519(ReadTextFile(trusted_.privateKey), "x", signature, error));
  EXPECT_EQ(signature.size(), 64u);
}

TEST_F(ReleaseTrustTest, ExpiryForm) {
  std::time_t time = 0;
  ASSERT_TRUE(ParseExpiry("2026-12-08 14:45:00", time));
  EXPECT_EQ(FormatExpiry(time), "2026-12-08 14:45:00");
  EXPECT_EQ(FormatExpiry(0), "1970-01-01 00:00:00");
  for (const char* bad : {"", "2026-12-08", "2026-13-01 00:00:00", "2026-12-08T14:45:00", "2026-12-08 24:00:00",
                          " 2026-12-08 14:45:00", "2026-12-08 14:45:0x", "2030-02-31 00:00:00", "2030-02-29 00:00:00",
                          "2100-02-29 00:00:00", "2030-06-31 00:00:00", "2030-01-00 00:00:00"})
    EXPECT_FALSE(ParseExpiry(bad, time)) << bad;
  // The last days of months, leap days included, are dates.
  for (const char* good : {"2028-02-29 00:00:00", "2000-02-29 12:00:00", "2030-12-31 23:59:59", "2030-04-30 00:00:00"}) {
    ASSERT_TRUE(ParseExpiry(good, time)) << good;
    EXPECT_EQ(FormatExpiry(time), good);
  }
}

}  // namespace
