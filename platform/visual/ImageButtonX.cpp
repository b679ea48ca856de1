#include "platform/visual/ImageButtonX.h"

#include <QPainter>

#include "platform/visual/Resources.h"

CImageButtonX::CImageButtonX(CParentWindow parent) : QAbstractButton(parent) {
  // Repaint on entering and leaving, for the hovered face.
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);
}

void CImageButtonX::focusInEvent(QFocusEvent* event) {
  QAbstractButton::focusInEvent(event);
  update();
}

void CImageButtonX::focusOutEvent(QFocusEvent* event) {
  QAbstractButton::focusOutEvent(event);
  update();
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
  if (hasFocus()) PaintFocusMark(painter, face);
}

// The keyboard's place: a dashed rounded frame just inside the face, as the
// skin's rounded buttons are drawn, in the skin's blue on a light face and in
// white on a dark one, so that it shows on every face.
void CImageButtonX::PaintFocusMark(QPainter& painter, const QPixmap& face) {
  QRect area = rect();
  if (!face.isNull()) {
    QSize size = face.size().boundedTo(this->size());
    area = QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  }
  const QColor middle = face.isNull() ? QColor(Qt::white) : face.toImage().pixelColor(face.rect().center());
  const QColor mark = middle.lightness() > 160 ? QColor(0x1E, 0x78, 0xD7) : QColor(Qt::white);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(mark, 1.5, Qt::DashLine));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(area).adjusted(3.5, 3.5, -3.5, -3.5), 4, 4);
}
