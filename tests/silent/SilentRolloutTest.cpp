// A staged rollout over a fleet of installations sharing one server: silent
// program runs in process, against nginx on 127.0.0.1 and real files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "silent/SilentUpdate.h"
#include "tests/silent/SilentFixture.h"
#include "update/Rollout.h"

namespace fs = std::filesystem;

namespace {

// Each share takes exactly the installations whose bucket lies inside it,
// about that share of them; raising it keeps those and adds more. Held-back
// runs succeed, fetch nothing beyond the manifest and record nothing. Some
// installations start with a damaged id, which is replaced.
TEST(StagedRollout, ReachesItsShareOfTheFleetAndWidens) {
  constexpr int kFleet = 200;
  TempDir work;
  NginxServer server(work / "pub/");
  setenv("XDG_RUNTIME_DIR", work.path().c_str(), 1);
  setenv("ZOLT_REGISTRY_ROOT", (work / "registry").c_str(), 1);

  // One installation, copied: its .dat files are the expensive part to write.
  const std::string model = work / "model/";
  WriteFiles(model, {{"version.txt", "4.0.9\n"}, {"readme.txt", "Tovaro\n"}});
  WriteLocalConfig(model, "4.0.9", "GD", server.port());
  std::vector<std::string> fleet;
  for (int i = 0; i < kFleet; ++i) {
    fleet.push_back(work / ("fleet/" + std::to_string(i) + "/"));
    fs::create_directories(fleet.back());
    fs::copy(model, fleet.back(), fs::copy_options::recursive);
    if (i % 50 == 0) WriteTextFile(fleet.back() + "UPDATE.kept/installation-id", "damaged\n");
  }

  int updatedBefore = 0;
  for (const int share : {10, 50, 100}) {
    SCOPED_TRACE(std::to_string(share) + "%");
    Publish(work / "pub/", 1, {{"version.txt", "4.1.0\n"}, {"readme.txt", "Tovaro\n"}},
            {"4.1.0", "GD", 0, 0, std::to_string(share)});
    int updated = 0;
    for (const std::string& installation : fleet) {
      CDirectoryEx::OverrideApplicationPath(installation);
      diagnostics::OpenRunLog(installation);
      EXPECT_TRUE(CSilentUpdate(1, "Program").RunProgramUpdate());
      diagnostics::CloseRunLog();

      std::string cause;
      const int bucket = RolloutBucket(InstallationId(installation, cause), "4.1.0");
      const bool inside = bucket < share;
      EXPECT_EQ(ReadConfig(installation + "Config.dat", "Update", "Version"), inside ? "4.1.0" : "4.0.9");
      EXPECT_EQ(ReadTextFile(installation + "version.txt"), inside ? "4.1.0\n" : "4.0.9\n");
      EXPECT_EQ(fs::exists(installation + "UpdateRecord.dat"), inside);
      if (!inside) {
        const std::string said =
            "held back by a staged rollout (bucket " + std::to_string(bucket) + " of " + std::to_string(share) + "%)";
        EXPECT_NE(ReadTextFile(installation + "ZOLTUpdate.log").find(said), std::string::npos) << said;
      }
      updated += inside;
    }
    std::cout << share << "%: " << updated << " of " << kFleet << " installations updated\n";
    EXPECT_GE(updated, updatedBefore);
    EXPECT_EQ(Requests(server, "/1/version.txt"), updated) << "fetched once by each updated installation only";
    if (share == 10) {
      // 200 random ids: outside these bounds once in 60,000 runs.
      EXPECT_GE(updated, 5) << "about a tenth";
      EXPECT_LE(updated, 40) << "about a tenth";
    }
    updatedBefore = updated;
  }
  EXPECT_EQ(updatedBefore, kFleet);

  CDirectoryEx::OverrideApplicationPath("");
  unsetenv("ZOLT_REGISTRY_ROOT");
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
