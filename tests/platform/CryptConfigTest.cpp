#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "platform/configfile/ConfigCipher.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/win32/Files.h"
#include "tests/support/TempDir.h"

namespace {

std::string Read(CCryptConfigFile& file, const char* section, const char* key) {
  std::string value = "untouched";
  file.ReadString(section, key, "", value);
  return value;
}

TEST(CryptConfig, RoundTripAndReopen) {
  TempDir dir;
  const std::string path = dir / "Config.dat";
  {
    CCryptConfigFile file(path, "");
    EXPECT_EQ(Read(file, "Update", "Version"), "");
    file.WriteString("Update", "Version", "2.0.1");
    file.WriteInteger("Update", "ServerPort", 8080);
    file.WriteString("Server", "WebSiteURL", "http://example.invalid/a?b=c");
  }
  CCryptConfigFile file(path, "");
  EXPECT_FALSE(file.IsCorrupt());
  EXPECT_EQ(Read(file, "update", "version"), "2.0.1");
  EXPECT_EQ(file.ReadInteger("Update", "ServerPort", 0), 8080);
  EXPECT_EQ(Read(file, "Server", "WebSiteURL"), "http://example.invalid/a?b=c");
  // The text on disk is not readable as it stands.
  EXPECT_EQ(ReadTextFile(path).find("2.0.1"), std::string::npos);
}

TEST(CryptConfig, OneObjectServesTwoFiles) {
  TempDir dir;
  CCryptConfigFile(dir / "Config.dat", "").WriteString("Update", "Version", "1");
  CCryptConfigFile(dir / "UserConfig.dat", "").WriteString("Server", "UseProxy", "1");
  CCryptConfigFile file(dir / "Config.dat", "");
  EXPECT_EQ(Read(file, "Update", "Version"), "1");
  file.Initialize(dir / "UserConfig.dat", "");
  EXPECT_EQ(Read(file, "Update", "Version"), "");
  EXPECT_EQ(file.ReadInteger("Server", "UseProxy", 0), 1);
}

// Each write changes its own key in the file as it is then: an object bound
// before another program wrote a key does not write that key back out.
TEST(CryptConfig, WritesChangeOneKeyOfTheFileAsItIsNow) {
  TempDir dir;
  CCryptConfigFile updater(dir / "Config.dat", "");
  CCryptConfigFile client(dir / "Config.dat", "");
  EXPECT_EQ(client.WriteString("Client", "LastSkin", "blue"), 1);
  EXPECT_EQ(updater.WriteString("Update", "Version", "2.0"), 1);
  EXPECT_EQ(Read(updater, "Client", "LastSkin"), "blue") << "the object holds the file as written";
  CCryptConfigFile reread(dir / "Config.dat", "");
  EXPECT_EQ(Read(reread, "Client", "LastSkin"), "blue");
  EXPECT_EQ(Read(reread, "Update", "Version"), "2.0");
  // A value the format cannot hold changes nothing, in the file or the object.
  EXPECT_EQ(updater.WriteString("Update", "Version", "two\nlines"), 0);
  EXPECT_EQ(Read(updater, "Update", "Version"), "2.0");
}

TEST(CryptConfig, RefusedValueLeavesFileAlone) {
  TempDir dir;
  const std::string path = dir / "Config.dat";
  CCryptConfigFile file(path, "");
  file.WriteString("A", "k", "v");
  const std::string before = ReadTextFile(path);
  EXPECT_EQ(file.WriteString("A", "k", "two\nlines"), 0);
  EXPECT_EQ(ReadTextFile(path), before);
  EXPECT_EQ(Read(file, "A", "k"), "v");
}

// A damaged file reads as missing, and its bytes survive the first write.
TEST(CryptConfig, DamagedFileIsKeptAsideBeforeOverwrite) {
  const std::string good = configcipher::Encipher("[A]\nk=v\n", "");
  std::string flipped = good;
  flipped[flipped.size() / 2] ^= 0x01;
  const struct {
    const char* name;
    std::string bytes;
  } damaged[] = {
      {"truncated", good.substr(0, good.size() - 1)},
      {"flipped bit", flipped},
      {"header only", good.substr(0, 8)},
      {"foreign", "[A]\nk=v\n"},
      {"empty", ""},
      {"other second text", configcipher::Encipher("[A]\nk=v\n", "other")},
  };
  for (const auto& c : damaged) {
    TempDir dir;
    const std::string path = dir / "Config.dat";
    WriteTextFile(path, c.bytes);
    CCryptConfigFile file(path, "");
    EXPECT_TRUE(file.IsCorrupt()) << c.name;
    EXPECT_EQ(Read(file, "A", "k"), "") << c.name;
    EXPECT_EQ(file.WriteString("A", "j", "new"), 1) << c.name;
    EXPECT_EQ(ReadTextFile(path + ".corrupt"), c.bytes) << c.name;
    CCryptConfigFile again(path, "");
    EXPECT_FALSE(again.IsCorrupt()) << c.name;
    EXPECT_EQ(Read(again, "A", "j"), "new") << c.name;
    EXPECT_EQ(Read(again, "A", "k"), "") << c.name;
  }
}

#ifndef _WIN32  // a dangling link and a forked writer: POSIX only
// A name that exists but cannot be read (here a link to nothing) is kept too.
TEST(CryptConfig, UnreadableFileIsKeptAside) {
  TempDir dir;
  const std::string path = dir / "Config.dat";
  ASSERT_EQ(::symlink((dir / "elsewhere.dat").c_str(), path.c_str()), 0);
  CCryptConfigFile file(path, "");
  EXPECT_TRUE(file.IsCorrupt());
  EXPECT_EQ(file.WriteString("A", "k", "v"), 1);
  char target[256] = {};
  EXPECT_GT(::readlink((path + ".corrupt").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(Read(file, "A", "k"), "v");
  EXPECT_FALSE(CCryptConfigFile(path, "").IsCorrupt());
}

#endif

TEST(CryptConfig, EarlierKeptCopyIsNeverReplaced) {
  TempDir dir;
  const std::string path = dir / "Config.dat";
  WriteTextFile(path, "first damage");
  CCryptConfigFile(path, "").WriteString("A", "k", "1");
  WriteTextFile(path, "second damage");
  CCryptConfigFile(path, "").WriteString("A", "k", "2");
  EXPECT_EQ(ReadTextFile(path + ".corrupt"), "first damage");
  EXPECT_EQ(ReadTextFile(path + ".corrupt.1"), "second damage");
}

#ifndef _WIN32
// A writer killed at any moment leaves the old or the new file, never a torn one.
TEST(CryptConfig, KilledWriterNeverTearsTheFile) {
  TempDir dir;
  const std::string path = dir / "Config.dat";
  const std::string big(64 * 1024, 'x');
  CCryptConfigFile(path, "").WriteString("A", "k", "0" + big);
  std::mt19937 random(12345);
  for (int round = 0; round < 12; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(ready[0]);
      CCryptConfigFile file(path, "");
      for (unsigned n = 1;; ++n) {
        file.WriteString("A", "k", std::to_string(n % 10) + big);
        if (n == 1) {
          const char c = 1;
          (void)!::write(ready[1], &c, 1);
        }
      }
    }
    ::close(ready[1]);
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);

    CCryptConfigFile file(path, "");
    ASSERT_FALSE(file.IsCorrupt()) << "round " << round;
    const std::string value = Read(file, "A", "k");
    ASSERT_EQ(value.size(), big.size() + 1) << "round " << round;
    EXPECT_EQ(value.substr(1), big);
  }
}

#endif

}  // namespace
