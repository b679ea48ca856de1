// Running shell commands from tests: the reference tools (md5sum) and the
// project's own command-line programs.
#pragma once

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <string>

// The text quoted for the shell, whatever bytes it holds.
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct CommandResult {
  int exitCode = -1;
  std::string output;  // standard output
};

// Runs command through /bin/sh and collects its standard output.
inline CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The digest md5sum prints for path ("" when it fails).
inline std::string Md5sumOf(const std::string& path) {
  const CommandResult result = RunCommand("md5sum -b " + ShellQuote(path));
  if (result.exitCode != 0 || result.output.size() < 32) return std::string();
  return result.output.substr(0, 32);
}
