// Installing what the update dialog staged: the stores follow what was
// actually installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "install/StagedUpdate.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "tests/support/TempDir.h"

namespace {

UpdateFileInfo Entry(const std::string& name, const std::string& content) {
  return {name, "", std::to_string(content.size()), CMD5::OfBytes(content.data(), content.size()), ""};
}

std::string ReadConfig(const std::string& path, const std::string& section, const std::string& key) {
  CCryptConfigFile file(path, "");
  std::string value;
  file.ReadString(section, key, "", value);
  return value;
}

TEST(StagedUpdate, StagedFilesMatchOnlyWithTheManifestsDigest) {
  TempDir dir;
  WriteTextFile(dir / "a.dat", "new a");
  WriteTextFile(dir / "sub/b.dat", "new b");
  const std::vector<UpdateFileInfo> good{Entry("a.dat", "new a"), Entry("sub\\b.dat", "new b")};
  EXPECT_TRUE(StagedFilesMatchManifest(good, dir.path()));
  EXPECT_TRUE(StagedFilesMatchManifest({}, dir.path()));
  EXPECT_FALSE(StagedFilesMatchManifest({Entry("a.dat", "new A")}, dir.path()));
  EXPECT_FALSE(StagedFilesMatchManifest({Entry("missing.dat", "")}, dir.path()));
}

TEST(StagedUpdate, WritesTheStoresOnlyForACompleteInstallation) {
  struct Case {
    const char* name;
    int type;
    const char* localVersion;
    bool blocked;  // an installed file cannot be replaced
    const char* configVersion;
    const char* registryVersion;
    const char* outcome;
    bool stagingKept;
    bool configIniCopied;
  };
  const Case cases[] = {
      {"program update", 1, "1.0", false, "2.0", "2.0", "1", false, false},
      {"not greater byte by byte", 1, "2.0.1", false, "2.0.1", "2.0", "1", false, false},
      {"a file stays old", 1, "1.0", true, "1.0", "", "0", true, false},
      {"component", 3, "1.0", false, "1.0", "", "1", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir app, registry;
    setenv("ZOLT_REGISTRY_ROOT", registry.path().c_str(), 1);
    const std::string key = registry / "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro/";
    CDirectoryEx::CreateMultipleDirectory(key);
    {
      CCryptConfigFile config(app / "Config.dat", "");
      config.WriteString("Update", "Version", c.localVersion);
    }
    StagedUpdate update;
    update.updateType = c.type;
    update.appPath = app.path();
    update.installDir = c.type == 1 ? app.path() : app / "Plugin/";
    update.stagingDir = app / "UPDATE/stage/";
    update.localVersion = c.localVersion;
    WriteTextFile(update.stagingDir + "UpdateConfig.ini", "[Version]\nVERSION=2.0\n");
    WriteTextFile(update.stagingDir + "config.ini", "[a.dat]\n");
    WriteTextFile(update.stagingDir + "a.dat", "new a");
    WriteTextFile(update.stagingDir + "b.dat", "new b");
    if (c.blocked) {
      // Folders in the way of the file and of its backup.
      WriteTextFile(update.installDir + "b.dat/x", "");
      WriteTextFile(update.installDir + "b.dat.bak/x", "");
    }

    const bool installed = InstallStagedUpdate(update, {Entry("a.dat", "new a"), Entry("b.dat", "new b")});
    EXPECT_EQ(installed, !c.blocked);
    EXPECT_EQ(ReadTextFile(update.installDir + "a.dat"), "new a");
    EXPECT_EQ(ReadConfig(app / "Config.dat", "Update", "Version"), c.configVersion);
    std::string registryVersion = ReadTextFile(key + "Version");
    if (!registryVersion.empty() && registryVersion.back() == '\0') registryVersion.pop_back();
    EXPECT_EQ(registryVersion, c.registryVersion);
    CCryptConfigFile record(app / "UpdateRecord.dat", "");
    EXPECT_NE(record.PlainText().find(std::string("IsSucceed=") + c.outcome), std::string::npos) << record.PlainText();
    EXPECT_EQ(PathIsDirectoryA(update.stagingDir.c_str()) != FALSE, c.stagingKept);
    EXPECT_EQ(PathFileExistsA((app / "config.ini").c_str()) != FALSE, c.configIniCopied);
    unsetenv("ZOLT_REGISTRY_ROOT");
  }
}

// The dialog's installation removes staging through the same guard as the
// silent runs: a linked UPDATE loses nothing it points to.
TEST(StagedUpdate, StagingBehindALinkedFolderIsNeverRemovedThroughIt) {
  TempDir app, outside;
  CDirectoryEx::OverrideApplicationPath(app.path());
  WriteTextFile(outside / "Program/a.dat", "new a");
  WriteTextFile(outside / "Program/UpdateConfig.ini", "[Version]\nVERSION=2.0\n");
  std::filesystem::create_directory_symlink(outside.path(), app / "UPDATE");
  StagedUpdate update;
  update.appPath = app.path();
  update.installDir = app.path();
  update.stagingDir = app / "UPDATE/Program/";
  update.localVersion = "1.0";
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(InstallStagedUpdate(update, {Entry("a.dat", "new a")}));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("UPDATE is a symbolic link"), std::string::npos);
  CDirectoryEx::OverrideApplicationPath("");
  EXPECT_EQ(ReadTextFile(outside / "Program/a.dat"), "new a");
  EXPECT_TRUE(std::filesystem::exists(outside / "Program/UpdateConfig.ini"));
  EXPECT_FALSE(std::filesystem::exists(app / "a.dat"));
}

}  // namespace
