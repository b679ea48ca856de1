// A CPillar drawn from bitmaps: the track, and the left end, middle and right
// end of the filled part.
#pragma once

#include <QPixmap>

#include "platform/visual/Pillar.h"
#include "platform/visual/VisualTypes.h"

class CProgressBar : public CPillar {
 public:
  explicit CProgressBar(QWidget* parent = nullptr);
  ~CProgressBar() override;

  void SetBmpResource(UINT track, UINT left, UINT middle, UINT right, HINSTANCE module);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap track_, left_, middle_, right_;
};
