// The registry calls the updater makes. Keys are never created.
//
// Linux: a folder store. A key is a folder below $ZOLT_REGISTRY_ROOT (default
// /var/lib/zolt/registry), a value a file in it holding exactly the bytes
// given, written atomically.
//
// Windows: the registry itself, always in its 32-bit view (KEY_WOW64_32KEY),
// where the 32-bit client reads, whichever build the updater is. Names and
// REG_SZ texts are UTF-8 and stored as UTF-16 through the W calls.
#pragma once

#include "platform/win32/Win32Types.h"

#ifdef _WIN32
#define RegOpenKeyExA ZoltRegOpenKeyExA
#define RegSetValueExA ZoltRegSetValueExA
#else
struct HKEY__;
using HKEY = HKEY__*;

extern const HKEY HKEY_LOCAL_MACHINE;

inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD REG_SZ = 1;
#endif

// Returns ERROR_SUCCESS and a key handle when the key's folder exists.
LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access, HKEY* result);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
#ifndef _WIN32
LONG RegCloseKey(HKEY key);
#endif
