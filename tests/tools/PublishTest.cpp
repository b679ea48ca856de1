// zolt-publish, run as publishers run it, checked through the updater's own
// readers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "platform/crypt/ZstdPatch.h"
#include "tests/support/HttpServers.h"
#include "tests/support/TempDir.h"
#include "tests/update/ShellCommand.h"
#include "update/DeltaOffers.h"
#include "update/ReleaseTrust.h"
#include "update/UpdateManifest.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
  int exitCode;
  std::string errors;
};

class PublishTest : public ::testing::Test {
 protected:
  static std::string ToolPath() {
    if (const char* tool = std::getenv("ZOLT_PUBLISH")) return tool;
    const char* build = std::getenv("ZOLT_BUILD_DIR");
    return std::string(build ? build : ".") + "/tools/zolt-publish";
  }

  ToolRun Publish(const std::string& arguments, const std::string& release, const std::string& root) {
    const std::string errors = dir_ / "stderr.txt";
    const std::string command = ShellQuote(ToolPath()) + " " + arguments + " " + ShellQuote(release) + " " +
                                ShellQuote(root) + " >/dev/null 2>" + ShellQuote(errors);
    const CommandResult result = RunCommand(command);
    return {result.exitCode, ReadTextFile(errors)};
  }

  // Everything below root, as relative names, for "nothing half written".
  static std::vector<std::string> Listing(const std::string& root) {
    std::vector<std::string> names;
    if (!fs::exists(root)) return names;
    for (const auto& entry : fs::recursive_directory_iterator(root))
      names.push_back(entry.path().lexically_relative(root).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  void WriteRelease() {
    WriteTextFile(release_ + "ZOLTClient.exe", "client 2.0");
    WriteTextFile(release_ + "skin/main.png", "png bytes");
    WriteTextFile(release_ + "skin/deep/a b.txt", "");
    WriteTextFile(release_ + "Readme=first.txt", "equals in a name");
  }

  TempDir dir_;
  std::string release_ = dir_ / "release/";
  std::string root_ = dir_ / "publish";
};

TEST_F(PublishTest, ManifestReadsBackThroughTheUpdatersReader) {
  WriteRelease();
  ASSERT_EQ(Publish("--release-version 2.0 --region 0571 --notify", release_, root_).exitCode, 0);
  const std::string published = root_ + "/1/";
  CConfigFile manifest(published + "UpdateConfig.ini");
  std::string value;
  manifest.ReadString("Version", "VERSION", "", value);
  EXPECT_EQ(value, "2.0");
  manifest.ReadString("Version", "REGION", "", value);
  EXPECT_EQ(value, "0571");
  EXPECT_EQ(manifest.ReadInteger("Version", "NOTIFIY", -1), 1);
  EXPECT_EQ(manifest.ReadInteger("Version", "UNCONDITIONALUPDATE", -1), 0);

  std::vector<std::string> files;
  manifest.ReadSection("FILES", files);
  const std::vector<std::string> expected = {"Readme=first.txt", "ZOLTClient.exe", "skin\\deep\\a b.txt",
                                             "skin\\main.png"};
  EXPECT_EQ(files, expected) << "sorted byte-wise, \"\\\" between folders";
  for (const std::string& name : files) {
    std::string native = name;
    std::replace(native.begin(), native.end(), '\\', '/');
    manifest.ReadString(name, "MD5", "", value);
    EXPECT_EQ(value, Md5sumOf(published + native)) << name;
    EXPECT_EQ(value, Md5sumOf(release_ + native)) << name;
    manifest.ReadString(name, "SHA256", "", value);
    EXPECT_EQ(value, RunCommand("sha256sum -b " + ShellQuote(published + native)).output.substr(0, 64)) << name;
    manifest.ReadString(name, "SIZE", "", value);
    EXPECT_EQ(value, std::to_string(fs::file_size(release_ + native))) << name;
    manifest.ReadString(name, "MODIFYTIME", "", value);
    EXPECT_TRUE(std::regex_match(value, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << value;
    EXPECT_EQ(ReadTextFile(published + native), ReadTextFile(release_ + native)) << name;
  }
  EXPECT_FALSE(fs::exists(published + "config.ini")) << "only components get config.ini";
}

TEST_F(PublishTest, ComponentTypeAlsoWritesConfigIni) {
  WriteRelease();
  ASSERT_EQ(Publish("--type 3 --unconditional --release-version 1.0 --region 1", release_, root_).exitCode, 0);
  CConfigFile component(root_ + "/3/config.ini");
  std::vector<std::string> sections;
  component.ReadSections(sections);
  EXPECT_EQ(sections,
            (std::vector<std::string>{"Readme=first.txt", "ZOLTClient.exe", "skin\\deep\\a b.txt", "skin\\main.png"}));
  std::string value;
  component.ReadString("skin\\main.png", "MD5", "", value);
  EXPECT_EQ(value, Md5sumOf(release_ + "skin/main.png"));
  CConfigFile manifest(root_ + "/3/UpdateConfig.ini");
  EXPECT_EQ(manifest.ReadInteger("Version", "UNCONDITIONALUPDATE", -1), 1);
}

TEST_F(PublishTest, SignedManifestsVerifyWithOpensslAndCarryTheirExpiry) {
  WriteRelease();
  const Ed25519KeyFiles key = MakeEd25519Key(dir_.path(), "publisher");
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(Publish("--type 3 --release-version 2.0 --region 1 --expires 30 --sign-key " + ShellQuote(key.privateKey),
                    release_, root_)
                .exitCode,
            0);
  for (const char* manifest : {"UpdateConfig.ini", "config.ini"}) {
    SCOPED_TRACE(manifest);
    const std::string path = root_ + "/3/" + manifest;
    EXPECT_EQ(fs::file_size(path + ".sig"), 64u);
    const std::string verify = "openssl pkeyutl -verify -pubin -inkey " + ShellQuote(key.publicKey) + " -rawin -in " +
                               ShellQuote(path) + " -sigfile " + ShellQuote(path + ".sig");
    EXPECT_EQ(RunCommand(verify + " >/dev/null 2>&1").exitCode, 0);
    // One changed byte, and openssl refuses it too.
    WriteTextFile(dir_ / "changed.ini", ReadTextFile(path) + "\n");
    EXPECT_NE(
        RunCommand("openssl pkeyutl -verify -pubin -inkey " + ShellQuote(key.publicKey) + " -rawin -in " +
                   ShellQuote(dir_ / "changed.ini") + " -sigfile " + ShellQuote(path + ".sig") + " >/dev/null 2>&1")
            .exitCode,
        0);
  }
  CConfigFile manifest(root_ + "/3/UpdateConfig.ini");
  std::string expires;
  manifest.ReadString("Version", "EXPIRES", "", expires);
  std::time_t expiry = 0;
  ASSERT_TRUE(ParseExpiry(expires, expiry)) << expires;
  EXPECT_GE(expiry, before + 30 * 86400);
  EXPECT_LE(expiry, std::time(nullptr) + 30 * 86400);
  CConfigFile component(root_ + "/3/config.ini");
  std::vector<std::string> sections;
  component.ReadSections(sections);
  EXPECT_EQ(sections.size(), 4u) << "a component manifest stays sections of files only";

  // The release header: the type, a serial above every earlier one, the expiry.
  const auto published = [&] {
    SReleaseHeader header;
    EXPECT_TRUE(ParseReleaseHeader(ReadTextFile(root_ + "/3/config.ini"), header));
    return header;
  };
  SReleaseHeader header = published();
  EXPECT_EQ(header.type, 3u);
  EXPECT_GE(header.serial, static_cast<std::uint64_t>(before));
  EXPECT_EQ(header.expires, expiry);
  EXPECT_TRUE(ReadTextFile(root_ + "/3/UpdateConfig.ini").starts_with(FormatReleaseHeader(header)))
      << "both manifests of the type carry the same header";
  const std::string signing = "--type 3 --release-version 2.0 --region 1 --sign-key " + ShellQuote(key.privateKey);
  const struct {
    const char* what;
    std::string arguments;
    int exitCode;
    std::uint64_t serial;  // 0: above the one before; 1: the one before, unchanged
  } serials[] = {
      {"the default, published again at once", signing, 0, 0},
      {"a serial not above the published one", signing + " --serial 5", 1, 1},
      {"a higher serial", signing + " --serial 9999999999", 0, 9999999999},
      {"the same serial", signing + " --serial 9999999999", 1, 1},
      {"the same serial, re-published on purpose", signing + " --serial 9999999999 --allow-downgrade", 0, 9999999999},
      {"a lower serial, rolled back on purpose", signing + " --serial 5 --allow-downgrade", 0, 5},
      {"a serial without a signing key", "--type 3 --release-version 2.0 --region 1 --serial 6", 2, 1},
      {"a serial that is not a number", signing + " --serial 1e3", 2, 1},
      {"unsigned over a signed publication", "--type 3 --release-version 2.0 --region 1", 1, 1},
      {"unsigned over a signed publication, in a dry run too", "--type 3 --release-version 2.0 --region 1 --dry-run", 1,
       1},
      {"--unsigned with a signing key", signing + " --unsigned", 2, 1},
  };
  for (const auto& c : serials) {
    SCOPED_TRACE(c.what);
    const ToolRun run = Publish(c.arguments, release_, root_);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.errors;
    const SReleaseHeader now = published();
    if (c.serial == 0) {
      EXPECT_GT(now.serial, header.serial);
    } else if (c.serial == 1) {
      EXPECT_EQ(now.serial, header.serial);
    } else {
      EXPECT_EQ(now.serial, c.serial);
    }
    header = now;
  }

  ASSERT_EQ(Publish("--type 3 --release-version 2.1 --region 1 --unsigned", release_, root_).exitCode, 0);
  EXPECT_FALSE(fs::exists(root_ + "/3/UpdateConfig.ini.sig")) << "no key, no signature";
  EXPECT_FALSE(fs::exists(root_ + "/3/config.ini.sig"));
  EXPECT_FALSE(ReadTextFile(root_ + "/3/UpdateConfig.ini").starts_with(";")) << "and no release header";
  EXPECT_EQ(ReadTextFile(root_ + "/3/UpdateConfig.ini").find("EXPIRES"), std::string::npos);
}

TEST_F(PublishTest, RepublishingReplacesTheWholeFolder) {
  WriteRelease();
  ASSERT_EQ(Publish("--release-version 2.0 --region 1", release_, root_).exitCode, 0);
  fs::remove(release_ + "skin/main.png");
  ASSERT_EQ(Publish("--release-version 2.1 --region 1", release_, root_).exitCode, 0);
  EXPECT_FALSE(fs::exists(root_ + "/1/skin/main.png")) << "a file dropped from the release is not served any more";
  EXPECT_EQ(Listing(root_),
            (std::vector<std::string>{"1", "1/Readme=first.txt", "1/UpdateConfig.ini", "1/ZOLTClient.exe", "1/skin",
                                      "1/skin/deep", "1/skin/deep/a b.txt"}));
}

TEST_F(PublishTest, BadInputFailsAndLeavesTheEarlierPublication) {
  WriteRelease();
  ASSERT_EQ(Publish("--release-version 1.0 --region 1", release_, root_).exitCode, 0);
  const std::vector<std::string> before = Listing(root_);
  const std::string manifestBefore = ReadTextFile(root_ + "/1/UpdateConfig.ini");
  const Ed25519KeyFiles key = MakeEd25519Key(dir_.path(), "publisher");

  const struct {
    const char* what;
    std::string file;  // added to the release; empty: none
    std::string arguments = "";
    bool symlink = false;
    int exitCode = 1;
    std::string says = "";  // on stderr
  } cases[] = {
      {"manifest name in the release", "UpdateConfig.ini"},
      {"component manifest name in the release", "config.ini"},
      {"comment-like name", ";note.txt"},
      {"header-like name", "[x.txt"},
      {"closing bracket", "a]b.txt"},
      {"backslash inside a name", "a\\b.txt"},
      {"trailing blank", "skin/name "},
      {"leading blank", " name"},
      {"line break", "two\nlines"},
      {"section of the manifest itself", "FILES"},
      {"names differing only in case", "zoltclient.EXE"},
      {"symbolic link", "link.exe", "", true},
      {"backup name, which every run deletes", "old.bak"},
      {"backup name in capitals", "data/SKIN.BAK"},
      {"name of an interrupted write", ".a.dll.zolt-tmp.x1Y2z3"},
      {"version with blanks around it", "", "--release-version ' 2.0'"},
      {"type not a number", "", "--type x", false, 2},
      {"unknown option", "", "--force", false, 2},
      {"empty version", "", "--release-version ''", false, 2},
      {"empty region", "", "--region ''", false, 2},
      {"option without its value", "", "--region 1 --release-version", false, 2},
      {"the release's version under its old option", "", "--version 9.9", false, 0},
      {"version sorting below the published one", "", "--release-version 0.9"},
      {"a shorter version sorts below its extension, byte-wise", "", "--release-version 1"},
      {"signature name in the release", "UpdateConfig.ini.sig"},
      {"component signature name in the release", "config.ini.sig"},
      {"signing key missing", "", "--sign-key " + ShellQuote(dir_ / "none.key"), false, 1,
       "cannot read the signing key " + dir_ / "none.key" + ": No such file or directory"},
      {"public key given to sign", "", "--sign-key " + ShellQuote(key.publicKey)},
      {"signing key file empty", "", "--sign-key /dev/null"},
      {"signing key missing, in a dry run too", "", "--dry-run --sign-key " + ShellQuote(dir_ / "none.key")},
      {"expiry of no days", "", "--expires 0", false, 2},
      {"expiry not a number", "", "--expires soon", false, 2},
      {"expiry without a value", "", "--expires", false, 2},
      {"rollout of no installation", "", "--rollout 0", false, 2},
      {"rollout above everyone", "", "--rollout 101", false, 2},
      {"rollout with a percent sign", "", "--rollout 5%", false, 2},
      {"changing a rollout while describing a release", "", "--set-rollout 50", false, 2},
      {"dry run of a good release", "", "--dry-run", false, 0},
      {"a file in the folder of the patches", ".zolt/x.patch"},
      {"an earlier release that is not a folder", "", "--delta-from " + ShellQuote(dir_ / "none")},
      {"--delta-from without a value", "", "--delta-from", false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.symlink)
      fs::create_symlink("ZOLTClient.exe", release_ + c.file);
    else if (!c.file.empty())
      WriteTextFile(release_ + c.file, "x");
    const ToolRun run = Publish("--release-version 9.9 --region 1 " + c.arguments, release_, root_);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.errors;
    EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
    if (c.exitCode != 0) {
      EXPECT_NE(run.errors, "");
    }
    EXPECT_EQ(Listing(root_), before);
    EXPECT_EQ(ReadTextFile(root_ + "/1/UpdateConfig.ini"), manifestBefore);
    if (!c.file.empty()) fs::remove(release_ + c.file);
  }
  EXPECT_NE(Publish("--release-version 2.0 --region 1", dir_ / "no-such-release", root_).exitCode, 0);
  EXPECT_NE(Publish("--release-version 2.0 --region 1", release_, release_ + "publish").exitCode, 0)
      << "publishing into the release itself";
  EXPECT_FALSE(fs::exists(release_ + "publish"));
  EXPECT_EQ(Listing(root_), before);
}

TEST_F(PublishTest, DowngradeNeedsToBeAskedForAndDryRunWritesNothing) {
  WriteRelease();
  ASSERT_EQ(Publish("--release-version 9.0 --region GD", release_, root_).exitCode, 0);

  // Installations compare byte-wise: "10.0" sorts below "9.0".
  ToolRun run = Publish("--release-version 10.0 --region GD", release_, root_);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find("\"10.0\" sorts below \"9.0\""), std::string::npos) << run.errors;
  EXPECT_NE(ReadTextFile(root_ + "/1/UpdateConfig.ini").find("VERSION=9.0\n"), std::string::npos);

  // Another type, or another region, is not compared with this publication.
  EXPECT_EQ(Publish("--type 2 --release-version 1.0 --region GD", release_, root_).exitCode, 0);
  run = Publish("--release-version 8.0 --region SH", release_, dir_ / "other");
  EXPECT_EQ(run.exitCode, 0) << run.errors;

  const std::vector<std::string> before = Listing(root_);
  const std::string output = dir_ / "dry.txt";
  const CommandResult dry =
      RunCommand(ShellQuote(ToolPath()) + " --dry-run --release-version 9.1 --region GD --rollout 5 " +
                 ShellQuote(release_) + " " + ShellQuote(root_) + " >" + ShellQuote(output));
  EXPECT_EQ(dry.exitCode, 0);
  const std::string shown = ReadTextFile(output);
  EXPECT_NE(shown.find(Md5sumOf(release_ + "skin/main.png") + "  9  skin\\main.png\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[Version]\nVERSION=9.1\nREGION=GD\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("NOTIFIY=0\nROLLOUT=5\n[FILES]"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[FILES]\nReadme=first.txt\n"), std::string::npos) << shown;
  EXPECT_EQ(Listing(root_), before) << "a dry run writes nothing";
  EXPECT_FALSE(fs::exists(dir_ / "never")) << "not even the publish root";
  EXPECT_EQ(RunCommand(ShellQuote(ToolPath()) + " --dry-run --release-version 1 --region 1 " + ShellQuote(release_) +
                       " " + ShellQuote(dir_ / "never") + " >/dev/null")
                .exitCode,
            0);
  EXPECT_FALSE(fs::exists(dir_ / "never")) << "not even the publish root";

  // A region typo is refused like a downgrade; asked for, both go through.
  run = Publish("--release-version 9.2 --region gd", release_, root_);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find("(--change-region publishes it anyway)"), std::string::npos) << run.errors;
  EXPECT_EQ(Listing(root_), before);
  EXPECT_EQ(Publish("--release-version 10.0 --region GD --allow-downgrade", release_, root_).exitCode, 0);
  EXPECT_NE(ReadTextFile(root_ + "/1/UpdateConfig.ini").find("VERSION=10.0\n"), std::string::npos);
  run = Publish("--release-version 0.1 --region SH --change-region", release_, root_);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.errors.find("region changes from \"GD\" to \"SH\""), std::string::npos) << run.errors;
}

// --set-rollout changes that one line of the published manifest and nothing
// else, signs it again with the key, and refuses to leave a stale signature.
TEST_F(PublishTest, SetRolloutChangesOnlyItsLineAndSignsAgain) {
  WriteRelease();
  const Ed25519KeyFiles key = MakeEd25519Key(dir_.path(), "publisher");
  const std::string manifest = root_ + "/1/UpdateConfig.ini";
  const auto setRollout = [&](const std::string& arguments) {
    return RunCommand(ShellQuote(ToolPath()) + " " + arguments + " " + ShellQuote(root_) + " 2>&1");
  };
  const auto verifies = [&] {
    std::string reason;
    return CReleaseTrust::FromPem(ReadTextFile(key.publicKey), "test")
        .CheckManifest(manifest, manifest + ".sig", SManifestExpectation{1, false, std::nullopt, std::time(nullptr), ""},
                       reason);
  };

  EXPECT_EQ(setRollout("--set-rollout 5").exitCode, 1) << "nothing published yet";
  ASSERT_EQ(Publish("--release-version 2.0 --region 1", release_, root_).exitCode, 0);
  std::string expected = ReadTextFile(manifest);
  expected.insert(expected.find("[FILES]"), "ROLLOUT=0\n");
  ASSERT_EQ(setRollout("--set-rollout 0").exitCode, 0);
  EXPECT_EQ(ReadTextFile(manifest), expected) << "a line of its own, the rest byte for byte";

  const std::string signKey = " --sign-key " + ShellQuote(key.privateKey);
  ASSERT_EQ(Publish("--release-version 2.1 --region 1 --rollout 5" + signKey, release_, root_).exitCode, 0);
  const std::string at5 = ReadTextFile(manifest);
  const std::string signatureAt5 = ReadTextFile(manifest + ".sig");
  ASSERT_TRUE(verifies());
  EXPECT_NE(setRollout("--dry-run --set-rollout 25" + signKey).output.find("ROLLOUT=25\n"), std::string::npos);
  const CommandResult unsigned25 = setRollout("--set-rollout 25");
  EXPECT_EQ(unsigned25.exitCode, 1);
  EXPECT_NE(unsigned25.output.find("give --sign-key"), std::string::npos) << unsigned25.output;
  EXPECT_EQ(setRollout("--set-rollout 25 --sign-key " + ShellQuote(key.publicKey)).exitCode, 1);
  EXPECT_EQ(ReadTextFile(manifest), at5);
  EXPECT_EQ(ReadTextFile(manifest + ".sig"), signatureAt5);

  // A new share is a new publication: the same text but for the line and a
  // higher serial, so that the manifest of the old share cannot be replayed.
  ASSERT_EQ(setRollout("--set-rollout 25" + signKey).exitCode, 0);
  const std::string at25 = ReadTextFile(manifest);
  SReleaseHeader before, after;
  ASSERT_TRUE(ParseReleaseHeader(at5, before) && ParseReleaseHeader(at25, after));
  EXPECT_GT(after.serial, before.serial);
  expected = at5.substr(at5.find('\n') + 1);
  EXPECT_EQ(at25.substr(at25.find('\n') + 1), expected.replace(expected.find("ROLLOUT=5\n"), 9, "ROLLOUT=25"));
  EXPECT_TRUE(verifies());
}

TEST_F(PublishTest, HelpAndVersionGoToStdoutAndPublishNothing) {
  for (const char* option : {"--help", "--version", "-h"}) {
    const std::string output = dir_ / "out.txt";
    const CommandResult result = RunCommand(ShellQuote(ToolPath()) + " " + option + " " + ShellQuote(release_) + " " +
                                            ShellQuote(root_) + " >" + ShellQuote(output) + " 2>&1");
    EXPECT_EQ(result.exitCode, 0) << option;
    EXPECT_NE(ReadTextFile(output).find(std::string(option) == "--version" ? "zolt-publish 1." : "--release-version"),
              std::string::npos)
        << option << ": " << ReadTextFile(output);
  }
  EXPECT_FALSE(fs::exists(root_));
}

TEST_F(PublishTest, ComparisonListsExactlyTheFilesThatDiffer) {
  WriteRelease();
  ASSERT_EQ(Publish("--release-version 2.0 --region 1", release_, root_).exitCode, 0);
  const std::string install = dir_ / "install/";
  fs::copy(release_, install, fs::copy_options::recursive);
  WriteTextFile(install + "skin/main.png", "older png");
  fs::remove(install + "skin/deep/a b.txt");
  WriteTextFile(install + "local-only.log", "not in the release");

  std::vector<UpdateFileInfo> files;
  ASSERT_EQ(CompareUpdateConfig(UpdateCheckInfo(install, root_ + "/1/UpdateConfig.ini", "1.0", "1"), files), 0);
  std::vector<std::string> names;
  for (const auto& file : files) names.push_back(file.fileName);
  EXPECT_EQ(names, (std::vector<std::string>{"skin\\deep\\a b.txt", "skin\\main.png"}));
}

}  // namespace

// Patches from every earlier release still installed (a base two releases
// share gets one), a compressed copy where it is smaller, each named by its
// SHA-256 and listed under keys that readers without patches ignore.
TEST_F(PublishTest, PatchesFromEarlierReleasesRebuildTheNewFiles) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of the client\n";
  const std::string newClient = text + "2.0";
  const struct {
    std::string folder, client;
  } earlier[] = {{dir_ / "r1/", text + "1.0"}, {dir_ / "r1-again/", text + "1.0"}, {dir_ / "r1.5/", "1.5 " + text}};
  std::string from;
  for (const auto& release : earlier) {
    WriteTextFile(release.folder + "ZOLTClient.exe", release.client);
    WriteTextFile(release.folder + "same.txt", "unchanged");
    from += " --delta-from " + ShellQuote(release.folder);
  }
  WriteTextFile(release_ + "ZOLTClient.exe", newClient);
  WriteTextFile(release_ + "same.txt", "unchanged");

  const std::string dryRun = RunCommand(ShellQuote(ToolPath()) + " --dry-run --release-version 2.0 --region 1" + from +
                                        " " + ShellQuote(release_) + " " + ShellQuote(root_))
                                 .output;
  EXPECT_NE(dryRun.find("    patched from " + Md5sumOf(earlier[0].folder + "ZOLTClient.exe") + ": "), std::string::npos)
      << dryRun;
  EXPECT_NE(dryRun.find("    compressed: "), std::string::npos) << dryRun;
  EXPECT_FALSE(fs::exists(root_));

  ASSERT_EQ(Publish("--release-version 2.0 --region 1" + from, release_, root_).exitCode, 0);
  const std::string published = root_ + "/1/";
  CConfigFile manifest(published + "UpdateConfig.ini");
  std::size_t frames = 0;
  const auto stored = [&](std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return ReadTextFile(published + name);
  };
  for (const auto& release : earlier) {
    SCOPED_TRACE(release.folder);
    const std::vector<DeltaOffer> offers =
        ReadDeltaOffers(manifest, "ZOLTClient.exe", Md5sumOf(release.folder + "ZOLTClient.exe"), newClient.size());
    ASSERT_EQ(offers.size(), 2u);
    ASSERT_TRUE(offers[0].patch) << "the patch is the smaller way";
    const std::string frame = stored(offers[0].remoteName);
    EXPECT_EQ(CMD5::SHA256OfBytes(frame.data(), frame.size()), offers[0].sha256);
    std::string rebuilt, cause;
    ASSERT_TRUE(DecodeZstd(frame, release.client, newClient.size(), rebuilt, cause)) << cause;
    EXPECT_EQ(rebuilt, newClient);
    EXPECT_LT(frame.size() * 20, newClient.size());
    ASSERT_TRUE(DecodeZstd(stored(offers[1].remoteName), "", newClient.size(), rebuilt, cause));
    EXPECT_EQ(rebuilt, newClient);
  }
  for (const auto& entry : fs::directory_iterator(published + ".zolt")) frames += entry.is_regular_file();
  EXPECT_EQ(frames, 3u) << "two patches (one base shared by two releases) and one compressed copy";
  EXPECT_TRUE(ReadDeltaOffers(manifest, "same.txt", Md5sumOf(release_ + "same.txt"), 9).empty());
}
