// The Windows drawing and input types the dialogs are written against, with
// the meanings Windows gives them, for the Qt widgets of this folder.
#pragma once

#include <cstdint>

#include "platform/win32/Win32Types.h"

// 0x00BBGGRR, as Windows stores a colour.
using COLORREF = DWORD;
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) { return r | (DWORD{g} << 8) | (DWORD{b} << 16); }
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }

using INT_PTR = std::intptr_t;

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

struct CPoint {
  int x = 0;
  int y = 0;
};

// What a WM_CTLCOLOR handler sets on the control's drawing context.
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;
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
inline constexpr WPARAM HTCAPTION = 2;
inline constexpr UINT MK_LBUTTON = 1;
inline constexpr int SW_HIDE = 0;

inline constexpr INT_PTR IDOK = 1;
inline constexpr INT_PTR IDCANCEL = 2;

constexpr LPARAM MAKELPARAM(int low, int high) {
  return static_cast<LPARAM>((static_cast<DWORD>(low) & 0xFFFF) | ((static_cast<DWORD>(high) & 0xFFFF) << 16));
}
constexpr int GET_X_LPARAM(LPARAM l) { return static_cast<short>(l & 0xFFFF); }
constexpr int GET_Y_LPARAM(LPARAM l) { return static_cast<short>((l >> 16) & 0xFFFF); }
