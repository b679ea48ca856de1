// The Windows types and constants that the system's code is written against.
// Kept to what the updater uses, with the meanings Windows gives them.
#pragma once

#ifdef _WIN32

// On Windows the SDK's own types, constants and calls (GetLastError,
// SetLastError, Sleep). Without min and max macros, which would break
// std::min and std::max; without the rarely used parts, among them Winsock 1,
// which would clash with Winsock 2 (Winsock.h).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = long;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HANDLE = void*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
// A symbolic link stands where the call would write.
inline constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_CLOSE = 0x0010;

inline constexpr int SW_SHOW = 5;
inline constexpr int SW_SHOWNORMAL = 1;

// Last-error value of the calling thread, as Windows keeps it.
DWORD GetLastError();
void SetLastError(DWORD error);

// Suspends the calling thread for the given number of milliseconds.
void Sleep(DWORD milliseconds);

#endif
