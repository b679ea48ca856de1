// A bar whose filled part shows a position within a range.
#pragma once

#include <QWidget>

#include "platform/visual/Control.h"

class CPillar : public QWidget, public CControl {
 public:
  explicit CPillar(QWidget* parent = nullptr);
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

  QWidget* Widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  unsigned long low_ = 0;
  unsigned long high_ = 100;
  unsigned long position_ = 0;
};
