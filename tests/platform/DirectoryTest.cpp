#ifdef _WIN32
#include "platform/win32/WideText.h"
#include "platform/win32/Win32Types.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// Makes a symbolic link at link to target (a folder or a file). Under Wine,
// where CreateSymbolicLinkW makes nothing, it is a link of the Linux side,
// which Wine shows as a reparse point, as Windows shows a link or junction.
// False when none can be made here (Windows without the right to make links).
// Wine cannot take such a link away through the Windows calls (its
// RemoveDirectoryW removes the target when empty, and leaves the link), so
// the rows that remove links check only that nothing behind them went;
// Windows removes a junction or link itself.
#ifdef _WIN32
constexpr bool kLinksCanBeRemoved = false;
#else
constexpr bool kLinksCanBeRemoved = true;
#endif
bool MakeLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
  const std::wstring wideLink = WideFromUtf8(NativePath(link));
  const auto isLink = [&] {
    const DWORD attributes = ::GetFileAttributesW(wideLink.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  };
  const DWORD folder = fs::is_directory(target) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  ::CreateSymbolicLinkW(wideLink.c_str(), WideFromUtf8(NativePath(target)).c_str(),
                        folder | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  if (isLink()) return true;
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return false;
  std::string command = "/bin/ln -s " + std::string(unixName(WideFromUtf8(NativePath(target)).c_str())) + " " +
                        unixName(wideLink.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA("Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
    return false;
  // A Linux process started by Wine cannot be waited for; its link can.
  for (int i = 0; i < 500 && !isLink(); ++i) ::Sleep(10);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return isLink();
#else
  std::error_code error;
  fs::create_symlink(target, link, error);
  return !error;
#endif
}

#define MAKE_LINK(target, link) \
  if (!MakeLink(target, link)) GTEST_SKIP() << "no symbolic link can be made here"

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
#ifdef _WIN32
  constexpr char kSeparator = '\\';
#else
  constexpr char kSeparator = '/';
#endif
  EXPECT_EQ(path.back(), kSeparator);
  EXPECT_TRUE(PathIsDirectoryA(path.c_str()));
  CDirectoryEx::OverrideApplicationPath("/opt/x");
  CDirectoryEx::GetApplicationPath(path);
  EXPECT_EQ(path, std::string("/opt/x") + kSeparator);
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
  MAKE_LINK(outside.path(), dir / "sub/link");

  std::vector<std::string> found{"stale"};
  CDirectoryEx::SearchFile(dir.path(), true, "*.bak", found);
  EXPECT_EQ(found, (std::vector<std::string>{dir / "a.bak", dir / "sub/b.bak", dir / "sub/deep/c.bak"}));
  for (const auto& file : found) EXPECT_TRUE(DeleteFileA(file.c_str())) << file;

  CDirectoryEx::DeleteDirectory(dir.path() + "sub\\");
  if (kLinksCanBeRemoved) {
    EXPECT_FALSE(fs::exists(dir / "sub"));
  }
  EXPECT_EQ(ReadTextFile(outside / "keep.bak"), "outside");
  EXPECT_TRUE(fs::exists(dir / "a.dll"));

  // A link given as the directory itself is removed as a link.
  MAKE_LINK(outside.path(), dir / "staging");
  CDirectoryEx::DeleteDirectory(dir / "staging");
  if (kLinksCanBeRemoved) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "staging")));
  }
  EXPECT_EQ(ReadTextFile(outside / "keep.bak"), "outside");
}

#ifndef _WIN32
// Mode bits and inode numbers: Linux only.
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

#else
// An installed program or library in use cannot be replaced on Windows, but
// it can be renamed: the move to ".bak" and the second copy install it. The
// file is mapped as an image, as the loader maps a running program.
TEST(Files, AFileInUseIsRenamedAsideAndReplaced) {
  TempDir dir;
  std::wstring self(32768, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  const std::string held = dir / "held.exe";
  ASSERT_TRUE(::CopyFileW(self.c_str(), WideFromUtf8(NativePath(held)).c_str(), FALSE));
  const HANDLE file = ::CreateFileW(WideFromUtf8(NativePath(held)).c_str(), GENERIC_READ | GENERIC_EXECUTE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const HANDLE image = ::CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
  ::CloseHandle(file);
  ASSERT_NE(image, nullptr);
  void* view = ::MapViewOfFile(image, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  WriteTextFile(dir / "staged.exe", "new program");

  EXPECT_FALSE(CopyFileA((dir / "staged.exe").c_str(), held.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  std::vector<std::string> left;
  CDirectoryEx::SearchFile(dir.path(), true, kTempFilePattern, left);
  EXPECT_TRUE(left.empty()) << left.front();
  EXPECT_EQ(crt::rename((dir.path() + "held.exe").c_str(), (dir.path() + "held.exe.bak").c_str()), 0);
  EXPECT_TRUE(CopyFileA((dir / "staged.exe").c_str(), held.c_str(), FALSE));
  EXPECT_EQ(ReadTextFile(held), "new program");
  EXPECT_FALSE(DeleteFileA((dir / "held.exe.bak").c_str())) << "still in use";

  ::UnmapViewOfFile(view);
  ::CloseHandle(image);
  EXPECT_TRUE(DeleteFileA((dir / "held.exe.bak").c_str()));
}

// Names are UTF-8 inside and reach the file system as the same characters.
TEST(Files, ChineseNamesReachTheFileSystemAsWritten) {
  TempDir dir;
  const std::string name = "\xe6\x9b\xb4\xe6\x96\xb0\xe7\xa8\x8b\xe5\xba\x8f";  // 更新程序
  ASSERT_EQ(CDirectoryEx::CreateMultipleDirectory(dir.path() + name + "\\" + name), 1);
  ASSERT_TRUE(WriteFileAtomically(dir.path() + name + "\\" + name + ".dll", "x"));
  ASSERT_TRUE(CopyFileA((dir.path() + name + "\\" + name + ".dll").c_str(),
                        (dir.path() + name + "\\" + name + "\\b.dll").c_str(), FALSE));
  const std::wstring wide = WideFromUtf8(NativePath(dir.path())) + L"\x66f4\x65b0\x7a0b\x5e8f\\\x66f4\x65b0\x7a0b\x5e8f.dll";
  EXPECT_NE(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
  std::vector<std::string> found;
  CDirectoryEx::SearchFile(dir.path(), true, "*.dll", found);
  EXPECT_EQ(found, (std::vector<std::string>{dir / (name + "/" + name + "/b.dll"), dir / (name + "/" + name + ".dll")}));
}
#endif

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

namespace {

// Restores the umask and the guarded root at the end of a test.
class GuardedFiles : public ::testing::Test {
 protected:
#ifdef _WIN32
  void TearDown() override { SetGuardedRoot(""); }
  TempDir app, outside;
#else
  void TearDown() override {
    ::umask(savedMask_);
    SetGuardedRoot("");
  }
  mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 01;
  }
  TempDir app, outside;
  const mode_t savedMask_ = ::umask(022);
#endif
};

// Another user who can plant a link below the installation must not steer any
// write, creation or removal of a (possibly root) run out of it.
TEST_F(GuardedFiles, NoCallWritesCreatesOrRemovesThroughALinkBelowTheRoot) {
  SetGuardedRoot(app.path());
  WriteTextFile(outside / "victim", "root only");
  WriteTextFile(outside / "dir/inner", "kept");
  WriteTextFile(app / "staged", "download");
  fs::create_directories(app / "UPDATE/Program");
  MAKE_LINK(outside.path(), app / "UPDATE/Program/plugins");
  const std::string via = app.path() + "UPDATE\\Program\\plugins\\";
  const std::string staged = app / "staged";

  const struct {
    const char* what;
    std::function<bool()> call;
  } cases[] = {
      {"create a folder", [&] { return CDirectoryEx::CreateMultipleDirectory(via + "sub\\deeper") != 0; }},
      {"copy over a file", [&] { return CopyFileA(staged.c_str(), (via + "victim").c_str(), FALSE) != 0; }},
      {"copy a new file", [&] { return CopyFileA(staged.c_str(), (via + "new").c_str(), FALSE) != 0; }},
      {"delete a file", [&] { return DeleteFileA((via + "victim").c_str()) != 0; }},
      {"rename out", [&] { return crt::rename((via + "victim").c_str(), (app / "taken").c_str()) == 0; }},
      {"rename in", [&] { return crt::rename(staged.c_str(), (via + "new").c_str()) == 0; }},
      {"move over", [&] { return MoveFileExA(staged.c_str(), (via + "victim").c_str(), MOVEFILE_REPLACE_EXISTING); }},
      {"write atomically", [&] { return WriteFileAtomically(via + "victim", "x"); }},
      {"open a part file", [&] { return OpenFileForWriting((via + "victim.part").c_str()) >= 0; }},
      {"append", [&] { return AppendToFile(via + "victim", "x"); }},
      {"remove a tree", [&] { return RemoveDirectoryTree((via + "dir").c_str()); }},
  };
  for (const auto& c : cases) {
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(c.call()) << c.what;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("plugins is a symbolic link"), std::string::npos) << c.what << ": " << err;
    EXPECT_EQ(ReadTextFile(outside / "victim"), "root only") << c.what;
    EXPECT_EQ(ReadTextFile(outside / "dir/inner"), "kept") << c.what;
    EXPECT_FALSE(fs::exists(outside / "sub")) << c.what;
    EXPECT_FALSE(fs::exists(outside / "new")) << c.what;
    EXPECT_FALSE(fs::exists(outside / "victim.part")) << c.what;
    EXPECT_EQ(ReadTextFile(app / "staged"), "download") << c.what;
  }
  // Nor may a name climb out of the root.
  const std::string climbing = app.path() + "UPDATE\\..\\..\\" + fs::path(outside.path()).parent_path().filename().string() + "\\victim";
  EXPECT_FALSE(WriteFileAtomically(climbing, "x"));
  EXPECT_FALSE(DeleteFileA(climbing.c_str()));
  EXPECT_EQ(ReadTextFile(outside / "victim"), "root only");
  // The link itself is the updater's to remove, and only the link goes.
  CDirectoryEx::DeleteDirectory(app.path() + "UPDATE\\Program\\plugins");
  if (kLinksCanBeRemoved) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(app / "UPDATE/Program/plugins")));
  }
  EXPECT_EQ(ReadTextFile(outside / "victim"), "root only");
  // The same linked folder is followed where it lies outside the guarded root.
  SetGuardedRoot(outside.path());
  if (kLinksCanBeRemoved) {
    MAKE_LINK(outside.path(), app / "UPDATE/Program/plugins");
  }
  EXPECT_EQ(CDirectoryEx::CreateMultipleDirectory(app.path() + "made"), 1);
}

// Folders above the root are the user's own layout and may be links.
// Files that configuration names, and kept state, are read only as plain
// files: nothing there can hang a run, lead it out of the installation or
// hand it another user's data.
#ifndef _WIN32
TEST_F(GuardedFiles, ReadsOnlyPlainFilesOfBoundedSize) {
  SetGuardedRoot(app.path());
  for (const char* name : {"keys.pub", "open.pem"}) WriteTextFile(app / name, "pem");
  WriteTextFile(outside / "ca.pem", "pem");
  WriteTextFile(outside / "open.pem", "pem");
  fs::permissions(outside / "open.pem", fs::perms(0664));
  fs::permissions(app / "open.pem", fs::perms(0666));
  fs::create_symlink(outside / "ca.pem", app / "link.pem");
  fs::create_symlink(outside / "ca.pem", outside / "link.pem");
  fs::create_directory_symlink(outside.path(), app / "linked");
  ::mkfifo((app / "fifo").c_str(), 0600);
  const bool root = ::geteuid() == 0;
  if (root) ::chown((app / "keys.pub").c_str(), 65534, 65534);
  const struct {
    std::string path;
    SGuardedRead rules;
    const char* refusal;  // empty: read
  } cases[] = {
      {app / "keys.pub", {}, ""},
      {app / "link.pem", {}, "is a symbolic link"},
      {app / "linked/ca.pem", {}, "lies behind a symbolic link"},
      {outside / "link.pem", {}, ""},
      {app / "fifo", {}, "is a FIFO, not a regular file"},
      {app.path(), {}, "is a folder"},
      {app / "keys.pub", {2}, "is larger than 2 bytes"},
      {app / "none", {}, "No such file"},
      {app / "keys.pub", {64, true}, root ? "belongs to another user (uid 65534)" : ""},
      {outside / "open.pem", {64, false, true}, "can be changed by other users (mode 0664)"},
      {outside / "open.pem", {}, ""},
      {outside / "ca.pem", {64, false, true}, ""},
      {app / "open.pem", {64, false, true}, ""},
  };
  for (const auto& c : cases) {
    std::string bytes, cause;
    EXPECT_EQ(ReadFileGuarded(c.path, bytes, c.rules, &cause), *c.refusal == '\0') << c.path << ": " << cause;
    EXPECT_EQ(bytes, *c.refusal == '\0' ? "pem" : "") << c.path;
    EXPECT_NE(cause.find(c.refusal), std::string::npos) << c.path << ": " << cause;
  }
}

#else
// Windows has no FIFOs, and who may change a file is said by access lists:
// the rows that remain are the links and the bounds.
TEST_F(GuardedFiles, ReadsOnlyPlainFilesOfBoundedSize) {
  SetGuardedRoot(app.path());
  WriteTextFile(app / "keys.pub", "pem");
  WriteTextFile(outside / "ca.pem", "pem");
  MAKE_LINK(outside.path(), app / "linked");
  const bool fileLink = MakeLink(outside / "ca.pem", app / "link.pem");
  const struct {
    std::string path;
    SGuardedRead rules;
    const char* refusal;  // empty: read
  } cases[] = {
      {app / "keys.pub", {}, ""},
      {app / "linked/ca.pem", {}, "lies behind a symbolic link"},
      {fileLink ? app / "link.pem" : app / "linked", {}, fileLink ? "is a symbolic link" : "lies behind"},
      {app.path(), {}, "is a folder"},
      {app / "keys.pub", {2}, "is larger than 2 bytes"},
      {app / "none", {}, "No such file"},
      {outside / "ca.pem", {64, false, true}, ""},
  };
  for (const auto& c : cases) {
    if (c.path == app / "linked") continue;
    std::string bytes, cause;
    EXPECT_EQ(ReadFileGuarded(c.path, bytes, c.rules, &cause), *c.refusal == '\0') << c.path << ": " << cause;
    EXPECT_EQ(bytes, *c.refusal == '\0' ? "pem" : "") << c.path;
    EXPECT_NE(cause.find(c.refusal), std::string::npos) << c.path << ": " << cause;
  }
}
#endif

TEST_F(GuardedFiles, TheRootMayBeReachedThroughALink) {
  MAKE_LINK(app.path(), outside / "app");
  SetGuardedRoot(outside / "app");
  EXPECT_EQ(CDirectoryEx::CreateMultipleDirectory(outside / "app/UPDATE/Program"), 1);
  EXPECT_TRUE(WriteFileAtomically(outside / "app/UPDATE/Program/a", "a"));
  EXPECT_EQ(ReadTextFile(app / "UPDATE/Program/a"), "a");
  CDirectoryEx::DeleteDirectory(outside / "app/UPDATE");
  EXPECT_FALSE(fs::exists(app / "UPDATE"));
}

#ifndef _WIN32
// Whatever the umask, nothing the updater makes is writable by others, and no
// written file carries setuid, setgid or sticky bits.
TEST_F(GuardedFiles, ModesAreCappedWhateverTheUmask) {
  SetGuardedRoot(app.path());
  ::umask(0);
  WriteTextFile(outside / "program",
                "\x7f"
                "ELF program");
  ASSERT_EQ(::chmod((outside / "program").c_str(), 0777), 0);
  WriteTextFile(app / "installed-suid", "old");
  ASSERT_EQ(::chmod((app / "installed-suid").c_str(), 06777), 0);

  ASSERT_EQ(CDirectoryEx::CreateMultipleDirectory(app.path() + "UPDATE\\Program\\sub"), 1);
  ASSERT_TRUE(CopyFileA((outside / "program").c_str(), (app / "UPDATE/Program/sub/new").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA((outside / "program").c_str(), (app / "installed-suid").c_str(), FALSE));
  ASSERT_TRUE(WriteFileAtomically(app / "Config.dat", "x"));
  const int part = OpenFileForWriting((app / "a.part").c_str());
  ASSERT_GE(part, 0);
  ::close(part);
  ASSERT_TRUE(AppendToFile(app / "client.log", "x"));

  const struct {
    fs::path path;
    mode_t mode;
  } expected[] = {{app / "UPDATE", 0755},
                  {app / "UPDATE/Program", 0755},
                  {app / "UPDATE/Program/sub", 0755},
                  {app / "UPDATE/Program/sub/new", 0755},
                  {app / "installed-suid", 0755},
                  {app / "Config.dat", 0644},
                  {app / "a.part", 0644},
                  {app / "client.log", 0644}};
  for (const auto& e : expected) EXPECT_EQ(ModeOf(e.path), e.mode) << e.path;
}

// An installed file that is a link becomes a regular file; what it pointed to
// is neither written nor lends its bits. A part file with a second name (a hard
// link planted beside it) is refused.
TEST_F(GuardedFiles, InstalledLinksAreReplacedAndNeverWrittenThrough) {
  SetGuardedRoot(app.path());
  WriteTextFile(outside / "victim", "root only");
  ASSERT_EQ(::chmod((outside / "victim").c_str(), 04755), 0);
  WriteTextFile(app / "staged", "release");
  fs::create_symlink(outside / "victim", app / "lib.so");
  fs::create_symlink(outside / "victim", app / "Config.dat");

  ASSERT_TRUE(CopyFileA((app / "staged").c_str(), (app / "lib.so").c_str(), FALSE));
  ASSERT_TRUE(WriteFileAtomically(app / "Config.dat", "config"));
  for (const char* name : {"lib.so", "Config.dat"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(app / name))) << name;
    EXPECT_EQ(ModeOf(app / name) & 07000, 0u) << name;
  }
  EXPECT_EQ(ReadTextFile(app / "lib.so"), "release");
  EXPECT_EQ(ReadTextFile(outside / "victim"), "root only");
  EXPECT_EQ(ModeOf(outside / "victim"), 04755u);

  fs::create_hard_link(outside / "victim", app / "hard.part");
  EXPECT_EQ(OpenFileForWriting((app / "hard.part").c_str()), -1);
  EXPECT_EQ(ReadTextFile(outside / "victim"), "root only");
  if (::geteuid() == 0) {  // a part file another user left in a folder once open to all
    WriteTextFile(app / "planted.part", "theirs");
    ASSERT_EQ(::chown((app / "planted.part").c_str(), 65534, 65534), 0);
    EXPECT_EQ(OpenFileForWriting((app / "planted.part").c_str()), -1);
  }
}
#endif

}  // namespace
