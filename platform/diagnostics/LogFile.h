// The system's side of the run log, one implementation per system
// (LogFile.cpp, LogFile_windows.cpp); Diagnostics.h declares the rest of it
// (FallbackLogFolder, UserName, FolderWriteError, ErrorText).
#pragma once

#include <string>

namespace diagnostics {

// Opens path for appending without following a link at its name, and only
// when it is a regular file: a FIFO planted there must not block the run. -1
// with errno set otherwise (EEXIST when something else holds the name).
int OpenLogFile(const std::string& path);

// Creates each missing folder of path (a log says what is installed where, so
// only the user may read them) and refuses one that is a link or, on Linux,
// not the user's own.
bool MakePrivateFolders(const std::string& path);

// Renames the full log to older, replacing an older one, never following a
// link at either name.
bool RotateLogFile(const std::string& path, const std::string& older);

unsigned long ProcessId();

// Sets a variable of this process's environment (inherited by what it starts).
void SetProcessVariable(const char* name, const std::string& value);

}  // namespace diagnostics
