#include "platform/visual/PNGPicture.h"

#include <QPainter>

#include "platform/visual/Resources.h"

CPNGPicture::CPNGPicture(CParentWindow parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

CPNGPicture::~CPNGPicture() = default;

int CPNGPicture::SetPicture(UINT id, HINSTANCE) {
  image_ = LoadImageResource(id);
  id_ = image_.isNull() ? 0 : id;
  if (!image_.isNull()) resize(image_.size());
  update();
  return id_ != 0 ? 1 : 0;
}

void CPNGPicture::paintEvent(QPaintEvent*) {
  if (image_.isNull()) return;
  QPainter painter(this);
  painter.drawPixmap(0, 0, image_);
}
