#include <gtest/gtest.h>

#include "platform/configfile/ConfigFile.h"
#include "platform/configfile/Profile.h"
#include "tests/support/TempDir.h"

namespace {

struct LookupCase {
  const char* name;
  const char* text;
  const char* section;
  const char* key;
  const char* expected;  // null: missing
};

const LookupCase kLookups[] = {
    {"plain", "[A]\nk=v\n", "A", "k", "v"},
    {"blanks trimmed", "  [ A ]  \n  k  =  v w  \n", "A", "k", "v w"},
    {"comment skipped", "[A]\n;k=x\n k=v\n", "A", "k", "v"},
    {"comment only", "[A]\n  ; k=x\n", "A", "k", nullptr},
    {"CRLF", "[A]\r\nk=v\r\n", "A", "k", "v"},
    {"no final line end", "[A]\nk=v", "A", "k", "v"},
    {"byte-order mark", "\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v"},
    {"doubled byte-order mark", "\xEF\xBB\xBF\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v"},
    {"CR CR LF", "[A]\r\r\nk=v\r\r\n", "A", "k", "v"},
    {"CR CR at the end", "[A]\nk=v\r\r", "A", "k", "v"},
    {"case of names", "[Update]\nVersion=1.2\n", "UPDATE", "version", "1.2"},
    {"first key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
    {"first section wins", "[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "k", "1"},
    {"key only in repeated section", "[A]\nk=1\n[a]\nj=3\n", "A", "j", nullptr},
    {"equals in value", "[A]\nurl=http://x/?a=b=c\n", "A", "url", "http://x/?a=b=c"},
    {"empty value", "[A]\nk=\n", "A", "k", ""},
    {"before any section", "k=v\n[A]\n", "A", "k", nullptr},
    {"missing section", "[A]\nk=v\n", "B", "k", nullptr},
    {"line without equals is no key", "[A]\nk\n", "A", "k", nullptr},
    {"section name with path", "[sub\\a.dll]\nMD5=x\n", "SUB\\A.DLL", "md5", "x"},
};

TEST(Profile, LookupTable) {
  for (const auto& c : kLookups) {
    const CProfile profile = CProfile::Parse(c.text);
    std::string value = "untouched";
    const bool found = profile.GetValue(c.section, c.key, value);
    EXPECT_EQ(found, c.expected != nullptr) << c.name;
    if (c.expected != nullptr) {
      EXPECT_EQ(value, c.expected) << c.name;
    }
    // What is written reads back the same, and writes the same again.
    const std::string written = profile.Serialize();
    const CProfile again = CProfile::Parse(written);
    std::string reread = "untouched";
    EXPECT_EQ(again.GetValue(c.section, c.key, reread), found) << c.name;
    EXPECT_EQ(reread, value) << c.name;
    EXPECT_EQ(again.Serialize(), written) << c.name;
  }
}

TEST(Profile, SectionListingAndEntries) {
  TempDir dir;
  WriteTextFile(dir / "m.ini",
                "; head\n[Version]\nVersion=2\n[b\\x.dll]\r\n MD5 = 1 \n\n;c\nloose line\n[B\\X.DLL]\nq=1\n");
  CConfigFile file(dir / "m.ini");
  std::vector<std::string> names;
  file.ReadSections(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Version", "b\\x.dll", "B\\X.DLL"}));
  std::vector<std::string> lines;
  file.ReadSection("b\\x.dll", lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"MD5 = 1", "loose line"}));
  EXPECT_EQ(file.ReadInteger("Version", "Version", 7), 2);
  EXPECT_EQ(file.ReadInteger("Version", "Missing", 7), 7);
}

TEST(Profile, MissingFileReadsDefaults) {
  TempDir dir;
  CConfigFile file(dir / "absent.ini");
  std::string value = "old";
  file.ReadString("A", "k", "", value);
  EXPECT_EQ(value, "");
  std::vector<std::string> names;
  file.ReadSections(names);
  EXPECT_TRUE(names.empty());
  file.ReadSection("A", names);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(file.ReadInteger("A", "k", -5), -5);
}

TEST(Profile, SetValueKeepsTheRestAndReadsBack) {
  CProfile profile = CProfile::Parse("; keep me\n[A]\nk=1\n; inner\nj=2\n");
  ASSERT_TRUE(profile.SetValue("a", "K", "new=value"));
  ASSERT_TRUE(profile.SetValue("B", "x", "y"));
  const CProfile again = CProfile::Parse(profile.Serialize());
  std::string value;
  ASSERT_TRUE(again.GetValue("A", "k", value));
  EXPECT_EQ(value, "new=value");
  ASSERT_TRUE(again.GetValue("B", "x", value));
  EXPECT_EQ(value, "y");
  EXPECT_NE(profile.Serialize().find("; inner"), std::string::npos);
  EXPECT_NE(profile.Serialize().find("; keep me"), std::string::npos);
  std::vector<std::string> expectedEntries{"K=new=value", "j=2"};
  EXPECT_EQ(*again.GetSectionLines("A"), expectedEntries);
}

// Long sections are looked up through their own index; it must follow the
// same rules as the scan of short ones, also after changes.
TEST(Profile, LongSectionLookupsAndChanges) {
  std::string text = "[FILES]\n";
  for (int i = 0; i < 40; ++i) text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  text += "key7=duplicate\n";
  CProfile profile = CProfile::Parse(text);
  std::string value;
  ASSERT_TRUE(profile.GetValue("files", "KEY7", value));
  EXPECT_EQ(value, "7");
  EXPECT_FALSE(profile.GetValue("FILES", "Key40", value));
  ASSERT_TRUE(profile.SetValue("FILES", "Key40", "new"));
  ASSERT_TRUE(profile.SetValue("FILES", "KEY3", "changed"));
  ASSERT_TRUE(profile.GetValue("FILES", "key40", value));
  EXPECT_EQ(value, "new");
  ASSERT_TRUE(profile.GetValue("FILES", "Key3", value));
  EXPECT_EQ(value, "changed");
  EXPECT_EQ(profile.GetSectionLines("FILES")->size(), 42u);
  const CProfile again = CProfile::Parse(profile.Serialize());
  ASSERT_TRUE(again.GetValue("FILES", "key3", value));
  EXPECT_EQ(value, "changed");
}

TEST(Profile, RefusesWhatWouldNotReadBack) {
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } refused[] = {
      {"", "k", "v"},   {"A", "", "v"},    {"A]", "k", "v"}, {"A", "k=", "v"}, {"A", "k", "v\nx"},
      {"A", "k", " v"}, {"A", "k", "v\r"}, {" A", "k", "v"}, {"A", ";k", "v"}, {"A", "[k", "v"},
  };
  for (const auto& c : refused) {
    CProfile profile = CProfile::Parse("[A]\nk=1\n");
    EXPECT_FALSE(profile.SetValue(c.section, c.key, c.value)) << c.section << "|" << c.key << "|" << c.value;
    EXPECT_EQ(profile.Serialize(), "[A]\nk=1\n");
  }
}

}  // namespace
