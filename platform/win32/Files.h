// File and path calls of the Windows API, over POSIX.
//
// The system builds every path with "\" as the separator; these calls map it to
// "/" where the path meets the operating system. Each returns non-zero on
// success and sets the thread's last error on failure, as Windows does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/Win32Types.h"

// The path as the operating system sees it: every "\" turned into "/".
std::string NativePath(std::string_view path);

// Non-zero when something (file, directory, or a link to one) exists at path.
BOOL PathFileExistsA(const char* path);

// Non-zero when path names an existing directory (a trailing separator is accepted).
BOOL PathIsDirectoryA(const char* path);

// Removes a file (or a symbolic link, never what it points to). Fails on a directory.
BOOL DeleteFileA(const char* path);

// Copies src to dst. The content is written to a temporary file beside dst and
// renamed over it, so a process that dies at any moment leaves dst either the
// old file or the complete new one, never half written. A replaced dst keeps its
// permission bits; a new one takes those of src (a program also becomes
// executable). The data is not flushed to disk: callers that record a copy as
// done call MakeDurable once for a whole batch first. With failIfExists non-zero an existing dst is left alone and
// the call fails with ERROR_FILE_EXISTS. Fails when dst is a directory.
BOOL CopyFileA(const char* src, const char* dst, BOOL failIfExists);

// MoveFileExA flags.
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;

// Moves the file src to dst by renaming it, in one step: a process that dies
// at any moment leaves dst either the old file or the complete new one. With
// MOVEFILE_REPLACE_EXISTING an existing dst (not a directory) is replaced,
// otherwise the call fails with ERROR_FILE_EXISTS. Across file systems the move
// fails unless MOVEFILE_COPY_ALLOWED is given; then src is copied as CopyFileA
// copies (temporary file renamed over dst) and removed afterwards. Permission
// bits as for CopyFileA: a replaced dst keeps its own, a new one takes those
// of src (a program also becomes executable). src must be a regular file; it
// is never followed through a symbolic link. Nothing is flushed to disk.
BOOL MoveFileExA(const char* src, const char* dst, DWORD flags);

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

// Starts writing the descriptor's unwritten data to disk and returns without
// waiting, so that a later MakeDurable of the file has little left to do.
void StartWriteBack(int fd);

// Makes what a batch of writes changed durable, and nothing else: the data of
// every file in files, and the entries of every folder from each file's folder
// up to and including root (new folders and renamed names live there). Files
// whose write-back was started when they were written (StartWriteBack) cost
// little more than the wait. Files that are gone are skipped. False when a
// flush fails.
bool MakeDurable(const std::vector<std::string>& files, const std::string& root);

// Writes all of data to the descriptor, resuming after short writes and
// interruptions. False on a write error.
bool WriteAll(int fd, const char* data, size_t size);

// Reads a whole file. Returns false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
