// A text painted straight onto the dialog's background (no box of its own),
// with its own font size, weight, underline, colour, alignment and a cursor
// shown while the pointer is over it.
#pragma once

#include "platform/visual/Control.h"
#include "platform/visual/VisualTypes.h"

#if !defined(_WIN32)
#include <QWidget>
#endif

#if defined(_WIN32)
class CStaticText : public CWnd {
#else
class CStaticText : public QWidget, public CWnd {
#endif
 public:
  // Alignment codes of SetAligns, as DrawText has them.
  static constexpr UINT kAlignLeft = 0;
  static constexpr UINT kAlignCenter = 1;
  static constexpr UINT kAlignRight = 2;

  explicit CStaticText(CParentWindow parent = nullptr);
  ~CStaticText() override;

  // height in pixels of the character cell; width 0 keeps the face's own
  // proportions.
  void SetFontSize(long height, long width);
  void SetBold(bool bold);
  void SetUnderline(bool underline);
  void SetAligns(UINT align);
  virtual void SetTextColor(COLORREF colour);
  virtual void SetHoverCursor(HCURSOR cursor);
  // Paints a background of its own (opaque) or lets the dialog show through.
  void SetTransparent(bool transparent);
  // A notifying text reports a click to its dialog as a command of its ID; any
  // other text lets the pointer through to the dialog (which drags by it).
  void SetNotify(bool notify);

  void SetWindowText(const std::string& text) override;
  std::string GetWindowText() const override;

  COLORREF TextColor() const { return colour_; }
  UINT Aligns() const { return align_; }

#if defined(_WIN32)
  void Draw(HDC dc, int width, int height) override;
  // The font the text starts from (the dialog's); the size, weight and
  // underline set here are applied to a copy.
  void SetBaseFont(const std::string& faceName, int pixelHeight);

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void ApplyFont();

  std::string text_;
  std::string faceName_;
  int baseHeight_ = 12;
  HFONT font_ = nullptr;
  HCURSOR cursor_ = nullptr;
#else
  QWidget* Widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void ApplyFont();

  QString text_;
#endif
  long fontHeight_ = 0;
  bool bold_ = false;
  bool underline_ = false;
  UINT align_ = kAlignLeft;
  COLORREF colour_ = 0;
  bool transparent_ = true;
  bool notify_ = false;
  bool pressed_ = false;
};
