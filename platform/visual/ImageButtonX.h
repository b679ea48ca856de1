// A push button painted from three images: normal, hovered and pressed, with
// its text drawn over the face in a colour per state, and a focus mark while
// the keyboard is on it (Tab moves it, Enter and Space press the button).
#pragma once

#include "platform/visual/Control.h"
#include "platform/visual/VisualTypes.h"

#if defined(_WIN32)
#include "platform/visual/Resources.h"
#else
#include <QAbstractButton>
#include <QPixmap>
#endif

#if defined(_WIN32)
// An owner-drawn push button of the template; the dialog hands it its
// WM_DRAWITEM.
class CImageButtonX : public CWnd {
#else
class CImageButtonX : public QAbstractButton, public CWnd {
#endif
 public:
  // State indices of SetTextColor and CurrentState.
  static constexpr int kNormal = 1;
  static constexpr int kHovered = 2;
  static constexpr int kPressed = 3;

  explicit CImageButtonX(CParentWindow parent = nullptr);
  ~CImageButtonX() override;

  // Each returns 1 when the image exists, 0 otherwise (the face stays as it was).
  int SetNormalImage(UINT id, HINSTANCE module);
  int SetOverImage(UINT id, HINSTANCE module);
  int SetSelectImage(UINT id, HINSTANCE module);
  void SetShowText(bool show);
  virtual void SetTextColor(int state, COLORREF colour);

  void SetWindowText(const std::string& text) override;
  std::string GetWindowText() const override;

  // The state the button is drawn in now.
  int CurrentState() const;
  COLORREF TextColor(int state) const;

#if defined(_WIN32)
  void Draw(HDC dc, int width, int height) override;
  // The font the texts are drawn in (the dialog's); not owned.
  void SetFont(HFONT font) { font_ = font; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void PaintFocusMark(HDC dc, const RECT& face, const CPngImage* image);

  std::shared_ptr<const CPngImage> faces_[4];
  COLORREF colours_[4] = {0, 0, 0, 0};
  bool showText_ = false;
  bool hovered_ = false;
  HWND focusBeforePress_ = nullptr;
  std::string text_;
  HFONT font_ = nullptr;
#else
  QWidget* Widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void PaintFocusMark(QPainter& painter, const QPixmap& face);

  QPixmap faces_[4];
  COLORREF colours_[4] = {0, 0, 0, 0};
  bool showText_ = false;
#endif
};
