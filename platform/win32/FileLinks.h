// Symbolic links, which Windows paths of this system never contain but a Linux
// installation may: the updater checks for them where following one would take
// a write or a removal out of the application directory.
#pragma once

#include "platform/win32/Win32Types.h"

// Non-zero when path itself (not what it points to) is a symbolic link.
BOOL PathIsSymbolicLinkA(const char* path);
