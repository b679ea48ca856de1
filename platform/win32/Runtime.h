// The C runtime's calls where POSIX and the Microsoft runtime differ, for the
// code outside platform/ that must not include either system's headers.
#pragma once

#include <ctime>
#include <string>

namespace crt {

// time as a UTC calendar date (gmtime_r). False when it cannot be expressed.
bool UtcCalendar(std::time_t time, std::tm& calendar);

// time as a calendar date in the user's time zone (localtime_r).
bool LocalCalendar(std::time_t time, std::tm& calendar);

// The time a UTC calendar date stands for (timegm); fields out of range are
// carried over as mktime does. -1 when it cannot be expressed.
std::time_t TimeFromUtcCalendar(std::tm calendar);

// True when standard error is a terminal (a console on Windows), where
// progress may redraw its line.
bool StandardErrorIsTerminal();

// A loaded library of the program's own (a shared object or a DLL), kept
// loaded until the process ends. Null with why set when it cannot be loaded.
void* LoadProgramModule(const std::string& path, std::string& why);

// The address of the exported function name in module, or null.
void* ProgramModuleFunction(void* module, const char* name);

}  // namespace crt
