// Peak memory and time of CompareUpdateConfig over manifests of 20,000 and
// 200,000 entries of which no file is installed, so that every entry ends up
// in the list (the most the comparison ever holds). Each size is measured in
// a child process of its own, whose peak resident size is the kernel's
// figure. Goal: the 200,000-entry manifest in at most 100 MiB, time per entry
// about the same for both sizes (linear).
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "update/UpdateManifest.h"

namespace {

struct Figures {
  double seconds = 0;
  double peakMiB = 0;
  double manifestMiB = 0;
  std::size_t listed = 0;
};

std::string WriteManifest(const std::string& root, int count) {
  std::string files = "[Version]\nVERSION=2.0\nREGION=1\nUNCONDITIONALUPDATE=1\n[FILES]\n";
  std::string sections;
  for (int i = 0; i < count; ++i) {
    const std::string name = "data\\dir" + std::to_string(i / 1000) + "\\file" + std::to_string(i) + ".dat";
    files += name + "\n";
    char md5[33];
    std::snprintf(md5, sizeof md5, "%032x", i * 2654435761u);
    sections +=
        "[" + name + "]\nMD5=" + md5 + "\nSIZE=" + std::to_string(1000 + i) + "\nMODIFYTIME=2026-01-01 00:00:00\n";
  }
  const std::string path = root + "/UpdateConfig-" + std::to_string(count) + ".ini";
  std::ofstream(path, std::ios::binary) << files << sections;
  return path;
}

// The child's part: compares once and prints seconds, entries listed and
// peak resident KiB. A process of its own (not a fork of the one that wrote
// the manifest), so nothing the writer left on the heap counts.
int CompareOnce(const std::string& manifest, const std::string& install) {
  std::vector<UpdateFileInfo> files;
  const auto start = std::chrono::steady_clock::now();
  CompareUpdateConfig(UpdateCheckInfo(install, manifest, "1.0", "1"), files);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%f %zu %ld\n", seconds, files.size(), usage.ru_maxrss);
  return 0;
}

Figures Measure(const std::string& self, const std::string& root, int count) {
  const std::string manifest = WriteManifest(root, count);
  const std::string install = root + "/install/";
  std::filesystem::create_directories(install);
  Figures figures;
  FILE* child = ::popen(("'" + self + "' --compare '" + manifest + "' '" + install + "'").c_str(), "r");
  long peakKiB = 0;
  if (child == nullptr || std::fscanf(child, "%lf %zu %ld", &figures.seconds, &figures.listed, &peakKiB) != 3)
    std::exit(1);
  ::pclose(child);
  figures.peakMiB = static_cast<double>(peakKiB) / 1024.0;
  figures.manifestMiB = static_cast<double>(std::filesystem::file_size(manifest)) / (1024.0 * 1024.0);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--compare") return CompareOnce(argv[2], argv[3]);
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  char pattern[] = "/tmp/zolt-bench-manifest-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::string root = pattern;
  const Figures small = Measure(self, root, 20000);
  const Figures large = Measure(self, root, 200000);
  std::filesystem::remove_all(root);
  for (const auto& [label, f] : {std::pair{"20,000 entries ", small}, std::pair{"200,000 entries", large}}) {
    std::printf("%s  manifest %6.1f MiB  peak RSS %6.1f MiB (%.1f x the manifest)  %zu listed  %.3f s  %.2f us/entry\n",
                label, f.manifestMiB, f.peakMiB, f.peakMiB / f.manifestMiB, f.listed, f.seconds,
                f.seconds * 1e6 / static_cast<double>(f.listed));
  }
  std::printf("peak RSS for 200,000 entries: %.1f MiB (goal: at most 100 MiB)\n", large.peakMiB);
  std::printf("ratio per entry 200,000 / 20,000: %.3f (goal: about 1, linear)\n",
              (large.seconds / 200000) / (small.seconds / 20000));
  return large.peakMiB <= 100 ? 0 : 1;
}
