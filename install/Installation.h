// Replacing installed files, and closing and starting the client program.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "update/UpdateManifest.h"

// Moves stagingDir + fileName over installDir + fileName for every record, in
// list order, creating folders: a rename on one file system, a copy (and the
// staged file removed) across two (MoveFileIntoPlace). Each replacement is
// atomic and a replaced file keeps its permission bits. A move that fails
// moves the installed file aside to its name + ".bak" and tries once more;
// when that fails too, the backup is moved back, so an installed file is never
// left missing. A plain file standing where a folder of fileName belongs is
// moved aside to its name + ".bak" first. No write goes through a link below
// the installation (Files.h). A name listed twice is installed once. Before
// returning, the installed files and the folders whose entries changed are
// flushed to disk (nothing else is). Returns true when every file is in place
// and durable. The staged copies of installed files are gone afterwards.
bool ReplaceInstalledFiles(const std::vector<UpdateFileInfo>& files, const std::string& stagingDir,
                           const std::string& installDir);

// True when this process can write where a run writes: the application folder
// appPath, and stagingDir's top folder ("UPDATE") when it exists. Otherwise
// cause says which folder cannot be written, by which user and why: a run
// stops on it before anything is fetched, so no server is blamed for it.
bool InstallationWritable(const std::string& appPath, const std::string& stagingDir, std::string& cause);
// Flushes paths (installed files) and the folders from each up to installDir
// to disk; false, with the first path that failed named on stderr and in the
// log, when one cannot be opened or flushed.
bool MakeInstalledFilesDurable(const std::vector<std::string>& paths, const std::string& installDir);
// Seconds this process has spent in MakeInstalledFilesDurable, for the log.
double FlushSeconds();

// Asks the running client (window class "ZOLTCLIENT") to close and returns when
// it has handled the request; nothing when no client runs. A client that does
// not answer within the remote-window time limit (see RemoteWindow.h) is given
// up on, so a hung client cannot hang the updater.
void CloseRunningClient();

// Starts appPath + "ZOLTClient.exe" detached from the updater, after
// delayMilliseconds; nothing when the file is missing. A client that cannot be
// started (not executable, not a program) is reported with its cause; the
// update stays installed, so the run's outcome does not change.
void StartClient(const std::string& appPath, unsigned delayMilliseconds = 0);

// Replaces the step that ReplaceInstalledFiles takes for each file (for tests:
// one that fails the way a file locked by a running program does on Windows);
// an empty function restores the move.
using InstallCopyFunction = std::function<int(const char* source, const char* target, int failIfExists)>;
void SetInstallCopyFunction(InstallCopyFunction copy);

// Replaces the wait StartClient makes before starting the client (for tests);
// an empty function restores Sleep.
void SetStartClientDelay(std::function<void(unsigned milliseconds)> delay);
