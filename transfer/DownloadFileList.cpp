#include "transfer/DownloadFileList.h"

#include <cerrno>
#include <ctime>
#include <optional>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "transfer/DownloadMeter.h"
#include "transfer/FetchList.h"

bool ManifestSizeCap(const UpdateFileInfo& file, std::uint64_t& bytes) {
  const std::string& text = file.size;
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  bytes = std::stoull(text);
  return true;
}

SizeCaps ManifestSizeCaps(const std::vector<UpdateFileInfo>& files) {
  SizeCaps caps;
  caps.reserve(files.size());
  std::uint64_t bytes = 0;
  for (const auto& file : files)
    if (ManifestSizeCap(file, bytes)) caps.emplace_back(file.fileName, bytes);
  return caps;
}

void LimitSizes(CZOLTUpdateIntf& transfer, const SizeCaps& caps) {
  for (const auto& [name, bytes] : caps) transfer.LimitSize(name, bytes);
}

void PrepareLocalDirectory(const std::string& localPath) {
  std::string directory;
  CDirectoryEx::GetFilePath(localPath, directory);
  if (!PathIsDirectoryA(directory.c_str()) && CDirectoryEx::CreateMultipleDirectory(directory) == 0)
    diagnostics::ReportCause("cannot create the folder " + NativePath(directory) + ": " +
                             diagnostics::ErrorText(errno));
}

bool DownloadFileList(const std::string& stagingDir, unsigned updateType, CZOLTUpdateIntf& transfer,
                      const std::vector<std::string>& names, std::vector<std::string>* missing,
                      std::vector<FileDigests>* digests, CDownloadMeter* shared) {
  bool complete = true;
  if (digests != nullptr) digests->clear();
  if (names.empty()) return true;
  std::optional<CDownloadMeter> own;
  CDownloadMeter& meter = shared != nullptr ? *shared : own.emplace();
  // The caps are the manifest's sizes, so together they are what is to come.
  std::uint64_t totalBytes = 0;
  for (const auto& name : names) totalBytes += transfer.SizeLimit(name);
  meter.Expect(names.size(), totalBytes);
  {
    // Names alone: no manifest offers anything, so every file comes plain,
    // capped as the caller limited its name.
    CFetchList list(transfer, StagingSource{stagingDir, "", nullptr, updateType, false}, &meter);
    for (const auto& name : names) {
      UpdateFileInfo file;
      file.fileName = name;
      const bool arrived = list.Fetch(file);
      if (digests != nullptr) digests->push_back(arrived ? list.LastDigests() : FileDigests{});
      if (!arrived) {
        complete = false;
        if (missing != nullptr) missing->push_back(name);
        if (missing == nullptr || !list.Reachable()) break;
      }
    }
  }
  if (shared == nullptr) meter.LogSummary();
  return complete;
}

bool DownloadSignedManifest(const std::string& stagingDir, unsigned updateType, CZOLTUpdateIntf& transfer,
                            const std::string& name, const CReleaseTrust& trust,
                            const SSerialFloor& highestSerial, SReleaseHeader& accepted,
                            std::string& cause, CZOLTUpdateIntf::Validators* kept, const std::function<bool()>& useKept,
                            bool* notModified, std::string* verified) {
  const std::string localPath = stagingDir + name;
  const std::string signaturePath = localPath + kSignatureSuffix;
  PrepareLocalDirectory(localPath);
  // A component's "config.ini" lists its files as sections; every other
  // manifest has "FILES".
  const SManifestExpectation expected{updateType, name == "config.ini", highestSerial.serial, std::time(nullptr),
                                      highestSerial.record};
  std::string causes;
  bool unexplained = false;  // a server failed without a reported cause
  // A server that delivered nothing has had its cause said by the transfer;
  // only refused manifests are named here, so no server is named twice.
  const auto check = [&](const S_UpdateSerivceAddr& server, bool arrived) {
    std::string reason;
    if (!arrived) {
      if (!transfer.LastFetchReported()) unexplained = true;
      return false;
    }
    if (trust.CheckManifest(localPath, signaturePath, expected, reason, &accepted, verified)) return true;
    causes += (causes.empty() ? "" : "; ") + (server.host.empty() ? server.ip : server.host) + ":" +
              std::to_string(server.port) + ": " + reason;
    return false;
  };
  const int result = transfer.GetSignedFile(updateType, name.c_str(), localPath.c_str(), check, kept, useKept);
  if (notModified != nullptr) *notModified = result == 1;
  if (result >= 0) return true;
  cause = !causes.empty() ? "no update server gave a verified " + name + " (" + causes + ")"
          : unexplained   ? "cannot fetch " + name + " from the update servers"
                          : std::string();
  return false;
}
