// CStaticText on Windows: a "Static" control of the template whose painting
// is its own, straight on the dialog's background.
#include "platform/visual/Resources.h"
#include "platform/visual/StaticText.h"

CStaticText::CStaticText(CParentWindow) {}

CStaticText::~CStaticText() {
  if (font_ != nullptr) DeleteObject(font_);
}

void CStaticText::SetBaseFont(const std::string& faceName, int pixelHeight) {
  faceName_ = faceName;
  baseHeight_ = pixelHeight;
  ApplyFont();
}

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
  Invalidate();
}

void CStaticText::SetTextColor(COLORREF colour) {
  colour_ = colour;
  Invalidate();
}

void CStaticText::SetHoverCursor(HCURSOR cursor) { cursor_ = cursor; }

void CStaticText::SetTransparent(bool transparent) {
  transparent_ = transparent;
  Invalidate();
}

void CStaticText::SetNotify(bool notify) {
  notify_ = notify;
  if (m_hWnd == nullptr) return;
  // Without SS_NOTIFY a static is transparent to the pointer (HTTRANSPARENT),
  // so the dialog under it receives the press and drags.
  const LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, notify ? style | SS_NOTIFY : style & ~static_cast<LONG_PTR>(SS_NOTIFY));
}

void CStaticText::SetWindowText(const std::string& text) {
  text_ = text;
  if (m_hWnd == nullptr) return;
  // The window keeps the text too, for other programs that read it.
  DefWindowProcW(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Utf8ToWide(text).c_str()));
  Invalidate();
}

std::string CStaticText::GetWindowText() const { return text_; }

void CStaticText::ApplyFont() {
  if (font_ != nullptr) DeleteObject(font_);
  font_ = CreateTemplateFont(faceName_, fontHeight_ > 0 ? static_cast<int>(fontHeight_) : baseHeight_, bold_,
                             underline_);
  Invalidate();
}

void CStaticText::Draw(HDC dc, int width, int height) {
  RECT area{0, 0, width, height};
  if (!transparent_) FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
  if (text_.empty()) return;
  HGDIOBJ oldFont = font_ != nullptr ? SelectObject(dc, font_) : nullptr;
  ::SetTextColor(dc, colour_);
  ::SetBkMode(dc, TRANSPARENT);
  UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
  format |= align_ == kAlignCenter ? DT_CENTER : align_ == kAlignRight ? DT_RIGHT : DT_LEFT;
  // Clipped at the control's edge, as the template rectangles expect.
  std::wstring text = Utf8ToWide(text_);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, format);
  if (oldFont != nullptr) SelectObject(dc, oldFont);
}

LRESULT CStaticText::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(m_hWnd, &paint);
      PaintComposed(dc);
      EndPaint(m_hWnd, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintComposed(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    // The system's static paints at once on these, over the skin.
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcW(m_hWnd, msg, wParam, lParam);
      text_ = WideToUtf8(lParam != 0 ? reinterpret_cast<const wchar_t*>(lParam) : L"");
      Invalidate();
      return result;
    }
    case WM_SETFONT:
    case WM_ENABLE:
      return 0;
    case WM_SETCURSOR:
      if (cursor_ != nullptr) {
        SetCursor(cursor_);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return Default(msg, wParam, lParam);
}
