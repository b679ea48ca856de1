#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

TEST(Directory, GetFilePathAndNestedCreation) {
  TempDir dir;
  std::string folder = "stale";
  CDirectoryEx::GetFilePath(dir.path() + "UPDATE\\Program\\sub\\deep\\a.dll", folder);
  EXPECT_EQ(folder, dir.path() + "UPDATE\\Program\\sub\\deep\\");
  EXPECT_FALSE(PathIsDirectoryA(folder.c_str()));
  EXPECT_EQ(CDirectoryEx::CreateMultipleDirectory(folder), 1);
  EXPECT_TRUE(fs::is_directory(dir / "UPDATE/Program/sub/deep"));
  // Both forms, with and without the trailing separator, are directories.
  EXPECT_TRUE(PathIsDirectoryA(folder.c_str()));
  EXPECT_TRUE(PathIsDirectoryA((dir.path() + "UPDATE\\Program\\sub\\deep").c_str()));
  EXPECT_EQ(CDirectoryEx::CreateMultipleDirectory(dir.path() + "UPDATE\\Program\\sub\\deep"), 1);
  CDirectoryEx::GetFilePath("nofolder.txt", folder);
  EXPECT_EQ(folder, "");
}

TEST(Directory, ApplicationPathEndsWithSeparator) {
  std::string path = "stale";
  CDirectoryEx::GetApplicationPath(path);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), '/');
  EXPECT_TRUE(PathIsDirectoryA(path.c_str()));
  CDirectoryEx::OverrideApplicationPath("/opt/x");
  CDirectoryEx::GetApplicationPath(path);
  EXPECT_EQ(path, "/opt/x/");
  CDirectoryEx::OverrideApplicationPath("");
}

// Backups below nested folders are found; nothing behind a symbolic link is,
// and deleting the tree leaves the link's target alone.
TEST(Directory, SearchAndDeleteStayInsideTheTree) {
  TempDir outside;
  WriteTextFile(outside / "keep.bak", "outside");
  TempDir dir;
  WriteTextFile(dir / "a.bak", "1");
  WriteTextFile(dir / "a.dll", "1");
  WriteTextFile(dir / "sub/b.bak", "1");
  WriteTextFile(dir / "sub/deep/c.bak", "1");
  WriteTextFile(dir / "sub/deep/c.bak.txt", "1");
  fs::create_directory_symlink(outside.path(), dir / "sub/link");

  std::vector<std::string> found{"stale"};
  CDirectoryEx::SearchFile(dir.path(), true, "*.bak", found);
  EXPECT_EQ(found, (std::vector<std::string>{dir / "a.bak", dir / "sub/b.bak", dir / "sub/deep/c.bak"}));
  for (const auto& file : found) EXPECT_TRUE(DeleteFileA(file.c_str())) << file;

  CDirectoryEx::DeleteDirectory(dir.path() + "sub\\");
  EXPECT_FALSE(fs::exists(dir / "sub"));
  EXPECT_EQ(ReadTextFile(outside / "keep.bak"), "outside");
  EXPECT_TRUE(fs::exists(dir / "a.dll"));

  // A link given as the directory itself is removed as a link.
  fs::create_directory_symlink(outside.path(), dir / "staging");
  CDirectoryEx::DeleteDirectory(dir / "staging");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "staging")));
  EXPECT_EQ(ReadTextFile(outside / "keep.bak"), "outside");
}

TEST(Files, CopyReplacesAtomicallyAndKeepsTheInstalledModeBits) {
  TempDir dir;
  // A download arrives as 0644 whatever the installed program was.
  WriteTextFile(dir / "new/ZOLTClient.exe", "new program");
  ASSERT_EQ(::chmod((dir / "new/ZOLTClient.exe").c_str(), 0644), 0);
  WriteTextFile(dir / "ZOLTClient.exe", "old");
  ASSERT_EQ(::chmod((dir / "ZOLTClient.exe").c_str(), 0751), 0);
  struct stat before {};
  ::stat((dir / "ZOLTClient.exe").c_str(), &before);

  EXPECT_FALSE(CopyFileA((dir.path() + "new\\ZOLTClient.exe").c_str(), (dir / "ZOLTClient.exe").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadTextFile(dir / "ZOLTClient.exe"), "old");

  ASSERT_TRUE(CopyFileA((dir.path() + "new\\ZOLTClient.exe").c_str(), (dir / "ZOLTClient.exe").c_str(), FALSE));
  struct stat after {};
  ::stat((dir / "ZOLTClient.exe").c_str(), &after);
  EXPECT_EQ(ReadTextFile(dir / "ZOLTClient.exe"), "new program");
  EXPECT_EQ(after.st_mode & 07777, 0751u);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed in, not the old one rewritten
  // No temporary file is left behind.
  std::vector<std::string> left;
  CDirectoryEx::SearchFile(dir.path(), true, kTempFilePattern, left);
  EXPECT_TRUE(left.empty());
}

TEST(Files, NewCopiesOfProgramsBecomeExecutable) {
  TempDir dir;
  const struct {
    const char* content;
    mode_t expected;
  } cases[] = {{"\x7f"
                "ELF rest of a program",
                0755},
               {"#!/bin/sh\necho hi\n", 0755},
               {"plain text", 0644}};
  for (const auto& c : cases) {
    WriteTextFile(dir / "staged", c.content);
    ASSERT_EQ(::chmod((dir / "staged").c_str(), 0644), 0);
    ::unlink((dir / "installed").c_str());
    ASSERT_TRUE(CopyFileA((dir / "staged").c_str(), (dir / "installed").c_str(), FALSE));
    struct stat st {};
    ::stat((dir / "installed").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << c.content;
  }
}

TEST(Files, CopyFailuresLeaveTargetAlone) {
  TempDir dir;
  WriteTextFile(dir / "src", "x");
  fs::create_directory(dir / "dir");
  EXPECT_FALSE(CopyFileA((dir / "src").c_str(), (dir / "dir").c_str(), FALSE));
  EXPECT_TRUE(fs::is_directory(dir / "dir"));
  EXPECT_FALSE(CopyFileA((dir / "missing").c_str(), (dir / "dst").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(PathFileExistsA((dir / "dst").c_str()));
}

TEST(Files, RuntimeRenameNeverReplaces) {
  TempDir dir;
  WriteTextFile(dir / "a.dll", "installed");
  WriteTextFile(dir / "a.dll.bak", "older backup");
  EXPECT_EQ(crt::rename((dir / "a.dll").c_str(), (dir / "a.dll.bak").c_str()), -1);
  EXPECT_EQ(ReadTextFile(dir / "a.dll"), "installed");
  EXPECT_EQ(ReadTextFile(dir / "a.dll.bak"), "older backup");
  ASSERT_TRUE(DeleteFileA((dir / "a.dll.bak").c_str()));
  EXPECT_EQ(crt::rename((dir.path() + "a.dll").c_str(), (dir.path() + "a.dll.bak").c_str()), 0);
  EXPECT_EQ(ReadTextFile(dir / "a.dll.bak"), "installed");
  EXPECT_FALSE(PathFileExistsA((dir / "a.dll").c_str()));
}

}  // namespace
