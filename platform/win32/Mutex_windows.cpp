// The holder's note of a named mutex on Windows: a named file mapping beside
// the mutex, in the same namespace, alive while the holder keeps it open.
#include "platform/core_guard.h"
#include "platform/win32/Mutex.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/win32/WideText.h"

namespace {

constexpr DWORD kNoteBytes = 1024;

std::wstring NoteMappingName(const char* name) { return WideFromUtf8(std::string(name) + ".holder"); }

}  // namespace

void NoteMutexHolder(const char* name, const std::string& note) {
  // Never closed: the note must live exactly as long as the holding process.
  static HANDLE mapping = nullptr;
  if (mapping == nullptr)
    mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kNoteBytes,
                                   NoteMappingName(name).c_str());
  if (mapping == nullptr) return;
  auto* view = static_cast<char*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kNoteBytes));
  if (view == nullptr) return;
  const std::size_t length = std::min<std::size_t>(note.size(), kNoteBytes - 1);
  std::memcpy(view, note.data(), length);
  view[length] = '\0';
  ::UnmapViewOfFile(view);
}

std::string MutexHolderNote(const char* name) {
  HANDLE mapping = ::OpenFileMappingW(FILE_MAP_READ, FALSE, NoteMappingName(name).c_str());
  if (mapping == nullptr) return {};
  std::string note;
  if (const auto* view = static_cast<const char*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kNoteBytes))) {
    note.assign(view, strnlen(view, kNoteBytes));
    ::UnmapViewOfFile(view);
  }
  ::CloseHandle(mapping);
  return note;
}
