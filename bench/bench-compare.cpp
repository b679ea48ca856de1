// CompareUpdateConfig over manifests of 10,000 and 100,000 entries whose files
// all exist and match. Prints the time per entry for both sizes, their ratio
// (goal: linear, ratio near 1), and the share of the time spent hashing the
// installed copies against reading the manifest.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "update/UpdateManifest.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Figures {
  double perEntry;  // seconds
  double hashing;   // seconds, all files
  double reading;   // seconds, manifest parse and lookups
  int count;
};

Figures Measure(const std::string& root, int count) {
  const std::string install = root + "/install-" + std::to_string(count) + "/";
  std::string manifest = "[Version]\nVERSION=1.0\nREGION=1\nUNCONDITIONALUPDATE=1\n[FILES]\n";
  std::string sections;
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    const std::string folder = "dir" + std::to_string(i / 1000);
    const std::string name = folder + "\\file" + std::to_string(i) + ".dat";
    std::string content(64, static_cast<char>('a' + i % 26));
    content.replace(0, std::to_string(i).size(), std::to_string(i));
    std::filesystem::create_directories(install + folder);
    std::ofstream(install + folder + "/file" + std::to_string(i) + ".dat", std::ios::binary) << content;
    manifest += name + "\n";
    sections += "[" + name + "]\nMD5=" + CMD5::OfBytes(content.data(), content.size()) +
                "\nSIZE=64\nMODIFYTIME=2026-01-01 00:00:00\n";
    names.push_back(name);
  }
  const std::string manifestPath = root + "/UpdateConfig-" + std::to_string(count) + ".ini";
  std::ofstream(manifestPath, std::ios::binary) << manifest << sections;

  // Warm the page and dentry caches so every size is measured alike.
  std::vector<UpdateFileInfo> files;
  CompareUpdateConfig(UpdateCheckInfo(install, manifestPath, "1.0", "1"), files);

  // Best of three rounds of each measurement: other work on the machine only
  // ever adds time.
  Figures figures{1e9, 1e9, 1e9, count};
  for (int round = 0; round < 3; ++round) {
    auto start = std::chrono::steady_clock::now();
    files.clear();
    const int result = CompareUpdateConfig(UpdateCheckInfo(install, manifestPath, "1.0", "1"), files);
    figures.perEntry = std::min(figures.perEntry, Seconds(start) / count);
    if (result != 0 || !files.empty())
      std::fprintf(stderr, "bench-compare: unexpected result %d, %zu listed\n", result, files.size());

    start = std::chrono::steady_clock::now();
    {
      CConfigFile config(manifestPath);
      std::vector<std::string> entries;
      config.ReadSection("FILES", entries);
      std::string value;
      for (const std::string& entry : entries) config.ReadString(entry, "MD5", "", value);
    }
    figures.reading = std::min(figures.reading, Seconds(start));

    start = std::chrono::steady_clock::now();
    {
      CMD5 md5;
      std::string digest;
      for (const std::string& name : names) md5.GetFileMD5((install + name).c_str(), digest);
    }
    figures.hashing = std::min(figures.hashing, Seconds(start));
  }
  return figures;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/zolt-bench-compare-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::string root = pattern;
  std::printf("building installations of 10,000 and 100,000 files of 64 bytes in %s ...\n", root.c_str());
  const Figures small = Measure(root, 10000);
  const Figures large = Measure(root, 100000);
  std::filesystem::remove_all(root);
  for (const auto& [label, f] : {std::pair{"10,000 entries ", small}, std::pair{"100,000 entries", large}}) {
    const double total = f.hashing + f.reading;
    std::printf("%s  %7.2f us/entry   hashing %4.1f%% (%.2f us/entry)   reading the manifest %4.1f%% (%.2f us/entry)\n",
                label, f.perEntry * 1e6, 100.0 * f.hashing / total, f.hashing * 1e6 / f.count,
                100.0 * f.reading / total, f.reading * 1e6 / f.count);
  }
  std::printf("ratio per entry 100,000 / 10,000: %.3f (goal: about 1, linear)\n", large.perEntry / small.perEntry);
  return 0;
}
