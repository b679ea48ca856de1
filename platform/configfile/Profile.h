// The text of a profile (".ini") file, parsed once into an index.
//
// Syntax, as Windows profile files have it: "[section]" lines and "key=value"
// lines; a line whose first non-blank character is ";" is a comment; blanks
// around names and values are trimmed; CRLF or LF; a UTF-8 byte-order mark at
// the start is ignored. Names match without regard to ASCII case and the first
// occurrence of a section or key wins. Lines before the first section belong to
// no section and are never read. Comments and unknown lines are kept, so a file
// that is changed and written back loses nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CProfile {
 public:
  CProfile() = default;

  // Parses text (the whole file). Never fails: what is not a section or key line
  // is kept as it stands.
  static CProfile Parse(std::string_view text);

  // The value of key in section; false when either is missing.
  bool GetValue(std::string_view section, std::string_view key, std::string& value) const;

  // Every non-blank, non-comment line of section, trimmed, in file order; null
  // when the section is missing.
  const std::vector<std::string>* GetSectionLines(std::string_view section) const;

  // Names of all sections in file order (a repeated section appears each time).
  const std::vector<std::string>& SectionNames() const { return names_; }

  // Sets key in section, creating both as needed. Fails (returns false, changes
  // nothing) when a name or the value would not read back as written: line
  // breaks anywhere, "]" in a section name, "=" in a key, blanks at either end
  // of a name or value, an empty section or key name, a key starting with ";"
  // or "[".
  bool SetValue(std::string_view section, std::string_view key, std::string_view value);

  // The file text, LF line ends.
  std::string Serialize() const;

  // True when section and key names and the value can be written and read back.
  static bool CanHold(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Line {
    std::string text;             // the line as it will be written (untrimmed for kept lines)
    std::uint32_t keyOffset = 0;  // for key lines: the trimmed key and value within text
    std::uint32_t keyLength = 0;
    std::uint32_t valueOffset = 0;
    std::uint32_t valueLength = 0;
    bool isEntry = false;  // non-blank, non-comment line
    bool isKey = false;    // entry with "="
    std::string_view Key() const { return std::string_view(text).substr(keyOffset, keyLength); }
    std::string_view Value() const { return std::string_view(text).substr(valueOffset, valueLength); }
  };
  // Names compare without regard to ASCII case; lookups take string_view and
  // allocate nothing. The hash is deliberately not noexcept: that makes the
  // standard table keep each hash beside its node instead of hashing every
  // name again while walking a bucket.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const;
  };
  struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
  };
  using NameIndex = std::unordered_map<std::string, std::uint32_t, NameHash, NameEqual>;
  struct Section {
    std::string name;  // as written in the header; empty for the lines before any header
    bool hasHeader = false;
    std::vector<Line> lines;
    std::uint32_t keyLines = 0;
    // Both built on first use. A manifest section holds three keys, found
    // fastest by scanning its own lines; only a long section gets a key index.
    // And most sections are never listed, so their entry list is not kept.
    mutable NameIndex keyIndex;  // key -> first line with it
    mutable std::vector<std::string> entries;
    mutable bool entriesReady = false;
  };

  static void AddLine(Section& section, std::string_view raw);
  int FindSection(std::string_view name) const;
  static int FindKey(const Section& section, std::string_view key);

  std::vector<Section> sections_;
  std::vector<std::string> names_;
  NameIndex sectionIndex_;  // -> first section of the name
};
