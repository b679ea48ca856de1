#include "tests/silent/SilentFixture.h"
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "update/ReleaseTrust.h"

namespace fs = std::filesystem;

int Requests(const NginxServer& server, const std::string& urlPath) {
  const std::string log = server.AccessLog();
  const std::string needle = "GET " + urlPath + " ";
  int count = 0;
  for (auto at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
    if (at == 0 || log[at - 1] == '\n') ++count;
  return count;
}

std::string Native(const std::string& name) {
  std::string native = name;
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

FileSet WithNativeNames(const FileSet& files) {
  FileSet native;
  for (const auto& [name, content] : files) native[Native(name)] = content;
  return native;
}

FileSet InstalledTree(const std::string& app) {
  FileSet tree = ReadTree(app, "UPDATE");
  for (const char* own : {"Config.dat", "UserConfig.dat", "UpdateRecord.dat"}) tree.erase(own);
  return tree;
}

std::time_t RecordNoon() {
  std::tm day{};
  day.tm_year = 126;
  day.tm_mon = 11;
  day.tm_mday = 8;
  day.tm_hour = 12;
  day.tm_isdst = -1;
  return std::mktime(&day);
}

void WriteFiles(const std::string& directory, const FileSet& files) {
  for (const auto& [name, content] : files) WriteTextFile(directory + Native(name), content);
}

void Publish(const std::string& root, int type, const FileSet& files, const ManifestHeader& header,
             const FileSet& digests) {
  const std::string folder = root + std::to_string(type) + "/";
  WriteFiles(folder, files);
  std::string manifest;
  if (type == 1) {
    manifest = "[Version]\nVERSION=" + header.version + "\nREGION=" + header.region +
               "\nNOTIFIY=" + std::to_string(header.notify) +
               "\nUNCONDITIONALUPDATE=" + std::to_string(header.unconditional) + "\n" +
               (header.rollout.empty() ? "" : "ROLLOUT=" + header.rollout + "\n") + "[FILES]\n";
    for (const auto& file : files) manifest += file.first + "\n";
  }
  for (const auto& [name, content] : files) {
    const auto forced = digests.find(name);
    const std::string md5 = forced != digests.end() ? forced->second : CMD5::OfBytes(content.data(), content.size());
    manifest += "[" + name + "]\nMD5=" + md5 + "\nSIZE=" + std::to_string(content.size()) +
                "\nMODIFYTIME=2026-12-01 10:00:00\nSHA256=" + CMD5::SHA256OfBytes(content.data(), content.size()) +
                "\n";
  }
  WriteTextFile(folder + (type == 1 ? "UpdateConfig.ini" : "config.ini"), manifest);
}

FileSet ReadTree(const std::string& directory, const std::string& skipPrefix) {
  FileSet tree;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), directory).string();
    if (relative.starts_with(skipPrefix)) continue;
    tree[relative] = ReadTextFile(entry.path().string());
  }
  return tree;
}

void WriteLocalConfig(const std::string& appPath, const std::string& version, const std::string& region, int port) {
  CCryptConfigFile config(appPath + "Config.dat", "");
  config.WriteString("Update", "Version", version);
  config.WriteString("Update", "Region", region);
  config.WriteString("Update", "ServerIP", "127.0.0.1");
  config.WriteString("Update", "ServerPort", std::to_string(port));
  config.WriteString("Server", "WebSiteURL", "http://127.0.0.1:1/tovaro");
  CCryptConfigFile user(appPath + "UserConfig.dat", "");
  user.WriteInteger("Server", "UseProxy", 0);
}

std::string ReadConfig(const std::string& path, const std::string& section, const std::string& key) {
  CCryptConfigFile file(path, "");
  std::string value;
  file.ReadString(section, key, "", value);
  return value;
}

void SignPublished(const std::string& root, int type, const std::string& privateKey) {
  const std::string manifest = root + std::to_string(type) + "/" + (type == 1 ? "UpdateConfig.ini" : "config.ini");
  std::string signature, error;
  if (!SignManifest(ReadTextFile(privateKey), ReadTextFile(manifest), signature, error))
    throw std::runtime_error(error);
  WriteTextFile(manifest + ".sig", signature);
}
