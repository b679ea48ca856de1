// The registry calls the updater makes, over a folder store: a key is a folder
// below $ZOLT_REGISTRY_ROOT (default /var/lib/zolt/registry), a value a file in
// it holding exactly the bytes given, written atomically. Keys are never created.
#pragma once

#include "platform/win32/Win32Types.h"

struct HKEY__;
using HKEY = HKEY__*;

extern const HKEY HKEY_LOCAL_MACHINE;

inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD REG_SZ = 1;

// Returns ERROR_SUCCESS and a key handle when the key's folder exists.
LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access, HKEY* result);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegCloseKey(HKEY key);
