// The updater's command line: "-silent", "-t:<update type>", "-d:<directory>".
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class RunMode {
  Interactive,      // the update dialog
  SilentProgram,    // "-silent" with update type 1
  SilentComponent,  // "-silent" with any other update type
};

struct StartupOptions {
  RunMode mode = RunMode::Interactive;
  int updateType = 1;
  std::string moduleName;  // the "-d:" directory name; "Program" for the silent program update
  bool rollback = false;   // "--rollback": put the kept previous release back
  bool status = false;     // "--status": print the installation's state as JSON
};

// Reads the arguments after the program name, left to right. Never fails:
// unknown arguments are ignored, a non-numeric type reads as 0, over-long
// values are cut.
StartupOptions ParseCommandLine(const std::vector<std::string>& arguments);

// The first argument that begins with "--" and is none of "--help",
// "--version", "--rollback" and "--status", or null when there is none. The specified switches all begin
// with a single "-", so such an argument is a mistyped option, never one of
// them.
const std::string* FindUnknownOption(const std::vector<std::string>& arguments);

// True when the mode builds folders from the directory name (the silent
// component update, and the dialog for any type but 1).
bool UsesModuleName(const StartupOptions& options);

// True when name is a single folder name below the application directory:
// empty, or without "\", "/" or ":" and neither "." nor "..". Anything else
// could make an update write or delete outside the application directory.
bool IsPlainDirectoryName(std::string_view name);
