// A picture control showing one image resource at its own size; the image can
// be switched at any time.
#pragma once

#include <QPixmap>
#include <QWidget>

#include "platform/visual/Control.h"
#include "platform/visual/VisualTypes.h"

class CPNGPicture : public QWidget, public CControl {
 public:
  explicit CPNGPicture(QWidget* parent = nullptr);
  ~CPNGPicture() override;

  // Shows image id; the control takes the image's size, keeping its top left
  // corner. Returns 1, or 0 when there is no such image (the picture is then
  // cleared).
  int SetPicture(UINT id, HINSTANCE module);
  // The image shown, 0 for none.
  UINT PictureId() const { return id_; }

  QWidget* Widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap image_;
  UINT id_ = 0;
};
