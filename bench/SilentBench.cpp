// bench-silent: the silent program update as a whole process, beside the
// standard tools doing the same work, all against nginx on 127.0.0.1 in one run.
//
//   bench-silent [path/to/ZOLTUpdate] [repeats] [path/to/an older ZOLTUpdate]
//
// A. 1,000 files, 256 MiB, all changed: against `curl --config` fetching them
//    plus `cp` installing them (goal: at most 1.2x, peak RSS under 32 MiB).
// B. 200 of 2,000 files changed, 50 of 500 MiB: against `md5sum` of the
//    installed tree plus `curl --config` of the changed files (goal: 0.8x,
//    the digest cache cold).
// B'. B again after one earlier run compared the installed tree, so that
//    its digests are kept (goal: 0.35x of B's reference, about the download).
// C. The installation is current: against one `curl` of the manifest (goal:
//    1.15x). Every run but the first asks conditionally.
// D. The flush: a 64 MiB update beside a process that has just dirtied 1 GiB
//    elsewhere on the same file system, against the same update alone and
//    against `sync -f` of that file system (what a whole-system flush waits for).
// E. Bytes of response body for the manifest of B: a first check against nginx
//    compressing ".ini" files (goal: at most half the manifest), and a second
//    check (goal: at most 1 KiB).
// F. 200,000 entries whose files the server lacks: the whole run's peak
//    memory (goal: at most 100 MiB).
// G. The digest cache of 200,000 files: its size on disk (goal: at most
//    16 MiB) and the time to load it (goal: at most 50 ms).
// H. 1,000 files, 256 MiB, all changed, each to another size (as most changed
//    files of real releases are): an installed copy of another size than the
//    manifest's SIZE is not hashed. Against `curl --config` plus `cp` (A's
//    goal, 1.2x), and with an older updater given, against it (the gain).
// Each updater run logs where its time went (hashing, network, install,
// flush); the cases print that line of their last run.
// With an older updater given, A to D are also run with it, for comparison.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Files.h"
#include "tests/silent/SilentFixture.h"
#include "update/DigestCache.h"

namespace fs = std::filesystem;

namespace {

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;  // processor time, user and system, of the process and its children
  long peakKiB = 0;       // peak resident set of the process
};

// Runs argv with stdin, stdout and stderr on /dev/null and returns its wall
// time and peak memory; exits the benchmark when the command fails.
Run Timed(std::vector<std::string> args, const std::vector<std::string>& extraEnv = {}, int expectedExit = 0) {
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
  rusage usage{};
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) ::wait4(pid, &status, 0, &usage);
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss;
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedExit) {
    std::fprintf(stderr, "bench-silent: %s failed\n", args[0].c_str());
    std::exit(1);
  }
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Series {
  std::vector<double> seconds, cpuSeconds;
  long peakKiB = 0;
  void Add(const Run& run) {
    seconds.push_back(run.seconds);
    cpuSeconds.push_back(run.cpuSeconds);
    peakKiB = std::max(peakKiB, run.peakKiB);
  }
  double median() const { return Median(seconds); }
};

// The processor time tells a run bound by computing (near the wall time
// times the processors) from one that waits.
void Line(const char* what, const Series& s) {
  std::printf("  %-44s %9.1f ms (median of %zu; processor %.1f ms)\n", what, s.median() * 1000, s.seconds.size(),
              Median(s.cpuSeconds) * 1000);
}

void Verdict(const char* what, double value, double goal) {
  std::printf("  %-44s %9.2fx (goal at most %.2fx): %s\n", what, value, goal, value <= goal ? "met" : "NOT met");
}

// The body bytes nginx logged for the requests of urlPath, in order.
std::vector<long> BodyBytes(const NginxServer& server, const std::string& urlPath) {
  std::vector<long> bytes;
  std::istringstream log(server.AccessLog());
  for (std::string line; std::getline(log, line);) {
    std::istringstream fields(line);
    std::string method, uri, status, range, host;
    long body = 0;
    if (fields >> method >> uri >> status >> range >> host >> body && uri == urlPath) bytes.push_back(body);
  }
  return bytes;
}

// A file's content, different for every index, so that the manifest's digests
// are as varied (and compress as badly) as a real release's.
std::string Content(std::size_t size, int index, char base) {
  std::string content(size, char(base + index % 26));
  const std::string tag = std::to_string(index) + "-" + base;
  content.replace(0, tag.size(), tag);
  return content;
}

// $BENCH_CASES picks cases by letter (e.g. "AD"); all when unset. E needs B.
bool Wanted(char letter) {
  const char* cases = std::getenv("BENCH_CASES");
  return cases == nullptr || std::string(cases).find(letter) != std::string::npos;
}

class Bench {
 public:
  Bench(std::string updater, std::string older, int repeats)
      : updater_(std::move(updater)), older_(std::move(older)), repeats_(repeats) {
    fs::create_directories(pub_);
    fs::create_directories(run_);
    fs::permissions(run_, fs::perms::owner_all, fs::perm_options::replace);
  }

  // A fresh installation of files at version, with the updater to measure.
  void Install(const FileSet& files, const std::string& version, int port, const std::string& binary) {
    fs::remove_all(app_);
    fs::create_directories(app_);
    WriteFiles(app_, files);
    WriteLocalConfig(app_, version, "GD", port);
    fs::copy_file(binary, app_ + "ZOLTUpdate");
  }

  // measureMemory: through /usr/bin/time, whose own fork gives the updater a
  // memory of its own (a child spawned straight from this process would count
  // the benchmark's data in its peak). $BENCH_WRAP prefixes a command (e.g. a
  // profiler) to every run of the updater.
  Run Update(bool measureMemory = false, int expectedExit = 0) {
    std::vector<std::string> command;
    if (const char* wrap = std::getenv("BENCH_WRAP")) {
      std::istringstream words(wrap);
      for (std::string word; words >> word;) command.push_back(word);
    }
    const std::string peakFile = work_ / "peak.txt";
    if (measureMemory) command.insert(command.end(), {"/usr/bin/time", "-f", "%M", "-o", peakFile});
    command.insert(command.end(), {app_ + "ZOLTUpdate", "-silent"});
    Run run = Timed(command, env_, expectedExit);
    // time puts "Command exited with non-zero status N" before the figure.
    if (measureMemory) {
      const std::string text = ReadTextFile(peakFile);
      const auto line = text.find_last_of('\n', text.size() >= 2 ? text.size() - 2 : 0);
      run.peakKiB = std::atol(text.c_str() + (line == std::string::npos ? 0 : line + 1));
    }
    return run;
  }

  void Check(const FileSet& release, const char* name) {
    for (const auto& [file, content] : release) {
      if (ReadTextFile(app_ + Native(file)) != content) {
        std::fprintf(stderr, "bench-silent: %s did not install %s\n", name, file.c_str());
        std::exit(1);
      }
    }
  }

  // The binaries to measure: ours, then the older one when given.
  std::vector<std::pair<std::string, std::string>> Binaries() const {
    std::vector<std::pair<std::string, std::string>> binaries{{"ZOLTUpdate -silent", updater_}};
    if (!older_.empty()) binaries.emplace_back("older ZOLTUpdate -silent", older_);
    return binaries;
  }

  void CaseC() {
    NginxServer server(pub_);
    FileSet small;
    for (int i = 0; i < 20; ++i) small["f" + std::to_string(i) + ".dll"] = std::string(4096, char('a' + i));
    fs::remove_all(pub_);
    Publish(pub_, 1, small, {"4.1.0", "GD"});
    // A release published a while ago: validators of a file changed within
    // the second it is served are not kept.
    fs::last_write_time(pub_ + "1/UpdateConfig.ini", fs::file_time_type::clock::now() - std::chrono::hours(1));
    const std::string url = Base(server) + "UpdateConfig.ini";
    std::printf("C. installation current (20 files; whole process)\n");
    for (const auto& [name, binary] : Binaries()) {
      Install(small, "4.1.0", server.port(), binary);
      Update();  // the first check keeps the manifest; the ones measured ask conditionally
      // Taken in turns, so that a drift of the machine's speed during the
      // series moves both alike.
      Series ours, reference;
      for (int i = 0; i < repeats_; ++i) {
        ours.Add(Update());
        reference.Add(Timed({"curl", "-sf", "-o", work_ / "manifest.ini", url}));
      }
      Report(name, binary, ours, "curl of the manifest", reference, 1.15);
    }
  }

  // G. Digests of 200,000 files (names as F's, SHA-256 too, as with signing
  //    on): written once, then loaded as a run loads it, by its first lookup.
  void CaseG() {
    std::printf("G. digest cache of 200,000 files\n");
    fs::create_directories(work_ / "cache");
    const std::string path = work_ / "cache/digests";
    {
      CDigestCache cache(path, app_);
      FileStamp stamp;
      stamp.device = 2049;
      for (int i = 0; i < 200000; ++i) {
        char md5[33], sha[65];
        std::snprintf(md5, sizeof md5, "%032x", i * 2654435761u);
        std::snprintf(sha, sizeof sha, "%064x", i * 40503u);
        stamp.inode = 1000000 + i;
        stamp.size = 1000 + i;
        stamp.modifiedNs = 1767225600LL * 1000000000 + i * 7919LL;
        stamp.changedNs = stamp.modifiedNs + 1000;
        cache.Record("data\\dir" + std::to_string(i / 1000) + "\\file" + std::to_string(i) + ".dat", stamp,
                     FileClockNow(), md5, sha);
      }
      cache.Write();
    }
    const double mib = static_cast<double>(fs::file_size(path)) / (1 << 20);
    std::vector<double> loads;
    std::size_t entries = 0;
    for (int i = 0; i < std::max(3, repeats_ / 3); ++i) {
      CDigestCache cache(path, app_);
      std::string md5;
      const auto start = std::chrono::steady_clock::now();
      cache.Lookup("data\\dir0\\file0.dat", FileStamp{}, md5);
      loads.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      entries = cache.LoadedEntries();
    }
    std::printf("  %-44s %9.1f MiB (goal at most 16 MiB): %s\n", "size on disk", mib, mib <= 16 ? "met" : "NOT met");
    std::printf("  %-44s %9.1f ms for %zu entries (goal at most 50 ms): %s\n", "load", Median(loads) * 1000, entries,
                Median(loads) <= 0.05 && entries == 200000 ? "met" : "NOT met");
  }

  // F. A manifest of 200,000 entries whose files the server lacks: the
  //    whole run holds the manifest, the comparison's list and the fetch of
  //    every file at once. Peak memory of the process against the manifest's
  //    size (goal: at most 100 MiB in all).
  void CaseF() {
    NginxServer server(pub_);
    fs::remove_all(pub_);
    fs::create_directories(pub_ + "1");
    std::string files = "[Version]\nVERSION=4.1.0\nREGION=GD\n[FILES]\n", sections;
    for (int i = 0; i < 200000; ++i) {
      const std::string name = "data\\dir" + std::to_string(i / 1000) + "\\file" + std::to_string(i) + ".dat";
      char md5[33];
      std::snprintf(md5, sizeof md5, "%032x", i * 2654435761u);
      files += name + "\n";
      sections +=
          "[" + name + "]\nMD5=" + md5 + "\nSIZE=" + std::to_string(1000 + i) + "\nMODIFYTIME=2026-01-01 00:00:00\n";
    }
    WriteTextFile(pub_ + "1/UpdateConfig.ini", files + sections);
    const double manifestMiB = static_cast<double>(files.size() + sections.size()) / (1 << 20);
    std::printf("F. 200,000 entries, every file missing on the server (whole process, exit 1)\n");
    Install({}, "4.0.9", server.port(), updater_);
    const Run run = Update(true, 1);
    const double peakMiB = static_cast<double>(run.peakKiB) / 1024;
    std::printf("  %-44s %9.1f MiB in %.1f s (%.1fx the %.1f MiB manifest; goal at most 100 MiB): %s\n", "peak RSS",
                peakMiB, run.seconds, peakMiB / manifestMiB, manifestMiB, peakMiB <= 100 ? "met" : "NOT met");
  }

  // A's and H's 1,000 files, 256 MiB: the release, and installed copies that
  // all differ, of the same size or (otherSizes) some KiB smaller.
  static void ChangedRelease(bool otherSizes, FileSet& old, FileSet& release) {
    constexpr int kFiles = 1000;
    constexpr size_t kSize = (256u << 20) / kFiles;
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "d" + std::to_string(i % 10) + "\\f" + std::to_string(i) + ".bin";
      release[name] = Content(kSize, i, 'A');
      old[name] = Content(otherSizes ? kSize - 4096 - static_cast<std::size_t>(i % 512) : kSize, i, 'a');
    }
  }

  void CaseA() {
    FileSet release, old;
    ChangedRelease(false, old, release);
    std::printf("A. 1,000 changed files, 256 MiB\n");
    FullUpdate(old, release, true);
  }

  void CaseH() {
    FileSet release, old;
    ChangedRelease(true, old, release);
    std::printf("H. 1,000 changed files, 256 MiB, each of another size than installed\n");
    const std::vector<double> medians = FullUpdate(old, release, false);
    if (medians.size() == 2)
      std::printf("  %-44s %9.2fx the older updater's time (%.1f ms less)\n", "ours", medians[0] / medians[1],
                  (medians[1] - medians[0]) * 1000);
  }

  // old updated to release by each binary, beside curl --config + cp doing
  // the same (goal: at most 1.2x); the median time of each binary.
  std::vector<double> FullUpdate(const FileSet& old, const FileSet& release, bool peakMemory) {
    NginxServer server(pub_);
    fs::remove_all(pub_);
    Publish(pub_, 1, release, {"4.2.0", "GD"});
    WriteCurlConfig(server, release);
    const int repeats = std::max(1, repeats_ / 5);
    std::vector<double> medians;
    for (const auto& [name, binary] : Binaries()) {
      Series ours, reference;
      for (int i = 0; i < repeats; ++i) {
        Install(old, "4.1.0", server.port(), binary);
        ours.Add(Update(peakMemory));
        Check(release, name.c_str());
        if (binary != updater_) continue;
        fs::remove_all(work_ / "staging");
        fs::remove_all(work_ / "copy");
        WriteFiles(work_ / "copy/", old);
        const Run fetch = Timed({"curl", "-sf", "--create-dirs", "--config", work_ / "curl.conf"});
        const Run copy = Timed({"cp", "-r", "-T", work_ / "staging", work_ / "copy"});
        reference.Add({fetch.seconds + copy.seconds, fetch.cpuSeconds + copy.cpuSeconds, 0});
      }
      Report(name, binary, ours, "curl --config + cp", reference, 1.2);
      TimeTaken();
      if (peakMemory)
        std::printf("  %-44s %9.1f MiB (goal under 32 MiB): %s\n", ("peak RSS of " + name).c_str(),
                    ours.peakKiB / 1024.0, ours.peakKiB < 32 * 1024 ? "met" : "NOT met");
      medians.push_back(ours.median());
    }
    return medians;
  }

  void CaseB() {
    NginxServer server(pub_);
    constexpr int kFiles = 2000;
    constexpr size_t kSize = (500u << 20) / kFiles;
    FileSet release, old, changed;
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "d" + std::to_string(i % 20) + "\\f" + std::to_string(i) + ".bin";
      release[name] = Content(kSize, i, 'A');
      old[name] = i % 10 == 0 ? Content(kSize, i, 'a') : release[name];
      if (i % 10 == 0) changed[name] = release[name];
    }
    fs::remove_all(pub_);
    Publish(pub_, 1, release, {"4.2.0", "GD"});
    WriteCurlConfig(server, changed);
    manifestBytes_ = static_cast<long>(fs::file_size(pub_ + "1/UpdateConfig.ini"));
    std::printf("B. 200 of 2,000 files changed, 50 of 500 MiB\n");
    const int repeats = std::max(1, repeats_ / 5);
    for (const auto& [name, binary] : Binaries()) {
      Series ours, reference;
      for (int i = 0; i < repeats; ++i) {
        Install(old, "4.1.0", server.port(), binary);
        ours.Add(Update());
        Check(release, name.c_str());
        if (binary != updater_) continue;
        Install(old, "4.1.0", server.port(), binary);
        fs::remove_all(work_ / "staging");
        curlAloneB_.Add(Timed({"curl", "-sf", "--create-dirs", "--config", work_ / "curl.conf"}));
        const Run digests =
            Timed({"sh", "-c", "find '" + app_ + "' -name '*.bin' -print0 | xargs -0 md5sum >/dev/null"});
        const Run fetch = Timed({"curl", "-sf", "--create-dirs", "--config", work_ / "curl.conf"});
        reference.Add({digests.seconds + fetch.seconds, digests.cpuSeconds + fetch.cpuSeconds, 0});
      }
      Report(name, binary, ours, "md5sum of the tree + curl --config", reference, 0.8);
      TimeTaken();
      if (binary != updater_) continue;
      referenceB_ = reference;
    }
    CaseBAgain(old, release);
  }

  // B': an earlier run (a release that matched the installed files) compared
  // the whole tree and kept its digests; then B's release comes.
  void CaseBAgain(const FileSet& old, const FileSet& release) {
    NginxServer server(pub_);
    std::printf("B'. B again after one earlier run (digests kept)\n");
    Series ours;
    for (int i = 0; i < std::max(1, repeats_ / 5); ++i) {
      Install(old, "4.1.0", server.port(), updater_);
      fs::remove_all(pub_);
      Publish(pub_, 1, old, {"4.1.5", "GD"});
      // Files changed within the file-system clock's tick of being looked at
      // are not remembered: the earlier run comes a tick after the install.
      const std::int64_t installed = FileClockNow();
      while (FileClockNow() < installed + 2'100'000'000) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Update();
      fs::remove_all(pub_);
      Publish(pub_, 1, release, {"4.2.0", "GD"});
      ours.Add(Update());
      Check(release, "B'");
    }
    // E asks about this release next: a manifest changed within the second
    // it is served gets no validators.
    fs::last_write_time(pub_ + "1/UpdateConfig.ini", fs::file_time_type::clock::now() - std::chrono::hours(1));
    Line("ZOLTUpdate -silent", ours);
    Line("md5sum of the tree + curl --config (B)", referenceB_);
    Line("curl --config alone", curlAloneB_);
    Verdict("ratio to B's reference", ours.median() / referenceB_.median(), 0.35);
    TimeTaken();
  }

  void CaseD() {
    NginxServer server(pub_);
    constexpr int kFiles = 64;
    FileSet release, old;
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "f" + std::to_string(i) + ".bin";
      release[name] = std::string(1 << 20, char('A' + i % 50));
      old[name] = std::string(1 << 20, char('a' + i % 20));
    }
    fs::remove_all(pub_);
    Publish(pub_, 1, release, {"4.2.0", "GD"});
    const std::string dirt = work_ / "dirt.bin";
    const auto dirty = [&] { Timed({"dd", "if=/dev/zero", "of=" + dirt, "bs=1M", "count=1024", "conv=notrunc"}); };
    std::printf("D. 64 MiB update; the flush beside 1 GiB that another process has just written\n");
    const int repeats = std::max(1, repeats_ / 5);
    Series syncBeside;
    for (int i = 0; i < repeats; ++i) {
      dirty();
      syncBeside.Add(Timed({"sync", "-f", work_.path()}));
    }
    for (const auto& [name, binary] : Binaries()) {
      Series alone, beside;
      for (int i = 0; i < repeats; ++i) {
        Install(old, "4.1.0", server.port(), binary);
        Timed({"sync", "-f", work_.path()});
        alone.Add(Update());
        Install(old, "4.1.0", server.port(), binary);
        Timed({"sync", "-f", work_.path()});
        dirty();
        beside.Add(Update());
        Check(release, name.c_str());
        fs::remove(dirt);
      }
      std::printf("  %s\n", name.c_str());
      Line("  alone", alone);
      Line("  beside 1 GiB of other dirty data", beside);
      Verdict("  ratio beside / alone", beside.median() / alone.median(), 1.2);
    }
    Line("sync -f beside 1 GiB (a whole-system flush)", syncBeside);
  }

  void CaseE() {
    // B's release is still published: 2,000 files.
    NginxServer server(pub_, NginxOptions{"", "", "", "", kNginxGzipIni});
    FileSet none;
    Install(none, "4.2.0", server.port(), updater_);
    Update();
    Update();
    const std::vector<long> bodies = BodyBytes(server, "/1/UpdateConfig.ini");
    if (bodies.size() != 2) {
      std::fprintf(stderr, "bench-silent: expected two manifest requests, saw %zu\n", bodies.size());
      std::exit(1);
    }
    std::printf("E. response body of the manifest check (2,000 files, manifest %ld bytes, nginx gzip on .ini)\n",
                manifestBytes_);
    std::printf("  %-44s %9ld bytes = %.2f of the manifest (goal at most 0.50): %s\n", "first check", bodies[0],
                double(bodies[0]) / manifestBytes_, bodies[0] * 2 <= manifestBytes_ ? "met" : "NOT met");
    std::printf("  %-44s %9ld bytes (goal at most 1024): %s\n", "second check", bodies[1],
                bodies[1] <= 1024 ? "met" : "NOT met");
  }

 private:
  // The last run's own account of its time.
  void TimeTaken() const {
    const std::string log = ReadTextFile(app_ + "ZOLTUpdate.log");
    const auto at = log.rfind("time taken: ");
    if (at == std::string::npos) return;
    std::printf("  %-44s %s\n", "where the time went (last run)",
                log.substr(at + 12, log.find('\n', at) - at - 12).c_str());
  }

  // Ours, and for the updater being measured its reference and the ratio:
  // the median of the ratios of runs taken in turns, each of ours beside the
  // reference run next to it, so that the machine's drift in speed over a
  // series (a fifth, seen on these machines) cancels out.
  void Report(const std::string& name, const std::string& binary, const Series& ours, const char* referenceName,
              const Series& reference, double goal) const {
    Line(name.c_str(), ours);
    if (binary != updater_) return;
    Line(referenceName, reference);
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ours.seconds.size() && i < reference.seconds.size(); ++i)
      ratios.push_back(ours.seconds[i] / reference.seconds[i]);
    Verdict("ratio", Median(ratios), goal);
  }

  static std::string Base(const NginxServer& server) {
    return "http://127.0.0.1:" + std::to_string(server.port()) + "/1/";
  }

  void WriteCurlConfig(const NginxServer& server, const FileSet& files) {
    std::string curlConfig;
    for (const auto& file : files) {
      curlConfig += "url = \"" + Base(server) + Native(file.first) + "\"\noutput = \"" + work_.path() + "staging/" +
                    Native(file.first) + "\"\n";
    }
    WriteTextFile(work_ / "curl.conf", curlConfig);
  }

  std::string updater_, older_;
  int repeats_;
  TempDir work_;
  std::string pub_ = work_ / "pub/", app_ = work_ / "app/", run_ = work_ / "run";
  std::vector<std::string> env_{"XDG_RUNTIME_DIR=" + run_, "ZOLT_REGISTRY_ROOT=" + (work_ / "registry")};
  long manifestBytes_ = 1;
  Series referenceB_;  // B's reference
  Series curlAloneB_;  // B's changed files fetched with curl alone
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures appear as each case ends
  std::string updater = argc > 1 ? argv[1] : (fs::path(argv[0]).parent_path() / "../app/ZOLTUpdate").string();
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 15;
  const std::string older = argc > 3 ? argv[3] : "";
  if (!fs::exists(updater) || repeats < 1 || (!older.empty() && !fs::exists(older))) {
    std::fprintf(stderr, "usage: bench-silent [path/to/ZOLTUpdate] [repeats] [path/to/an older ZOLTUpdate]\n");
    return 2;
  }
  Bench bench(fs::absolute(updater), older.empty() ? "" : fs::absolute(older).string(), repeats);
  if (Wanted('C')) bench.CaseC();
  if (Wanted('A')) bench.CaseA();
  if (Wanted('B')) bench.CaseB();
  if (Wanted('B') && Wanted('E')) bench.CaseE();
  if (Wanted('D')) bench.CaseD();
  if (Wanted('F')) bench.CaseF();
  if (Wanted('G')) bench.CaseG();
  if (Wanted('H')) bench.CaseH();
  return 0;
}
