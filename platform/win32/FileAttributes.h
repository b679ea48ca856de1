// File attributes the updater looks at beyond Files.h: symbolic links, which a
// Linux installation may contain, and permission bits, which HTTP does not
// carry.
#pragma once

#include "platform/win32/Win32Types.h"

// Non-zero when path itself (not what it points to) is a symbolic link. The
// updater checks for links where following one would take a write or a removal
// out of the application directory.
BOOL PathIsSymbolicLinkA(const char* path);

// Gives path the permission bits of model (both regular files). A downloaded
// file knows no mode of its own, so before it replaces an installed file it
// takes that file's mode: an installed program stays executable. FALSE when
// either is missing or not a regular file.
BOOL CopyFileModeA(const char* model, const char* path);
