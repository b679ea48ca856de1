// Runs a program to its end for a test, with extra environment, and captures
// what it printed.
#pragma once

#include <string>
#include <vector>

struct ChildResult {
  int exitCode = -1;  // -1 when it did not exit normally or did not end in time
  std::string out;
  std::string err;
  double seconds = 0;
};

// Runs argv[0] with argv; env entries "NAME=value" are added to the test's own
// environment. Killed after timeoutSeconds.
ChildResult RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     double timeoutSeconds = 30);
