// The Windows drawing and input types the dialogs are written against, with
// the meanings Windows gives them. On Windows they are the system's own; on
// Linux this folder defines them for its Qt widgets.
#pragma once

#include <cstdint>

#if defined(_WIN32)

// As platform/win32 includes it: without the min and max macros, and
// without the rarely used parts (Winsock 1 among them).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <windowsx.h>

#include "platform/win32/Win32Types.h"

#else

#include "platform/win32/Win32Types.h"

// 0x00BBGGRR, as Windows stores a colour.
using COLORREF = DWORD;
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) { return r | (DWORD{g} << 8) | (DWORD{b} << 16); }
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }

using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;

// A cursor handle stands for one of the system's shapes.
struct HCURSOR__;
using HCURSOR = HCURSOR__*;
// Resource names given as numbers, as MAKEINTRESOURCEA makes them.
inline const char* MAKEINTRESOURCEA(UINT id) { return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(id)); }
inline const char* const IDC_ARROW = MAKEINTRESOURCEA(32512);
inline const char* const IDC_HAND = MAKEINTRESOURCEA(32649);
// The system cursor named by name (module null), or null for an unknown name.
HCURSOR LoadCursorA(HINSTANCE module, const char* name);

struct HBRUSH__;
using HBRUSH = HBRUSH__*;
inline constexpr int NULL_BRUSH = 5;
// The stock null (hollow) brush: the control's background is not painted.
HBRUSH GetStockObject(int object);

inline constexpr UINT CTLCOLOR_STATIC = 6;
inline constexpr UINT CTLCOLOR_BTN = 3;
inline constexpr UINT CTLCOLOR_DLG = 4;

inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr WPARAM HTCAPTION = 2;
inline constexpr UINT MK_LBUTTON = 1;
inline constexpr int SW_HIDE = 0;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

// The system parameter the notification window asks for: the primary
// screen's area outside the task bar and docks.
inline constexpr UINT SPI_GETWORKAREA = 0x0030;
// Fills *param (a RECT) for SPI_GETWORKAREA; FALSE for any other action or
// without a screen.
BOOL SystemParametersInfoA(UINT action, UINT uiParam, void* param, UINT winIni);

inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;

inline constexpr INT_PTR IDOK = 1;
inline constexpr INT_PTR IDCANCEL = 2;

constexpr LPARAM MAKELPARAM(int low, int high) {
  return static_cast<LPARAM>((static_cast<DWORD>(low) & 0xFFFF) | ((static_cast<DWORD>(high) & 0xFFFF) << 16));
}
constexpr int GET_X_LPARAM(LPARAM l) { return static_cast<short>(l & 0xFFFF); }
constexpr int GET_Y_LPARAM(LPARAM l) { return static_cast<short>((l >> 16) & 0xFFFF); }

#endif  // _WIN32

struct CPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const CPoint&, const CPoint&) = default;
};

struct CSize {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const CSize&, const CSize&) = default;
};

// A rectangle with Windows' edges: right and bottom are one past the last
// pixel inside.
class CRect : public RECT {
 public:
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
  int Width() const { return static_cast<int>(right - left); }
  int Height() const { return static_cast<int>(bottom - top); }
  friend bool operator==(const CRect& a, const CRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
};

#if !defined(_WIN32)
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;
#endif

// What a WM_CTLCOLOR handler sets on the control's drawing context: the
// dialog base applies it to the control (a record, not a device context).
class CDC {
 public:
  COLORREF SetTextColor(COLORREF colour) {
    const COLORREF old = textColor;
    textColor = colour;
    return old;
  }
  int SetBkMode(int mode) {
    const int old = bkMode;
    bkMode = mode;
    return old;
  }
  COLORREF textColor = 0;
  int bkMode = OPAQUE;
};

