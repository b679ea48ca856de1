// bench-silent: the silent program update as a whole process against curl.
//
//   bench-silent [path/to/ZOLTUpdate] [repeats]
//
// 1. An installation that is current: `ZOLTUpdate -silent` against `curl`
//    fetching the same manifest once (goal: under 2x).
// 2. 1,000 changed files, 256 MiB in all: `ZOLTUpdate -silent` against `curl
//    --config` fetching them plus `cp` installing them (goal: within 1.2x).
// Both against nginx on 127.0.0.1; prints the figures and ratios.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/silent/SilentFixture.h"

namespace fs = std::filesystem;

namespace {

// Runs argv with stdout and stderr to /dev/null (stdin too) and returns its
// wall time in seconds; exits the benchmark when the command fails.
double Timed(std::vector<std::string> args, const std::vector<std::string>& extraEnv = {}) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = extraEnv;
  environment.push_back("PATH=/usr/bin:/bin");
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int status = 1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) ::waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench-silent: %s failed\n", args[0].c_str());
    std::exit(1);
  }
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Report(const char* what, const std::vector<double>& ours, const std::vector<double>& reference,
            const char* referenceName, double goal) {
  const double a = Median(ours), b = Median(reference);
  std::printf("%s\n  ZOLTUpdate -silent: %8.1f ms (median of %zu)\n  %-18s: %8.1f ms (median of %zu)\n", what, a * 1000,
              ours.size(), referenceName, b * 1000, reference.size());
  std::printf("  ratio %.2fx (goal under %.1fx): %s\n", a / b, goal, a / b < goal ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  std::string updater = argc > 1 ? argv[1] : (fs::path(argv[0]).parent_path() / "../app/ZOLTUpdate").string();
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 20;
  if (!fs::exists(updater)) {
    std::fprintf(stderr, "usage: bench-silent [path/to/ZOLTUpdate] [repeats]\n");
    return 2;
  }

  TempDir work;
  const std::string pub = work / "pub/", app = work / "app/", run = work / "run";
  fs::create_directories(pub);
  fs::create_directories(run);
  fs::permissions(run, fs::perms::owner_all, fs::perm_options::replace);
  NginxServer server(pub);
  const std::vector<std::string> env{"XDG_RUNTIME_DIR=" + run, "ZOLT_REGISTRY_ROOT=" + (work / "registry")};
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/1/";

  // 1. Current installation.
  FileSet small;
  for (int i = 0; i < 20; ++i) small["f" + std::to_string(i) + ".dll"] = std::string(4096, char('a' + i));
  Publish(pub, 1, small, {"4.1.0", "GD"});
  WriteFiles(app, small);
  WriteLocalConfig(app, "4.1.0", "GD", server.port());
  fs::copy_file(updater, app + "ZOLTUpdate");
  std::vector<double> ours, reference;
  for (int i = 0; i < repeats; ++i) {
    ours.push_back(Timed({app + "ZOLTUpdate", "-silent"}, env));
    reference.push_back(Timed({"curl", "-sf", "-o", work / "manifest.ini", base + "UpdateConfig.ini"}));
  }
  Report("installation current (whole process, manifest fetched once)", ours, reference, "curl", 2.0);

  // 2. 1,000 changed files, 256 MiB.
  constexpr int kFiles = 1000;
  constexpr size_t kSize = (256u << 20) / kFiles;
  FileSet release, old;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "d" + std::to_string(i % 10) + "\\f" + std::to_string(i) + ".bin";
    release[name] = std::string(kSize, char('A' + i % 50));
    old[name] = std::string(kSize, char('a' + i % 20));
  }
  fs::remove_all(pub);
  Publish(pub, 1, release, {"4.2.0", "GD"});
  std::string curlConfig;
  for (const auto& file : release) {
    curlConfig += "url = \"" + base + Native(file.first) + "\"\noutput = \"" + work.path() + "staging/" +
                  Native(file.first) + "\"\n";
  }
  WriteTextFile(work / "curl.conf", curlConfig);
  const int bigRepeats = std::max(1, repeats / 7);
  ours.clear();
  reference.clear();
  std::vector<double> equalWork;
  for (int i = 0; i < bigRepeats; ++i) {
    fs::remove_all(app);
    WriteFiles(app, old);
    WriteLocalConfig(app, "4.1.0", "GD", server.port());
    fs::copy_file(updater, app + "ZOLTUpdate");
    ours.push_back(Timed({app + "ZOLTUpdate", "-silent"}, env));
    if (ReadTextFile(app + "d3/f3.bin") != release.at("d3\\f3.bin")) {
      std::fprintf(stderr, "bench-silent: the update did not install the release\n");
      return 1;
    }

    fs::remove_all(work / "staging");
    fs::remove_all(work / "copy");
    WriteFiles(work / "copy/", old);
    const double fetch = Timed({"curl", "-sf", "--create-dirs", "--config", work / "curl.conf"});
    const double copy = Timed({"cp", "-r", "-T", work / "staging", work / "copy"});
    reference.push_back(fetch + copy);
    // The same work as the updater does: digests of the installed and of the
    // fetched files, the copy made durable, staging removed.
    const double digests =
        Timed({"sh", "-c",
               "find '" + work / "copy" + "' '" + work / "staging" + "' -type f -print0 | xargs -0 md5sum >/dev/null"});
    const double durable = Timed({"sh", "-c", "sync -f '" + work / "copy" + "' && rm -rf '" + work / "staging" + "'"});
    equalWork.push_back(fetch + copy + digests + durable);
  }
  Report("1,000 changed files, 256 MiB", ours, reference, "curl --config + cp", 1.2);
  std::printf("  against curl + cp + md5sum of both trees + sync + rm of staging: %.1f ms, ratio %.2fx\n",
              Median(equalWork) * 1000, Median(ours) / Median(equalWork));
  return 0;
}
