// File and path calls of the Windows API, over POSIX.
//
// The system builds every path with "\" as the separator; these calls map it to
// "/" where the path meets the operating system. Each returns non-zero on
// success and sets the thread's last error on failure, as Windows does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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
// done call FlushFileSystem once for a whole batch first. With failIfExists non-zero an existing dst is left alone and
// the call fails with ERROR_FILE_EXISTS. Fails when dst is a directory.
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

// Flushes every written file of the file system that holds path to disk (one
// flush for a batch of copies, instead of one per file). False on failure.
bool FlushFileSystem(const std::string& path);

// Writes all of data to the descriptor, resuming after short writes and
// interruptions. False on a write error.
bool WriteAll(int fd, const char* data, size_t size);

// Opens path for reading only when it is a regular file (after a link), never
// waiting in the open: a FIFO, device or folder there gives -1 with errno
// EINVAL (EISDIR for a folder). The descriptor reads blocking.
int OpenRegularFileForReading(const std::string& path);

// Reads a whole regular file (see OpenRegularFileForReading). Returns false
// when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
