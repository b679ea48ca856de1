// The traces an installation leaves: "UpdateRecord.dat", "Config.dat"'s
// version and the product's registry key.
#pragma once

#include <ctime>
#include <functional>
#include <string>

// The local time formatted by strftime with pattern; empty when it does not fit
// 128 characters.
std::string FormatLocalTime(const std::string& pattern);

// Replaces the clock FormatLocalTime reads (for tests); an empty function
// restores the system clock.
void SetRecordClock(std::function<std::time_t()> clock);

// Writes one section named by FormatLocalTime(pattern) into appPath +
// "UpdateRecord.dat": "IsSucceed" = succeeded ? 1 : 0, "NewVersion", "OldVersion".
// A section written again (same date with "%Y-%m-%d") has its keys replaced.
// False when a key could not be written (errno tells why).
bool WriteUpdateRecord(const std::string& appPath, const std::string& pattern, const std::string& newVersion,
                       const std::string& oldVersion, bool succeeded = true);

// Writes "InstallPath" = appPath and "Version" = newVersion under
// HKEY_LOCAL_MACHINE\SOFTWARE\Tovaro when that key exists; nothing otherwise.
// False only when the key exists and a value could not be written.
bool WriteInstalledVersion(const std::string& appPath, const std::string& newVersion);
