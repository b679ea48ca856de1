// Delta downloads on real binaries: for each pair of releases given (two
// folders holding files of the same names), the bytes a patched, a compressed
// and a plain download move, the same patches made by the zstd command line
// (`zstd --patch-from -19 --long`) as the reference, and the time to apply
// them against `zstd -d --patch-from`. Then the peak resident size and the
// speed of applying a patch to a 100 MiB file, each in a process of its own,
// against the zstd command line doing the same.
//
//   bench-delta [--rss-only] [NAME OLD_DIR NEW_DIR]...
//
// Goals: patches at most 1.05x the command line's; applying at least 0.9x its
// speed; a patch release's changed binaries moving at most 10% of their bytes;
// under 64 MiB resident for the 100 MiB file. bench/delta-bench.sh builds two
// releases of this project's own programs and runs this on them.
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
#include <random>
#include <string>
#include <vector>

#include "platform/crypt/StreamDigest.h"
#include "platform/crypt/ZstdPatch.h"
#include "platform/win32/Files.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

extern "C" char** environ;

struct ChildRun {
  int status = -1;
  double seconds = 0;
  double peakMiB = 0;
};

// Runs argv (a full path first) with stdout and stderr to /dev/null.
ChildRun Run(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ChildRun run;
  const auto start = Clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    rusage usage{};
    ::wait4(pid, &run.status, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

// The quickest of a few runs: the machine is shared, the minimum is the
// least disturbed figure.
template <class F>
double Best(int runs, F&& f) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) best = std::min(best, f());
  return best;
}

std::string Zstd() { return "/usr/bin/zstd"; }

// kinds 0: no digest, the work the command line does.
bool Apply(const std::string& patch, const std::string& base, const std::string& out, std::uint64_t size,
           unsigned kinds = kDigestMD5) {
  CStreamDigest digest(kinds);
  std::string cause;
  if (DecodeZstdFile(patch, base, out, size, digest, cause)) return true;
  std::fprintf(stderr, "bench-delta: %s\n", cause.c_str());
  return false;
}

struct Totals {
  std::uintmax_t plain = 0, compressed = 0, patched = 0, reference = 0;
  double apply = 0, bare = 0, referenceApply = 0;
};

void CompareReleases(const std::string& name, const fs::path& oldDir, const fs::path& newDir, const fs::path& work) {
  std::printf("\n%s (%s -> %s)\n", name.c_str(), oldDir.c_str(), newDir.c_str());
  std::printf("  %-14s %10s %10s %10s %10s %7s %9s %9s %9s %6s\n", "file", "plain", "compressed", "patch", "zstd cli",
              "ratio", "apply ms", "+MD5 ms", "cli ms", "speed");
  Totals totals;
  // What starting the command line costs, taken off its apply times so that
  // both sides count the work only.
  const std::string empty = (work / "empty.zst").string();
  std::system((Zstd() + " -q -f -o " + empty + " </dev/null").c_str());
  const double startup = Best(5, [&] { return Run({Zstd(), "-q", "-d", "-f", empty, "-o", "/dev/null"}).seconds; });
  for (const auto& entry : fs::directory_iterator(newDir)) {
    if (!entry.is_regular_file()) continue;
    const fs::path oldFile = oldDir / entry.path().filename();
    std::string base, target, patch, packed, error;
    if (!ReadWholeFile(oldFile.string(), base) || !ReadWholeFile(entry.path().string(), target)) continue;
    if (base == target) continue;
    if (!EncodeZstd(base, target, kZstdPublishLevel, patch, error) ||
        !EncodeZstd("", target, kZstdPublishLevel, packed, error)) {
      std::printf("  %s: %s\n", entry.path().filename().c_str(), error.c_str());
      continue;
    }
    const std::string ours = (work / "ours.patch").string(), cli = (work / "cli.patch").string();
    const std::string out = (work / "out").string();
    WriteFileAtomically(ours, patch);
    Run({Zstd(), "-q", "-f", "-19", "--long", "--patch-from=" + oldFile.string(), entry.path().string(), "-o", cli});
    const auto cliSize = fs::file_size(cli);
    const auto timed = [&](unsigned kinds) {
      return Best(15, [&] {
        const auto start = Clock::now();
        Apply(ours, oldFile.string(), out, target.size(), kinds);
        return std::chrono::duration<double>(Clock::now() - start).count();
      });
    };
    const double bare = timed(0);
    const double apply = timed(kDigestMD5);
    std::string rebuilt;
    ReadWholeFile(out, rebuilt);
    if (rebuilt != target) std::printf("  %s: the patch does not rebuild the file\n", entry.path().filename().c_str());
    const double cliApply = std::max(
        1e-6, Best(5, [&] {
                return Run({Zstd(), "-q", "-d", "-f", "--patch-from=" + oldFile.string(), cli, "-o", out}).seconds;
              }) - startup);
    std::printf("  %-14s %10zu %10zu %10zu %10ju %6.3fx %9.2f %9.2f %9.2f %5.2fx\n", entry.path().filename().c_str(),
                target.size(), packed.size(), patch.size(), static_cast<std::uintmax_t>(cliSize),
                static_cast<double>(patch.size()) / static_cast<double>(cliSize), bare * 1e3, apply * 1e3,
                cliApply * 1e3, cliApply / bare);
    totals.plain += target.size();
    totals.compressed += std::min(packed.size(), target.size());
    totals.patched += std::min(patch.size(), target.size());
    totals.reference += cliSize;
    totals.apply += apply;
    totals.bare += bare;
    totals.referenceApply += cliApply;
  }
  if (totals.plain == 0) return;
  const auto share = [&](std::uintmax_t bytes) { return 100.0 * static_cast<double>(bytes) / totals.plain; };
  std::printf("  bytes on the wire: plain %ju, compressed %ju (%.1f%%), patched %ju (%.1f%%)\n", totals.plain,
              totals.compressed, share(totals.compressed), totals.patched, share(totals.patched));
  std::printf("  patch bytes vs zstd --patch-from -19 --long: %.3fx (goal <= 1.05x)\n",
              static_cast<double>(totals.patched) / static_cast<double>(totals.reference));
  std::printf(
      "  apply speed vs zstd -d --patch-from: %.2fx (goal >= 0.9x; %.2f ms against %.2f ms, "
      "the command line's start-up of %.2f ms taken off); with the MD5 every download takes: %.2fx\n",
      totals.referenceApply / totals.bare, totals.bare * 1e3, totals.referenceApply * 1e3, startup * 1e3,
      totals.referenceApply / totals.apply);
}

// A 100 MiB base that changes in a few places, a patch of it, and the
// application in a process of its own.
void LargeFile(const std::string& self, const fs::path& work) {
  constexpr std::size_t kSize = 100u << 20;
  const std::string base = (work / "large.old").string(), target = (work / "large.new").string();
  const std::string patch = (work / "large.patch").string(), out = (work / "large.out").string();
  {
    std::string bytes(kSize, '\0');
    std::mt19937_64 random(100);
    for (std::size_t i = 0; i < kSize; i += 8) {
      const std::uint64_t word = random() & 0x0F0F0F0F0F0F0F0Full;  // compresses, as code does
      std::copy_n(reinterpret_cast<const char*>(&word), 8, bytes.data() + i);
    }
    WriteFileAtomically(base, bytes);
    for (std::size_t at = 4096; at < kSize; at += 1 << 20) bytes.replace(at, 16, "changed version!");
    WriteFileAtomically(target, bytes);
    std::string oldBytes, frame, error;
    ReadWholeFile(base, oldBytes);
    // Level 3: the resident size of applying does not depend on the level.
    if (!EncodeZstd(oldBytes, bytes, 3, frame, error)) {
      std::printf("large file: %s\n", error.c_str());
      return;
    }
    WriteFileAtomically(patch, frame);
  }
  const std::string cliPatch = (work / "large-cli.patch").string();
  Run({Zstd(), "-q", "-f", "-3", "--long", "--patch-from=" + base, target, "-o", cliPatch});
  // Through GNU time, whose small process is what each program starts from: a
  // process spawned from this one would count this one's peak as its own.
  const std::string rss = (work / "rss").string();
  const auto measured = [&](std::vector<std::string> command) {
    command.insert(command.begin(), {"/usr/bin/time", "-f", "%M", "-o", rss});
    ChildRun run = Run(command);
    std::string kib;
    ReadWholeFile(rss, kib);
    run.peakMiB = std::atof(kib.c_str()) / 1024.0;
    return run;
  };
  ChildRun ours, cli;
  ours.seconds = cli.seconds = 1e9;
  for (int i = 0; i < 3; ++i) {
    const ChildRun a = measured({self, "--apply", patch, base, out, std::to_string(kSize)});
    const ChildRun b = measured({Zstd(), "-q", "-d", "-f", "--long=27", "--patch-from=" + base, cliPatch, "-o", out});
    if (a.seconds < ours.seconds) ours = a;
    if (b.seconds < cli.seconds) cli = b;
  }
  std::string rebuilt, expected;
  Run({self, "--apply", patch, base, out, std::to_string(kSize)});
  const bool same = fs::file_size(out) == kSize && ReadWholeFile(out, rebuilt) && ReadWholeFile(target, expected) &&
                    rebuilt == expected;
  std::printf("\n100 MiB file, patch of %ju bytes (zstd cli's: %ju)%s\n",
              static_cast<std::uintmax_t>(fs::file_size(patch)), static_cast<std::uintmax_t>(fs::file_size(cliPatch)),
              same && ours.status == 0 ? "" : " -- THE RESULT IS WRONG");
  std::printf("  peak resident: %.1f MiB (goal < 64 MiB; zstd -d --patch-from: %.1f MiB, %.2fx of it)\n", ours.peakMiB,
              cli.peakMiB, ours.peakMiB / cli.peakMiB);
  std::printf("  apply, MD5 taken on the way: %.0f ms, zstd -d --patch-from %.0f ms: speed %.2fx (goal >= 0.9x)\n",
              ours.seconds * 1e3, cli.seconds * 1e3, cli.seconds / ours.seconds);
  for (const std::string& path : {base, target, patch, cliPatch, out}) fs::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 5 && args[0] == "--apply") return Apply(args[1], args[2], args[3], std::stoull(args[4])) ? 0 : 1;
  const bool rssOnly = !args.empty() && args[0] == "--rss-only";
  const std::size_t first = rssOnly ? 1 : 0;
  if ((args.size() - first) % 3 != 0) {
    std::fprintf(stderr, "usage: bench-delta [--rss-only] [NAME OLD_DIR NEW_DIR]...\n");
    return 2;
  }
  const fs::path work = fs::temp_directory_path() / ("bench-delta-" + std::to_string(::getpid()));
  fs::create_directories(work);
  if (!rssOnly)
    for (std::size_t i = first; i < args.size(); i += 3) CompareReleases(args[i], args[i + 1], args[i + 2], work);
  LargeFile(fs::read_symlink("/proc/self/exe").string(), work);
  fs::remove_all(work);
  return 0;
}
