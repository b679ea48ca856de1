#include "install/InstallJournal.h"

#include <cerrno>
#include <set>

#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"

namespace {

constexpr std::string_view kMagic = "ZOLTUpdate install journal 1\n";
// 200,000 names of up to a few hundred bytes each, with room to spare.
constexpr std::size_t kMaximumJournalBytes = std::size_t{128} << 20;
constexpr std::size_t kMaximumHoldBytes = 1024;

// A field's value is the rest of its line: versions, regions and names never
// hold a line break (the manifest is a profile file of lines).
bool OneLine(const std::string& value) { return value.find_first_of("\r\n") == std::string::npos; }

std::string FolderOf(const std::string& path) {
  std::string folder;
  return CDirectoryEx::GetFilePath(path, folder) ? folder : std::string();
}

std::string InstallDirOf(const std::string& appPath, const SInstallJournal& journal) {
  return journal.folder.empty() ? appPath : appPath + journal.folder + "\\";
}

}  // namespace

std::string KeptTypeFolder(const std::string& appPath, unsigned type) {
  return appPath + "UPDATE.kept\\" + std::to_string(type) + "\\";
}
std::string JournalPath(const std::string& appPath, unsigned type) { return KeptTypeFolder(appPath, type) + "journal"; }
std::string PreviousFolder(const std::string& appPath, unsigned type) {
  return KeptTypeFolder(appPath, type) + "previous\\";
}
std::string PreviousJournalPath(const std::string& appPath, unsigned type) {
  return PreviousFolder(appPath, type) + "journal";
}

const char* JournalStateName(EJournalState state) {
  switch (state) {
    case EJournalState::kInstall:
      return "install";
    case EJournalState::kTrial:
      return "trial";
    case EJournalState::kRollback:
      return "rollback";
    case EJournalState::kKept:
      return "kept";
  }
  return "";
}

std::string FormatJournal(const SInstallJournal& journal) {
  std::string text(kMagic);
  text += "state " + std::string(JournalStateName(journal.state)) + "\n";
  text += "type " + std::to_string(journal.type) + "\n";
  text += "folder " + journal.folder + "\n";
  text += "version " + journal.version + "\n";
  text += "region " + journal.region + "\n";
  text += "release " + journal.release + "\n";
  text += "replaces " + journal.oldVersion + "\n";
  text += "replaces-region " + journal.oldRegion + "\n";
  // Only a journal on trial has it, so a journal that an updater without it
  // may read (one put back by a rollback, cut short) stays as it always was.
  if (!journal.restarted.empty()) text += "restarted " + journal.restarted + "\n";
  for (const auto& name : journal.kept) text += "kept " + name + "\n";
  for (const auto& name : journal.added) text += "added " + name + "\n";
  text += "check " + CMD5::OfBytes(text.data(), text.size()) + "\n";
  return text;
}

bool ParseJournal(std::string_view bytes, SInstallJournal& journal, std::string& why) {
  why = "it is damaged";
  if (!bytes.starts_with(kMagic) || bytes.empty() || bytes.back() != '\n') return false;
  const std::size_t checkAt = bytes.rfind("\ncheck ", bytes.size() - 2);
  if (checkAt == std::string_view::npos) return false;
  const std::string_view body = bytes.substr(0, checkAt + 1);
  const std::string_view check = bytes.substr(checkAt + 7, bytes.size() - checkAt - 8);
  if (CMD5::OfBytes(body.data(), body.size()) != check) return false;

  SInstallJournal parsed;
  const char* fixed[] = {"state", "type", "folder", "version", "region", "release", "replaces", "replaces-region"};
  std::size_t field = 0, at = kMagic.size();
  while (at < body.size()) {
    const std::size_t end = body.find('\n', at);
    const std::string_view line = body.substr(at, end - at);
    at = end + 1;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    const std::string_view key = line.substr(0, space);
    const std::string value(line.substr(space + 1));
    if (field < std::size(fixed)) {
      if (key != fixed[field]) return false;
      switch (field++) {
        case 0: {
          bool known = false;
          for (EJournalState state :
               {EJournalState::kInstall, EJournalState::kTrial, EJournalState::kRollback, EJournalState::kKept})
            if (value == JournalStateName(state)) {
              parsed.state = state;
              known = true;
            }
          if (!known) return false;
          break;
        }
        case 1:
          if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos)
            return false;
          parsed.type = static_cast<unsigned>(std::stoul(value));
          break;
        case 2:
          // One plain folder name, or the application folder itself.
          if (!value.empty() && (!IsSafeRelativeName(value) || value.find_first_of("\\/") != std::string::npos))
            return false;
          parsed.folder = value;
          break;
        case 3:
          parsed.version = value;
          break;
        case 4:
          parsed.region = value;
          break;
        case 5:
          parsed.release = value;
          break;
        case 6:
          parsed.oldVersion = value;
          break;
        default:
          parsed.oldRegion = value;
          break;
      }
      continue;
    }
    // The restart's moment, after the fixed fields and before any name;
    // a journal written before it was kept has none.
    if (key == "restarted" && parsed.restarted.empty() && !value.empty() && parsed.kept.empty() &&
        parsed.added.empty()) {
      parsed.restarted = value;
      continue;
    }
    // Names are acted on (moved, removed): one that could leave the folder
    // makes the whole journal untrustworthy.
    if (!IsSafeRelativeName(value)) {
      why = "it names \"" + value + "\", which lies outside the installation";
      return false;
    }
    if (key == "kept")
      parsed.kept.push_back(value);
    else if (key == "added")
      parsed.added.push_back(value);
    else
      return false;
  }
  if (field != std::size(fixed)) return false;
  journal = std::move(parsed);
  return true;
}

EJournalRead ReadJournal(const std::string& path, SInstallJournal& journal, std::string& cause) {
  std::string bytes, why;
  if (!ReadFileGuarded(path, bytes, {kMaximumJournalBytes, true, false, true}, &why)) {
    if (errno == ENOENT) return EJournalRead::kNone;
    cause = why;
    return EJournalRead::kRefused;
  }
  if (ParseJournal(bytes, journal, why)) return EJournalRead::kRead;
  cause = NativePath(path) + ": " + why;
  return EJournalRead::kRefused;
}

bool WriteJournal(const std::string& path, const SInstallJournal& journal) {
  for (const std::string* value : {&journal.version, &journal.region, &journal.release, &journal.oldVersion,
                                   &journal.oldRegion, &journal.folder, &journal.restarted})
    if (!OneLine(*value)) {
      errno = EINVAL;
      return false;
    }
  const std::string folder = FolderOf(path);
  if (!PathIsDirectoryA(folder.c_str()) && !CreateDirectoryTree(folder.c_str())) return false;
  return WriteFileAtomically(path, FormatJournal(journal));
}

bool BeginJournaledInstall(const std::string& appPath, const std::string& installDir,
                           const std::vector<UpdateFileInfo>& files, SInstallJournal& journal, std::string& cause) {
  const std::string previous = PreviousFolder(appPath, journal.type);
  // The release kept before is given up now: it is two releases back once
  // this one is in place.
  if (PathFileExistsA(previous.c_str()) && !RemoveDirectoryTree(previous.c_str())) {
    cause = "cannot empty " + NativePath(previous) + ": " + diagnostics::ErrorText(errno);
    return false;
  }
  journal.kept.clear();
  journal.added.clear();
  std::set<std::string> seen;
  std::vector<std::string> keptPaths;
  for (const auto& file : files) {
    if (!seen.insert(file.fileName).second) continue;
    const std::string installed = installDir + file.fileName;
    FileStamp stamp;
    if (!StampRegularFile(installed, stamp)) {
      // Nothing there, or no regular file (a link is replaced as a link, never
      // followed, and not kept).
      journal.added.push_back(file.fileName);
      continue;
    }
    const std::string copy = previous + file.fileName;
    const std::string folder = FolderOf(copy);
    // A second name costs no byte; a file system without hard links gets a copy.
    const bool kept = (PathIsDirectoryA(folder.c_str()) || CreateDirectoryTree(folder.c_str())) &&
                      (CreateHardLinkA(copy.c_str(), installed.c_str(), nullptr) ||
                       CopyFileA(installed.c_str(), copy.c_str(), TRUE));
    if (!kept) {
      cause = "cannot keep the installed copy " + NativePath(installed) + " in " + NativePath(previous) + ": " +
              diagnostics::ErrorText(errno);
      return false;
    }
    journal.kept.push_back(file.fileName);
    keptPaths.push_back(copy);
  }
  std::string failed;
  if (!keptPaths.empty() && !MakeDurable(keptPaths, KeptTypeFolder(appPath, journal.type), &failed)) {
    cause = "cannot flush " + failed + " to disk: " + diagnostics::ErrorText(errno);
    return false;
  }
  journal.state = EJournalState::kInstall;
  if (!WriteJournal(JournalPath(appPath, journal.type), journal)) {
    cause = "cannot write the install journal " + NativePath(JournalPath(appPath, journal.type)) + ": " +
            diagnostics::ErrorText(errno);
    return false;
  }
  return true;
}

bool PutBackKept(const std::string& appPath, const SInstallJournal& journal, std::string& cause) {
  const std::string installDir = InstallDirOf(appPath, journal);
  const std::string previous = PreviousFolder(appPath, journal.type);
  std::vector<std::string> restored;
  bool whole = true;
  for (const auto& name : journal.kept) {
    const std::string copy = previous + name;
    const std::string target = installDir + name;
    FileStamp stamp;
    if (!StampRegularFile(copy, stamp)) {
      // Put back by an earlier attempt that was cut short: the copy is gone
      // and the file stands in place.
      if (!PathFileExistsA(copy.c_str()) && StampRegularFile(target, stamp)) {
        restored.push_back(target);
        continue;
      }
      if (whole) cause = "the kept copy " + NativePath(copy) + " is missing or not a regular file; not following it";
      whole = false;
      continue;
    }
    const std::string folder = FolderOf(target);
    if (!PathIsDirectoryA(folder.c_str())) CreateDirectoryTree(folder.c_str());
    // A second name of the same file (the install was stopped before it
    // replaced this one): the copy's name simply goes.
    FileStamp installed;
    const bool same = StampRegularFile(target, installed) && installed.device == stamp.device &&
                      installed.inode == stamp.inode;
    if (same ? DeleteFileA(copy.c_str()) : MoveFileExA(copy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      restored.push_back(target);
      continue;
    }
    if (whole) cause = "cannot put back " + NativePath(target) + ": " + diagnostics::ErrorText(errno);
    whole = false;
  }
  for (const auto& name : journal.added) {
    const std::string target = installDir + name;
    // Only a file the install put there goes: a folder that stood in the way
    // was never the release's and stays.
    FileStamp stamp;
    if (StampRegularFile(target, stamp) && !DeleteFileA(target.c_str()) && errno != ENOENT) {
      if (whole) cause = "cannot remove " + NativePath(target) + ": " + diagnostics::ErrorText(errno);
      whole = false;
    }
  }
  std::string failed;
  if (!restored.empty() && !MakeDurable(restored, installDir, &failed) && whole) {
    cause = "cannot flush " + failed + " to disk: " + diagnostics::ErrorText(errno);
    whole = false;
  }
  return whole;
}

void DropJournalAndPrevious(const std::string& appPath, unsigned type) {
  DeleteFileA(JournalPath(appPath, type).c_str());
  const std::string previous = PreviousFolder(appPath, type);
  if (PathFileExistsA(previous.c_str())) RemoveDirectoryTree(previous.c_str());
}

bool KeepAsPrevious(const std::string& appPath, SInstallJournal journal) {
  journal.state = EJournalState::kKept;
  journal.restarted.clear();
  // Written beside the copies first, then the live journal goes: a run
  // stopped in between finds a journal in trial (or install) state still.
  if (!WriteJournal(PreviousJournalPath(appPath, journal.type), journal)) return false;
  return DeleteFileA(JournalPath(appPath, journal.type).c_str()) || errno == ENOENT;
}

bool ReadHold(const std::string& appPath, unsigned type, SHeldRelease& held, std::string& cause) {
  const std::string path = KeptTypeFolder(appPath, type) + "held";
  std::string bytes, why;
  if (!ReadFileGuarded(path, bytes, {kMaximumHoldBytes, true, false, true}, &why)) {
    if (errno == ENOENT) return false;
    cause = why;
    DeleteFileA(path.c_str());
    return false;
  }
  // Two lines: the release identity and its version.
  const std::size_t first = bytes.find('\n');
  const std::size_t second = first == std::string::npos ? first : bytes.find('\n', first + 1);
  if (first == 0 || second == std::string::npos || second + 1 != bytes.size()) {
    cause = NativePath(path) + ": it is damaged";
    DeleteFileA(path.c_str());
    return false;
  }
  held.release = bytes.substr(0, first);
  held.version = bytes.substr(first + 1, second - first - 1);
  return true;
}

bool WriteHold(const std::string& appPath, unsigned type, const SHeldRelease& held) {
  if (held.release.empty() || !OneLine(held.release) || !OneLine(held.version)) return false;
  const std::string folder = KeptTypeFolder(appPath, type);
  if (!PathIsDirectoryA(folder.c_str()) && !CreateDirectoryTree(folder.c_str())) return false;
  return WriteFileAtomically(folder + "held", held.release + "\n" + held.version + "\n");
}

void ClearHold(const std::string& appPath, unsigned type) {
  DeleteFileA((KeptTypeFolder(appPath, type) + "held").c_str());
}
