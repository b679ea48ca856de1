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

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IsTrimmed(std::string_view text) { return Trim(text).size() == text.size(); }

}  // namespace

std::size_t CProfile::KeyRefHash::operator()(const KeyRef& ref) const noexcept {
  return std::hash<std::string>{}(ref.key) * 31u + ref.section;
}

CProfile CProfile::Parse(std::string_view text) {
  CProfile profile;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  profile.sections_.push_back(Section{});  // lines before the first header
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
        profile.sectionIndex_.try_emplace(Lower(section.name), current);
        profile.sections_.push_back(std::move(section));
        continue;
      }
    }
    profile.AddLine(profile.sections_[current], current, raw);
  }
  return profile;
}

void CProfile::AddLine(Section& section, std::uint32_t sectionIndex, std::string_view raw) {
  Line line;
  line.text = std::string(raw);
  const std::string_view trimmed = Trim(raw);
  line.isEntry = !trimmed.empty() && trimmed.front() != ';';
  if (line.isEntry) {
    const auto equals = trimmed.find('=');
    if (equals != std::string_view::npos) {
      const std::string_view key = Trim(trimmed.substr(0, equals));
      line.isKey = true;
      line.keyLength = static_cast<std::uint32_t>(key.size());
      line.value = std::string(Trim(trimmed.substr(equals + 1)));
      keyIndex_.try_emplace(KeyRef{sectionIndex, Lower(key)}, static_cast<std::uint32_t>(section.lines.size()));
    }
    section.entries.emplace_back(trimmed);
  }
  section.lines.push_back(std::move(line));
}

int CProfile::FindSection(std::string_view name) const {
  const auto it = sectionIndex_.find(Lower(Trim(name)));
  return it == sectionIndex_.end() ? -1 : static_cast<int>(it->second);
}

bool CProfile::GetValue(std::string_view section, std::string_view key, std::string& value) const {
  const int index = FindSection(section);
  if (index < 0) return false;
  const auto it = keyIndex_.find(KeyRef{static_cast<std::uint32_t>(index), Lower(Trim(key))});
  if (it == keyIndex_.end()) return false;
  value = sections_[index].lines[it->second].value;
  return true;
}

const std::vector<std::string>* CProfile::GetSectionLines(std::string_view section) const {
  const int index = FindSection(section);
  return index < 0 ? nullptr : &sections_[index].entries;
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
    sectionIndex_.emplace(Lower(section), static_cast<std::uint32_t>(index));
    sections_.push_back(std::move(created));
  }
  Section& target = sections_[index];
  const std::string text = std::string(key) + "=" + std::string(value);
  const auto it = keyIndex_.find(KeyRef{static_cast<std::uint32_t>(index), Lower(key)});
  if (it == keyIndex_.end()) {
    AddLine(target, static_cast<std::uint32_t>(index), text);
    return true;
  }
  Line& line = target.lines[it->second];
  // The entry list mirrors the entry lines; find this line's place in it.
  std::size_t entry = 0;
  for (std::size_t i = 0; i < it->second; ++i) entry += target.lines[i].isEntry ? 1 : 0;
  target.entries[entry] = text;
  line.text = text;
  line.value = std::string(value);
  line.keyLength = static_cast<std::uint32_t>(key.size());
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
