// A sample installation, a publish folder and nginx serving it, for the silent
// update tests (in process and with the real binary).
#pragma once

#include "tests/support/Wait.h"

#include <ctime>
#include <functional>
#include <map>
#include <string>

#include "tests/support/HttpServers.h"
#include "tests/support/TempDir.h"

// How often urlPath (e.g. "/1/a.txt") has been requested from server so far.
int Requests(const NginxServer& server, const std::string& urlPath);

// Relative name ("\" between folders) to content.
using FileSet = std::map<std::string, std::string>;

struct ManifestHeader {
  std::string version;
  std::string region;
  int notify = 0;
  int unconditional = 0;
  std::string rollout = {};  // "ROLLOUT"; empty: no such line
};

// Publishes files under root/<type>/ with the manifest: "UpdateConfig.ini" with
// header for type 1, "config.ini" (one section per file) otherwise, with MD5,
// SIZE, MODIFYTIME and SHA256 for each file. digests overrides the published
// "MD5" of some files.
void Publish(const std::string& root, int type, const FileSet& files, const ManifestHeader& header,
             const FileSet& digests = {});

// Writes files below directory ("\" turned to "/").
void WriteFiles(const std::string& directory, const FileSet& files);

// Every regular file below directory, by relative "/" path, except those under
// skipPrefix (relative, e.g. "UPDATE/").
FileSet ReadTree(const std::string& directory, const std::string& skipPrefix = "\x01");

// An application directory with "Config.dat" (version, region, the server) and
// "UserConfig.dat" (no proxy).
void WriteLocalConfig(const std::string& appPath, const std::string& version, const std::string& region, int port);
std::string ReadConfig(const std::string& path, const std::string& section, const std::string& key);

// The text of path with "\" as "/".
std::string Native(const std::string& name);
// The same set with every name in that form.
FileSet WithNativeNames(const FileSet& files);

// The installed tree of an application folder: every file but the stores
// and what lies below UPDATE (staging, and the kept state beside it).
FileSet InstalledTree(const std::string& app);

// 2026-12-08 12:00 local time, for a record clock whose section name is known.
std::time_t RecordNoon();

// Writes <manifest>.sig beside the manifest of root/<type>/, signed with the
// Ed25519 private key in the PEM file privateKey.
void SignPublished(const std::string& root, int type, const std::string& privateKey);
