#include "platform/visual/ImageButtonX.h"

#include <QPainter>

#include "platform/visual/Resources.h"

CImageButtonX::CImageButtonX(QWidget* parent) : QAbstractButton(parent) {
  // Repaint on entering and leaving, for the hovered face.
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);
}

CImageButtonX::~CImageButtonX() = default;

static int SetFace(QPixmap& face, UINT id, QWidget* button) {
  QPixmap image = LoadImageResource(id);
  if (image.isNull()) return 0;
  face = std::move(image);
  button->update();
  return 1;
}

int CImageButtonX::SetNormalImage(UINT id, HINSTANCE) { return SetFace(faces_[kNormal], id, this); }
int CImageButtonX::SetOverImage(UINT id, HINSTANCE) { return SetFace(faces_[kHovered], id, this); }
int CImageButtonX::SetSelectImage(UINT id, HINSTANCE) { return SetFace(faces_[kPressed], id, this); }

void CImageButtonX::SetShowText(bool show) {
  showText_ = show;
  update();
}

void CImageButtonX::SetTextColor(int state, COLORREF colour) {
  if (state >= kNormal && state <= kPressed) colours_[state] = colour;
  update();
}

COLORREF CImageButtonX::TextColor(int state) const {
  return state >= kNormal && state <= kPressed ? colours_[state] : 0;
}

void CImageButtonX::SetWindowText(const std::string& text) { setText(QString::fromStdString(text)); }

std::string CImageButtonX::GetWindowText() const { return text().toStdString(); }

int CImageButtonX::CurrentState() const {
  if (isDown()) return kPressed;
  if (underMouse()) return kHovered;
  return kNormal;
}

void CImageButtonX::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const int state = CurrentState();
  const QPixmap& face = faces_[state].isNull() ? faces_[kNormal] : faces_[state];
  if (!face.isNull()) {
    // The face keeps its drawn size, centred in the control's rectangle; a
    // smaller control scales it down.
    QSize size = face.size();
    if (size.width() > width() || size.height() > height()) size.scale(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    painter.drawPixmap(target, face);
  }
  if (showText_ && !text().isEmpty()) {
    const COLORREF c = colours_[state];
    painter.setPen(QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
  }
}
