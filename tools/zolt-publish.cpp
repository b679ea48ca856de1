// zolt-publish: turns a release folder into a publish folder that any static
// web server can serve to the updater.
//
//   zolt-publish --release-version V --region R [--type N] [--notify] [--unconditional]
//                [--allow-downgrade] [--change-region] [--dry-run] [--sign-key KEY.pem | --unsigned] [--expires DAYS]
//                [--serial S] [--rollout PERCENT] [--delta-from OLD_RELEASE_DIR]... RELEASE_DIR PUBLISH_ROOT
//   zolt-publish --set-rollout PERCENT [--type N] [--sign-key KEY.pem] [--dry-run] PUBLISH_ROOT
//
// Copies every regular file below RELEASE_DIR to PUBLISH_ROOT/N/ and writes
// there "UpdateConfig.ini" (and for N other than 1 also "config.ini"). Beside
// them, in PUBLISH_ROOT/N/.zolt/, go a zstd-compressed copy of each file that
// compresses, and a patch from each differing file of the same name in every
// OLD_RELEASE_DIR; the manifest lists them (update/DeltaOffers.h). The new
// folder is assembled beside PUBLISH_ROOT/N and put in place only when complete,
// so a failed run leaves an earlier publication as it was. --set-rollout
// changes the ROLLOUT line of the published "UpdateConfig.ini" and nothing else.
//
// Exit status: 0 published (or shown, with --dry-run); 1 refused or failed,
// the publish folder unchanged; 2 a bad command line.
#include <fcntl.h>
#include <getopt.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/Version.h"
#include "platform/configfile/Profile.h"
#include "platform/crypt/MD5.h"
#include "platform/crypt/Signature.h"
#include "platform/crypt/ZstdPatch.h"
#include "platform/win32/Files.h"
#include "update/DeltaOffers.h"
#include "update/ReleaseTrust.h"
#include "update/UpdateManifest.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: zolt-publish --release-version V --region R [options] RELEASE_DIR PUBLISH_ROOT\n"
    "       zolt-publish --set-rollout PERCENT [--type N] [--sign-key KEY.pem] [--dry-run] PUBLISH_ROOT\n"
    "Copies the files of RELEASE_DIR to PUBLISH_ROOT/N/ and writes the manifest \"UpdateConfig.ini\"\n"
    "there (and \"config.ini\" when N is not 1).\n"
    "\n"
    "  --release-version V  the version installations compare with theirs, byte by byte (required)\n"
    "  --region R           the region installations compare with theirs (required)\n"
    "  --type N             the update type, a positive whole number (default 1, the program)\n"
    "  --notify             ask silent runs to show the notification window\n"
    "  --unconditional      installations update whatever their version\n"
    "  --allow-downgrade    publish a version that sorts below the one published for the same\n"
    "                       type and region (a rollback), or a --serial not above the published one\n"
    "  --change-region      publish a region other than the one published for the same type\n"
    "                       (every installation of another region then takes the release)\n"
    "  --dry-run            list the files, sizes, digests and the manifest; write nothing\n"
    "  --sign-key KEY.pem   sign each manifest with this Ed25519 private key into <manifest>.sig\n"
    "  --unsigned           publish without a signature over a signed publication of the type\n"
    "                       (every installation that holds ZOLTUpdate.pub then refuses it)\n"
    "  --expires DAYS       installations with a key refuse the manifest DAYS days from now\n"
    "  --rollout PERCENT    a staged rollout: about PERCENT (1-100) of the installations take the\n"
    "                       release, the others wait (default 100: every installation)\n"
    "  --set-rollout PERCENT\n"
    "                       change only the share of the release published in PUBLISH_ROOT/N/\n"
    "                       (0 halts it, 100 completes it); with --sign-key it is signed again\n"
    "  --serial S           the release serial of a signed publication (default: the time in\n"
    "                       seconds, above the serial already published for the type)\n"
    "  --delta-from DIR     also publish patches from the files of the earlier release in DIR\n"
    "                       (repeatable: one per release still installed)\n"
    "  --help               show this text\n"
    "  --version            show the version of zolt-publish\n"
    "Exit status: 0 published, 1 refused or failed (nothing changed), 2 bad command line.\n";

struct Options {
  unsigned long type = 1;
  std::string version;
  std::string region;
  bool notify = false;
  bool unconditional = false;
  bool allowDowngrade = false;
  bool changeRegion = false;
  bool dryRun = false;
  std::string signKey;                      // path of the Ed25519 private key; empty: unsigned
  bool unsignedOnPurpose = false;           // --unsigned: may replace a signed publication
  unsigned long expiresDays = 0;            // 0: no EXPIRES
  std::optional<unsigned long> rollout;     // --rollout; none: no ROLLOUT line
  std::optional<unsigned long> setRollout;  // --set-rollout: change a published manifest instead
  std::optional<std::uint64_t> serial;
  std::vector<std::string> deltaFrom;  // earlier releases to publish patches from
  std::string releaseDir;
  std::string publishRoot;
};

struct ReleaseFile {
  std::string name;    // relative, "\" between folders
  fs::path source;     // in the release
  std::string native;  // relative, "/" between folders
};

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

bool ParseType(const std::string& text, unsigned long& type) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  type = std::stoul(text);
  return type > 0;
}

// A share of the installations, a whole number from lowest to 100.
bool ParsePercent(const std::string& text, unsigned long lowest, std::optional<unsigned long>& percent) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::stoul(text);
  if (value < lowest || value > 100) return false;
  percent = value;
  return true;
}

// What main does after parsing: publish, or stop with the given exit status
// (--help, --version, a bad command line).
struct ParsedCommandLine {
  std::optional<Options> options;
  int exitCode = 0;
};

ParsedCommandLine UsageError(const std::string& reason) {
  std::cerr << "zolt-publish: " << reason << "\n"
            << "Try 'zolt-publish --help' for more information.\n";
  return {std::nullopt, kExitUsage};
}

// Long options only: each value is named where it is given, so that a release
// cannot be published with one value taken for another.
ParsedCommandLine ParseArguments(int argc, char** argv) {
  enum : int {
    kType = 256,
    kReleaseVersion,
    kRegion,
    kNotify,
    kUnconditional,
    kAllowDowngrade,
    kChangeRegion,
    kDryRun,
    kSignKey,
    kExpires,
    kRollout,
    kSetRollout,
    kSerial,
    kDeltaFrom,
    kUnsigned,
    kHelp,
    kVersion,
  };
  static const option kOptions[] = {
      {"type", required_argument, nullptr, kType},
      {"release-version", required_argument, nullptr, kReleaseVersion},
      {"region", required_argument, nullptr, kRegion},
      {"notify", no_argument, nullptr, kNotify},
      {"unconditional", no_argument, nullptr, kUnconditional},
      {"allow-downgrade", no_argument, nullptr, kAllowDowngrade},
      {"change-region", no_argument, nullptr, kChangeRegion},
      {"dry-run", no_argument, nullptr, kDryRun},
      {"sign-key", required_argument, nullptr, kSignKey},
      {"expires", required_argument, nullptr, kExpires},
      {"rollout", required_argument, nullptr, kRollout},
      {"set-rollout", required_argument, nullptr, kSetRollout},
      {"serial", required_argument, nullptr, kSerial},
      {"delta-from", required_argument, nullptr, kDeltaFrom},
      {"unsigned", no_argument, nullptr, kUnsigned},
      {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  Options options;
  bool versionGiven = false;
  bool regionGiven = false;
  std::string publishingOnly;  // the first option given that only a publication takes
  opterr = 0;                  // the messages below name the option the way it was meant
  for (;;) {
    const int option = ::getopt_long(argc, argv, "+:h", kOptions, nullptr);
    if (option == -1) break;
    const std::string given = argv[optind - 1];
    const bool describesARelease = option == kReleaseVersion || option == kRegion || option == kNotify ||
                                   option == kUnconditional || option == kAllowDowngrade || option == kExpires ||
                                   option == kRollout || option == kDeltaFrom || option == kUnsigned;
    if (describesARelease && publishingOnly.empty())
      for (const struct option* known = kOptions; known->name != nullptr; ++known)
        if (known->val == option) publishingOnly = std::string("--") + known->name;
    switch (option) {
      case kType:
        if (!ParseType(optarg, options.type))
          return UsageError(std::string("--type needs a positive whole number, not \"") + optarg + "\"");
        break;
      case kReleaseVersion:
        options.version = optarg;
        versionGiven = true;
        break;
      case kRegion:
        options.region = optarg;
        regionGiven = true;
        break;
      case kNotify:
        options.notify = true;
        break;
      case kUnconditional:
        options.unconditional = true;
        break;
      case kAllowDowngrade:
        options.allowDowngrade = true;
        break;
      case kChangeRegion:
        options.changeRegion = true;
        break;
      case kDryRun:
        options.dryRun = true;
        break;
      case kSignKey:
        options.signKey = optarg;
        break;
      case kExpires:
        if (!ParseType(optarg, options.expiresDays) || options.expiresDays > 36500)
          return UsageError(std::string("--expires needs a number of days from 1 to 36500, not \"") + optarg + "\"");
        break;
      case kRollout:
        if (!ParsePercent(optarg, 1, options.rollout))
          return UsageError(std::string("--rollout needs a percentage from 1 to 100, not \"") + optarg + "\"");
        break;
      case kSetRollout:
        if (!ParsePercent(optarg, 0, options.setRollout))
          return UsageError(std::string("--set-rollout needs a percentage from 0 to 100, not \"") + optarg + "\"");
        break;
      case kSerial: {
        const std::string text = optarg;
        if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos ||
            (text.size() > 1 && text[0] == '0'))
          return UsageError("--serial needs a decimal number of at most 19 digits, not \"" + text + "\"");
        options.serial = std::stoull(text);
        break;
      }
      case kDeltaFrom:
        options.deltaFrom.push_back(optarg);
        break;
      case kUnsigned:
        options.unsignedOnPurpose = true;
        break;
      case 'h':
      case kHelp:
        std::cout << kUsage;
        return {std::nullopt, 0};
      case kVersion:
        std::cout << "zolt-publish " << ZOLT_VERSION << "\n";
        return {std::nullopt, 0};
      case ':':
        return UsageError(given + " needs a value");
      default:
        return UsageError("unknown option " + given);
    }
  }
  const std::vector<std::string> positional(argv + optind, argv + argc);
  if (options.setRollout) {
    if (!publishingOnly.empty())
      return UsageError("--set-rollout changes a published release; " + publishingOnly + " does not apply");
    if (positional.size() != 1)
      return UsageError("--set-rollout expects PUBLISH_ROOT, got " + std::to_string(positional.size()) + " names");
    options.publishRoot = positional[0];
    return {options, 0};
  }
  if (positional.size() != 2)
    return UsageError("expected RELEASE_DIR and PUBLISH_ROOT, got " + std::to_string(positional.size()) + " names");
  // An empty version or region is a forgotten option, not a choice: every
  // installation of another region would take the release as a region change.
  if (!versionGiven || options.version.empty()) return UsageError("--release-version needs a non-empty version");
  if (!regionGiven || options.region.empty()) return UsageError("--region needs a non-empty region");
  // The serial lives in the signed header; unsigned manifests have none.
  if (options.serial && options.signKey.empty()) return UsageError("--serial needs --sign-key");
  if (options.unsignedOnPurpose && !options.signKey.empty()) return UsageError("--unsigned and --sign-key contradict");
  options.releaseDir = positional[0];
  options.publishRoot = positional[1];
  return {options, 0};
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Why a relative name cannot be published, or empty when it can. The name
// becomes a line of "FILES", a section name, a remote name and a local path on
// every installed machine, so it must survive all four unchanged.
std::string RejectName(const std::string& name, const std::string& shown) {
  if (!IsSafeRelativeName(name)) return "\"" + shown + "\" is not a plain relative name";
  if (!CProfile::CanHold(name, "MD5", "0")) return "\"" + shown + "\" cannot be a manifest section name";
  // A "FILES" line starting with ";" reads as a comment, one starting with "["
  // as a section header.
  if (name.front() == ';' || name.front() == '[') return "\"" + shown + "\" cannot be listed in \"FILES\"";
  const std::string lower = Lower(name);
  if (lower == "version" || lower == "files")
    return "\"" + shown + "\" would share its section with the manifest's own \"" + name + "\" section";
  if (name == "UpdateConfig.ini" || name == "config.ini" || name == "UpdateConfig.ini.sig" || name == "config.ini.sig")
    return "\"" + shown + "\" would collide with the manifest the publication writes";
  if (LiesInDeltaFolder(name))
    return "\"" + shown + "\" lies in \"" + kDeltaFolder + "\", where the publication keeps its patches";
  // Every run deletes such files from the installation as leftovers of earlier
  // runs, so a release file named like one would be installed and then lost.
  const std::string base = lower.substr(lower.find_last_of("\\/") + 1);
  if (base.ends_with(".bak"))
    return "\"" + shown + "\" ends with \".bak\"; every update run deletes such files from the installation";
  if (base.front() == '.' && base.find(kTempFileInfix) != std::string::npos)
    return "\"" + shown + "\" is named like an interrupted write; every update run deletes such files";
  return std::string();
}

std::vector<ReleaseFile> CollectReleaseFiles(const fs::path& release) {
  std::vector<ReleaseFile> files;
  std::error_code error;
  fs::recursive_directory_iterator it(release, fs::directory_options::none, error);
  if (error) Fail("cannot read " + release.string() + ": " + error.message());
  for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
    if (error) Fail("cannot read " + release.string() + ": " + error.message());
    const fs::path relative = it->path().lexically_relative(release);
    const fs::file_status status = it->symlink_status(error);
    if (error) Fail("cannot read " + it->path().string() + ": " + error.message());
    // A link could publish content from outside the release, or the same file
    // twice; the publisher resolves it, not the tool.
    if (fs::is_symlink(status)) Fail(it->path().string() + " is a symbolic link; replace it with the file itself");
    if (fs::is_directory(status)) {
      if (relative.filename().string().find('\\') != std::string::npos)
        Fail("folder name \"" + relative.string() + "\" contains \"\\\", the manifest's folder separator");
      continue;
    }
    if (!fs::is_regular_file(status)) Fail(it->path().string() + " is neither a regular file nor a folder");
    ReleaseFile file;
    file.native = relative.generic_string();
    if (file.native.find('\\') != std::string::npos)
      Fail("file name \"" + file.native + "\" contains \"\\\", the manifest's folder separator");
    file.name = file.native;
    std::replace(file.name.begin(), file.name.end(), '/', '\\');
    file.source = it->path();
    if (const std::string reason = RejectName(file.name, file.native); !reason.empty()) Fail(reason);
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(),
            [](const ReleaseFile& a, const ReleaseFile& b) { return a.name.compare(b.name) < 0; });
  // Section names match without regard to case: two such files would read
  // each other's digest.
  std::set<std::string> seen;
  for (const ReleaseFile& file : files)
    if (!seen.insert(Lower(file.name)).second)
      Fail("\"" + file.native + "\" differs from another file's name only in letter case");
  return files;
}

std::string FormatModifyTime(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) Fail("cannot read " + path.string() + ": " + std::strerror(errno));
  std::tm utc{};
  ::gmtime_r(&st.st_mtime, &utc);
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return std::string(text, length);
}

void SetOrFail(CProfile& profile, const std::string& section, const std::string& key, const std::string& value) {
  if (!profile.SetValue(section, key, value))
    Fail("\"" + value + "\" cannot be stored as " + key + " in section [" + section + "]");
}

struct Entry {
  std::string name, md5, size, modifyTime, sha256;
  std::vector<std::pair<std::string, std::string>> offers{};  // the keys of patches and the compressed copy
};

// Reads the manifest text back as the updater will and checks every value.
void VerifyManifest(const std::string& text, const std::vector<Entry>& entries, bool withFiles) {
  const CProfile parsed = CProfile::Parse(text);
  if (withFiles) {
    const auto lines = parsed.GetSectionLines("FILES");
    if (!lines || lines->size() != entries.size()) Fail("the manifest does not read back as written");
    for (std::size_t i = 0; i < entries.size(); ++i)
      if ((*lines)[i] != entries[i].name) Fail("\"" + entries[i].name + "\" does not read back from \"FILES\"");
  }
  std::string value;
  std::string sha256;
  for (const Entry& entry : entries) {
    if (!parsed.GetValue(entry.name, "MD5", value) || value != entry.md5 ||
        !parsed.GetValue(entry.name, "SHA256", sha256) || sha256 != entry.sha256)
      Fail("the section of \"" + entry.name + "\" does not read back as written");
    for (const auto& [key, written] : entry.offers)
      if (!parsed.GetValue(entry.name, key, value) || value != written)
        Fail("the section of \"" + entry.name + "\" does not read back as written");
  }
}

// Writes a manifest and, with a key, "<manifest>.sig" beside it: the raw
// signature of exactly the bytes written.
void WriteManifest(const fs::path& path, const std::string& text, const std::string& signKey) {
  if (!WriteFileAtomically(path.string(), text)) Fail("cannot write " + path.string());
  if (signKey.empty()) return;
  std::string signature, error;
  if (!SignEd25519(signKey, text, signature, error)) Fail("cannot sign " + path.string() + ": " + error);
  if (!WriteFileAtomically(path.string() + kSignatureSuffix, signature))
    Fail("cannot write " + path.string() + kSignatureSuffix);
}

void RemoveQuietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

// Puts the complete folder staged in place of target: atomically swapped with
// an existing publication, which is removed afterwards.
void PutInPlace(const fs::path& staged, const fs::path& target) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(target, error);
  if (!fs::exists(status)) {
    if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
      Fail("cannot rename " + staged.string() + " to " + target.string() + ": " + std::strerror(errno));
    return;
  }
  if (!fs::is_directory(status)) Fail(target.string() + " exists and is not a folder");
  if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0)
    Fail("cannot replace " + target.string() + ": " + std::strerror(errno));
  RemoveQuietly(staged);  // now holds the previous publication
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
  const auto [mismatch, ignored] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return mismatch == outer.end();
}

// The serial of the release header the signed publication gets: the one
// asked for, which must lie above the published one (installations with a key
// refuse a lower one as a replay), or else the time, kept above it.
std::uint64_t ChooseSerial(const std::string& published, const Options& options) {
  SReleaseHeader header;
  const bool known = ParseReleaseHeader(published, header);
  if (!options.serial) {
    const auto now = static_cast<std::uint64_t>(std::time(nullptr));
    return known && header.serial >= now ? header.serial + 1 : now;
  }
  if (known && *options.serial <= header.serial && !options.allowDowngrade)
    Fail("serial " + std::to_string(*options.serial) + " is not above " + std::to_string(header.serial) +
         ", already published for type " + std::to_string(options.type) +
         "; nothing was changed (--allow-downgrade publishes it anyway)");
  return *options.serial;
}

// Refuses a release that installations of the published region would see as
// older than the one they may already run. Versions compare byte-wise, as
// installations compare them.
void CheckAgainstPublished(const std::string& text, const Options& options) {
  if (text.empty()) return;
  const CProfile published = CProfile::Parse(text);
  std::string version, region;
  published.GetValue("Version", "VERSION", version);
  published.GetValue("Version", "REGION", region);
  if (region == options.region) {
    if (IsVersionGreater(version, options.version) && !options.allowDowngrade)
      throw Failure{"version \"" + options.version + "\" sorts below \"" + version + "\", already published for type " +
                    std::to_string(options.type) + " and region \"" + region +
                    "\"; nothing was changed (--allow-downgrade publishes it anyway)"};
  } else if (!region.empty()) {
    // A typo ("gd" for "GD") would make every installation take the release
    // whatever its version, so a change of region is asked for like a rollback.
    const std::string change = "the region changes from \"" + region + "\" to \"" + options.region +
                               "\": every installation of another region takes this release, whatever its version";
    if (!options.changeRegion) throw Failure{change + "; nothing was changed (--change-region publishes it anyway)"};
    std::cerr << "zolt-publish: " << change << "\n";
  }
}

// What the patches from one earlier release save.
struct DeltaTotals {
  std::size_t changed = 0;  // files that differ from the earlier release's
  std::size_t same = 0;
  std::size_t added = 0;            // files the earlier release does not have
  std::uintmax_t changedBytes = 0;  // their plain size
  std::uintmax_t patchedBytes = 0;  // what installations of that release fetch for them
};

std::string Percent(std::uintmax_t part, std::uintmax_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / whole);
  return text;
}

void ShowDeltaTotals(const Options& options, const std::vector<DeltaTotals>& totals) {
  for (std::size_t i = 0; i < totals.size(); ++i)
    std::cout << "patches from " << options.deltaFrom[i] << ": " << totals[i].changed << " changed files, "
              << totals[i].patchedBytes << " of " << totals[i].changedBytes << " bytes ("
              << Percent(totals[i].patchedBytes, totals[i].changedBytes) << "); " << totals[i].same << " unchanged, "
              << totals[i].added << " new\n";
}

// Makes the compressed copy of the file at copy and its patches from the
// files of the same name in the earlier releases, lists them in entry's
// offers and, unless frameDir is null (a dry run), writes them there named by
// their SHA-256. A patch or copy no smaller than the file is left out: the
// plain file is the better download. A base shared by several releases gets
// one patch.
void AddDeltaOffers(const fs::path& copy, const ReleaseFile& file, const std::vector<fs::path>& earlier,
                    const fs::path* frameDir, Entry& entry, std::vector<DeltaTotals>& totals) {
  std::string content;
  if (!ReadWholeFile(copy.string(), content)) Fail("cannot read " + copy.string());
  const std::uintmax_t size = content.size();
  std::string frame, error;
  const auto keep = [&](bool patch) {
    const std::string sha256 = CMD5::SHA256OfBytes(frame.data(), frame.size());
    if (frameDir != nullptr) {
      std::error_code error;
      fs::create_directories(*frameDir, error);
      if (error) Fail("cannot create " + frameDir->string() + ": " + error.message());
      const fs::path path = *frameDir / (sha256 + (patch ? ".patch" : ".zst"));
      if (!WriteFileAtomically(path.string(), frame)) Fail("cannot write " + path.string());
    }
    return sha256;
  };
  std::vector<std::pair<std::string, std::uintmax_t>> bases;  // MD5 of each base patched, the patch's size
  for (std::size_t i = 0; i < earlier.size(); ++i) {
    const fs::path basePath = earlier[i] / file.native;
    std::error_code status;
    if (!fs::is_regular_file(fs::symlink_status(basePath, status))) {
      ++totals[i].added;
      continue;
    }
    std::string base;
    if (!ReadWholeFile(basePath.string(), base)) Fail("cannot read " + basePath.string());
    const std::string baseMd5 = CMD5::OfBytes(base.data(), base.size());
    if (baseMd5 == entry.md5) {
      ++totals[i].same;
      continue;
    }
    ++totals[i].changed;
    totals[i].changedBytes += size;
    const auto known = std::find_if(bases.begin(), bases.end(), [&](const auto& b) { return b.first == baseMd5; });
    if (known != bases.end()) {
      totals[i].patchedBytes += known->second;
      continue;
    }
    std::uintmax_t fetched = size;
    if (!EncodeZstd(base, content, kZstdPublishLevel, frame, error)) {
      std::cerr << "zolt-publish: no patch for " << file.native << " from " << basePath.string() << ": " << error
                << "\n";
    } else if (frame.size() < size) {
      entry.offers.emplace_back(PatchKey(baseMd5), PatchValue(frame.size(), keep(true)));
      fetched = frame.size();
    }
    bases.emplace_back(baseMd5, fetched);
    totals[i].patchedBytes += fetched;
  }
  if (EncodeZstd("", content, kZstdPublishLevel, frame, error) && frame.size() < size) {
    const std::string sha256 = keep(false);
    entry.offers.emplace_back(kPackedSizeKey, std::to_string(frame.size()));
    entry.offers.emplace_back(kPackedSha256Key, sha256);
  }
}

// One line per file (and one per patch or compressed copy below it), then the
// manifest, as a dry run shows them.
void ShowDryRun(const std::vector<Entry>& entries, const fs::path& target, const std::string& manifest,
                const std::string& component) {
  std::uintmax_t totalBytes = 0;
  for (const Entry& entry : entries) {
    std::cout << entry.md5 << "  " << entry.size << "  " << entry.name << "\n";
    for (const auto& [key, value] : entry.offers) {
      if (key.starts_with(kPatchKeyPrefix))
        std::cout << "    patched from " << key.substr(std::strlen(kPatchKeyPrefix)) << ": "
                  << value.substr(0, value.find(' ')) << " bytes\n";
      else if (key == kPackedSizeKey)
        std::cout << "    compressed: " << value << " bytes\n";
    }
    totalBytes += std::stoull(entry.size);
  }
  std::cout << "would publish " << entries.size() << " files (" << totalBytes << " bytes) to " << target.string()
            << "\n--- " << (target / "UpdateConfig.ini").string() << "\n"
            << manifest;
  if (!component.empty()) std::cout << "--- " << (target / "config.ini").string() << "\n" << component;
}

// The key is read before anything is written: a bad key must not leave an
// unsigned publication behind for installations that require signatures.
// Empty when no key file is named.
std::string ReadSigningKey(const std::string& path) {
  std::string key;
  if (path.empty()) return key;
  std::string probe, error;
  errno = 0;
  if (!ReadWholeFile(path, key))
    Fail("cannot read the signing key " + path + ": " + std::strerror(errno != 0 ? errno : EIO));
  if (!SignEd25519(key, "", probe, error)) Fail(path + ": " + error);
  return key;
}

std::string_view Trimmed(std::string_view text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// The manifest text with ROLLOUT in "Version" set to percent and every other
// byte as it was: the first ROLLOUT line there is replaced (it is the one
// readers take), or a line is added after the section's last entry, with the
// file's own line ending. Nothing when the text has no "Version" section.
std::optional<std::string> WithRollout(const std::string& text, unsigned long percent) {
  const std::string value = "ROLLOUT=" + std::to_string(percent);
  std::size_t insertAt = std::string::npos;
  std::string lineEnd = "\n";
  bool inVersion = false;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t newline = text.find('\n', at);
    const std::size_t end = newline == std::string::npos ? text.size() : newline;
    const std::size_t next = newline == std::string::npos ? text.size() : newline + 1;
    std::string_view line(text.data() + at, end - at);
    const bool crlf = line.ends_with('\r');
    if (crlf) line.remove_suffix(1);
    if (at == 0 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    if (at == 0 && newline != std::string::npos) lineEnd = crlf ? "\r\n" : "\n";
    const std::string_view entry = Trimmed(line);
    if (entry.starts_with('[')) {
      const std::size_t close = entry.find(']');
      inVersion =
          close != std::string_view::npos && Lower(std::string(Trimmed(entry.substr(1, close - 1)))) == "version";
      if (inVersion && insertAt == std::string::npos) insertAt = next;
    } else if (inVersion && !entry.empty() && entry.front() != ';') {
      if (Lower(std::string(Trimmed(entry.substr(0, entry.find('='))))) == "rollout")
        return text.substr(0, at) + value + (crlf ? "\r" : "") + text.substr(end);
      insertAt = next;
    }
    at = next;
  }
  if (insertAt == std::string::npos) return std::nullopt;
  const bool unterminated = insertAt == text.size() && !text.empty() && text.back() != '\n';
  return text.substr(0, insertAt) + (unterminated ? lineEnd : "") + value + (unterminated ? "" : lineEnd) +
         text.substr(insertAt);
}

// Widens, narrows or halts the rollout of the release published for the type.
int SetRollout(const Options& options) {
  const fs::path path = fs::path(options.publishRoot) / std::to_string(options.type) / "UpdateConfig.ini";
  std::string text;
  if (!ReadWholeFile(path.string(), text))
    Fail("cannot read " + path.string() + ": nothing is published there for type " + std::to_string(options.type));
  const std::string signKey = ReadSigningKey(options.signKey);
  // A new text under the old signature would be refused by every
  // installation that checks signatures, exactly as a forgery would.
  std::error_code error;
  if (signKey.empty() && fs::exists(path.string() + kSignatureSuffix, error))
    Fail(path.string() + " is signed: give --sign-key to sign it again; nothing was changed");
  const std::optional<std::string> edited = WithRollout(text, *options.setRollout);
  if (!edited) Fail(path.string() + " has no [Version] section; it is no program manifest");
  std::string changed = *edited;
  // A new share is a new publication: under the old serial, the manifest of
  // the old share could be replayed in its place.
  SReleaseHeader release;
  if (!signKey.empty() && ParseReleaseHeader(changed, release)) {
    release.serial = ChooseSerial(text, options);
    changed = FormatReleaseHeader(release) + changed.substr(changed.find('\n') + 1);
  }
  const CProfile before = CProfile::Parse(text);
  const CProfile after = CProfile::Parse(changed);
  std::string version, readBack;
  before.GetValue("Version", "VERSION", version);
  if (!after.GetValue("Version", "ROLLOUT", readBack) || readBack != std::to_string(*options.setRollout) ||
      !after.GetValue("Version", "VERSION", readBack) || readBack != version)
    Fail("the changed manifest does not read back as intended; nothing was changed");
  if (options.dryRun) {
    std::cout << "would set the rollout of version " << version << " to " << *options.setRollout << "%\n--- "
              << path.string() << "\n"
              << changed;
    return 0;
  }
  WriteManifest(path, changed, signKey);
  std::cout << "rollout of version " << version << " set to " << *options.setRollout << "% in " << path.string()
            << (signKey.empty() ? "" : " (signed again)") << "\n";
  return 0;
}

int Publish(const Options& options) {
  std::error_code error;
  const fs::path release = fs::weakly_canonical(options.releaseDir, error);
  if (error || !fs::is_directory(release)) Fail(options.releaseDir + " is not a folder");
  const std::string typeText = std::to_string(options.type);
  fs::path root = fs::weakly_canonical(options.publishRoot, error);
  if (error) Fail("cannot use " + options.publishRoot + ": " + error.message());
  if (IsWithin(root / typeText, release) || IsWithin(release, root / typeText))
    Fail("the release folder and the publish folder " + (root / typeText).string() + " overlap");
  if (!options.dryRun) {
    if (!fs::create_directories(root, error) && error) Fail("cannot create " + root.string() + ": " + error.message());
    root = fs::canonical(root, error);
    if (error) Fail("cannot use " + options.publishRoot + ": " + error.message());
  }
  const fs::path target = root / typeText;

  const std::string signKey = ReadSigningKey(options.signKey);
  // A forgotten --sign-key would drop the signature, and every installation
  // that holds ZOLTUpdate.pub would refuse each run from then on.
  if (signKey.empty() && !options.unsignedOnPurpose)
    for (const char* manifest : {"UpdateConfig.ini", "config.ini"})
      if (const fs::path signature = target / (std::string(manifest) + kSignatureSuffix); fs::exists(signature, error))
        Fail(signature.string() +
             " signs the publication there: give --sign-key to sign this one too (--unsigned "
             "publishes it without, which every installation holding ZOLTUpdate.pub refuses); "
             "nothing was changed");

  std::string published;
  ReadWholeFile((target / "UpdateConfig.ini").string(), published);
  const std::time_t now = std::time(nullptr);
  const std::time_t expires = now + static_cast<std::time_t>(options.expiresDays) * 86400;
  std::string releaseHeader;
  if (!signKey.empty()) {
    SReleaseHeader release{options.type, ChooseSerial(published, options), std::nullopt};
    if (options.expiresDays != 0) release.expires = expires;
    releaseHeader = FormatReleaseHeader(release);
  }

  CProfile header;
  SetOrFail(header, "Version", "VERSION", options.version);
  SetOrFail(header, "Version", "REGION", options.region);
  SetOrFail(header, "Version", "UNCONDITIONALUPDATE", options.unconditional ? "1" : "0");
  SetOrFail(header, "Version", "NOTIFIY", options.notify ? "1" : "0");
  if (options.rollout) SetOrFail(header, "Version", "ROLLOUT", std::to_string(*options.rollout));
  if (options.expiresDays != 0) SetOrFail(header, "Version", "EXPIRES", FormatExpiry(expires));
  CheckAgainstPublished(published, options);

  const std::vector<ReleaseFile> files = CollectReleaseFiles(release);
  if (files.empty()) Fail(options.releaseDir + " holds no files");
  std::vector<fs::path> earlier;
  for (const std::string& folder : options.deltaFrom) {
    earlier.push_back(fs::weakly_canonical(folder, error));
    if (error || !fs::is_directory(earlier.back())) Fail("--delta-from " + folder + " is not a folder");
  }
  std::vector<DeltaTotals> totals(earlier.size());

  fs::path staged;
  if (!options.dryRun) {
    std::string stagedTemplate = (root / ("." + typeText + ".zolt-publish.XXXXXX")).string();
    if (::mkdtemp(stagedTemplate.data()) == nullptr)
      Fail("cannot create a folder in " + root.string() + ": " + std::strerror(errno));
    staged = stagedTemplate;
  }
  try {
    CMD5 md5;
    std::vector<Entry> entries;
    std::uintmax_t totalBytes = 0;
    std::optional<fs::path> frameDir;
    if (!options.dryRun) frameDir = staged / kDeltaFolder;
    for (const ReleaseFile& file : files) {
      // The digest and size describe the copy that will be served, even if the
      // release changes while it is being published; a dry run copies nothing.
      fs::path copy = file.source;
      if (!options.dryRun) {
        copy = staged / file.native;
        fs::create_directories(copy.parent_path(), error);
        if (error) Fail("cannot create " + copy.parent_path().string() + ": " + error.message());
        if (!CopyFileA(file.source.c_str(), copy.c_str(), TRUE))
          Fail("cannot copy " + file.source.string() + " to " + copy.string());
      }
      Entry entry{file.name, "", "", FormatModifyTime(file.source), ""};
      if (!md5.GetFileMD5(copy.c_str(), entry.md5) || !md5.GetFileSHA256(copy.c_str(), entry.sha256))
        Fail("cannot read " + copy.string());
      const std::uintmax_t size = fs::file_size(copy, error);
      if (error) Fail("cannot read " + copy.string() + ": " + error.message());
      entry.size = std::to_string(size);
      totalBytes += size;
      AddDeltaOffers(copy, file, earlier, frameDir ? &*frameDir : nullptr, entry, totals);
      entries.push_back(std::move(entry));
    }

    CProfile sections;
    std::string fileList = "[FILES]\n";
    for (const Entry& entry : entries) {
      fileList += entry.name + "\n";
      SetOrFail(sections, entry.name, "MD5", entry.md5);
      SetOrFail(sections, entry.name, "SIZE", entry.size);
      SetOrFail(sections, entry.name, "MODIFYTIME", entry.modifyTime);
      SetOrFail(sections, entry.name, "SHA256", entry.sha256);
      for (const auto& [key, value] : entry.offers) SetOrFail(sections, entry.name, key, value);
    }
    const std::string manifest = releaseHeader + header.Serialize() + fileList + sections.Serialize();
    VerifyManifest(manifest, entries, true);
    const std::string component = options.type != 1 ? releaseHeader + sections.Serialize() : std::string();
    if (!component.empty()) VerifyManifest(component, entries, false);
    if (options.dryRun) {
      ShowDryRun(entries, target, manifest, component);
      ShowDeltaTotals(options, totals);
      return 0;
    }
    WriteManifest(staged / "UpdateConfig.ini", manifest, signKey);
    if (!component.empty()) WriteManifest(staged / "config.ini", component, signKey);
    if (::chmod(staged.c_str(), 0755) != 0) Fail("cannot set permissions of " + staged.string());
    PutInPlace(staged, target);
    std::cout << "published " << entries.size() << " files (" << totalBytes << " bytes) to " << target.string() << "\n";
    ShowDeltaTotals(options, totals);
  } catch (...) {
    if (!staged.empty()) RemoveQuietly(staged);
    throw;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedCommandLine parsed = ParseArguments(argc, argv);
  if (!parsed.options) return parsed.exitCode;
  try {
    return parsed.options->setRollout ? SetRollout(*parsed.options) : Publish(*parsed.options);
  } catch (const Failure& failure) {
    std::cerr << "zolt-publish: " << failure.message << "\n";
  } catch (const std::exception& exception) {
    std::cerr << "zolt-publish: " << exception.what() << "\n";
  }
  return kExitFailed;
}
