#include "platform/win32/Runtime.h"

#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include "platform/core_guard.h"

namespace crt {

bool UtcCalendar(std::time_t time, std::tm& calendar) { return ::gmtime_r(&time, &calendar) != nullptr; }

bool LocalCalendar(std::time_t time, std::tm& calendar) { return ::localtime_r(&time, &calendar) != nullptr; }

std::time_t TimeFromUtcCalendar(std::tm calendar) { return ::timegm(&calendar); }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void* LoadProgramModule(const std::string& path, std::string& why) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) why = ::dlerror();
  return handle;
}

void* ProgramModuleFunction(void* module, const char* name) { return ::dlsym(module, name); }

}  // namespace crt
