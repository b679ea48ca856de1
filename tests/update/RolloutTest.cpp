// Staged rollouts: the buckets, the decision, and the installation id's file.
#include "update/Rollout.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <random>

#include "platform/win32/Files.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kZeroId(kInstallationIdBytes, '\0');
const std::string kZeroIdText = std::string(2 * kInstallationIdBytes, '0') + "\n";
const std::string kPlantedIdText = std::string(2 * kInstallationIdBytes, 'f') + "\n";

std::string IdFile(const std::string& app) { return app + "UPDATE.kept/installation-id"; }

TEST(RolloutBucket, IsStableAndSpreadsEvenly) {
  // Pinned: installations in the field keep their place in a rollout under a
  // new build of the updater only while the formula stays the same.
  std::string counting(kInstallationIdBytes, '\0');
  for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<char>(i);
  EXPECT_EQ(RolloutBucket(kZeroId, "4.1.0"), 74);
  EXPECT_EQ(RolloutBucket(counting, "4.1.0"), 84);
  EXPECT_EQ(RolloutBucket(counting, "4.2.0"), 15);

  std::mt19937_64 random(21);
  std::vector<int> counts(100, 0);
  int firstInBoth = 0;  // in the first tenth of two releases
  for (int i = 0; i < 10000; ++i) {
    std::string id(kInstallationIdBytes, '\0');
    for (char& byte : id) byte = static_cast<char>(random());
    const int bucket = RolloutBucket(id, "4.1.0");
    ASSERT_TRUE(bucket >= 0 && bucket < 100) << bucket;
    ++counts[bucket];
    if (bucket < 10 && RolloutBucket(id, "4.2.0") < 10) ++firstInBoth;
  }
  const auto [fewest, most] = std::minmax_element(counts.begin(), counts.end());
  std::cout << "10000 ids over 100 buckets: fewest " << *fewest << ", most " << *most << "; " << firstInBoth
            << " in the first tenth of both releases\n";
  EXPECT_GE(*fewest, 70) << "each bucket within 30% of 100";
  EXPECT_LE(*most, 130) << "each bucket within 30% of 100";
  // Each release draws its own first share: about a tenth of a tenth.
  EXPECT_GT(firstInBoth, 50);
  EXPECT_LT(firstInBoth, 160);
}

TEST(HeldBackByRollout, OnlyANewerReleaseOfTheSameRegionWaits) {
  TempDir work;
  const std::string app = work / "app/";
  WriteTextFile(IdFile(app), kZeroIdText);  // bucket 74 for 4.1.0
  const struct {
    const char* name;
    RolloutOffer offer;
    const char* localVersion;
    bool heldBack;
  } rows[] = {
      {"no ROLLOUT", {"4.1.0", "GD", 0, ""}, "4.0.9", false},
      {"everyone", {"4.1.0", "GD", 0, "100"}, "4.0.9", false},
      {"bucket just outside", {"4.1.0", "GD", 0, "74"}, "4.0.9", true},
      {"bucket just inside", {"4.1.0", "GD", 0, "75"}, "4.0.9", false},
      {"halted", {"4.1.0", "GD", 0, "0"}, "4.0.9", true},
      {"halted, already installed", {"4.1.0", "GD", 0, "0"}, "4.1.0", false},
      {"halted, older release", {"4.0.5", "GD", 0, "0"}, "4.0.9", false},
      {"halted, region change", {"4.1.0", "BJ", 0, "0"}, "4.0.9", false},
      {"halted, unconditional", {"4.1.0", "GD", 1, "0"}, "4.0.9", false},
      {"not a number", {"4.1.0", "GD", 0, "5%"}, "4.0.9", true},
      {"above 100", {"4.1.0", "GD", 0, "101"}, "4.0.9", true},
      {"negative", {"4.1.0", "GD", 0, "-5"}, "4.0.9", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(HeldBackByRollout(row.offer, row.localVersion, "GD", app), row.heldBack);
  }
  EXPECT_EQ(ReadTextFile(IdFile(app)), kZeroIdText) << "a usable id is kept as it is";

  // Without a usable place for the id a staged release waits; the whole
  // release does not.
  TempDir elsewhere;
  const std::string linked = work / "linked/";
  fs::create_directories(linked);
  fs::create_directory_symlink(elsewhere.path(), linked + "UPDATE.kept");
  SetGuardedRoot(linked);  // as the updater's own folder is
  EXPECT_TRUE(HeldBackByRollout(RolloutOffer{"4.1.0", "GD", 0, "99"}, "4.0.9", "GD", linked));
  EXPECT_FALSE(HeldBackByRollout(RolloutOffer{"4.1.0", "GD", 0, "100"}, "4.0.9", "GD", linked));
  SetGuardedRoot("");
  EXPECT_TRUE(fs::is_empty(elsewhere.path())) << "nothing is written through the link";
}

// The id is read only from the user's own regular file, reached without a
// link; anything else is replaced by a new random id, and nothing else is
// touched.
TEST(InstallationId, IsKeptAndReplacedWhenDamagedOrForeign) {
  TempDir work;
  const std::string outside = work / "outside-id";
  enum class Plant { kNothing, kFile, kForeignFile, kLink, kSecondName };
  const struct {
    const char* name;
    Plant plant;
    std::string text = kPlantedIdText;
  } rows[] = {
      {"none yet, nor its folder", Plant::kNothing},
      {"a usable id", Plant::kFile},
      {"empty", Plant::kFile, ""},
      {"damaged", Plant::kFile, "not an id\n"},
      {"one digit short", Plant::kFile, kPlantedIdText.substr(1)},
      {"capital digits", Plant::kFile, std::string(32, 'F') + "\n"},
      {"without its line break", Plant::kFile, kPlantedIdText.substr(0, 32)},
      {"another user's", Plant::kForeignFile},
      {"a link to an id", Plant::kLink},
      {"a second name of an id", Plant::kSecondName},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string app = work / (std::string(row.name) + "/");
    const std::string file = IdFile(app);
    fs::remove(outside);
    fs::create_directories(row.plant == Plant::kNothing ? app : app + "UPDATE.kept");
    if (row.plant == Plant::kFile || row.plant == Plant::kForeignFile) WriteTextFile(file, row.text);
    if (row.plant == Plant::kForeignFile && ::lchown(file.c_str(), 65534, 65534) != 0) continue;  // not as root
    if (row.plant == Plant::kLink || row.plant == Plant::kSecondName) WriteTextFile(outside, row.text);
    if (row.plant == Plant::kLink) fs::create_symlink(outside, file);
    if (row.plant == Plant::kSecondName) fs::create_hard_link(outside, file);

    std::string cause;
    const std::string id = InstallationId(app, cause);
    ASSERT_EQ(id.size(), kInstallationIdBytes) << cause;
    EXPECT_EQ(id == std::string(kInstallationIdBytes, '\xff'), std::string(row.name) == "a usable id");
    EXPECT_EQ(InstallationId(app, cause), id) << "the same id on every run";
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1);
    if (fs::exists(outside)) {
      EXPECT_EQ(ReadTextFile(outside), kPlantedIdText) << "what it named is left alone";
    }
  }
}

}  // namespace
