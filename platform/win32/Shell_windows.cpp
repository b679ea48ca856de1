#include <cstdint>
#include <string>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"
#include "platform/win32/Shell.h"
#include "platform/win32/WideText.h"

HINSTANCE ShellExecuteA(HWND parent, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand) {
  const auto wide = [](const char* text, bool path) {
    return text == nullptr ? std::wstring() : WideFromUtf8(path ? NativePath(text) : std::string(text));
  };
  const std::wstring wideVerb = wide(verb, false), wideFile = wide(file, true),
                     wideParameters = wide(parameters, false), wideDirectory = wide(directory, true);
  const auto orNull = [](const char* text, const std::wstring& converted) {
    return text == nullptr || *text == '\0' ? nullptr : converted.c_str();
  };
  if (file == nullptr || wideFile.empty()) return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(SE_ERR_FNF));
  // The started program gets a console of its own, never the updater's: it
  // outlives the run, as on Linux in its own session.
  return ::ShellExecuteW(parent, orNull(verb, wideVerb), wideFile.c_str(), orNull(parameters, wideParameters),
                         orNull(directory, wideDirectory), showCommand);
}
