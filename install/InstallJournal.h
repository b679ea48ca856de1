// The install journal and the previous release kept beside it.
//
// Before an install renames its first file into place it keeps the installed
// copies that it replaces in appPath + "UPDATE.kept\<type>\previous\" (a
// second name of each file, made on the same file system: no byte is copied)
// and writes the journal, flushed, as "UPDATE.kept\<type>\journal": the
// release it installs, the version it replaces and every file, each either
// kept (a copy to put back) or added (nothing to put back). A run that finds
// the journal knows exactly what an interrupted install touched, whichever way
// the versions go, and completes or undoes it before anything else.
//
// The journal changes state as the install goes on:
//   install   files are being replaced; before the commit point
//   trial     committed; the new client has yet to show its window (the
//             journal then also holds the moment of the client's restart)
//   rollback  the kept copies are being put back
// and, once the release is confirmed, it moves into previous\ as
// "previous\journal" (state "kept"), naming the previous release that
// ZOLTUpdate --rollback can put back. One previous release is kept: the next
// install empties previous\ before it keeps the copies it replaces.
//
// Every journal is read as untrusted bytes: only a regular file of the user's
// own with one name, reached without a link, of bounded size, whose check line
// matches its content and whose every name is a safe relative name. Anything
// else is refused (and never followed).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "update/UpdateManifest.h"

enum class EJournalState { kInstall, kTrial, kRollback, kKept };

struct SInstallJournal {
  EJournalState state = EJournalState::kInstall;
  unsigned type = 1;
  std::string folder;    // the install folder below the application folder ("" for itself)
  std::string version;   // the release installed
  std::string region;
  std::string release;   // "serial N" of a signed release, else "sha256 HEX" of its manifest
  std::string oldVersion;  // the version it replaces
  std::string oldRegion;
  // In state trial: the moment the client was restarted on the release
  // (ProcessClockNow, platform/win32/RemoteWindow.h), so that a run which
  // resumes the trial judges only a client started since. Empty in a journal
  // written before the moment was kept: any client window is judged.
  std::string restarted;
  std::vector<std::string> kept;   // installed copies kept in previous\ (names below folder)
  std::vector<std::string> added;  // files the install created
};

// appPath + "UPDATE.kept\<type>\", its journal, the previous release's folder
// and the journal kept with it.
std::string KeptTypeFolder(const std::string& appPath, unsigned type);
std::string JournalPath(const std::string& appPath, unsigned type);
std::string PreviousFolder(const std::string& appPath, unsigned type);
std::string PreviousJournalPath(const std::string& appPath, unsigned type);

const char* JournalStateName(EJournalState state);

// The journal as bytes, and back. Parse refuses (why says so) anything but
// the exact form FormatJournal writes with a matching check line.
std::string FormatJournal(const SInstallJournal& journal);
bool ParseJournal(std::string_view bytes, SInstallJournal& journal, std::string& why);

enum class EJournalRead { kNone, kRefused, kRead };
// Reads the journal at path under the rules above. kNone: nothing is there.
// kRefused: something is, with cause saying what and why it is not used.
EJournalRead ReadJournal(const std::string& path, SInstallJournal& journal, std::string& cause);
// Writes the journal at path atomically and flushed. False when it cannot.
bool WriteJournal(const std::string& path, const SInstallJournal& journal);

// Keeps the installed copies of files (below installDir) in previous\ after
// emptying it, flushes what that made, then writes journal (its kept and added
// lists filled here, state install). False with cause when a copy cannot be
// kept or the journal cannot be written: then nothing may be replaced.
bool BeginJournaledInstall(const std::string& appPath, const std::string& installDir,
                           const std::vector<UpdateFileInfo>& files, SInstallJournal& journal, std::string& cause);

// Puts the kept copies of journal back in place (replacing what stands
// there), removes the files it added and flushes the result. Safe to repeat
// after being cut short. False with cause when a kept copy is missing or not
// a regular file (it is never followed) or cannot be moved back.
bool PutBackKept(const std::string& appPath, const SInstallJournal& journal, std::string& cause);

// Removes the journal of type, and previous\ with it (after an undo or a
// rollback nothing in it is a release any more).
void DropJournalAndPrevious(const std::string& appPath, unsigned type);

// The install of journal is confirmed: the journal becomes previous\journal
// (state kept), naming the previous release for ZOLTUpdate --rollback.
bool KeepAsPrevious(const std::string& appPath, SInstallJournal journal);

// The release held back on this installation after a rollback (kept as
// "UPDATE.kept\<type>\held": its release identity, then its version).
struct SHeldRelease {
  std::string release;
  std::string version;
};
// False when no intact hold of the user's own is kept (a refused one is said
// in cause, and removed).
bool ReadHold(const std::string& appPath, unsigned type, SHeldRelease& held, std::string& cause);
bool WriteHold(const std::string& appPath, unsigned type, const SHeldRelease& held);
void ClearHold(const std::string& appPath, unsigned type);
