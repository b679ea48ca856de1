// What a run leaves for monitoring tools, and ZOLTUpdate --status.
#pragma once

#include <string>

// "UPDATE.kept\last-run.json" below the application folder.
inline constexpr const char* kLastRunPath = "UPDATE.kept\\last-run.json";

// Writes the run's outcome to appPath + kLastRunPath (atomically): one JSON
// object {"time": UTC ISO 8601, "exit": status, "outcome": text, "cause":
// the first cause reported, or ""}. A file that cannot be written is logged
// and costs nothing else.
void WriteLastRun(const std::string& appPath, int exitStatus, const std::string& outcome);

// The installation's state as one JSON object (ending with a line break):
// installed version and region, the last run (or null), a trial or rollback
// under way (or null), the release held back (or null), the previous release
// kept (or null), the highest serial accepted (or null) and the rollout
// bucket for the release last fetched (or null). Kept files are read as
// untrusted: one that is not intact reads as null.
std::string StatusJson(const std::string& appPath);

// Text as a JSON string, quotes included.
std::string JsonString(const std::string& text);
