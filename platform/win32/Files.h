// File and path calls of the Windows API: over POSIX on Linux (Files.cpp), over
// the W calls on Windows (Files_windows.cpp), with the same contracts.
//
// The system builds every path with "\" as the separator; these calls map it to
// "/" where the path meets Linux, and take "/" as "\" on Windows. Names are
// UTF-8 on both systems. Each returns non-zero on success and sets the thread's
// last error (and errno) on failure, as Windows does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/Win32Types.h"

#ifdef _WIN32
// The SDK's A calls of these names read a name in the ANSI code page and copy
// in place; the program's own below take UTF-8 and keep the contracts here.
// shlwapi.h first, so that its declarations keep the SDK's names.
#include <shlwapi.h>
#define PathFileExistsA ZoltPathFileExistsA
#define PathIsDirectoryA ZoltPathIsDirectoryA
#define DeleteFileA ZoltDeleteFileA
#define MoveFileExA ZoltMoveFileExA
#define CopyFileA ZoltCopyFileA
#define CreateHardLinkA ZoltCreateHardLinkA
#endif

// The path as the operating system sees it: on Linux every "\" turned into
// "/", on Windows every "/" into "\".
std::string NativePath(std::string_view path);

// Non-zero when something (file, directory, or a link to one) exists at path.
BOOL PathFileExistsA(const char* path);

// Non-zero when path names an existing directory (a trailing separator is accepted).
BOOL PathIsDirectoryA(const char* path);

// Every call below that writes, creates, renames or removes goes through one
// walk that follows no symbolic link in the folders below the guarded root
// (the application directory, unless SetGuardedRoot named another): such a
// link is refused, with a message on stderr and last error
// ERROR_CANT_RESOLVE_FILENAME, so nothing is ever written, created or removed
// outside the folders the updater owns. Folders above the root, and the
// folders of paths outside it, are followed as the user laid them out. The
// last name of a path is never followed either: a link there is replaced or
// removed as a link. Folders are created 0755 and files at most 0755, whatever
// the umask (a narrower umask narrows them further); setuid, setgid and sticky
// bits are never given to a written file.
//
// On Windows a "link" is any reparse point: a symbolic link or a junction. The
// folders below the root are held open, without FILE_SHARE_DELETE, while a
// call works below them, so that none can be swapped for a junction midway.
// Permission bits have no meaning there; a file's access list comes from its
// folder. A file in use by a running program (a client's executable or
// library) cannot be replaced but can be renamed: MoveFileExA to a ".bak"
// name works on it, CopyFileA over it fails with ERROR_ACCESS_DENIED.

// The folder below which no link is followed. Empty restores the default, the
// directory of the running executable.
void SetGuardedRoot(std::string path);
std::string GuardedRoot();

// Removes a file (or a symbolic link, never what it points to). Fails on a directory.
BOOL DeleteFileA(const char* path);

// Moves src to dst; with MOVEFILE_REPLACE_EXISTING an existing file (or link)
// at dst is replaced in one step, otherwise the call fails with
// ERROR_FILE_EXISTS when dst exists.
#ifndef _WIN32
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 1;
#endif
BOOL MoveFileExA(const char* src, const char* dst, DWORD flags);

// Gives the regular file existing the second name newName (a hard link: no
// byte is copied, both names lie on one file system), as Windows'
// CreateHardLinkA does; security is ignored. Fails when newName exists, when
// existing is not a regular file (a link is never linked), and across file
// systems (ERROR_NOT_SAME_DEVICE, errno EXDEV).
BOOL CreateHardLinkA(const char* newName, const char* existing, void* security);

// Puts the regular file src at dst as CopyFileA would (replaced in one step;
// a replaced dst keeps its bits, a new one takes those of src, a program
// becoming executable, all capped at 0755; a link at dst is replaced, never
// followed), but by renaming src when both lie on one file system, so that no
// byte is copied. Across file systems src is copied with CopyFileA and then
// removed. src is gone afterwards. Nothing is flushed to disk.
BOOL MoveFileIntoPlace(const char* src, const char* dst);

// Creates path and every missing folder above it, each 0755 (see above).
// Non-zero when path is a folder afterwards.
BOOL CreateDirectoryTree(const char* path);

// Removes path with everything below it, never following a link: a link met on
// the way, or path itself when it is one, is removed as a link. Refuses "/" and
// the empty path. False when something could not be removed.
bool RemoveDirectoryTree(const char* path);

// Whether the process runs as the user who owns path (the installation
// folder). When it does not, owner and caller name the two ("name (uid N)")
// and the result is false. A path that cannot be examined gives true: the run
// then meets the real problem and names it. On Windows always true: who may
// write there is decided by the folders' access lists, which the installer
// set, not by an owner.
bool RunsAsOwnerOf(const std::string& path, std::string& owner, std::string& caller);

// Makes a new, empty folder of the caller's own (mode 0700) for scratch files
// outside any installation: below $TMPDIR, or /tmp (on Windows below the
// user's %TEMP%, whose access list admits the user alone). Returns it ending
// with the separator, or "" with last error set. The caller removes it (RemoveDirectoryTree).
std::string MakeScratchFolder();

// Opens path for reading and writing, creating it (mode 0644 at most) when
// missing. Refuses a link, or anything but a regular file of the caller's own
// with a single name, at path. Returns the descriptor (close-on-exec) or -1 with last error set.
int OpenFileForWriting(const char* path);

// Copies src to dst. The content is written to a temporary file beside dst and
// renamed over it, so a process that dies at any moment leaves dst either the
// old file or the complete new one, never half written. A replaced dst keeps its
// permission bits, capped at 0755; a new one takes those of src (a program also
// becomes executable), capped the same way. A link at dst is replaced by a
// regular file: what it points to is never written and lends no bits. The data is not flushed to disk: callers that
// record a copy as done call MakeDurable once for a whole batch first. With failIfExists non-zero an existing dst
// is left alone and the call fails with ERROR_FILE_EXISTS. Fails when dst is a directory.
BOOL CopyFileA(const char* src, const char* dst, BOOL failIfExists);

// Temporary files that CopyFileA and other atomic writers leave only when the
// process dies mid-write are named "." + name + kTempFileInfix + six random
// characters, in the target's folder. kTempFilePattern matches them for SearchFile.
inline constexpr const char* kTempFileInfix = ".zolt-tmp.";
inline constexpr const char* kTempFilePattern = ".*.zolt-tmp.*";

// The C runtime's calls where Windows and POSIX disagree.
namespace crt {
// Renames a file as the Microsoft runtime does: never replaces an existing
// target. Returns 0 on success, -1 on failure.
int rename(const char* oldName, const char* newName);
}  // namespace crt

// Writes bytes to path atomically: temporary file in the same folder, flushed to
// disk, renamed over path. Returns false (and leaves path as it was) on failure.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

// WriteFileAtomically without the flushes: a killed process leaves path the
// old file or the new one, but after a power loss it may hold neither (an
// empty or partly written file). For hints that check themselves when read.
bool ReplaceFileUnflushed(const std::string& path, std::string_view bytes);

// What lstat says of a file, the times in nanoseconds: enough to tell that a
// file has not changed since it was last looked at, as git's index tells it.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of path itself, never of what a link there points to. False when
// path is not a regular file (missing, a link, a folder, a FIFO).
bool StampRegularFile(const std::string& path, FileStamp& stamp);

// Now by the clock the kernel stamps file changes with (coarse real time), in
// nanoseconds: a file changed from now on gets a stamp no earlier than this,
// truncated to its file system's granularity.
std::int64_t FileClockNow();

// The bytes this user may still write on the file system that holds path
// (or, when path does not exist yet, its nearest existing folder above); -1
// when the system cannot tell. For saying how much room an update lacks.
long long FreeDiskBytes(const std::string& path);
// Starts writing the descriptor's unwritten data to disk and returns without
// waiting, so that a later MakeDurable of the file has little left to do.
void StartWriteBack(int fd);

// Makes what a batch of writes changed durable, and nothing else (a flush of
// the whole file system would wait for every other program's data too): the
// data of every file in files, and the entries of every folder from each
// file's folder up to and including root (new folders and renamed names live
// there). Nothing is opened through a link. Files whose write-back was started
// when they were written (StartWriteBack) cost little more than the wait.
// False when a file or folder cannot be opened or flushed (a file that is gone
// included); then errno says why and failed (if given) names the first such
// path. The rest is flushed all the same.
bool MakeDurable(const std::vector<std::string>& files, const std::string& root, std::string* failed = nullptr);

// Writes all of data to the descriptor, resuming after short writes and
// interruptions. False on a write error.
bool WriteAll(int fd, const char* data, size_t size);

// Appends bytes to path in one write, creating it (0644 at most) when missing;
// never through a link (see above). False on failure.
bool AppendToFile(const std::string& path, std::string_view bytes);

// Opens path for reading only when it is a regular file (after a link), never
// waiting in the open: a FIFO, device or folder there gives -1 with errno
// EINVAL (EISDIR for a folder). The descriptor reads blocking.
int OpenRegularFileForReading(const std::string& path);

// Reads a whole regular file (see OpenRegularFileForReading). Returns false
// when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// What ReadFileGuarded demands of a file beyond being a regular file.
struct SGuardedRead {
  std::size_t maxBytes = std::size_t{1} << 20;
  // Kept state of earlier runs: only a file of the user's own is read.
  bool ownOnly = false;
  // A file that decides whom to trust (a CA bundle): outside the guarded
  // root it must be neither group- nor world-writable, and belong to the user
  // or to root.
  bool trustAnchor = false;
  // State the updater keeps for itself (an id, a record): refused when it is
  // a link at its last name, wherever it lies, or has a second name (a hard
  // link someone else made).
  bool privateState = false;
};

// Reads the whole file at path, a file that configuration names or an earlier
// run kept: opened O_NONBLOCK, so that a FIFO standing there cannot hang the
// call, and read only when it is a regular file; below the guarded root never
// through a symbolic link, its last name included (outside it, links are
// followed as the user laid them out); never more than rules.maxBytes. False
// with errno set (ENOENT when nothing at all is at path) and cause, when given,
// naming path and why it was not read.
// stamp (if given) receives what fstat said of the file that was read.
bool ReadFileGuarded(const std::string& path, std::string& bytes, const SGuardedRead& rules,
                     std::string* cause = nullptr, struct FileStamp* stamp = nullptr);

// Descriptors are the C runtime's int descriptors on both systems (on Windows
// the runtime's over a handle the calls above opened). The calls below are the
// only ones the rest of the program uses on them, so that none of it needs the
// system's headers. Each fails with errno set.

// Reads up to size bytes at the descriptor's position, resuming after an
// interruption. The count read (0 at the end), or -1.
long long ReadDescriptor(int fd, void* buffer, std::size_t size);

// Reads up to size bytes at offset. Whether the descriptor's position moves
// differs by system (on Windows it does), so a caller moves it itself
// (TruncateDescriptor) before it reads or writes in sequence again. The count
// read (0 at the end), or -1.
long long ReadDescriptorAt(int fd, void* buffer, std::size_t size, long long offset);

// The size of the open file, or -1.
long long DescriptorSize(int fd);

// When the open file's content last changed, in seconds since 1970; -1 on error.
std::time_t DescriptorModifiedTime(int fd);

// Sets when the open file's content last changed (seconds since 1970).
bool SetDescriptorModifiedTime(int fd, std::time_t modified);

// Cuts or extends the open file to size bytes and sets the position there.
bool TruncateDescriptor(int fd, long long size);

// Writes the file's data to disk and waits for it (its name is the folder's
// business: see MakeDurable).
bool FlushDescriptor(int fd);

// Tells the system the file is read once from start to end.
void AdviseSequentialRead(int fd);

void CloseDescriptor(int fd);
