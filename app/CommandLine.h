// The updater's command line: "-silent", "-t:<update type>", "-d:<directory>".
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class RunMode {
  Interactive,      // the update dialog
  SilentProgram,    // "-silent" with update type 1
  SilentComponent,  // "-silent" with any other update type
  Check,            // "--check": what the silent run of the type would install, changing nothing
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
// values are cut. "--check" anywhere chooses the check, for the update type
// and folder that "-t:" and "-d:" give ("Program" for type 1).
StartupOptions ParseCommandLine(const std::vector<std::string>& arguments);

// What the parse passes over in silence. ignored: the arguments that mean
// nothing to the updater (neither the silent switch, nor "-t:" or "-d:" with a
// value, nor a "--" option), in order; they stay without effect, but a typo
// such as "-silnet" or "-type:3" is worth a line on stderr. refusal: why the
// command line must not run at all, or empty: a "-d:" name given while the
// update type is 1 (by default or by "-t:"), whose folder the program update
// and the dialog of type 1 would silently drop, running something else than
// was asked for.
struct CommandLineReview {
  std::vector<std::string> ignored;
  std::string refusal;
};
CommandLineReview ReviewCommandLine(const std::vector<std::string>& arguments);

// The first argument that begins with "--" and is none of the updater's own
// ("--help", "--version", "--check", "--rollback", "--status"), or null when there is none. The specified switches all begin
// with a single "-", so such an argument is a mistyped option, never one of
// them.
const std::string* FindUnknownOption(const std::vector<std::string>& arguments);

// True when the mode builds folders from the directory name (the silent
// component update and its check, and the dialog for any type but 1).
bool UsesModuleName(const StartupOptions& options);
