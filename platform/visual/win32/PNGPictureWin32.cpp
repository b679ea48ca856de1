// CPNGPicture, CPillar and CProgressBar on Windows: "Static" controls of the
// template that paint themselves.
#include <algorithm>

#include "platform/visual/PNGPicture.h"
#include "platform/visual/ProgressBar.h"

#include <commctrl.h>

namespace {

// The painting the three share: the dialog's background under the control,
// then its content, copied at once.
class CPaintedStatic {
 public:
  static bool Handle(CWnd& control, HWND window, UINT msg, WPARAM wParam, LRESULT& result,
                     void (CWnd::*paint)(HDC)) {
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        (control.*paint)(dc);
        EndPaint(window, &ps);
        result = 0;
        return true;
      }
      case WM_PRINTCLIENT:
        (control.*paint)(reinterpret_cast<HDC>(wParam));
        result = 0;
        return true;
      case WM_ERASEBKGND:
        result = 1;
        return true;
      case WM_SETTEXT:
      case WM_SETFONT:
      case WM_ENABLE:
        result = 0;
        return true;
      default:
        return false;
    }
  }
};

}  // namespace

CPNGPicture::CPNGPicture(CParentWindow) {}

CPNGPicture::~CPNGPicture() = default;

int CPNGPicture::SetPicture(UINT id, HINSTANCE) {
  image_ = LoadImageResource(id);
  id_ = image_ ? id : 0;
  if (image_ && m_hWnd != nullptr)
    SetWindowPos(m_hWnd, nullptr, 0, 0, image_->Width(), image_->Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Invalidate();
  return id_ != 0 ? 1 : 0;
}

void CPNGPicture::Draw(HDC dc, int, int) {
  if (image_) image_->Draw(dc, 0, 0, image_->Width(), image_->Height());
}

LRESULT CPNGPicture::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (CPaintedStatic::Handle(*this, m_hWnd, msg, wParam, result, &CPNGPicture::PaintComposed)) return result;
  return Default(msg, wParam, lParam);
}

CPillar::CPillar(CParentWindow) {}

CPillar::~CPillar() = default;

void CPillar::SetRange(unsigned long low, unsigned long high) {
  low_ = low;
  high_ = high;
  Invalidate();
}

void CPillar::SetProgress(unsigned long position) {
  position_ = position;
  Invalidate();
}

int CPillar::Width() const {
  RECT client{0, 0, 0, 0};
  if (m_hWnd != nullptr) GetClientRect(m_hWnd, &client);
  return client.right;
}

int CPillar::FilledWidth() const {
  if (high_ <= low_ || position_ <= low_) return 0;
  const unsigned long done = std::min(position_, high_) - low_;
  return static_cast<int>(static_cast<unsigned long long>(Width()) * done / (high_ - low_));
}

void CPillar::Draw(HDC dc, int width, int height) {
  HBRUSH track = CreateSolidBrush(RGB(0xE0, 0xE0, 0xE0));
  HBRUSH filled = CreateSolidBrush(RGB(0x4C, 0xB8, 0x48));
  RECT all{0, 0, width, height};
  FillRect(dc, &all, track);
  RECT part{0, 0, FilledWidth(), height};
  FillRect(dc, &part, filled);
  DeleteObject(track);
  DeleteObject(filled);
}

LRESULT CPillar::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  // The system's progress bar's questions, so that other programs (a screen
  // reader, a test) read the bar as they read the system's own. PBM_GETRANGE
  // answers by its result only: lParam may come from another process.
  if (msg == PBM_GETPOS) return static_cast<LRESULT>(position_);
  if (msg == PBM_GETRANGE) return static_cast<LRESULT>(wParam ? low_ : high_);
  LRESULT result = 0;
  if (CPaintedStatic::Handle(*this, m_hWnd, msg, wParam, result, &CPillar::PaintComposed)) return result;
  return Default(msg, wParam, lParam);
}

CProgressBar::CProgressBar(CParentWindow parent) : CPillar(parent) {}

CProgressBar::~CProgressBar() = default;

void CProgressBar::SetBmpResource(UINT track, UINT left, UINT middle, UINT right, HINSTANCE) {
  track_ = LoadImageResource(track);
  left_ = LoadImageResource(left);
  middle_ = LoadImageResource(middle);
  right_ = LoadImageResource(right);
  Invalidate();
}

void CProgressBar::Draw(HDC dc, int width, int height) {
  if (!track_ || !left_ || !middle_ || !right_) return CPillar::Draw(dc, width, height);
  track_->Draw(dc, 0, 0, width, height);
  const int filled = FilledWidth();
  if (filled <= 0) return;
  // The ends keep their rounded shape; a part too short for both ends shows
  // as much of each end as fits, split evenly.
  const int ends = left_->Width() + right_->Width();
  const int leftWidth = filled >= ends ? left_->Width() : filled / 2;
  const int rightWidth = filled >= ends ? right_->Width() : filled - leftWidth;
  left_->DrawPart(dc, RECT{0, 0, leftWidth, height}, RECT{0, 0, leftWidth, left_->Height()});
  // The middle is tiled at its own size.
  for (int x = leftWidth; x < filled - rightWidth; x += middle_->Width()) {
    const int w = std::min(middle_->Width(), filled - rightWidth - x);
    const int h = std::min(middle_->Height(), height);
    middle_->DrawPart(dc, RECT{x, 0, x + w, h}, RECT{0, 0, w, h});
  }
  right_->DrawPart(dc, RECT{filled - rightWidth, 0, filled, height},
                   RECT{right_->Width() - rightWidth, 0, right_->Width(), right_->Height()});
}
