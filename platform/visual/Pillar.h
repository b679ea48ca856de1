// A bar whose filled part shows a position within a range.
#pragma once

#include "platform/visual/Control.h"

#if !defined(_WIN32)
#include <QWidget>
#endif

#if defined(_WIN32)
class CPillar : public CWnd {
#else
class CPillar : public QWidget, public CWnd {
#endif
 public:
  explicit CPillar(CParentWindow parent = nullptr);
  ~CPillar() override;

  // A range with high <= low shows an empty bar.
  void SetRange(unsigned long low, unsigned long high);
  // Positions outside the range are drawn at its nearer end.
  void SetProgress(unsigned long position);

  unsigned long Low() const { return low_; }
  unsigned long High() const { return high_; }
  unsigned long Progress() const { return position_; }
  // Width in pixels of the filled part for the present range and position.
  int FilledWidth() const;

#if defined(_WIN32)
  void Draw(HDC dc, int width, int height) override;
  // The control's width in pixels; 0 before it is bound to a window.
  int Width() const;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
#else
  QWidget* Widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent* event) override;
#endif

 private:
  unsigned long low_ = 0;
  unsigned long high_ = 100;
  unsigned long position_ = 0;
};
