// File attributes the updater looks at beyond Files.h: symbolic links, which a
// Linux installation may contain.
#pragma once

#include "platform/win32/Win32Types.h"

// Non-zero when path itself (not what it points to) is a symbolic link. The
// updater checks for links where following one would take a write or a removal
// out of the application directory.
BOOL PathIsSymbolicLinkA(const char* path);
