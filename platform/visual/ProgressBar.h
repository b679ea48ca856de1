// A CPillar drawn from bitmaps: the track, and the left end, middle and right
// end of the filled part.
#pragma once

#include "platform/visual/Pillar.h"
#include "platform/visual/VisualTypes.h"

#if defined(_WIN32)
#include "platform/visual/Resources.h"
#else
#include <QPixmap>
#endif

class CProgressBar : public CPillar {
 public:
  explicit CProgressBar(CParentWindow parent = nullptr);
  ~CProgressBar() override;

  void SetBmpResource(UINT track, UINT left, UINT middle, UINT right, HINSTANCE module);

#if defined(_WIN32)
  void Draw(HDC dc, int width, int height) override;

 private:
  std::shared_ptr<const CPngImage> track_, left_, middle_, right_;
#else
 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap track_, left_, middle_, right_;
#endif
};
