// A push button painted from three images: normal, hovered and pressed, with
// its text drawn over the face in a colour per state, and a focus mark while
// the keyboard is on it (Tab moves it, Enter and Space press the button).
#pragma once

#include <QAbstractButton>
#include <QPixmap>

#include "platform/visual/Control.h"
#include "platform/visual/VisualTypes.h"

class CImageButtonX : public QAbstractButton, public CControl {
 public:
  // State indices of SetTextColor and CurrentState.
  static constexpr int kNormal = 1;
  static constexpr int kHovered = 2;
  static constexpr int kPressed = 3;

  explicit CImageButtonX(QWidget* parent = nullptr);
  ~CImageButtonX() override;

  // Each returns 1 when the image exists, 0 otherwise (the face stays as it was).
  int SetNormalImage(UINT id, HINSTANCE module);
  int SetOverImage(UINT id, HINSTANCE module);
  int SetSelectImage(UINT id, HINSTANCE module);
  void SetShowText(bool show);
  virtual void SetTextColor(int state, COLORREF colour);

  void SetWindowText(const std::string& text) override;
  std::string GetWindowText() const override;
  QWidget* Widget() override { return this; }

  // The state the button is drawn in now.
  int CurrentState() const;
  COLORREF TextColor(int state) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void PaintFocusMark(QPainter& painter, const QPixmap& face);

  QPixmap faces_[4];
  COLORREF colours_[4] = {0, 0, 0, 0};
  bool showText_ = false;
};
