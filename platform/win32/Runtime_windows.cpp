#include <io.h>

#include <cstdio>

#include "platform/core_guard.h"
#include "platform/win32/Runtime.h"
#include "platform/win32/Win32Types.h"
#include "platform/win32/WideText.h"

namespace crt {

bool UtcCalendar(std::time_t time, std::tm& calendar) { return ::gmtime_s(&calendar, &time) == 0; }

bool LocalCalendar(std::time_t time, std::tm& calendar) { return ::localtime_s(&calendar, &time) == 0; }

std::time_t TimeFromUtcCalendar(std::tm calendar) { return ::_mkgmtime(&calendar); }

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void* LoadProgramModule(const std::string& path, std::string& why) {
  HMODULE module = ::LoadLibraryExW(WideFromUtf8(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) why = "cannot load " + path + " (error " + std::to_string(::GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
}

void* ProgramModuleFunction(void* module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace crt
