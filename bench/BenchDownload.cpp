// Download throughput and memory: DownloadFileList against the curl command
// line, both fetching the same files from nginx on 127.0.0.1 over one kept
// connection. Prints the times, their ratio and the peak resident memory.
//
// bench-download [--small COUNT] [--huge-mib SIZE] [--rounds N]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "tests/support/HttpServers.h"
#include "tests/support/TempDir.h"
#include "transfer/DownloadFileList.h"

namespace fs = std::filesystem;

namespace {

struct Run {
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
};

// Runs argv as a child and measures its wall time and its own peak memory.
Run Measure(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

void WriteRandomFile(const std::string& path, std::size_t size, std::mt19937_64& random) {
  std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
  std::ofstream out(path, std::ios::binary);
  while (size > 0) {
    for (auto& word : block) word = random();
    const std::size_t chunk = std::min(size, block.size() * sizeof(std::uint64_t));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(chunk));
    size -= chunk;
  }
}

bool SizesMatch(const std::string& dest, const std::vector<std::string>& names, const std::string& root) {
  for (const auto& name : names) {
    std::error_code error;
    if (fs::file_size(dest + name, error) != fs::file_size(root + "1/" + name, error) || error) return false;
  }
  return true;
}

int Child(const std::string& dest, int port, const std::string& listFile) {
  std::vector<std::string> names;
  std::ifstream list(listFile);
  for (std::string line; std::getline(list, line);) names.push_back(line);
  CZOLTUpdateIntf transfer({{"127.0.0.1", static_cast<std::uint16_t>(port)}}, false);
  return DownloadFileList(dest, 1, transfer, names) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], std::atoi(argv[3]), argv[4]);

  int smallCount = 1000;
  long hugeMiB = 512;
  int rounds = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--small") == 0)
      smallCount = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--huge-mib") == 0)
      hugeMiB = std::atol(argv[i + 1]);
    else if (std::strcmp(argv[i], "--rounds") == 0)
      rounds = std::max(1, std::atoi(argv[i + 1]));
  }

  TempDir work;
  const std::string root = work / "root/";
  std::mt19937_64 random(42);
  std::vector<std::string> smallNames;
  fs::create_directories(root + "1/small");
  for (int i = 0; i < smallCount; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "small/f%04d.bin", i);
    smallNames.push_back(name);
    WriteRandomFile(root + "1/" + name, 16 * 1024, random);
  }
  WriteRandomFile(root + "1/huge.bin", static_cast<std::size_t>(hugeMiB) << 20, random);
  NginxServer server(root);
  const std::string self = fs::read_symlink("/proc/self/exe");
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/1/";

  struct Set {
    const char* label;
    std::vector<std::string> names;
    double ours = 1e9, curl = 1e9;
    long oursKiB = 0, curlKiB = 0;
  };
  const std::string smallLabel = std::to_string(smallCount) + " x 16 KiB";
  const std::string hugeLabel = "1 x " + std::to_string(hugeMiB) + " MiB";
  std::vector<Set> sets = {{smallLabel.c_str(), smallNames}, {hugeLabel.c_str(), {"huge.bin"}}};

  bool allOk = true;
  for (auto& set : sets) {
    const std::string listFile = work / "list.txt";
    const std::string configFile = work / "curl.conf";
    {
      std::ofstream list(listFile), config(configFile);
      for (const auto& name : set.names) {
        list << name << "\n";
        config << "url = \"" << base << name << "\"\noutput = \"" << work.path() << "curl/" << name << "\"\n";
      }
    }
    for (int round = 0; round < rounds; ++round) {
      fs::remove_all(work / "ours");
      fs::remove_all(work / "curl");
      // Alternate who goes first: the machine's state (page cache, files being
      // freed from the last round) should not favour one side.
      const auto runOurs = [&] {
        return Measure({self, "--child", work / "ours/", std::to_string(server.port()), listFile});
      };
      const auto runCurl = [&] {
        return Measure({"/usr/bin/curl", "--config", configFile, "--create-dirs", "--silent", "--show-error", "--fail",
                        "--noproxy", "*"});
      };
      Run ours, curl;
      if (round % 2 == 0) {
        ours = runOurs();
        curl = runCurl();
      } else {
        curl = runCurl();
        ours = runOurs();
      }
      allOk = allOk && ours.ok && curl.ok && SizesMatch(work / "ours/", set.names, root) &&
              SizesMatch(work / "curl/", set.names, root);
      set.ours = std::min(set.ours, ours.seconds);
      set.curl = std::min(set.curl, curl.seconds);
      set.oursKiB = std::max(set.oursKiB, ours.peakKiB);
      set.curlKiB = std::max(set.curlKiB, curl.peakKiB);
    }
  }
  fs::remove_all(work / "ours");
  fs::remove_all(work / "curl");

  std::printf("bench-download: nginx on 127.0.0.1, best of %d rounds\n", rounds);
  for (const auto& set : sets) {
    std::printf("  %-16s ours %8.3f s  curl %8.3f s  ratio %.3f  peak RSS ours %6.1f MiB (curl %6.1f MiB)\n", set.label,
                set.ours, set.curl, set.ours / set.curl, set.oursKiB / 1024.0, set.curlKiB / 1024.0);
  }
  std::printf("  goals: ratio <= 1.10, peak RSS < 32 MiB; all files complete: %s\n", allOk ? "yes" : "NO");
  return allOk ? 0 : 1;
}
