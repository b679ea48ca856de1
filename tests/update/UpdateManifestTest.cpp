#include "update/UpdateManifest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "platform/win32/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "update/DigestCache.h"

namespace {

std::string Md5Of(const std::string& text) { return CMD5::OfBytes(text.data(), text.size()); }

TEST(IsVersionGreater, ByteWiseOrder) {
  const struct {
    const char* candidate;
    const char* installed;
    bool greater;
  } cases[] = {
      {"2.1.10", "2.1.9", false}, {"2.1.9", "2.1.10", true}, {"10.0", "9.0", false},
      {"1.0", "1.0.0", false},    {"1.0.0", "1.0", true},    {"1.0", "1.0", false},
      {"1.1", "", true},          {"", "", false},           {"1.0\xA0", "1.0a", true},  // bytes compare unsigned
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsVersionGreater(c.candidate, c.installed), c.greater) << c.candidate << " vs " << c.installed;
}

TEST(IsSafeRelativeName, Cases) {
  const struct {
    std::string name;
    bool safe;
  } cases[] = {
      {"ZOLTClient.exe", true},
      {"skin\\main.png", true},
      {"a/b", true},
      {"..a\\b..", true},
      {"a b\\c=d.txt", true},
      {"", false},
      {"..\\..\\etc\\passwd", false},
      {"skin\\..\\..\\x", false},
      {"\\abs\\path", false},
      {"/abs", false},
      {"C:\\x", false},
      {"c:x", false},
      {"a\\\\b", false},
      {"a\\", false},
      {".", false},
      {"a\\.\\b", false},
      {"a/../b", false},
      {std::string("a\0b", 3), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeRelativeName(c.name), c.safe) << c.name;
}

TEST(UpdateCheckInfo, EndsInstallDirWithASeparator) {
  EXPECT_EQ(UpdateCheckInfo("C:\\Tovaro", "", "", "").installDir, "C:\\Tovaro\\");
  EXPECT_EQ(UpdateCheckInfo("/opt/tovaro/", "", "", "").installDir, "/opt/tovaro/");
  EXPECT_EQ(UpdateCheckInfo("/opt/tovaro\\", "", "", "").installDir, "/opt/tovaro\\");
}

struct ManifestFile {
  std::string name;
  std::string md5;
  std::string size = "3";
  std::string modifyTime = "2026-01-02 03:04:05";
  std::string extra = "";  // more lines of the section
};

class CompareUpdateConfigTest : public ::testing::Test {
 protected:
  // Writes a versioned manifest; files listed in "FILES" in the given order.
  void WriteManifest(const std::string& version, const std::string& region, int unconditional,
                     const std::vector<ManifestFile>& files, bool withFilesSection = true) {
    std::string text = "[Version]\nVERSION=" + version + "\nREGION=" + region +
                       "\nUNCONDITIONALUPDATE=" + std::to_string(unconditional) + "\nNOTIFIY=1\n";
    if (withFilesSection) {
      text += "[FILES]\n";
      for (const auto& file : files) text += file.name + "\n";
    }
    for (const auto& file : files)
      text += "[" + file.name + "]\nMD5=" + file.md5 + "\nSIZE=" + file.size + "\nMODIFYTIME=" + file.modifyTime +
              "\n" + file.extra;
    WriteTextFile(manifest_, text);
  }

  void Install(const std::string& relative, const std::string& content) { WriteTextFile(install_ + relative, content); }

  int Compare(const std::string& localVersion, const std::string& region, std::vector<UpdateFileInfo>& files) {
    return CompareUpdateConfig(UpdateCheckInfo(install_, manifest_, localVersion, region), files);
  }

  static std::vector<std::string> Names(const std::vector<UpdateFileInfo>& files) {
    std::vector<std::string> names;
    for (const auto& file : files) names.push_back(file.fileName);
    return names;
  }

  TempDir dir_;
  std::string install_ = dir_ / "install/";
  std::string manifest_ = dir_ / "UPDATE/Program/UpdateConfig.ini";
};

TEST_F(CompareUpdateConfigTest, MissingManifestIsMinusOne) {
  std::vector<UpdateFileInfo> files;
  EXPECT_EQ(Compare("1.0", "1", files), -1);
  EXPECT_TRUE(files.empty());
}

TEST_F(CompareUpdateConfigTest, CurrentByVersionAndRegionHashesNothing) {
  // Installed copies that differ (and one that cannot even be read) would be
  // listed if the comparison looked at them.
  Install("a.dll", "old");
  std::filesystem::create_directories(install_ + "b.dll");
  const struct {
    const char* remote;
    const char* local;
  } cases[] = {{"2.1.9", "2.1.9"}, {"2.1.10", "2.1.9"}, {"10.0", "9.0"}, {"1.0", "1.0.0"}};
  for (const auto& c : cases) {
    WriteManifest(c.remote, "0571", 0, {{"a.dll", Md5Of("new")}, {"b.dll", Md5Of("new")}});
    std::vector<UpdateFileInfo> files;
    const auto hashedBefore = CMD5::FilesHashed();
    EXPECT_EQ(Compare(c.local, "0571", files), 1) << c.remote << " vs " << c.local;
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(CMD5::FilesHashed(), hashedBefore);
  }
}

TEST_F(CompareUpdateConfigTest, NewerVersionRegionChangeOrUnconditionalCompareTheCopies) {
  Install("same.dll", "same");
  Install("changed.dll", "old");
  const std::vector<ManifestFile> manifest = {{"same.dll", Md5Of("same"), "4"}, {"changed.dll", Md5Of("new")}};
  const struct {
    const char* what;
    const char* remoteVersion;
    const char* remoteRegion;
    int unconditional;
  } cases[] = {
      {"newer version", "2.2", "0571", 0},
      {"region differs, older version", "1.0", "0572", 0},
      {"unconditional, same version and region", "2.1", "0571", 1},
  };
  for (const auto& c : cases) {
    WriteManifest(c.remoteVersion, c.remoteRegion, c.unconditional, manifest);
    std::vector<UpdateFileInfo> files;
    EXPECT_EQ(Compare("2.1", "0571", files), 0) << c.what;
    EXPECT_EQ(Names(files), std::vector<std::string>{"changed.dll"}) << c.what;
  }
}

TEST_F(CompareUpdateConfigTest, UnconditionalWithEverythingCurrentListsNothing) {
  Install("a.dll", "a");
  WriteManifest("1.0", "1", 1, {{"a.dll", Md5Of("a"), "1"}});
  std::vector<UpdateFileInfo> files;
  EXPECT_EQ(Compare("1.0", "1", files), 0);
  EXPECT_TRUE(files.empty());
}

// A copy whose size is not the manifest's SIZE differs from the release and is
// listed without being read; the digest decides everything else as before,
// also when SIZE is missing or no plain number. The size decides before the
// kept digests do, so the result is the same with them or without.
TEST_F(CompareUpdateConfigTest, ACopyOfAnotherSizeIsChangedWithoutBeingRead) {
  const struct {
    const char* what;
    std::string installed;
    std::string size;  // SIZE as written
    std::string md5;   // MD5 as written
    bool listed;
    std::uint64_t hashed;
  } rows[] = {
      {"larger than the release", "old content", "3", Md5Of("new"), true, 0},
      {"smaller than the release", "ol", "3", Md5Of("new"), true, 0},
      {"same size, same content", "new", "3", Md5Of("new"), false, 1},
      {"same size, other content", "NEW", "3", Md5Of("new"), true, 1},
      {"SIZE empty: the digest decides", "new!", "", Md5Of("new!"), false, 1},
      {"SIZE not a number: the digest decides", "new!", "4 bytes", Md5Of("new!"), false, 1},
      {"SIZE negative: the digest decides", "new!", "-4", Md5Of("new!"), false, 1},
      {"SIZE beyond 64 bits: the digest decides", "new!", "99999999999999999999", Md5Of("new!"), false, 1},
      // The publisher's SIZE is the release's: a copy of another size is not it.
      {"SIZE wrong, digest right", "new!", "5", Md5Of("new!"), true, 0},
  };
  for (const bool withCache : {false, true}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.what) + (withCache ? ", digest cache kept" : ""));
      Install("a.dll", row.installed);
      WriteManifest("2.0", "1", 0, {{"a.dll", row.md5, row.size}});
      CDigestCache cache(dir_ / "kept/digests", install_);
      UpdateCheckInfo request(install_, manifest_, "1.0", "1");
      if (withCache) request.digestCache = &cache;
      CConfigFile manifest(manifest_);
      std::vector<UpdateFileInfo> files;
      const auto before = CMD5::FilesHashed();
      EXPECT_EQ(CompareUpdateConfig(manifest, request, files), 0);
      EXPECT_EQ(CMD5::FilesHashed() - before, row.hashed);
      EXPECT_EQ(Names(files), row.listed ? std::vector<std::string>{"a.dll"} : std::vector<std::string>{});
      if (row.listed) {
        EXPECT_EQ(files[0].size, row.size);
        EXPECT_EQ(files[0].md5, row.md5);
      }
      cache.Write();
    }
  }
}

TEST_F(CompareUpdateConfigTest, RecordsCarryTheManifestsTexts) {
  Install("skin/main.png", "old png");
  Install("upper.dll", "upper");
  Install("unreadable.dll/inside", "a folder stands where the file should be");
  ManifestFile missing{"sub\\dir\\missing.dat", Md5Of("m"), "1", "2025-05-05 05:05:05"};
  // Keys of patches and compressed copies change nothing for the comparison.
  ManifestFile changed{"skin\\main.png", Md5Of("new png"), "7", "2026-06-06 06:06:06",
                       "PATCH_" + Md5Of("old png") + "=3 " + std::string(64, 'a') +
                           "\nZSTDSIZE=5\nZSTDSHA256=" + std::string(64, 'b') + "\n"};
  ManifestFile upperCase{"upper.dll", Md5Of("upper")};
  for (char& c : upperCase.md5) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ManifestFile unreadable{"unreadable.dll", Md5Of("x")};
  const std::vector<ManifestFile> listed = {missing, changed, upperCase, unreadable};
  WriteManifest("2.0", "1", 0, listed);

  std::vector<UpdateFileInfo> files;
  ASSERT_EQ(Compare("1.0", "1", files), 0);
  ASSERT_EQ(files.size(), 4u);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ManifestFile& expected = listed[i];
    EXPECT_EQ(files[i].fileName, expected.name);
    EXPECT_EQ(files[i].md5, expected.md5) << "the manifest's digest, not the installed copy's";
    EXPECT_EQ(files[i].size, expected.size);
    EXPECT_EQ(files[i].modifyTime, expected.modifyTime);
  }
}

TEST_F(CompareUpdateConfigTest, NoFileListIsMinusOneEvenWhenUnconditional) {
  Install("a.dll", "a");
  for (const bool withSection : {false, true}) {
    WriteManifest("2.0", "1", 1, withSection ? std::vector<ManifestFile>{} : std::vector<ManifestFile>{{"a.dll", "x"}},
                  withSection);
    std::vector<UpdateFileInfo> files;
    EXPECT_EQ(Compare("1.0", "1", files), -1);
    EXPECT_TRUE(files.empty());
  }
}

TEST_F(CompareUpdateConfigTest, DuplicatesAndRepeatedCallsAppend) {
  WriteManifest("2.0", "1", 0, {{"a.dll", "x"}, {"a.dll", "x"}});
  std::vector<UpdateFileInfo> files;
  EXPECT_EQ(Compare("1.0", "1", files), 0);
  EXPECT_EQ(files.size(), 2u);
  EXPECT_EQ(Compare("1.0", "1", files), 0);
  EXPECT_EQ(files.size(), 4u);
}

TEST_F(CompareUpdateConfigTest, AnyUnsafeNameRejectsTheWholeManifest) {
  Install("good.dll", "old");
  for (const char* unsafe : {"..\\..\\etc\\passwd", "\\abs\\path", "/abs", "C:\\x", "a\\\\b", "dir\\"}) {
    WriteManifest("2.0", "1", 0, {{"good.dll", Md5Of("new")}, {unsafe, "x"}});
    std::vector<UpdateFileInfo> files;
    const auto hashedBefore = CMD5::FilesHashed();
    EXPECT_EQ(Compare("1.0", "1", files), -1) << unsafe;
    EXPECT_TRUE(files.empty()) << unsafe;
    EXPECT_EQ(CMD5::FilesHashed(), hashedBefore) << unsafe;
  }
}

// Kept digests spare the hashing of files whose stamp has not changed, and
// only of those: a copy edited behind the cache's back is hashed and listed.
TEST_F(CompareUpdateConfigTest, KeptDigestsSpareOnlyUnchangedFiles) {
  Install("a.dll", "aaa");
  Install("b.dll", "bbb");
  WriteManifest("2.0", "1", 0, {{"a.dll", Md5Of("aaa")}, {"b.dll", Md5Of("bbb")}});
  const std::string kept = dir_ / "kept/digests";
  const auto compare = [&](std::uint64_t hashed, std::vector<std::string> listed) {
    CDigestCache cache(kept, install_);
    UpdateCheckInfo request(install_, manifest_, "1.0", "1");
    request.digestCache = &cache;
    CConfigFile manifest(manifest_);
    std::vector<UpdateFileInfo> files;
    const auto before = CMD5::FilesHashed();
    EXPECT_EQ(CompareUpdateConfig(manifest, request, files), 0);
    EXPECT_EQ(CMD5::FilesHashed() - before, hashed);
    EXPECT_EQ(Names(files), listed);
    cache.Write();
  };
  // Files changed within the file-system clock's tick are not remembered. A
  // fine-grained stamp may run ahead of the coarse clock: count from the
  // stamps themselves.
  std::int64_t written = FileClockNow();
  for (const char* name : {"a.dll", "b.dll"}) {
    FileStamp stamp;
    ASSERT_TRUE(StampRegularFile(install_ + name, stamp));
    written = std::max({written, stamp.modifiedNs, stamp.changedNs});
  }
  ASSERT_TRUE(WaitFor([&] { return FileClockNow() > written + 2'000'000'000; }, 5000));
  compare(2, {});
  compare(0, {});
  // Same size, modification time put back (touch -d): only the change time tells.
  struct stat before {};
  ASSERT_EQ(::stat((install_ + "b.dll").c_str(), &before), 0);
  Install("b.dll", "BBB");
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, (install_ + "b.dll").c_str(), times, 0), 0);
  compare(1, {"b.dll"});
}

// The cache is a hint: whatever is wrong with it, a lookup misses, and the
// next write replaces it with one that holds again.
TEST(DigestCache, OnlyAnIntactOwnCacheWithTheSameStampAnswers) {
  const std::string md5 = Md5Of("a");
  FileStamp old;
  old = {1, 2, 3, 1'000'000'000'000'000'000, 1'000'000'000'000'000'005};
  // Times of the entry from the case's start: a stamp a moment ahead of the
  // clock is in the tick of a write or look that follows at once, whatever
  // the tick boundary the case falls near.
  const struct Case {
    const char* what;
    std::int64_t modified = 0;  // when the entry changed; 0: long ago
    std::int64_t seen = 0;      // when it was looked at; 0: now
    std::function<void(FileStamp&)> query = nullptr;
    std::function<void(const std::string&)> spoil = nullptr;
    bool otherFolder = false;
    bool hit = false;
  } cases[] = {
      {"the same stamp", 0, 0, {}, {}, false, true},
      {"a touch -d edit: only the change time differs", 0, 0, [](FileStamp& s) { s.changedNs += 1; }},
      {"another size", 0, 0, [](FileStamp& s) { s.size += 1; }},
      {"another inode (replaced by a rename)", 0, 0, [](FileStamp& s) { s.inode += 1; }},
      {"changed in the tick the cache was written", 1'500'000'000, 4'000'000'000},
      {"changed in the tick it was looked at", 1'500'000'000},
      {"a link to an intact cache",
       0,
       0,
       {},
       [](const std::string& p) {
         std::filesystem::rename(p, p + ".real");
         std::filesystem::create_symlink(p + ".real", p);
       }},
      {"a FIFO",
       0,
       0,
       {},
       [](const std::string& p) {
         std::filesystem::remove(p);
         ::mkfifo(p.c_str(), 0600);
       }},
      {"another user's file", 0, 0, {}, [](const std::string& p) { (void)::chown(p.c_str(), 65534, 65534); }},
      {"cut short",
       0,
       0,
       {},
       [](const std::string& p) { std::filesystem::resize_file(p, std::filesystem::file_size(p) / 2); }},
      {"a digest byte changed",
       0,
       0,
       {},
       [](const std::string& p) {
         std::string bytes = ReadTextFile(p);
         bytes[bytes.size() - 9] ^= 1;
         WriteTextFile(p, bytes);
       }},
      {"kept for another folder", 0, 0, {}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) == "another user's file" && ::geteuid() != 0) continue;
    TempDir dir;
    const std::string path = dir / "kept/digests";
    const std::int64_t start = FileClockNow();
    FileStamp entry = old;
    if (c.modified != 0) entry.modifiedNs = entry.changedNs = start + c.modified;
    {
      CDigestCache cache(path, "/install/");
      cache.Record("a.dll", entry, c.seen != 0 ? start + c.seen : FileClockNow(), md5);
      ASSERT_TRUE(cache.Write());
    }
    if (c.spoil) c.spoil(path);
    FileStamp query = entry;
    if (c.query) c.query(query);
    std::string found;
    CDigestCache cache(path, c.otherFolder ? "/other/" : "/install/");
    EXPECT_EQ(cache.Lookup("a.dll", query, found), c.hit);
    if (c.hit) {
      EXPECT_EQ(found, md5);
    }
    cache.Record("a.dll", old, FileClockNow(), md5);
    ASSERT_TRUE(cache.Write());
    CDigestCache rewritten(path, c.otherFolder ? "/other/" : "/install/");
    EXPECT_TRUE(rewritten.Lookup("a.dll", old, found));
  }
}

TEST(CompareManifestEntry, IgnoresAnUnsafeEntry) {
  TempDir dir;
  WriteTextFile(dir / "config.ini", "[..\\x]\nMD5=1\n[ok]\nMD5=2\n");
  CConfigFile manifest(dir / "config.ini");
  CMD5 md5;
  std::vector<UpdateFileInfo> files;
  CompareManifestEntry(manifest, md5, dir / "component/", "..\\x", files);
  CompareManifestEntry(manifest, md5, dir / "component/", "ok", files);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].fileName, "ok");
  EXPECT_EQ(files[0].md5, "2");
}

}  // namespace
