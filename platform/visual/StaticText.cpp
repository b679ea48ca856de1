#include "platform/visual/StaticText.h"

#include <QMouseEvent>
#include <QPainter>

#include "platform/visual/ImageDialog.h"

CStaticText::CStaticText(CParentWindow parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

CStaticText::~CStaticText() = default;

void CStaticText::SetFontSize(long height, long /*width*/) {
  fontHeight_ = height;
  ApplyFont();
}

void CStaticText::SetBold(bool bold) {
  bold_ = bold;
  ApplyFont();
}

void CStaticText::SetUnderline(bool underline) {
  underline_ = underline;
  ApplyFont();
}

void CStaticText::SetAligns(UINT align) {
  align_ = align;
  update();
}

void CStaticText::SetTextColor(COLORREF colour) {
  colour_ = colour;
  update();
}

void CStaticText::SetHoverCursor(HCURSOR cursor) {
  // A cursor handle carries the Qt shape number (see LoadCursorA).
  if (cursor)
    setCursor(QCursor(static_cast<Qt::CursorShape>(reinterpret_cast<std::uintptr_t>(cursor) - 1)));
  else
    unsetCursor();
}

void CStaticText::SetTransparent(bool transparent) {
  transparent_ = transparent;
  update();
}

void CStaticText::SetNotify(bool notify) {
  notify_ = notify;
  setAttribute(Qt::WA_TransparentForMouseEvents, !notify);
}

void CStaticText::SetWindowText(const std::string& text) {
  text_ = QString::fromStdString(text);
  update();
}

std::string CStaticText::GetWindowText() const { return text_.toStdString(); }

void CStaticText::ApplyFont() {
  QFont f = font();
  if (fontHeight_ > 0) f.setPixelSize(static_cast<int>(fontHeight_));
  f.setBold(bold_);
  f.setUnderline(underline_);
  setFont(f);
  update();
}

void CStaticText::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!transparent_) painter.fillRect(rect(), palette().window());
  painter.setPen(QColor(GetRValue(colour_), GetGValue(colour_), GetBValue(colour_)));
  int flags = Qt::AlignVCenter | Qt::TextSingleLine;
  flags |= align_ == kAlignCenter ? Qt::AlignHCenter : align_ == kAlignRight ? Qt::AlignRight : Qt::AlignLeft;
  // Static controls clip their text at the control's edge, as the template
  // rectangles expect.
  painter.drawText(rect(), flags, text_);
}

void CStaticText::mousePressEvent(QMouseEvent* event) {
  if (notify_ && event->button() == Qt::LeftButton) {
    pressed_ = true;
    return;
  }
  QWidget::mousePressEvent(event);
}

void CStaticText::mouseReleaseEvent(QMouseEvent* event) {
  if (pressed_ && event->button() == Qt::LeftButton) {
    pressed_ = false;
    if (rect().contains(event->position().toPoint())) {
      if (auto* dialog = dynamic_cast<CImageDialog*>(window())) dialog->OnCommand(objectName().toUInt());
    }
    return;
  }
  QWidget::mouseReleaseEvent(event);
}
