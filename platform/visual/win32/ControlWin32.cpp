// CWnd on Windows: a child window of a dialog, subclassed by the object
// bound to it.
#include "platform/visual/Control.h"
#include "platform/visual/ImageDialog.h"

namespace {

// The window property that leads from a window to its object.
constexpr const wchar_t* kObjectProperty = L"ZOLT.CWnd";

}  // namespace

CWnd::~CWnd() { Detach(); }

void CWnd::Attach(HWND window) {
  Detach();
  m_hWnd = window;
  SetPropW(window, kObjectProperty, this);
  previous_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
}

void CWnd::Detach() {
  if (m_hWnd == nullptr) return;
  if (IsWindow(m_hWnd)) {
    if (previous_ != nullptr) SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    if (GetPropW(m_hWnd, kObjectProperty) == this) RemovePropW(m_hWnd, kObjectProperty);
  }
  m_hWnd = nullptr;
  previous_ = nullptr;
}

CWnd* CWnd::FromHandle(HWND window) {
  return window != nullptr ? static_cast<CWnd*>(GetPropW(window, kObjectProperty)) : nullptr;
}

BOOL CWnd::ShowWindow(int command) {
  if (m_hWnd == nullptr) return FALSE;
  return ::ShowWindow(m_hWnd, command == SW_HIDE ? SW_HIDE : SW_SHOWNA);
}

BOOL CWnd::IsWindowVisible() const { return m_hWnd != nullptr && ::IsWindowVisible(m_hWnd) ? TRUE : FALSE; }

void CWnd::Invalidate() {
  if (m_hWnd != nullptr) InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CWnd::Draw(HDC, int, int) {}

LRESULT CWnd::Default(UINT msg, WPARAM wParam, LPARAM lParam) {
  return previous_ != nullptr ? CallWindowProcW(previous_, m_hWnd, msg, wParam, lParam)
                              : DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) { return Default(msg, wParam, lParam); }

// The control has no background of its own: what shows through is the
// dialog's image under it. Both are drawn off screen and copied at once.
void CWnd::PaintComposed(HDC target) {
  RECT client;
  GetClientRect(m_hWnd, &client);
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0) return;
  HDC memory = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HWND parent = GetParent(m_hWnd);
  POINT origin{0, 0};
  MapWindowPoints(m_hWnd, parent, &origin, 1);
  if (auto* dialog = dynamic_cast<CImageDialog*>(FromHandle(parent)))
    dialog->DrawBackground(memory, origin.x, origin.y, width, height);
  else
    FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
  Draw(memory, width, height);
  BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWnd* self = FromHandle(window);
  if (self == nullptr) return DefWindowProcW(window, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    // The window goes first (the dialog is destroyed before its owned
    // controls): forget it, so the object never touches a dead handle.
    const WNDPROC previous = self->previous_;
    RemovePropW(window, kObjectProperty);
    self->m_hWnd = nullptr;
    self->previous_ = nullptr;
    return previous != nullptr ? CallWindowProcW(previous, window, msg, wParam, lParam)
                               : DefWindowProcW(window, msg, wParam, lParam);
  }
  return self->WindowProc(msg, wParam, lParam);
}
