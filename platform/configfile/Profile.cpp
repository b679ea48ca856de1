#include "platform/configfile/Profile.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/core_guard.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IsTrimmed(std::string_view text) { return Trim(text).size() == text.size(); }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// FNV-1a over the lower-cased bytes.
std::uint64_t HashNoCase(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(LowerAscii(c));
    hash *= 0x100000001b3ull;
  }
  return hash;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// What a line is: classified from its text on each look, which costs less
// than keeping the answer beside every line of a large manifest.
bool IsEntry(std::string_view line) {
  const std::string_view trimmed = Trim(line);
  return !trimmed.empty() && trimmed.front() != ';';
}

// The trimmed key and value of a key line; false for any other line.
bool SplitKey(std::string_view line, std::string_view& key, std::string_view& value) {
  if (!IsEntry(line)) return false;
  const std::string_view trimmed = Trim(line);
  const auto equals = trimmed.find('=');
  if (equals == std::string_view::npos) return false;
  key = Trim(trimmed.substr(0, equals));
  value = Trim(trimmed.substr(equals + 1));
  return true;
}

// A header line "[name]..." gives the trimmed name within line.
bool HeaderName(std::string_view line, std::string_view& name) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() != '[') return false;
  const auto close = trimmed.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(trimmed.substr(1, close - 1));
  return true;
}

// A section with more lines than this gets a key index; shorter ones (a
// manifest's file sections hold three keys) are scanned.
constexpr std::uint32_t kScanLimit = 8;

}  // namespace

CProfile CProfile::Parse(std::string_view text) { return ParseOwned(std::string(text)); }

CProfile CProfile::ParseOwned(std::string text) {
  CProfile profile;
  profile.text_ = std::move(text);
  std::string_view rest(profile.text_);
  // Offsets are 32-bit; no profile file comes near that.
  if (rest.size() > std::numeric_limits<std::uint32_t>::max() / 2) rest = rest.substr(0, 1u << 31);
  // Serialize writes no mark, so every leading one goes: a doubled mark must
  // not turn into a visible first line on the next read.
  while (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark) rest.remove_prefix(kByteOrderMark.size());

  // Sized once: a large manifest is not copied again and again while read.
  const auto lineCount = static_cast<std::size_t>(std::count(rest.begin(), rest.end(), '\n')) + 1;
  std::size_t headers = 0;
  for (std::size_t i = 0; i + 1 < rest.size(); ++i)
    if (rest[i] == '\n' && rest[i + 1] == '[') ++headers;
  profile.lines_.reserve(lineCount - headers);  // header lines are sections, not lines
  profile.sections_.reserve(headers + 2);
  profile.sections_.push_back(Section{});
  std::size_t slots = 16;
  while (slots < 2 * (headers + 1)) slots *= 2;
  profile.sectionSlots_.assign(slots, 0);

  const char* base = profile.text_.data();
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    std::string_view raw = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    // Every CR before the LF is part of the line end, so that CR CR LF reads
    // as what Serialize writes for it.
    while (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    const auto start = static_cast<std::uint32_t>(raw.data() - base);

    std::string_view name;
    if (HeaderName(raw, name)) {
      Section section;
      section.nameStart = static_cast<std::uint32_t>(name.data() - base);
      section.nameLength = static_cast<std::uint32_t>(name.size());
      section.firstLine = static_cast<std::uint32_t>(profile.lines_.size());
      profile.sections_.push_back(section);
      profile.IndexSection(static_cast<std::uint32_t>(profile.sections_.size() - 1));
      continue;
    }
    profile.lines_.push_back(Line{start, static_cast<std::uint32_t>(raw.size())});
    ++profile.sections_.back().lineCount;
  }
  return profile;
}

// Enters section under its name unless an earlier section has the name.
void CProfile::IndexSection(std::uint32_t index) {
  if (2 * (sections_.size() + 1) > sectionSlots_.size()) {
    std::vector<std::uint32_t> old(std::max<std::size_t>(16, 2 * sectionSlots_.size()), 0);
    old.swap(sectionSlots_);
    for (const std::uint32_t entry : old)
      if (entry != 0) IndexSection(entry - 1);
  }
  const std::string_view name = Name(sections_[index]);
  const std::size_t mask = sectionSlots_.size() - 1;
  for (std::size_t slot = HashNoCase(name) & mask;; slot = (slot + 1) & mask) {
    std::uint32_t& entry = sectionSlots_[slot];
    if (entry == 0) {
      entry = index + 1;
      return;
    }
    if (EqualNoCase(Name(sections_[entry - 1]), name)) {
      // Rehashing enters every section again; the earlier one keeps the slot.
      if (index < entry - 1) entry = index + 1;
      return;
    }
  }
}

int CProfile::FindSection(std::string_view name) const {
  name = Trim(name);
  if (lastSection_ > 0 && EqualNoCase(Name(sections_[lastSection_]), name)) return lastSection_;
  if (sectionSlots_.empty()) return -1;
  const std::size_t mask = sectionSlots_.size() - 1;
  for (std::size_t slot = HashNoCase(name) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = sectionSlots_[slot];
    if (entry == 0) return -1;
    if (EqualNoCase(Name(sections_[entry - 1]), name)) {
      lastSection_ = static_cast<int>(entry - 1);
      return lastSection_;
    }
  }
}

std::string_view CProfile::EntryText(Line line) const {
  const std::string_view text = Text(line);
  return IsEntry(text) ? Trim(text) : std::string_view();
}

CProfile::Line& CProfile::LineAt(std::uint32_t section, std::uint32_t position) {
  const Section& found = sections_[section];
  if (position < found.lineCount) return lines_[found.firstLine + position];
  return added_[section][position - found.lineCount];
}

CProfile::Line* CProfile::FindKey(std::uint32_t section, std::string_view key) {
  const Line* found = std::as_const(*this).FindKey(section, key);
  return const_cast<Line*>(found);
}

const CProfile::Line* CProfile::FindKey(std::uint32_t section, std::string_view key) const {
  const auto added = added_.find(section);
  const std::size_t count = sections_[section].lineCount + (added == added_.end() ? 0 : added->second.size());
  std::string_view lineKey, lineValue;
  const Line* found = nullptr;
  if (count <= kScanLimit) {
    ForEachLine(section, [&](const Line& line, std::uint32_t) {
      if (SplitKey(Text(line), lineKey, lineValue) && EqualNoCase(lineKey, key)) found = &line;
      return found == nullptr;
    });
    return found;
  }
  const auto lower = [](std::string_view text) {
    std::string result(text);
    for (char& c : result) c = LowerAscii(c);
    return result;
  };
  const auto [entry, created] = keyIndex_.try_emplace(section);
  KeyIndex& index = entry->second;
  if (created) {
    ForEachLine(section, [&](const Line& line, std::uint32_t position) {
      if (SplitKey(Text(line), lineKey, lineValue)) index.try_emplace(lower(lineKey), position);
      return true;
    });
  }
  const auto it = index.find(lower(key));
  if (it == index.end()) return nullptr;
  return &const_cast<CProfile*>(this)->LineAt(section, it->second);
}

bool CProfile::GetValue(std::string_view section, std::string_view key, std::string& value) const {
  const int index = FindSection(section);
  if (index < 0) return false;
  const Line* line = FindKey(static_cast<std::uint32_t>(index), Trim(key));
  if (line == nullptr) return false;
  std::string_view lineKey, lineValue;
  SplitKey(Text(*line), lineKey, lineValue);
  value = lineValue;
  return true;
}

std::optional<std::vector<std::string>> CProfile::GetSectionLines(std::string_view section) const {
  const int index = FindSection(section);
  if (index < 0) return std::nullopt;
  std::vector<std::string> entries;
  entries.reserve(sections_[index].lineCount);
  VisitSectionLines(section, [&](std::string_view entry) { entries.emplace_back(entry); });
  return entries;
}

std::vector<std::string> CProfile::SectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.empty() ? 0 : sections_.size() - 1);
  for (std::size_t i = 1; i < sections_.size(); ++i) names.emplace_back(Name(sections_[i]));
  return names;
}

bool CProfile::CanHold(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() || key.empty()) return false;
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (!IsTrimmed(section) || !IsTrimmed(key) || !IsTrimmed(value)) return false;
  if (section.find(']') != std::string_view::npos) return false;
  if (key.find('=') != std::string_view::npos) return false;
  if (key.front() == ';' || key.front() == '[') return false;
  return true;
}

CProfile::Line CProfile::Append(std::string_view text) {
  const auto start = static_cast<std::uint32_t>(text_.size());
  text_.append(text);
  return Line{start, static_cast<std::uint32_t>(text.size())};
}

bool CProfile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  if (!CanHold(section, key, value)) return false;
  if (sections_.empty()) sections_.push_back(Section{});
  int index = FindSection(section);
  if (index < 0) {
    const Line name = Append(section);
    Section created;
    created.nameStart = name.start;
    created.nameLength = name.length;
    created.firstLine = static_cast<std::uint32_t>(lines_.size());
    sections_.push_back(created);
    index = static_cast<int>(sections_.size() - 1);
    IndexSection(static_cast<std::uint32_t>(index));
  }
  const auto target = static_cast<std::uint32_t>(index);
  const Line text = Append(std::string(key) + "=" + std::string(value));
  if (Line* found = FindKey(target, key)) {
    *found = text;
  } else {
    added_[target].push_back(text);
  }
  // The index holds keys and places of lines that have just changed or moved.
  keyIndex_.erase(target);
  return true;
}

std::string CProfile::Serialize() const {
  std::string out;
  for (std::uint32_t i = 0; i < sections_.size(); ++i) {
    if (i > 0) {
      out += '[';
      out += Name(sections_[i]);
      out += "]\n";
    }
    ForEachLine(i, [&](const Line& line, std::uint32_t) {
      out += Text(line);
      out += '\n';
      return true;
    });
  }
  return out;
}
