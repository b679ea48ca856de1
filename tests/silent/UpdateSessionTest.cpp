// The session's own rules, as the dialog sets it up: staged copies checked by
// digest, and the stores following what was actually installed and committed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/configfile/ConfigFile.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "tests/silent/SilentFixture.h"
#include "update/UpdateSession.h"

namespace {

struct DialogSession {
  DialogSession(const std::string& app, int type, const std::string& localVersion, int port)
      : transfer({S_UpdateSerivceAddr("127.0.0.1", static_cast<std::uint16_t>(port))}, false) {
    place.updateType = static_cast<unsigned>(type);
    place.appPath = app;
    place.installDir = type == 1 ? app : app + "Plugin/";
    place.stagingDir = app + (type == 1 ? "UPDATE/Program/" : "UPDATE/Plugin/");
    place.manifestName = "UpdateConfig.ini";
    place.localVersion = localVersion;
    place.region = "GD";
    place.recordPattern = "%Y-%m-%d %H:%M:%S";
    place.versionOnlyWhenGreater = true;
    session = std::make_unique<CUpdateSession>(place, transfer);
  }
  // The dialog's check and its download thread, which leaves every changed
  // file in staging.
  void CheckAndStage(const FileSet& release) {
    ASSERT_TRUE(session->Prepare());
    ASSERT_TRUE(session->FetchManifest());
    ASSERT_EQ(session->Compare(), CUpdateSession::Comparison::kCompared);
    WriteFiles(place.stagingDir, release);
  }
  UpdatePlace place;
  CZOLTUpdateIntf transfer;
  std::unique_ptr<CUpdateSession> session;
};

TEST(UpdateSession, TheStoresFollowWhatWasInstalledAndCommitted) {
  struct Case {
    const char* name;
    int type;
    const char* localVersion;
    bool blocked;        // an installed file cannot be replaced
    bool stagedDamaged;  // a staged copy differs from its digest
    const char* configVersion;
    const char* registryVersion;
    const char* outcome;
    bool configIniCopied;
  };
  const Case cases[] = {
      {"program update", 1, "1.0", false, false, "2.0", "2.0", "1", false},
      {"not greater byte by byte", 1, "2.0.1", false, false, "2.0.1", "2.0", "1", false},
      {"a file stays old", 1, "1.0", true, false, "1.0", "", "0", false},
      {"a staged copy is damaged", 1, "1.0", false, true, "1.0", "", "", false},
      {"another type", 3, "1.0", false, false, "1.0", "", "1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir app, pub, registry;
    setenv("ZOLT_REGISTRY_ROOT", registry.path().c_str(), 1);
    const std::string key = registry / "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro/";
    CDirectoryEx::CreateMultipleDirectory(key);
    CDirectoryEx::OverrideApplicationPath(app.path());
    const FileSet release{{"a.dat", "new a"}, {"b.dat", "new b"}};
    // The dialog asks for a versioned manifest under any type.
    Publish(pub.path(), 1, release, {"2.0", "GD", 0, 1});
    if (c.type != 1) std::filesystem::rename(pub / "1", pub / std::to_string(c.type));
    NginxServer server(pub.path());
    {
      CCryptConfigFile config(app / "Config.dat", "");
      config.WriteString("Update", "Version", c.localVersion);
    }
    DialogSession dialog(app.path(), c.type, c.localVersion, server.port());
    dialog.CheckAndStage(release);
    WriteTextFile(dialog.place.stagingDir + "config.ini", "[a.dat]\n");
    if (c.stagedDamaged) WriteTextFile(dialog.place.stagingDir + "b.dat", "new B");
    if (c.blocked) {
      // Folders in the way of the file and of its backup.
      WriteTextFile(dialog.place.installDir + "b.dat/x", "");
      WriteTextFile(dialog.place.installDir + "b.dat.bak/x", "");
    }

    ::testing::internal::CaptureStderr();
    const bool installed = dialog.session->VerifyStaged() && dialog.session->Install() && dialog.session->Commit();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(installed, !c.blocked && !c.stagedDamaged) << err;
    EXPECT_EQ(ReadTextFile(dialog.place.installDir + "a.dat"), c.stagedDamaged ? "" : "new a");
    EXPECT_EQ(ReadConfig(app / "Config.dat", "Update", "Version"), c.configVersion);
    std::string registryVersion = ReadTextFile(key + "Version");
    if (!registryVersion.empty() && registryVersion.back() == '\0') registryVersion.pop_back();
    EXPECT_EQ(registryVersion, c.registryVersion);
    CCryptConfigFile record(app / "UpdateRecord.dat", "");
    if (*c.outcome != '\0')
      EXPECT_NE(record.PlainText().find(std::string("IsSucceed=") + c.outcome), std::string::npos)
          << record.PlainText();
    else
      EXPECT_EQ(record.PlainText(), "") << "nothing was installed, nothing recorded";
    EXPECT_EQ(PathFileExistsA((app / "config.ini").c_str()) != FALSE, c.configIniCopied);
    CDirectoryEx::OverrideApplicationPath("");
    unsetenv("ZOLT_REGISTRY_ROOT");
  }
}

// Staging behind a link is refused before anything is fetched into it, and
// never removed through it: a linked UPDATE loses nothing it points to.
TEST(UpdateSession, StagingBehindALinkedFolderIsRefusedAndNeverRemovedThroughIt) {
  TempDir app, outside;
  CDirectoryEx::OverrideApplicationPath(app.path());
  WriteTextFile(outside / "Program/a.dat", "new a");
  std::filesystem::create_directory_symlink(outside.path(), app / "UPDATE");
  DialogSession dialog(app.path(), 1, "1.0", 9);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(dialog.session->Prepare());
  dialog.session->RemoveStaging();
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("UPDATE is a symbolic link"), std::string::npos);
  CDirectoryEx::OverrideApplicationPath("");
  EXPECT_EQ(ReadTextFile(outside / "Program/a.dat"), "new a");
}

}  // namespace
