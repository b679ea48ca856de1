#include <string>

#include "platform/core_guard.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WideText.h"

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  // The 32-bit view, where the 32-bit client reads, also from the 64-bit build.
  const std::wstring name = WideFromUtf8(subKey == nullptr ? "" : subKey);
  if (subKey != nullptr && *subKey != '\0' && name.empty()) return ERROR_NO_UNICODE_TRANSLATION;
  return ::RegOpenKeyExW(root, name.c_str(), options, access | KEY_WOW64_32KEY, result);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  const std::wstring name = WideFromUtf8(valueName == nullptr ? "" : valueName);
  if (valueName != nullptr && *valueName != '\0' && name.empty()) return ERROR_NO_UNICODE_TRANSLATION;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ::RegSetValueExW(key, name.c_str(), reserved, type, data, size);
  // A text: UTF-8 up to its terminating zero (which size may or may not count),
  // stored as UTF-16 with its zero, as RegSetValueExW expects.
  std::string text(reinterpret_cast<const char*>(data), data == nullptr ? 0 : size);
  if (const auto zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
  std::wstring wide = WideFromUtf8(text);
  if (!text.empty() && wide.empty()) return ERROR_NO_UNICODE_TRANSLATION;
  const DWORD bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key, name.c_str(), reserved, type, reinterpret_cast<const BYTE*>(wide.c_str()), bytes);
}
