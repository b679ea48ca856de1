// CImageButtonX on Windows: an owner-drawn button of the template. The
// system's button keeps the behaviour (capture, Space, BM_CLICK, BN_CLICKED);
// the faces, the text and the focus mark are drawn here.
#include <algorithm>

#include "platform/visual/ImageButtonX.h"
#include "platform/visual/Resources.h"

CImageButtonX::CImageButtonX(CParentWindow) {}

CImageButtonX::~CImageButtonX() = default;

static int SetFace(std::shared_ptr<const CPngImage>& face, UINT id, CWnd& button) {
  auto image = LoadImageResource(id);
  if (!image) return 0;
  face = std::move(image);
  button.Invalidate();
  return 1;
}

int CImageButtonX::SetNormalImage(UINT id, HINSTANCE) { return SetFace(faces_[kNormal], id, *this); }
int CImageButtonX::SetOverImage(UINT id, HINSTANCE) { return SetFace(faces_[kHovered], id, *this); }
int CImageButtonX::SetSelectImage(UINT id, HINSTANCE) { return SetFace(faces_[kPressed], id, *this); }

void CImageButtonX::SetShowText(bool show) {
  showText_ = show;
  Invalidate();
}

void CImageButtonX::SetTextColor(int state, COLORREF colour) {
  if (state >= kNormal && state <= kPressed) colours_[state] = colour;
  Invalidate();
}

COLORREF CImageButtonX::TextColor(int state) const {
  return state >= kNormal && state <= kPressed ? colours_[state] : 0;
}

void CImageButtonX::SetWindowText(const std::string& text) {
  text_ = text;
  if (m_hWnd != nullptr) SetWindowTextW(m_hWnd, Utf8ToWide(text).c_str());
}

std::string CImageButtonX::GetWindowText() const { return text_; }

int CImageButtonX::CurrentState() const {
  if (m_hWnd != nullptr && (SendMessageW(m_hWnd, BM_GETSTATE, 0, 0) & BST_PUSHED)) return kPressed;
  if (hovered_) return kHovered;
  return kNormal;
}

void CImageButtonX::Draw(HDC dc, int width, int height) {
  const int state = CurrentState();
  const CPngImage* face = faces_[state] ? faces_[state].get() : faces_[kNormal].get();
  RECT faceRect{0, 0, width, height};
  if (face != nullptr) {
    // The face keeps its drawn size, centred in the control's rectangle; a
    // smaller control scales it down, keeping its proportions.
    int w = face->Width(), h = face->Height();
    if (w > width || h > height) {
      const double scale = std::min(static_cast<double>(width) / w, static_cast<double>(height) / h);
      w = static_cast<int>(w * scale);
      h = static_cast<int>(h * scale);
    }
    faceRect = RECT{(width - w) / 2, (height - h) / 2, (width - w) / 2 + w, (height - h) / 2 + h};
    face->Draw(dc, faceRect.left, faceRect.top, w, h);
  }
  if (showText_ && !text_.empty()) {
    HGDIOBJ oldFont = font_ != nullptr ? SelectObject(dc, font_) : nullptr;
    ::SetTextColor(dc, colours_[state]);
    ::SetBkMode(dc, TRANSPARENT);
    RECT area{0, 0, width, height};
    const std::wstring text = Utf8ToWide(text_);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (oldFont != nullptr) SelectObject(dc, oldFont);
  }
  if (m_hWnd != nullptr && GetFocus() == m_hWnd) PaintFocusMark(dc, faceRect, face);
}

// The keyboard's place: a dashed rounded frame just inside the face, as the
// skin's rounded buttons are drawn, in the skin's blue on a light face and in
// white on a dark one, so that it shows on every face.
void CImageButtonX::PaintFocusMark(HDC dc, const RECT& face, const CPngImage* image) {
  COLORREF middle = RGB(255, 255, 255);
  if (image != nullptr) middle = image->PixelAt(image->Width() / 2, image->Height() / 2);
  const int high = std::max({GetRValue(middle), GetGValue(middle), GetBValue(middle)});
  const int low = std::min({GetRValue(middle), GetGValue(middle), GetBValue(middle)});
  const COLORREF mark = (high + low) / 2 > 160 ? RGB(0x1E, 0x78, 0xD7) : RGB(255, 255, 255);
  LOGBRUSH brush{BS_SOLID, mark, 0};
  HPEN pen = ExtCreatePen(PS_COSMETIC | PS_DASH, 1, &brush, 0, nullptr);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  RoundRect(dc, face.left + 3, face.top + 3, face.right - 3, face.bottom - 3, 8, 8);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pen);
}

LRESULT CImageButtonX::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_MOUSEMOVE:
      if (!hovered_) {
        hovered_ = true;
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
        TrackMouseEvent(&track);
        Invalidate();
      }
      break;
    case WM_MOUSELEAVE:
      hovered_ = false;
      Invalidate();
      break;
    case WM_ERASEBKGND:
      // The dialog's WM_DRAWITEM paints the whole control, background included.
      return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      focusBeforePress_ = GetFocus();
      break;
    case WM_LBUTTONUP: {
      // As on the other systems, only the keyboard moves the focus (and its
      // mark) to a button: a click gives it back once it is over. Not
      // before: the system's button drops a press that loses the focus.
      HWND before = focusBeforePress_;
      focusBeforePress_ = nullptr;
      HWND self = m_hWnd;
      const LRESULT result = Default(msg, wParam, lParam);
      if (IsWindow(self) && GetFocus() == self && before != self) {
        HWND back = before != nullptr && IsWindow(before) ? before : GetParent(self);
        SetFocus(back);
        InvalidateRect(self, nullptr, FALSE);
      }
      return result;
    }
    default:
      break;
  }
  return Default(msg, wParam, lParam);
}
