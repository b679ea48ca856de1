#include <algorithm>

#include "platform/core_guard.h"
#include "platform/directory/FolderWalk.h"
#include "platform/win32/Files.h"
#include "platform/win32/WideText.h"

const char kFolderSeparator = '\\';

namespace {

// "*" and "?" as the pattern's only wildcards, with no regard to case, as the
// names of Windows file systems are compared.
bool Matches(std::wstring_view pattern, std::wstring_view name) {
  std::size_t p = 0, n = 0, star = std::wstring_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == L'?' || ::towlower(pattern[p]) == ::towlower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      resume = n;
    } else if (star != std::wstring_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

void Search(const std::wstring& folder, const std::string& prefix, bool recursive, const std::wstring& pattern,
            std::vector<std::string>& files) {
  WIN32_FIND_DATAW entry{};
  const HANDLE search =
      ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::pair<std::string, DWORD>> entries;
  do {
    const std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..") entries.emplace_back(Utf8FromWide(name), entry.dwFileAttributes);
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, attributes] : entries) {
    // A reparse point (symbolic link, junction) is never entered.
    const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (recursive && !isLink) Search(folder + L"\\" + WideFromUtf8(name), prefix + name + "/", true, pattern, files);
    } else if (Matches(pattern, WideFromUtf8(name))) {
      files.push_back(prefix + name);
    }
  }
}

}  // namespace

std::string ExecutableFolder() {
  std::wstring buffer(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  const std::string exe = Utf8FromWide(std::wstring_view(buffer.data(), length));
  return exe.substr(0, exe.find_last_of('\\') + 1);
}

void SearchFolder(const std::string& native, const std::string& prefix, bool recursive, const std::string& pattern,
                  std::vector<std::string>& files) {
  std::string folder = native;
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  const DWORD attributes = ::GetFileAttributesW(WideFromUtf8(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return;
  Search(WideFromUtf8(folder), prefix, recursive, WideFromUtf8(pattern), files);
}
