#include "install/Installation.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <set>
#include <utility>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "platform/win32/Shell.h"
#include "platform/win32/Window.h"

namespace {

std::function<void(unsigned)>& StartDelay() {
  static std::function<void(unsigned)> delay;
  return delay;
}

InstallCopyFunction& CopySeam() {
  static InstallCopyFunction copy;
  return copy;
}

// The one place where a staged file becomes an installed one. Staging lies
// below the application directory, so this is normally a rename: no byte is
// copied and the target is replaced in one step. Only when they are on
// different file systems is the file copied (atomically as well).
BOOL InstallStaged(const std::string& source, const std::string& target) {
  if (CopySeam()) return CopySeam()(source.c_str(), target.c_str(), FALSE);
  return MoveFileIntoPlace(source.c_str(), target.c_str());
}

// A plain file standing where the release has a folder would make every run
// fail on the same name. It goes aside to its name + ".bak", as an installed
// file that refuses to be replaced does, and the folder is made in its place.
// Links are left for the file calls to refuse.
void MoveAsideFilesInTheWay(const std::string& installDir, const std::string& directory) {
  for (size_t end = installDir.size(); end < directory.size(); ++end) {
    end = directory.find_first_of("\\/", end);
    if (end == std::string::npos) break;
    const std::string folder = directory.substr(0, end);
    if (!PathFileExistsA(folder.c_str())) return;  // the rest is created below
    if (PathIsDirectoryA(folder.c_str()) || PathIsSymbolicLinkA(folder.c_str())) continue;
    crt::rename(folder.c_str(), (folder + ".bak").c_str());
    return;
  }
}

// One record: true when installDir + name holds the staged file afterwards;
// otherwise error holds why.
bool ReplaceOne(const std::string& installDir, const std::string& source, const std::string& target, int& error) {
  std::string directory;
  if (CDirectoryEx::GetFilePath(target, directory) && !PathIsDirectoryA(directory.c_str())) {
    MoveAsideFilesInTheWay(installDir, directory);
    CDirectoryEx::CreateMultipleDirectory(directory);
  }

  if (InstallStaged(source, target)) return true;
  const int reason = errno;
  const auto refused = [&] {
    error = reason;
    diagnostics::ReportCause("cannot replace " + NativePath(target) + ": " + diagnostics::ErrorText(reason));
    return false;
  };

  // The installed copy refuses to be replaced: move it aside and try once more.
  // crt::rename never replaces, so an older backup of the same name stays and
  // this file is then left as it is.
  const std::string backup = target + ".bak";
  if (crt::rename(target.c_str(), backup.c_str()) != 0) return refused();
  if (InstallStaged(source, target)) return true;

  // Without this the installed file would be missing until the next update.
  crt::rename(backup.c_str(), target.c_str());
  return refused();
}

}  // namespace

bool ReplaceInstalledFiles(const std::vector<UpdateFileInfo>& files, const std::string& stagingDir,
                           const std::string& installDir) {
  bool allInPlace = true;
  std::set<std::string> done;
  std::vector<std::string> written;
  std::string fullFolder;      // where the first copy found the disk full
  std::uint64_t unplaced = 0;  // bytes of the staged copies a full disk kept out
  for (const auto& file : files) {
    // A name listed twice was moved into place the first time; its staged
    // copy is gone, and the installed one is already the new file.
    if (!done.insert(file.fileName).second) continue;
    const std::string target = installDir + file.fileName;
    int error = 0;
    if (ReplaceOne(installDir, stagingDir + file.fileName, target, error)) {
      written.push_back(target);
      continue;
    }
    allInPlace = false;
    if (error != ENOSPC) continue;
    if (fullFolder.empty()) CDirectoryEx::GetFilePath(target, fullFolder);
    if (FileStamp staged; StampRegularFile(stagingDir + file.fileName, staged)) unplaced += staged.size;
  }
  // A staged copy lands by rename, which needs no room; only one on another
  // file system is copied, and the cause says how much room those need.
  if (!fullFolder.empty()) {
    const long long free = FreeDiskBytes(fullFolder);
    diagnostics::ReportCause(
        "the disk holding " + NativePath(fullFolder) + " is full: the files still to install need " +
        std::to_string(unplaced) + " bytes, and " +
        (free >= 0 ? std::to_string(free) + " bytes are free there" : "the free space cannot be told"));
  }
  // Callers record the new version once this returns true; the files must be
  // on disk before that record is, or a power cut could leave empty files under
  // a version that claims they are current. Only what this batch wrote is
  // flushed: other programs' unwritten data on the same disk is not waited for.
  return MakeInstalledFilesDurable(written, installDir) && allInPlace;
}

namespace {
std::atomic<double> flushSeconds{0};
}  // namespace

double FlushSeconds() { return flushSeconds.load(); }

bool MakeInstalledFilesDurable(const std::vector<std::string>& paths, const std::string& installDir) {
  std::string failed;
  const auto start = std::chrono::steady_clock::now();
  const bool durable = paths.empty() || MakeDurable(paths, installDir, &failed);
  flushSeconds = flushSeconds.load() + std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (durable) return true;
  diagnostics::ReportCause("cannot flush " + failed + " to disk: " + diagnostics::ErrorText(errno));
  return false;
}

bool InstallationWritable(const std::string& appPath, const std::string& stagingDir, std::string& cause) {
  std::vector<std::string> folders{appPath};
  // The staging folder's top ("UPDATE\") is made by the run when it is missing.
  const std::size_t top = stagingDir.find_first_of("\\/", appPath.size());
  if (stagingDir.compare(0, appPath.size(), appPath) == 0 && top != std::string::npos) {
    const std::string updateFolder = stagingDir.substr(0, top + 1);
    if (PathIsDirectoryA(updateFolder.c_str())) folders.push_back(updateFolder);
  }
  for (const std::string& folder : folders) {
    const int error = diagnostics::FolderWriteError(folder);
    if (error == 0) continue;
    cause = "the installation folder " + NativePath(folder) + " is not writable by user " + diagnostics::UserName() +
            " (" + diagnostics::ErrorText(error) + "); nothing was fetched or changed";
    return false;
  }
  return true;
}

void CloseRunningClient() {
  HWND client = FindWindowA("ZOLTCLIENT", nullptr);
  if (client == nullptr) return;
  SendMessageA(client, WM_CLOSE, 0, 0);
  UnregisterWindow(client);
}

void StartClient(const std::string& appPath, unsigned delayMilliseconds) {
  const std::string path = appPath + "ZOLTClient.exe";
  if (!PathFileExistsA(path.c_str())) return;
  if (delayMilliseconds > 0) {
    if (StartDelay())
      StartDelay()(delayMilliseconds);
    else
      Sleep(delayMilliseconds);
  }
  const auto started = reinterpret_cast<std::intptr_t>(ShellExecuteA(nullptr, "OPEN", path.c_str(), "", "", SW_SHOW));
  if (started > 32) return;
  constexpr std::intptr_t kAccessDenied = 5;
  diagnostics::ReportCause("cannot start the client " + NativePath(path) + ": " +
                           (started == kAccessDenied ? "it is not an executable program (chmod +x it?)"
                                                     : "error " + std::to_string(started)) +
                           "; the update itself is installed");
}

void SetInstallCopyFunction(InstallCopyFunction copy) { CopySeam() = std::move(copy); }

void SetStartClientDelay(std::function<void(unsigned)> delay) { StartDelay() = std::move(delay); }
