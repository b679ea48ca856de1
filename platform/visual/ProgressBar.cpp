#include "platform/visual/ProgressBar.h"

#include <QPainter>
#include <algorithm>

#include "platform/visual/Resources.h"

CProgressBar::CProgressBar(CParentWindow parent) : CPillar(parent) {}

CProgressBar::~CProgressBar() = default;

void CProgressBar::SetBmpResource(UINT track, UINT left, UINT middle, UINT right, HINSTANCE) {
  track_ = LoadImageResource(track);
  left_ = LoadImageResource(left);
  middle_ = LoadImageResource(middle);
  right_ = LoadImageResource(right);
  update();
}

void CProgressBar::paintEvent(QPaintEvent* event) {
  if (track_.isNull() || left_.isNull() || middle_.isNull() || right_.isNull()) {
    CPillar::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.drawPixmap(rect(), track_);
  const int filled = FilledWidth();
  if (filled <= 0) return;
  // The ends keep their rounded shape; a part too short for both ends shows
  // as much of each end as fits, split evenly.
  const int ends = left_.width() + right_.width();
  const int leftWidth = filled >= ends ? left_.width() : filled / 2;
  const int rightWidth = filled >= ends ? right_.width() : filled - leftWidth;
  painter.drawPixmap(QRect(0, 0, leftWidth, height()), left_, QRect(0, 0, leftWidth, left_.height()));
  if (filled > ends) painter.drawTiledPixmap(QRect(leftWidth, 0, filled - ends, height()), middle_);
  painter.drawPixmap(QRect(filled - rightWidth, 0, rightWidth, height()), right_,
                     QRect(right_.width() - rightWidth, 0, rightWidth, right_.height()));
}
