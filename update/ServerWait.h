// The wait an update server asked for with Retry-After, kept between runs so
// that the silent runs a timer starts do not ask it again before then.
#pragma once

#include <cstdint>
#include <string>

// When the kept wait ends (Unix seconds), from appPath + "UPDATE.kept\retry-after";
// 0 when none is kept, it has passed, or the record is damaged, not the user's
// own, or further off than any server may ask (then it is ignored).
std::int64_t KeptServerWait(const std::string& appPath);

// Keeps until (Unix seconds) as the end of the wait, replacing the record
// atomically. A record that cannot be written costs only a request.
void KeepServerWait(const std::string& appPath, std::int64_t until);

// "2026-12-09 21:30:00" in local time, for the log.
std::string FormatWaitEnd(std::int64_t until);
