#include "platform/configfile/Profile.h"

#include <functional>

#include "platform/core_guard.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IsTrimmed(std::string_view text) { return Trim(text).size() == text.size(); }

}  // namespace

namespace {

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

}  // namespace

std::size_t CProfile::NameHash::operator()(std::string_view name) const {
  return static_cast<std::size_t>(HashNoCase(name));
}

bool CProfile::NameEqual::operator()(std::string_view a, std::string_view b) const noexcept {
  return EqualNoCase(a, b);
}

CProfile CProfile::Parse(std::string_view text) {
  CProfile profile;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  profile.sections_.push_back(Section{});  // lines before the first header
  // Sizing the index once keeps a large manifest from being rehashed again and
  // again while it is read.
  std::size_t headers = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '\n' && text[i + 1] == '[') ++headers;
  profile.sections_.reserve(headers + 2);
  profile.names_.reserve(headers + 1);
  profile.sectionIndex_.reserve(headers + 1);
  std::uint32_t current = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

    const std::string_view trimmed = Trim(raw);
    if (!trimmed.empty() && trimmed.front() == '[') {
      const auto close = trimmed.find(']');
      if (close != std::string_view::npos) {
        Section section;
        section.name = std::string(Trim(trimmed.substr(1, close - 1)));
        section.hasHeader = true;
        current = static_cast<std::uint32_t>(profile.sections_.size());
        profile.names_.push_back(section.name);
        profile.sectionIndex_.try_emplace(section.name, current);
        profile.sections_.push_back(std::move(section));
        continue;
      }
    }
    AddLine(profile.sections_[current], raw);
  }
  return profile;
}

void CProfile::AddLine(Section& section, std::string_view raw) {
  Line line;
  line.text = std::string(raw);
  const std::string_view trimmed = Trim(line.text);
  line.isEntry = !trimmed.empty() && trimmed.front() != ';';
  if (line.isEntry) {
    const auto equals = trimmed.find('=');
    if (equals != std::string_view::npos) {
      const std::string_view key = Trim(trimmed.substr(0, equals));
      const std::string_view value = Trim(trimmed.substr(equals + 1));
      line.isKey = true;
      line.keyOffset = static_cast<std::uint32_t>(key.data() - line.text.data());
      line.keyLength = static_cast<std::uint32_t>(key.size());
      line.valueOffset = static_cast<std::uint32_t>(value.data() - line.text.data());
      line.valueLength = static_cast<std::uint32_t>(value.size());
      ++section.keyLines;
      if (!section.keyIndex.empty())
        section.keyIndex.try_emplace(std::string(key), static_cast<std::uint32_t>(section.lines.size()));
    }
  }
  section.lines.push_back(std::move(line));
  section.entriesReady = false;
}

int CProfile::FindSection(std::string_view name) const {
  const auto it = sectionIndex_.find(Trim(name));
  return it == sectionIndex_.end() ? -1 : static_cast<int>(it->second);
}

int CProfile::FindKey(const Section& section, std::string_view key) {
  constexpr std::uint32_t kScanLimit = 8;
  if (section.keyLines <= kScanLimit) {
    for (std::size_t i = 0; i < section.lines.size(); ++i)
      if (section.lines[i].isKey && EqualNoCase(section.lines[i].Key(), key)) return static_cast<int>(i);
    return -1;
  }
  if (section.keyIndex.empty()) {
    section.keyIndex.reserve(section.keyLines);
    for (std::size_t i = 0; i < section.lines.size(); ++i)
      if (section.lines[i].isKey) section.keyIndex.try_emplace(std::string(section.lines[i].Key()), i);
  }
  const auto it = section.keyIndex.find(key);
  return it == section.keyIndex.end() ? -1 : static_cast<int>(it->second);
}

bool CProfile::GetValue(std::string_view section, std::string_view key, std::string& value) const {
  const int index = FindSection(section);
  if (index < 0) return false;
  const int line = FindKey(sections_[index], Trim(key));
  if (line < 0) return false;
  value = sections_[index].lines[line].Value();
  return true;
}

const std::vector<std::string>* CProfile::GetSectionLines(std::string_view section) const {
  const int index = FindSection(section);
  if (index < 0) return nullptr;
  const Section& found = sections_[index];
  if (!found.entriesReady) {
    found.entries.clear();
    for (const Line& line : found.lines)
      if (line.isEntry) found.entries.emplace_back(Trim(line.text));
    found.entriesReady = true;
  }
  return &found.entries;
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

bool CProfile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  if (!CanHold(section, key, value)) return false;
  int index = FindSection(section);
  if (index < 0) {
    if (sections_.empty()) sections_.push_back(Section{});
    Section created;
    created.name = std::string(section);
    created.hasHeader = true;
    index = static_cast<int>(sections_.size());
    names_.push_back(created.name);
    sectionIndex_.emplace(std::string(section), static_cast<std::uint32_t>(index));
    sections_.push_back(std::move(created));
  }
  Section& target = sections_[index];
  const std::string text = std::string(key) + "=" + std::string(value);
  const int found = FindKey(target, key);
  if (found < 0) {
    AddLine(target, text);
    return true;
  }
  Line& line = target.lines[found];
  line.text = text;
  line.keyOffset = 0;
  line.keyLength = static_cast<std::uint32_t>(key.size());
  line.valueOffset = static_cast<std::uint32_t>(key.size() + 1);
  line.valueLength = static_cast<std::uint32_t>(value.size());
  target.entriesReady = false;
  return true;
}

std::string CProfile::Serialize() const {
  std::string out;
  for (const Section& section : sections_) {
    if (section.hasHeader) out += "[" + section.name + "]\n";
    for (const Line& line : section.lines) {
      out += line.text;
      out += '\n';
    }
  }
  return out;
}
