// The text of a profile (".ini") file, parsed once into an index.
//
// Syntax, as Windows profile files have it: "[section]" lines and "key=value"
// lines; a line whose first non-blank character is ";" is a comment; blanks
// around names and values are trimmed; CRLF or LF (any run of CRs before the
// LF belongs to the line end); UTF-8 byte-order marks at the start are
// ignored. Names match without regard to ASCII case and the first occurrence
// of a section or key wins. Lines before the first section belong to no
// section and are never read. Comments and unknown lines are kept, so a file
// that is changed and written back loses nothing, and what Serialize writes
// parses to the same profile.
//
// The text is kept as one buffer and every line and section is a range of it,
// so a manifest of 200,000 files costs little more than its own size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CProfile {
 public:
  CProfile() = default;

  // Parses text (the whole file). Never fails: what is not a section or key
  // line is kept as it stands. Text past 4 GiB is ignored.
  static CProfile Parse(std::string_view text);
  // The same, keeping text itself as the buffer instead of a copy.
  static CProfile ParseOwned(std::string text);

  // The value of key in section; false when either is missing.
  bool GetValue(std::string_view section, std::string_view key, std::string& value) const;

  // Every non-blank, non-comment line of section, trimmed, in file order;
  // empty when the section is missing.
  std::optional<std::vector<std::string>> GetSectionLines(std::string_view section) const;

  // Calls visit with every entry line of section, trimmed, in file order,
  // without copying them; returns how many there were (0 for a missing
  // section). visit may read the profile but not change it.
  template <class Visit>
  std::size_t VisitSectionLines(std::string_view section, Visit visit) const {
    const int index = FindSection(section);
    if (index < 0) return 0;
    std::size_t count = 0;
    ForEachLine(static_cast<std::uint32_t>(index), [&](const Line& line, std::uint32_t) {
      if (const std::string_view entry = EntryText(line); !entry.empty()) {
        ++count;
        visit(entry);
      }
      return true;
    });
    return count;
  }

  // Names of all sections in file order (a repeated section appears each time).
  std::vector<std::string> SectionNames() const;

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
  // A line of text_ without its line end.
  struct Line {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
  };
  // Section 0 holds the lines before any header and has no header itself.
  // Its parsed lines are lines_[firstLine, firstLine + lineCount); lines that
  // SetValue adds later are in added_.
  struct Section {
    std::uint32_t nameStart = 0;
    std::uint32_t nameLength = 0;
    std::uint32_t firstLine = 0;
    std::uint32_t lineCount = 0;
  };
  // Lower-cased key -> position of its first line in the section (parsed
  // lines first, then added ones).
  using KeyIndex = std::unordered_map<std::string, std::uint32_t>;

  std::string_view Text(Line line) const { return std::string_view(text_).substr(line.start, line.length); }
  std::string_view Name(const Section& section) const {
    return std::string_view(text_).substr(section.nameStart, section.nameLength);
  }
  Line Append(std::string_view text);
  // The trimmed text of an entry line; empty for blanks and comments.
  std::string_view EntryText(Line line) const;
  int FindSection(std::string_view name) const;
  void IndexSection(std::uint32_t index);
  Line* FindKey(std::uint32_t section, std::string_view key);
  const Line* FindKey(std::uint32_t section, std::string_view key) const;
  Line& LineAt(std::uint32_t section, std::uint32_t position);
  template <class Visit>
  void ForEachLine(std::uint32_t section, Visit visit) const {
    const Section& found = sections_[section];
    for (std::uint32_t i = 0; i < found.lineCount; ++i)
      if (!visit(lines_[found.firstLine + i], i)) return;
    if (const auto added = added_.find(section); added != added_.end())
      for (std::uint32_t i = 0; i < added->second.size(); ++i)
        if (!visit(added->second[i], found.lineCount + i)) return;
  }

  std::string text_;  // the parsed text, then the text of each line set later
  std::vector<Line> lines_;
  std::vector<Section> sections_;
  std::unordered_map<std::uint32_t, std::vector<Line>> added_;    // by section
  std::vector<std::uint32_t> sectionSlots_;                       // open addressing: section + 1, 0 empty
  mutable std::unordered_map<std::uint32_t, KeyIndex> keyIndex_;  // long sections only, built on use
  // Readers ask for several keys of one section in a row; the last section
  // found answers them without another look into the index.
  mutable int lastSection_ = -1;
};
