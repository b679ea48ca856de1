#include "update/UpdateRecord.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/configfile/ConfigFile.h"
#include "platform/win32/Registry.h"
#include "tests/support/TempDir.h"

namespace {

// 2026-12-08 01:02:03 UTC; the tests set TZ=UTC.
constexpr std::time_t kMorning = 1796691723;

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    SetRecordClock([this] { return now_; });
    ::setenv("ZOLT_REGISTRY_ROOT", registry_.path().c_str(), 1);
  }
  void TearDown() override {
    SetRecordClock({});
    ::unsetenv("ZOLT_REGISTRY_ROOT");
  }

  std::string Read(const std::string& section, const std::string& key) {
    CCryptConfigFile record(app_ / "UpdateRecord.dat", "");
    std::string value = "<missing>";
    record.ReadString(section, key, "<missing>", value);
    return value;
  }

  std::string KeyFolder() const { return registry_ / "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro/"; }

  std::time_t now_ = kMorning;
  TempDir app_;
  TempDir registry_;
};

TEST_F(RecordTest, FormatLocalTimeFollowsTheSetClock) {
  EXPECT_EQ(FormatLocalTime("%Y-%m-%d %H:%M:%S"), "2026-12-08 01:02:03");
  EXPECT_EQ(FormatLocalTime("%Y-%m-%d"), "2026-12-08");
  now_ += 86400;
  EXPECT_EQ(FormatLocalTime("%Y-%m-%d"), "2026-12-09");
  EXPECT_EQ(FormatLocalTime(std::string(127, 'x')), std::string(127, 'x'));
  EXPECT_EQ(FormatLocalTime(std::string(128, 'x')), "") << "does not fit 128 characters with its zero";
}

TEST_F(RecordTest, SameDayReplacesTheSectionAnotherDayAddsOne) {
  WriteUpdateRecord(app_.path(), "%Y-%m-%d", "2.0", "1.0");
  now_ += 3600;
  WriteUpdateRecord(app_.path(), "%Y-%m-%d", "2.1", "2.0", false);
  EXPECT_EQ(Read("2026-12-08", "IsSucceed"), "0");
  EXPECT_EQ(Read("2026-12-08", "NewVersion"), "2.1");
  EXPECT_EQ(Read("2026-12-08", "OldVersion"), "2.0");

  now_ += 86400;
  WriteUpdateRecord(app_.path(), "%Y-%m-%d %H:%M:%S", "2.2", "2.1");
  EXPECT_EQ(Read("2026-12-09 02:02:03", "IsSucceed"), "1");
  EXPECT_EQ(Read("2026-12-09 02:02:03", "NewVersion"), "2.2");
  EXPECT_EQ(Read("2026-12-08", "NewVersion"), "2.1") << "earlier sections are kept";
}

TEST_F(RecordTest, InstalledVersionStoresBothTextsWithTheirZeroByte) {
  std::filesystem::create_directories(KeyFolder());
  WriteInstalledVersion("/opt/tovaro/", "2.1.10");
  EXPECT_EQ(ReadTextFile(KeyFolder() + "InstallPath"), std::string("/opt/tovaro/\0", 13));
  EXPECT_EQ(ReadTextFile(KeyFolder() + "Version"), std::string("2.1.10\0", 7));
  WriteInstalledVersion("/opt/tovaro/", "");
  EXPECT_EQ(ReadTextFile(KeyFolder() + "Version"), std::string("\0", 1));
}

TEST_F(RecordTest, MissingKeyWritesNothing) {
  std::filesystem::create_directories(registry_ / "HKEY_LOCAL_MACHINE/SOFTWARE");
  WriteInstalledVersion("/opt/tovaro/", "2.0");
  EXPECT_FALSE(std::filesystem::exists(KeyFolder()));
  EXPECT_TRUE(std::filesystem::is_empty(registry_ / "HKEY_LOCAL_MACHINE/SOFTWARE"));
}

TEST_F(RecordTest, RegistryNamesStayInsideTheirKey) {
  std::filesystem::create_directories(KeyFolder());
  HKEY key = nullptr;
  for (const char* subKey : {"SOFTWARE\\..\\SOFTWARE\\Tovaro", "SOFTWARE/Tovaro", "SOFTWARE\\\\Tovaro"})
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &key), static_cast<LONG>(ERROR_SUCCESS)) << subKey;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tovaro", 0, KEY_READ | KEY_WRITE, &key),
            static_cast<LONG>(ERROR_SUCCESS));
  const BYTE data[] = {'x', 0};
  for (const char* name : {"..", "a/b", "..\\escape", ""})
    EXPECT_NE(RegSetValueExA(key, name, 0, REG_SZ, data, 2), static_cast<LONG>(ERROR_SUCCESS)) << name;
  EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_SUCCESS));
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(registry_.path()))
    if (entry.is_regular_file()) entries.push_back(entry.path().string());
  EXPECT_TRUE(entries.empty());
}

}  // namespace
