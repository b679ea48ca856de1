// Staged rollouts: the buckets, the decision, and the installation id's file.
#include "update/Rollout.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
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
    ASSERT_EQ(RolloutBucket(id, "4.1.0"), bucket);
    ASSERT_TRUE(bucket >= 0 && bucket < 100) << bucket;
    ++counts[bucket];
    if (bucket < 10 && RolloutBucket(id, "4.2.0") < 10) ++firstInBoth;
  }
  const auto [fewest, most] = std::minmax_element(counts.begin(), counts.end());
  std::cout << "10000 ids over 100 buckets: fewest " << *fewest << ", most " << *most << "; " << firstInBoth
            << " in the first tenth of both releases\n";
  for (int bucket = 0; bucket < 100; ++bucket) {
    EXPECT_GE(counts[bucket], 70) << bucket;
    EXPECT_LE(counts[bucket], 130) << bucket;
  }
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
  const struct {
    const char* name;
    std::function<void(const std::string& file)> plant;
    bool kept;
  } rows[] = {
      {"none yet, nor its folder", nullptr, false},
      {"a usable id", [](const std::string& file) { WriteTextFile(file, kPlantedIdText); }, true},
      {"empty", [](const std::string& file) { WriteTextFile(file, ""); }, false},
      {"damaged", [](const std::string& file) { WriteTextFile(file, "not an id\n"); }, false},
      {"one digit short", [](const std::string& file) { WriteTextFile(file, kPlantedIdText.substr(1)); }, false},
      {"capital digits", [](const std::string& file) { WriteTextFile(file, std::string(32, 'F') + "\n"); }, false},
      {"without its line break", [](const std::string& file) { WriteTextFile(file, kPlantedIdText.substr(0, 32)); },
       false},
      {"another user's",
       [](const std::string& file) {
         WriteTextFile(file, kPlantedIdText);
         ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
       },
       false},
      {"a link to an id",
       [&](const std::string& file) {
         WriteTextFile(outside, kPlantedIdText);
         fs::create_symlink(outside, file);
       },
       false},
      {"a second name of an id",
       [&](const std::string& file) {
         WriteTextFile(outside, kPlantedIdText);
         fs::create_hard_link(outside, file);
       },
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string app = work / (std::string(row.name) + "/");
    fs::remove(outside);
    fs::create_directories(app);
    if (row.plant) {
      fs::create_directories(app + "UPDATE.kept");
      row.plant(IdFile(app));
    }

    std::string cause;
    const std::string id = InstallationId(app, cause);
    ASSERT_EQ(id.size(), kInstallationIdBytes) << cause;
    EXPECT_EQ(id == std::string(kInstallationIdBytes, '\xff'), row.kept);
    EXPECT_EQ(InstallationId(app, cause), id) << "the same id on every run";
    struct stat st {};
    ASSERT_EQ(::lstat(IdFile(app).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(ReadTextFile(IdFile(app)).size(), 33u);
    if (fs::exists(outside)) {
      EXPECT_EQ(ReadTextFile(outside), kPlantedIdText) << "what it pointed to is left alone";
    }
  }
}

}  // namespace
