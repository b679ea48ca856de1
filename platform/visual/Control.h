// What every control of the dialog base offers, as the framework's CWnd has
// it: the window text and whether the control is shown.
//
// On Linux a control is also a QWidget (Widget()); on Windows it is a child
// window of the dialog, created from the dialog template and subclassed by the
// object bound to it, whose messages reach WindowProc first.
#pragma once

#include <string>

#include "platform/visual/VisualTypes.h"

#if !defined(_WIN32)
#include <QWidget>
#endif

class CWnd;
// What a control's or dialog's constructor takes as its parent.
#if defined(_WIN32)
using CParentWindow = CWnd*;
#else
using CParentWindow = QWidget*;
#endif

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // UTF-8 text; shown by the control the way its kind shows text. Controls
  // without text (pictures, bars) ignore it.
  virtual void SetWindowText(const std::string&) {}
  virtual std::string GetWindowText() const { return {}; }

  // SW_HIDE hides the control, any other command shows it. Returns whether it
  // was visible before.
  BOOL ShowWindow(int command);
  BOOL IsWindowVisible() const;

#if defined(_WIN32)
  HWND GetSafeHwnd() const { return m_hWnd; }
  // Binds this object to the child window: its messages go to WindowProc
  // first, and the window remembers the object. Detach undoes it (the
  // destructor does).
  void Attach(HWND window);
  void Detach();
  // The object bound to window, or null.
  static CWnd* FromHandle(HWND window);
  // Marks the whole control for repainting.
  void Invalidate();

  // Draws the control's content onto dc, whose origin is the control's top
  // left corner, over the dialog's background already drawn there.
  virtual void Draw(HDC dc, int width, int height);

 protected:
  // The subclassed window's messages; Default hands one to the control's own
  // window procedure.
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT msg, WPARAM wParam, LPARAM lParam);
  // Paints the control: the dialog's background under it, then Draw, in one
  // copy to the screen so nothing flickers.
  void PaintComposed(HDC target);

  HWND m_hWnd = nullptr;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  WNDPROC previous_ = nullptr;
#else
  virtual QWidget* Widget() = 0;
  const QWidget* Widget() const { return const_cast<CWnd*>(this)->Widget(); }
#endif
};
