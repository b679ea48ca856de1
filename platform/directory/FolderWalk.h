// The system's side of CDirectoryEx (DirectoryEx.h): where the running
// program lies, and the walk of a folder. One implementation per system.
#pragma once

#include <string>
#include <vector>

// The character a folder's path ends with: "/" on Linux, "\" on Windows.
extern const char kFolderSeparator;

// The folder of the running program, ending with kFolderSeparator; empty when
// it cannot be determined.
std::string ExecutableFolder();

// Appends prefix followed by the "/"-separated path below native of every
// non-folder entry whose name matches pattern, in sorted order; with
// recursive, sub-folders are searched too, but never one reached through a
// link. native itself may be reached through a link (the caller names it);
// nothing is appended when it is not a folder.
void SearchFolder(const std::string& native, const std::string& prefix, bool recursive, const std::string& pattern,
                  std::vector<std::string>& files);
