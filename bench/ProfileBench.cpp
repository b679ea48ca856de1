// Reads manifest-sized profile files the way the comparison does (list the
// sections, read three keys of each) and prints the time per section for a
// small and a large manifest. Reading must grow linearly with the manifest:
// the ratio of the per-section times should stay near 1.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/configfile/ConfigFile.h"
#include "platform/win32/Files.h"

namespace {

std::string ManifestText(int sections) {
  std::string text = "[Version]\nVersion=2.0.0\n[FILES]\n";
  for (int i = 0; i < sections; ++i) text += "File=bin\\module" + std::to_string(i) + ".dll\n";
  for (int i = 0; i < sections; ++i) {
    text += "[bin\\module" + std::to_string(i) + ".dll]\n";
    text +=
        "MD5=0123456789abcdef0123456789abcdef\nSIZE=" + std::to_string(1000 + i) + "\nMODIFYTIME=2026-12-08 01:00:00\n";
  }
  return text;
}

// CPU seconds of this process, so that time spent waiting for a busy machine's
// processor does not count.
double CpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds to open, list and read the whole manifest at path; keeps the best
// of a few runs so that a busy machine does not decide the figure.
double ReadManifest(const std::string& path, int sections, int runs) {
  double best = 1e9;
  for (int run = 0; run < runs; ++run) {
    const double start = CpuSeconds();
    CConfigFile file(path);
    std::vector<std::string> names;
    file.ReadSections(names);
    std::vector<std::string> listed;
    file.ReadSection("FILES", listed);
    std::string value;
    long long total = 0;
    for (const std::string& name : names) {
      file.ReadString(name, "MD5", "", value);
      file.ReadString(name, "SIZE", "", value);
      total += file.ReadInteger(name, "SIZE", 0);
      file.ReadString(name, "MODIFYTIME", "", value);
    }
    const double seconds = CpuSeconds() - start;
    if (static_cast<int>(names.size()) != sections + 2 || static_cast<int>(listed.size()) != sections || total == 0) {
      std::fprintf(stderr, "bench-profile: wrong result for %d sections\n", sections);
      std::exit(1);
    }
    if (seconds < best) best = seconds;
  }
  return best;
}

}  // namespace

int main() {
  char folder[] = "/tmp/zolt-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const int sizes[] = {10000, 100000};
  double totals[2] = {};
  for (int i = 0; i < 2; ++i) {
    const std::string path = std::string(folder) + "/UpdateConfig.ini";
    if (!WriteFileAtomically(path, ManifestText(sizes[i]))) return 1;
    totals[i] = ReadManifest(path, sizes[i], i == 0 ? 20 : 5);
    std::printf("%7d sections: %8.3f ms CPU total, %6.3f us per section\n", sizes[i], totals[i] * 1e3,
                totals[i] * 1e6 / sizes[i]);
    ::unlink(path.c_str());
  }
  ::rmdir(folder);
  const double perSectionRatio = (totals[1] / sizes[1]) / (totals[0] / sizes[0]);
  std::printf("ratio of totals (100000 / 10000): %.2f (linear: 10)\n", totals[1] / totals[0]);
  std::printf("ratio per section: %.2f (linear: 1)\n", perSectionRatio);
  std::printf("100000 sections under one second: %s\n", totals[1] < 1.0 ? "yes" : "no");
  return 0;
}
