// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstddef>
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, ending with "/".
  const std::string& path() const { return path_; }
  // path() + relative.
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

// Small file helpers for tests.
void WriteTextFile(const std::string& path, const std::string& content);  // creates folders
std::string ReadTextFile(const std::string& path);                        // empty when missing
std::size_t Count(const std::string& text, const std::string& part);      // non-overlapping occurrences
