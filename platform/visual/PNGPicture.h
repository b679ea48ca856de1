// A picture control showing one image resource at its own size; the image can
// be switched at any time.
#pragma once

#include "platform/visual/Control.h"
#include "platform/visual/VisualTypes.h"

#if defined(_WIN32)
#include "platform/visual/Resources.h"

class CPNGPicture : public CWnd {
#else
#include <QPixmap>
#include <QWidget>

class CPNGPicture : public QWidget, public CWnd {
#endif
 public:
  explicit CPNGPicture(CParentWindow parent = nullptr);
  ~CPNGPicture() override;

  // Shows image id; the control takes the image's size, keeping its top left
  // corner. Returns 1, or 0 when there is no such image (the picture is then
  // cleared).
  int SetPicture(UINT id, HINSTANCE module);
  // The image shown, 0 for none.
  UINT PictureId() const { return id_; }

#if defined(_WIN32)
  void Draw(HDC dc, int width, int height) override;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  std::shared_ptr<const CPngImage> image_;
#else
  QWidget* Widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap image_;
#endif
  UINT id_ = 0;
};
