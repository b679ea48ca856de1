#include "platform/visual/Pillar.h"

#include <QPainter>
#include <algorithm>

CPillar::CPillar(CParentWindow parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

CPillar::~CPillar() = default;

void CPillar::SetRange(unsigned long low, unsigned long high) {
  low_ = low;
  high_ = high;
  update();
}

void CPillar::SetProgress(unsigned long position) {
  position_ = position;
  update();
}

int CPillar::FilledWidth() const {
  if (high_ <= low_ || position_ <= low_) return 0;
  const unsigned long done = std::min(position_, high_) - low_;
  return static_cast<int>(static_cast<unsigned long long>(width()) * done / (high_ - low_));
}

void CPillar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0xE0, 0xE0, 0xE0));
  painter.fillRect(QRect(0, 0, FilledWidth(), height()), QColor(0x4C, 0xB8, 0x48));
}
