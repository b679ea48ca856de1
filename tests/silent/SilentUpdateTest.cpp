// The silent runs in process, against nginx on 127.0.0.1 and real files.
#include "silent/SilentUpdate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

#include "install/Installation.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "tests/silent/SilentFixture.h"
#include "update/UpdateRecord.h"

namespace fs = std::filesystem;

namespace {

const FileSet kOld = {{"version.txt", "4.0.9\n"}, {"readme.txt", "Tovaro\n"}, {"data\\strings.ini", "old strings\n"}};
const FileSet kNew = {{"version.txt", "4.1.0\n"},
                      {"readme.txt", "Tovaro\n"},
                      {"data\\strings.ini", "new strings\n"},
                      {"data\\skins\\blue.skin", "blue\n"}};

class SilentUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(app);
    fs::create_directories(pub);
    fs::create_directories(registry);
    server = std::make_unique<NginxServer>(pub);
    CDirectoryEx::OverrideApplicationPath(app);
    setenv("ZOLT_REGISTRY_ROOT", registry.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", work.path().c_str(), 1);
    SetRecordClock(RecordNoon);
  }
  void TearDown() override {
    SetRecordClock({});
    CDirectoryEx::OverrideApplicationPath("");
    unsetenv("ZOLT_REGISTRY_ROOT");
    unsetenv("XDG_RUNTIME_DIR");
  }

  void Install(const FileSet& files, const std::string& version, const std::string& region = "GD") {
    WriteFiles(app, files);
    WriteLocalConfig(app, version, region, server->port());
  }

  bool RunProgram() {
    CSilentUpdate update(1, "Program");
    return update.RunProgramUpdate();
  }

  bool RunComponent(const std::string& name, int type = 5) {
    CSilentUpdate update(type, name);
    return update.RunComponentUpdate();
  }

  FileSet Installed() const { return InstalledTree(app); }
  std::string Record(const std::string& key) const { return ReadConfig(app + "UpdateRecord.dat", "2026-12-08", key); }
  std::string InstalledVersion() const { return ReadConfig(app + "Config.dat", "Update", "Version"); }

  TempDir work;
  std::string app = work / "app/";
  std::string pub = work / "pub/";
  std::string registry = work / "registry/";
  std::unique_ptr<NginxServer> server;
};

}  // namespace

namespace {

// The statuses nginx answered for urlPath, in order.
std::vector<std::string> Statuses(const NginxServer& server, const std::string& urlPath) {
  std::vector<std::string> statuses;
  std::istringstream log(server.AccessLog());
  for (std::string method, uri, status, rest; log >> method >> uri >> status && std::getline(log, rest);)
    if (uri == urlPath) statuses.push_back(status);
  return statuses;
}

}  // namespace

// A check asks whether the manifest changed since the kept copy; on "not
// modified" the kept copy is read exactly as a fetched one would be. A kept
// copy that no longer has its recorded digest is never trusted, and a manifest
// changed since is fetched and acted on.
TEST_F(SilentUpdateTest, ChecksAskWhetherTheKeptManifestChanged) {
  Install(kNew, "4.1.0");
  Publish(pub, 1, kNew, {"4.1.0", "GD"});
  const std::string published = pub + "1/UpdateConfig.ini";
  fs::last_write_time(published, fs::file_time_type::clock::now() - std::chrono::hours(1));
  const std::string kept = app + "UPDATE.kept/1/UpdateConfig.ini";

  const struct {
    const char* name;
    std::function<void()> before;
    const char* status;
  } steps[] = {
      {"first check: the whole manifest", [] {}, "200"},
      {"second check: not modified", [] {}, "304"},
      {"kept copy damaged: asked in full", [&] { WriteTextFile(kept, "[Version]\nVERSION=9.9.9\n"); }, "200"},
      {"kept copy missing: asked in full", [&] { fs::remove(kept); }, "200"},
      // Only root can give a file away; for others the copy stays their own.
      {"kept copy of another user's: dropped, asked in full", [&] { (void)::chown(kept.c_str(), 65534, 65534); },
       ::geteuid() == 0 ? "200" : "304"},
      {"after that, not modified again", [] {}, "304"},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(steps[i].name);
    steps[i].before();
    EXPECT_TRUE(RunProgram());
    const auto statuses = Statuses(*server, "/1/UpdateConfig.ini");
    ASSERT_EQ(statuses.size(), i + 1);
    EXPECT_EQ(statuses.back(), steps[i].status);
    EXPECT_EQ(InstalledVersion(), "4.1.0");
    EXPECT_FALSE(fs::exists(app + "UpdateRecord.dat")) << "an up-to-date check records nothing";
    EXPECT_EQ(ReadTextFile(kept), ReadTextFile(published));
  }

  // A new release: the server answers in full and the files are installed.
  FileSet next = kNew;
  next["version.txt"] = "4.1.1\n";
  Publish(pub, 1, next, {"4.1.1", "GD"});
  fs::last_write_time(published, fs::file_time_type::clock::now() - std::chrono::minutes(1));
  EXPECT_TRUE(RunProgram());
  EXPECT_EQ(Statuses(*server, "/1/UpdateConfig.ini").back(), "200");
  EXPECT_EQ(InstalledVersion(), "4.1.1");
  EXPECT_EQ(Installed(), WithNativeNames(next));
  EXPECT_EQ(ReadTextFile(kept), ReadTextFile(published));
}

TEST_F(SilentUpdateTest, SignedReleases) {
  const Ed25519KeyFiles trusted = MakeEd25519Key(work.path(), "trusted");
  const Ed25519KeyFiles foreign = MakeEd25519Key(work.path(), "foreign");
  const std::string trustedPem = ReadTextFile(trusted.publicKey);
  const std::string foreignPem = ReadTextFile(foreign.publicKey);
  const FileSet evil = {{"data\\strings.ini", "evil strings"}};
  const std::string evilMd5 = CMD5::OfBytes("evil strings", 12);
  const TestCertificates tls = MakeCertificates(work.path(), {"localhost"});

  using Step = std::function<void(const std::string& root, int type)>;
  const Step signedRelease = [&](const std::string& root, int type) {
    Publish(root, type, kNew, {"4.1.0", "GD"});
    SignPublished(root, type, trusted.privateKey);
  };
  // Signed at serial, with the files of kNew.
  const auto at = [&](std::uint64_t serial, ManifestHeader header = {"4.1.0", "GD"}) -> Step {
    return [&, serial, header](const std::string& root, int type) {
      Publish(root, type, kNew, header);
      SignPublished(root, type, trusted.privateKey, serial);
    };
  };
  // A signed release of type from, served as the run's manifest of its type
  // (with edit made to the header after signing).
  const auto moved = [&](int from, const std::string& name, const std::string& edit) -> Step {
    return [&, from, name, edit](const std::string& root, int type) {
      signedRelease(root, from);
      const std::string to = root + std::to_string(type) + "/";
      fs::rename(root + std::to_string(from), to);
      const std::string manifest = type == 1 ? "UpdateConfig.ini" : "config.ini";
      for (const char* suffix : {"", ".sig"}) fs::rename(to + name + suffix, to + manifest + suffix);
      if (!edit.empty()) Edit(to + manifest, "type=" + std::to_string(from), edit);
    };
  };
  const Step tampered = [&](const std::string& root, int type) {
    signedRelease(root, type);
    const std::string manifest = root + (type == 1 ? "1/UpdateConfig.ini" : std::to_string(type) + "/config.ini");
    WriteTextFile(manifest, ReadTextFile(manifest) + "[extra.dll]\nMD5=0\n");
  };
  const struct {
    const char* name;
    int type;
    std::string keys;  // ZOLTUpdate.pub; empty: the installation has none
    Step first;        // the first server's publication
    Step second;       // a second server's, when given
    bool installed;
    std::string cause;              // on stderr, when not installed
    int signatureRequests;          // of the first server
    bool https = false;             // the first server over TLS, configured by name
    std::string keptSerial = "";    // the highest serial accepted by earlier runs, as earlier versions kept it
    std::string version = "4.1.0";  // recorded after a program update
    std::function<void()> before = {};  // after the publication, before the run
    std::string warning = "";           // on stderr although installed
  } cases[] = {
      {"no key file: nothing beyond the manifest is fetched", 1, "",
       [&](const std::string& root, int type) {
         Publish(root, type, kNew, {"4.1.0", "GD"});
       },
       nullptr, true, "", 0},
      // A key file removed (deleted, or not shipped by a repackaged client)
      // turns the checks off: not silently, once signed releases were taken.
      {"no key file after signed releases were taken", 1, "",
       [&](const std::string& root, int type) {
         Publish(root, type, kNew, {"4.1.0", "GD"});
       },
       nullptr, true, "", 0, false, "1000\n", "4.1.0", {},
       app + "ZOLTUpdate.pub is missing, though this installation accepted signed releases up to serial 1000 (kept in " +
           app + "UPDATE.kept/1/release-serial): it takes unsigned releases now"},
      {"signed release", 1, trustedPem, signedRelease, nullptr, true, "", 1},
      {"signed release over HTTPS", 1, trustedPem, signedRelease, nullptr, true, "", 1, true},
      {"tampered manifest over HTTPS", 1, trustedPem, tampered, nullptr, false, "signature does not verify", 1, true},
      {"second key of the file signed it", 1, foreignPem + trustedPem, signedRelease, nullptr, true, "", 1},
      {"tampered manifest", 1, trustedPem, tampered, nullptr, false, "signature does not verify", 1},
      {"missing signature", 1, trustedPem,
       [&](const std::string& root, int type) {
         Publish(root, type, kNew, {"4.1.0", "GD"});
       },
       nullptr, false, "has no signature", 1},
      {"foreign key", 1, trustedPem,
       [&](const std::string& root, int type) {
         Publish(root, type, kNew, {"4.1.0", "GD"});
         SignPublished(root, type, foreign.privateKey);
       },
       nullptr, false, "signature does not verify", 1},
      {"MD5 matches a re-signed manifest, SHA256 does not", 1, trustedPem,
       [&](const std::string& root, int type) {
         Publish(root, type, kNew, {"4.1.0", "GD"}, {{"data\\strings.ini", evilMd5}});
         WriteFiles(root + "1/", evil);
         SignPublished(root, type, trusted.privateKey);
       },
       nullptr, false, "arrived with SHA256", 1},
      {"expired manifest", 1, trustedPem,
       [&](const std::string& root, int type) {
         Publish(root, type, kNew, {"4.1.0", "GD"});
         const std::string manifest = root + "1/UpdateConfig.ini";
         WriteTextFile(manifest, "[Version]\nEXPIRES=2020-01-01 00:00:00\n" + ReadTextFile(manifest).substr(10));
         SignPublished(root, type, trusted.privateKey);
       },
       nullptr, false, "expired at 2020-01-01 00:00:00 UTC: the publisher must publish the release again", 1},
      {"bad first server, good second", 1, trustedPem, tampered, signedRelease, true, "", 1},
      {"key file without a usable key", 1, "-----BEGIN PUBLIC KEY-----\nnot a key\n-----END PUBLIC KEY-----\n",
       signedRelease, nullptr, false, "holds no Ed25519 public key", 0},
      {"signed component", 5, trustedPem, signedRelease, nullptr, true, "", 1},
      {"tampered component", 5, trustedPem, tampered, nullptr, false, "signature does not verify", 1},
      // Mix-and-match, rollback, replay and freeze.
      {"a type served under another", 6, trustedPem, moved(5, "config.ini", ""), nullptr, false,
       "published for update type 5, not 6", 1},
      {"a header whose type was edited", 6, trustedPem, moved(5, "config.ini", "type=6"), nullptr, false,
       "signature does not verify", 1},
      {"a program manifest served as a component's", 5, trustedPem, moved(1, "UpdateConfig.ini", ""), nullptr, false,
       "published for update type 1, not 5", 1},
      {"an older signed program manifest replayed with another region", 1, trustedPem, at(999, {"4.0.1", "XX"}),
       nullptr, false, "serial 999 is below 1000", 1, false, "1000\n"},
      {"an older signed manifest replayed with UNCONDITIONALUPDATE=1", 1, trustedPem, at(999, {"4.0.1", "GD", 0, 1}),
       nullptr, false, "serial 999 is below 1000", 1, false, "1000\n"},
      {"an older signed component manifest replayed", 5, trustedPem, at(999), nullptr, false,
       "serial 999 is below 1000", 1, false, "1000\n"},
      {"a header whose serial was edited", 1, trustedPem,
       [&](const std::string& root, int type) {
         at(999)(root, type);
         Edit(root + "1/UpdateConfig.ini", "serial=999", "serial=1999");
       },
       nullptr, false, "signature does not verify", 1, false, "1000\n"},
      {"an expired component manifest", 5, trustedPem,
       [&](const std::string& root, int type) {
         Publish(root, type, kNew, {});
         Edit(root + "5/config.ini", "", "; zolt-release type=5 serial=7 expires=2020-01-01T00:00:00Z\n");
         SignPublished(root, type, trusted.privateKey);
       },
       nullptr, false, "expired at 2020-01-01 00:00:00", 1},
      {"a manifest signed without the header", 1, trustedPem,
       [&](const std::string& root, int type) {
         Publish(root, type, kNew, {"4.1.0", "GD"});
         std::string signature, error;
         SignEd25519(ReadTextFile(trusted.privateKey), ReadTextFile(root + "1/UpdateConfig.ini"), signature, error);
         WriteTextFile(root + "1/UpdateConfig.ini.sig", signature);
       },
       nullptr, false, "does not begin with a release header", 1},
      {"a release re-published at the same serial", 1, trustedPem, at(1000), nullptr, true, "", 1, false, "1000\n"},
      {"a rollback published with a higher serial", 1, trustedPem, at(1001, {"4.0.8", "GD", 0, 1}), nullptr, true, "",
       1, false, "1000\n", "4.0.8"},
      {"a damaged serial record falls back to the other checks", 1, trustedPem, at(5), nullptr, true, "", 1, false,
       "10x\n"},
      {"a serial record beyond 64 bits is damaged, not a reason to stop", 1, trustedPem, at(5), nullptr, true, "", 1,
       false, "99999999999999999999\n"},
      {"a serial record at the highest serial there is names itself and how to clear it", 1, trustedPem, at(2000),
       nullptr, false,
       "is below 18446744073709551615, the highest serial there is, kept in " + app +
           "UPDATE.kept/1/release-serial as accepted for update type 1: no release can be published above it; "
           "unless your publisher published that serial, delete " +
           app + "UPDATE.kept/1/release-serial to accept signed releases again",
       1, false, "18446744073709551615\n"},
      {"a serial record with a second name is no floor", 1, trustedPem, at(999), nullptr, true, "", 1, false, "1000\n",
       "4.1.0",
       [&] {
         fs::remove(work / "second-name");
         fs::create_hard_link(app + "UPDATE.kept/1/release-serial", work / "second-name");
       }},
      // The dialog of type 5 takes "UpdateConfig.ini", re-signed by
      // --set-rollout at a higher serial; the component run's "config.ini"
      // of the same type keeps its own floor.
      {"each manifest of a type has its own serial floor", 5, trustedPem, at(1000), nullptr, true, "", 1, false, "",
       "4.1.0",
       [&] {
         Publish(work / "dialog/", 1, kNew, {"4.1.0", "GD", 0, 0, "50"});
         fs::copy_file(work / "dialog/1/UpdateConfig.ini", pub + "5/UpdateConfig.ini");
         SignManifestFile(pub + "5/UpdateConfig.ini", 5, trusted.privateKey, 2000);
         CZOLTUpdateIntf transfer({S_UpdateSerivceAddr("127.0.0.1", static_cast<std::uint16_t>(server->port()))}, false);
         const UpdateFolders folders = FoldersOfType(app, 5, "Plugins");
         CUpdateSession dialog({5, app, folders.installDir, folders.stagingDir, "UpdateConfig.ini", "4.0.9", "GD"},
                               transfer);
         ASSERT_TRUE(dialog.Prepare() && dialog.FetchManifest());
         EXPECT_EQ(ReadTextFile(app + "UPDATE.kept/5/UpdateConfig.ini.serial"), "2000\n");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir fresh;
    pub = fresh / "pub/";
    const std::string secondRoot = fresh / "second/";
    fs::create_directories(pub);
    fs::create_directories(secondRoot);
    server = c.https ? std::make_unique<NginxServer>(pub, NginxOptions{"", "", tls.certificate, tls.key, ""})
                     : std::make_unique<NginxServer>(pub);
    NginxServer second(secondRoot);
    fs::remove_all(app);
    Install(kOld, "4.0.9");
    if (c.https) {
      CCryptConfigFile config(app + "Config.dat", "");
      config.WriteString("Update", "ServerIP", "localhost");
      config.WriteInteger("Update", "UseHttps", 1);
      config.WriteString("Update", "CAFile", tls.ca);
    }
    if (!c.keys.empty()) WriteTextFile(app + "ZOLTUpdate.pub", c.keys);
    const std::string serialRecord = app + "UPDATE.kept/" + std::to_string(c.type) + "/release-serial";
    if (!c.keptSerial.empty()) WriteTextFile(serialRecord, c.keptSerial);
    const std::string typePath = "/" + std::to_string(c.type) + "/";
    const std::string manifest = c.type == 1 ? "UpdateConfig.ini" : "config.ini";
    const std::string ownRecord = app + "UPDATE.kept" + typePath + manifest + ".serial";
    c.first(pub, c.type);
    if (c.second) {
      c.second(secondRoot, c.type);
      CCryptConfigFile config(app + "Config.dat", "");
      config.WriteString("Update", "ServerIP2", "127.0.0.1");
      config.WriteInteger("Update", "ServerPort2", second.port());
    }
    if (c.before) c.before();

    testing::internal::CaptureStderr();
    const bool ran = c.type == 1 ? RunProgram() : RunComponent("Plugins", c.type);
    const std::string errors = testing::internal::GetCapturedStderr();
    const std::string target = c.type == 1 ? app : app + "Plugins/";
    if (c.installed) {
      EXPECT_TRUE(ran);
      if (c.warning.empty()) {
        EXPECT_EQ(errors, "");
      } else {
        EXPECT_EQ(errors.find("ZOLTUpdate: warning: " + c.warning), 0u) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
      }
      EXPECT_EQ(ReadTextFile(target + "data/strings.ini"), "new strings\n");
      EXPECT_EQ(InstalledVersion(), c.type == 1 ? c.version : "4.0.9");
      SReleaseHeader served;
      if (!c.keys.empty() && ParseReleaseHeader(ReadTextFile(app + "UPDATE.kept" + typePath + manifest), served)) {
        EXPECT_EQ(ReadTextFile(ownRecord), std::to_string(served.serial) + "\n");
        if (!c.keptSerial.empty()) {
          EXPECT_EQ(ReadTextFile(serialRecord), c.keptSerial) << "the shared record of earlier versions stays";
        }
      }
    } else {
      EXPECT_NE(errors.find(c.cause), std::string::npos) << errors;
      EXPECT_EQ(ReadTextFile(target + "data/strings.ini"), c.type == 1 ? "old strings\n" : "");
      EXPECT_EQ(InstalledVersion(), "4.0.9");
      if (!c.keptSerial.empty()) {
        EXPECT_EQ(ReadTextFile(serialRecord), c.keptSerial) << "a refused manifest records nothing";
        EXPECT_FALSE(fs::exists(ownRecord));
      }
      EXPECT_FALSE(fs::exists(app + "UpdateRecord.dat"));
    }
    EXPECT_EQ(Requests(*server, typePath + manifest + ".sig"), c.signatureRequests);
    if (!c.installed && c.signatureRequests <= 1 && std::string(c.cause).find("SHA256") == std::string::npos) {
      // A refused manifest: nothing of it fetched or staged.
      EXPECT_FALSE(ran);
      EXPECT_EQ(Requests(*server, typePath + "version.txt"), 0);
      EXPECT_FALSE(fs::exists(app + "UPDATE/" + (c.type == 1 ? "Program/" : "Plugins/") + manifest));
    }
  }
}

TEST_F(SilentUpdateTest, KeysAreRotatedByAReleaseThatShipsZOLTUpdatePub) {
  const Ed25519KeyFiles old = MakeEd25519Key(work.path(), "old");
  const Ed25519KeyFiles next = MakeEd25519Key(work.path(), "next");
  const std::string oldPem = ReadTextFile(old.publicKey), nextPem = ReadTextFile(next.publicKey);
  Install(kOld, "4.0.9");
  WriteTextFile(app + "ZOLTUpdate.pub", oldPem);

  const struct {
    const char* name;
    const char* version;
    std::string shippedKeys;
    std::string signer;
    bool installed;
    std::string keysAfter;
  } steps[] = {
      {"signed with the old key, ships both keys", "4.1.0", oldPem + nextPem, old.privateKey, true, oldPem + nextPem},
      {"signed with the new key, ships only it", "4.2.0", nextPem, next.privateKey, true, nextPem},
      {"the old key is no longer trusted", "4.3.0", nextPem, old.privateKey, false, nextPem},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    FileSet release = kNew;
    release["version.txt"] = std::string(step.version) + "\n";
    release["ZOLTUpdate.pub"] = step.shippedKeys;
    Publish(pub, 1, release, {step.version, "GD"});
    SignPublished(pub, 1, step.signer);
    testing::internal::CaptureStderr();
    RunProgram();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.empty(), step.installed) << errors;
    EXPECT_EQ(InstalledVersion() == step.version, step.installed);
    EXPECT_EQ(ReadTextFile(app + "ZOLTUpdate.pub"), step.keysAfter);
  }
}

// With signed releases the kept signature serves with the kept manifest on
// 304, and the pair is checked again: a kept pair that no longer verifies is
// dropped and the server asked in full.
TEST_F(SilentUpdateTest, SignedChecksReuseTheKeptPairAndCheckItAgain) {
  const Ed25519KeyFiles trusted = MakeEd25519Key(work.path(), "trusted");
  const Ed25519KeyFiles foreign = MakeEd25519Key(work.path(), "foreign");
  Install(kNew, "4.1.0");
  WriteTextFile(app + "ZOLTUpdate.pub", ReadTextFile(trusted.publicKey));
  Publish(pub, 1, kNew, {"4.1.0", "GD"});
  SignPublished(pub, 1, trusted.privateKey);
  for (const char* file : {"UpdateConfig.ini", "UpdateConfig.ini.sig"})
    fs::last_write_time(pub + "1/" + file, fs::file_time_type::clock::now() - std::chrono::hours(1));
  const std::string kept = app + "UPDATE.kept/1/UpdateConfig.ini";

  const struct {
    const char* name;
    std::function<void()> before;
    std::vector<std::string> statuses;  // of the manifest in this run
    int signatureRequests;              // in all runs so far
    const char* cause = "";             // of a refused run
  } steps[] = {
      {"first check: manifest and signature", [] {}, {"200"}, 1},
      {"second check: both kept", [] {}, {"304"}, 1},
      {"kept signature forged (its record updated too): refused, asked in full",
       [&] {
         // The published pair stays as it was, time included, so the server
         // still answers 304 for the manifest.
         const auto published = fs::last_write_time(pub + "1/UpdateConfig.ini");
         SignPublished(pub, 1, foreign.privateKey);
         fs::copy_file(pub + "1/UpdateConfig.ini.sig", kept + ".sig", fs::copy_options::overwrite_existing);
         SignPublished(pub, 1, trusted.privateKey);
         fs::last_write_time(pub + "1/UpdateConfig.ini", published);
         std::string record = ReadTextFile(kept + ".sig.validators");
         const std::string sig = ReadTextFile(kept + ".sig");
         record =
             record.substr(0, record.rfind('\n', record.size() - 2) + 1) + CMD5::OfBytes(sig.data(), sig.size()) + "\n";
         WriteTextFile(kept + ".sig.validators", record);
       },
       {"304", "200"},
       2},
      {"a newer release seen since: the kept pair is an older one on 304 too",
       [&] { WriteTextFile(app + "UPDATE.kept/1/UpdateConfig.ini.serial", "999999999999\n"); },
       {"304", "200"},
       3,
       "is below 999999999999"},
  };
  std::size_t seen = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    step.before();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunProgram(), *step.cause == '\0');
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.empty(), *step.cause == '\0') << errors;
    EXPECT_NE(errors.find(step.cause), std::string::npos) << errors;
    const auto statuses = Statuses(*server, "/1/UpdateConfig.ini");
    ASSERT_EQ(statuses.size(), seen + step.statuses.size()) << server->AccessLog();
    EXPECT_EQ(std::vector<std::string>(statuses.begin() + seen, statuses.end()), step.statuses);
    seen = statuses.size();
    EXPECT_EQ(Requests(*server, "/1/UpdateConfig.ini.sig"), step.signatureRequests);
    EXPECT_EQ(ReadTextFile(kept + ".sig"), ReadTextFile(pub + "1/UpdateConfig.ini.sig"));
    EXPECT_EQ(InstalledVersion(), "4.1.0");
  }
}
