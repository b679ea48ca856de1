// Sectioned key/value files: plain manifests (CConfigFile) and the enciphered
// local configuration and record files (CCryptConfigFile).
//
// Both parse their file once, when bound to it, and answer every read from an
// index. Reads never fail: a missing file, section or key yields the default.
// Not thread-safe; each object belongs to one thread.
#pragma once

#include <string>
#include <vector>

#include "platform/configfile/Profile.h"

class CConfigFile {
 public:
  explicit CConfigFile(std::string path);
  virtual ~CConfigFile();
  CConfigFile(const CConfigFile&) = default;
  CConfigFile(CConfigFile&&) = default;
  CConfigFile& operator=(CConfigFile&&) = default;

  // A file already read: bytes are parsed as the file's content and kept as
  // the buffer (no copy).
  static CConfigFile OfBytes(std::string bytes);

  // Replaces value with the stored text, or with defaultValue. Returns the
  // length of the text placed in value.
  virtual long ReadString(std::string section, std::string key, std::string defaultValue, std::string& value);

  // The stored number (read as atoi reads it), or defaultValue.
  virtual int ReadInteger(std::string section, std::string key, int defaultValue);

  // Appends every entry line of section to lines, in file order; returns the count.
  virtual long ReadSection(std::string section, std::vector<std::string>& lines);

  // Calls visit with every entry line of section in file order, without
  // copying them (a manifest's list of 200,000 names is not held twice);
  // returns the count. visit may read this file but not change it.
  template <class Visit>
  long VisitSection(const std::string& section, Visit visit) const {
    return static_cast<long>(profile_.VisitSectionLines(section, visit));
  }

  // Appends the names of all sections to names, in file order; returns the count.
  virtual long ReadSections(std::vector<std::string>& names);

 protected:
  CConfigFile() = default;
  CProfile profile_;
};

class CCryptConfigFile {
 public:
  // secondText takes part in the key; the system always passes "".
  CCryptConfigFile(std::string path, std::string secondText);
  virtual ~CCryptConfigFile();

  // Binds the object to another file, dropping what was read from the first.
  virtual long Initialize(std::string path, std::string secondText);

  virtual long ReadString(std::string section, std::string key, std::string defaultValue, std::string& value);
  virtual int ReadInteger(std::string section, std::string key, int defaultValue);

  // Reads the file again, changes this one key and replaces the file at once
  // (atomically: the file on disk is always either the old or the new
  // version), so keys written by others since this object read it are kept;
  // the object then holds the file as written. A file that could not be
  // deciphered is first kept aside as path + ".corrupt". Returns 1 on success,
  // 0 when the value cannot be held by the format or the file cannot be written.
  virtual long WriteString(std::string section, std::string key, std::string value);
  virtual long WriteInteger(std::string section, std::string key, int value);

  // The deciphered profile text (for tools).
  std::string PlainText() const { return profile_.Serialize(); }

  // Replaces the whole content with a parsed plain profile and writes it.
  bool ReplaceContent(const CProfile& profile);

  // True when the bound file existed but could not be deciphered.
  bool IsCorrupt() const { return corrupt_; }

  // Where a write kept the undecipherable file (path + ".corrupt", or
  // ".corrupt.<n>" when earlier kept copies exist); empty when none was kept.
  const std::string& KeptAsidePath() const { return keptAside_; }

 private:
  bool Store();

  std::string path_;
  std::string secondText_;
  CProfile profile_;
  bool corrupt_ = false;
  std::string keptAside_;
};
