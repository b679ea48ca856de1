// The dialog base on Windows: a dialog created from the template resource
// of the module, its controls bound to members and painted from the skin's
// images, run by a loop of its own that gives the keyboard the dialogs' rules.
#include "platform/visual/ImageDialog.h"

#include "platform/visual/ImageButtonX.h"
#include "platform/visual/Resources.h"
#include "platform/visual/StaticText.h"

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  CImageDialog* dialog = pDX->m_pDlgWnd;
  if (dialog->creating_) dialog->bound_[id] = &control;
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  CImageDialog* dialog = pDX->m_pDlgWnd;
  if (dialog->creating_) {
    // The controls are not bound yet: the text follows once they are.
    dialog->pendingTexts_.emplace_back(id, &value);
    return;
  }
  auto it = dialog->controls_.find(id);
  if (it == dialog->controls_.end()) return;
  if (pDX->m_bSaveAndValidate)
    value = it->second->GetWindowText();
  else
    it->second->SetWindowText(value);
}

INT_PTR CALLBACK ImageDialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  CImageDialog* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CImageDialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    SetPropW(window, L"ZOLT.CWnd", static_cast<CWnd*>(self));
    self->m_hWnd = window;
    self->hwnd_ = window;
    self->acceptingMessages_ = true;
    self->OnInitDialog();
    // A dialog that did not place itself opens in the middle of the work
    // area, as a parentless dialog does on the other systems (the template
    // alone would put it in the screen's top left corner).
    RECT work, frame;
    if (!self->placed_ && SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) && ::GetWindowRect(window, &frame))
      ::SetWindowPos(window, nullptr, work.left + (work.right - work.left - (frame.right - frame.left)) / 2,
                     work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // No control takes the focus yet: the focus mark appears once the
    // keyboard moves to a button, as on the other systems.
    return FALSE;
  }
  self = reinterpret_cast<CImageDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  LRESULT result = 0;
  if (!self->HandleWindowMessage(msg, wParam, lParam, result)) return FALSE;
  // These return their answer directly; all others through DWLP_MSGRESULT.
  if (msg == WM_CTLCOLORBTN || msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORDLG) return result;
  SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

CImageDialog::CImageDialog(UINT templateId, CParentWindow) : templateId_(templateId) {}

CImageDialog::~CImageDialog() {
  DestroyWindowTarget();
  if (m_hWnd != nullptr) {
    HWND window = m_hWnd;
    SetWindowLongPtrW(window, DWLP_USER, 0);
    RemovePropW(window, L"ZOLT.CWnd");
    m_hWnd = nullptr;
    DestroyWindow(window);
  }
  if (font_ != nullptr) DeleteObject(font_);
}

void CImageDialog::DestroyWindowTarget() {
  acceptingMessages_ = false;
  hwnd_ = nullptr;
  if (m_hWnd == nullptr) return;
  // Senders already waiting on this thread get their answer (0, unhandled)
  // now; later ones find the window refusing until CreateWindowTarget.
  MSG pending;
  PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void CImageDialog::CreateWindowTarget() {
  if (hwnd_ != nullptr || m_hWnd == nullptr) return;
  hwnd_ = m_hWnd;
  acceptingMessages_ = true;
}

bool CImageDialog::CreateControls() {
  DialogTemplate tmpl;
  if (!LoadDialogTemplateResource(templateId_, tmpl)) return false;
  template_ = tmpl.controls;
  fontName_ = tmpl.fontName;
  const CRect frame = DialogRectToPixels(0, 0, tmpl.width, tmpl.height);
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, frame.Width(), frame.Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  font_ = CreateTemplateFont(fontName_, DialogFontPixels(), false, false);

  creating_ = true;
  CDataExchange dx(this, false);
  DoDataExchange(&dx);
  creating_ = false;

  // The template's controls exist as windows, in template order.
  HWND child = GetWindow(m_hWnd, GW_CHILD);
  for (const auto& item : template_) {
    if (child == nullptr) break;
    HWND window = child;
    child = GetWindow(child, GW_HWNDNEXT);
    CWnd* control = nullptr;
    auto it = bound_.find(item.id);
    if (it != bound_.end()) {
      control = it->second;
    } else if (item.kind == DialogControlTemplate::Kind::Button) {
      auto button = std::make_unique<CImageButtonX>();
      button->SetShowText(true);
      control = button.get();
      ownedControls_.push_back(std::move(button));
    } else {
      auto text = std::make_unique<CStaticText>();
      CDC dc;
      const HBRUSH brush = OnCtlColor(&dc, text.get(), CTLCOLOR_STATIC);
      text->SetTextColor(dc.textColor);
      text->SetTransparent(dc.bkMode == TRANSPARENT || brush == static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
      control = text.get();
      ownedControls_.push_back(std::move(text));
    }
    control->Attach(window);
    // The layout is the template's in dialog units of 1.5 pixels, whatever
    // base units the system derives from the template font.
    const CRect place = DialogRectToPixels(item.x, item.y, item.width, item.height);
    ::SetWindowPos(window, nullptr, place.left, place.top, place.Width(), place.Height(),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (auto* text = dynamic_cast<CStaticText*>(control)) {
      text->SetBaseFont(fontName_, DialogFontPixels());
      text->SetNotify(item.notify);
    }
    if (auto* button = dynamic_cast<CImageButtonX*>(control)) button->SetFont(font_);
    control->SetWindowText(item.text);
    ::ShowWindow(window, item.visible ? SW_SHOWNA : SW_HIDE);
    if (item.id != -1) controls_[item.id] = control;
  }
  for (auto& [id, value] : pendingTexts_) {
    auto found = controls_.find(id);
    if (found != controls_.end()) found->second->SetWindowText(*value);
  }
  pendingTexts_.clear();
  created_ = true;
  return true;
}

BOOL CImageDialog::OnInitDialog() {
  if (!created_ && !CreateControls()) return FALSE;
  return TRUE;
}

void CImageDialog::DoDataExchange(CDataExchange*) {}

BOOL CImageDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate != FALSE);
  DoDataExchange(&dx);
  return TRUE;
}

HBRUSH CImageDialog::OnCtlColor(CDC*, CWnd*, UINT) { return nullptr; }

void CImageDialog::OnLButtonDown(UINT, CPoint) {}

// The system's timer on the dialog's window: WM_TIMER comes through the
// dialog's own message loop, and the window's end ends its timers.
UINT_PTR CImageDialog::SetTimer(UINT_PTR id, UINT elapseMs) {
  return m_hWnd != nullptr ? ::SetTimer(m_hWnd, id, elapseMs, nullptr) : 0;
}

BOOL CImageDialog::KillTimer(UINT_PTR id) { return m_hWnd != nullptr && ::KillTimer(m_hWnd, id) ? TRUE : FALSE; }

void CImageDialog::OnTimer(UINT_PTR) {}

BOOL CImageDialog::Create() {
  ended_ = false;
  result_ = 0;
  if (m_hWnd != nullptr) return TRUE;
  if (FindResourceW(VisualResourceModule(), MAKEINTRESOURCEW(templateId_), MAKEINTRESOURCEW(5)) == nullptr)
    return FALSE;
  HWND window = CreateDialogParamW(VisualResourceModule(), MAKEINTRESOURCEW(templateId_), nullptr, ImageDialogProc,
                                   reinterpret_cast<LPARAM>(this));
  if (window == nullptr) return FALSE;
  if (!ended_) {
    ::ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    UpdateWindow(window);
  }
  return TRUE;
}

INT_PTR CImageDialog::DoModal() {
  if (!Create()) return -1;
  MSG msg;
  while (!ended_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // A quit request ends the dialog and stays for the outer loop.
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      if (!ended_) EndDialog(IDCANCEL);
      break;
    }
    RouteMessage(msg);
  }
  DestroyWindowTarget();
  return result_;
}

void CImageDialog::RouteMessage(MSG& msg) {
  HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  auto* dialog = dynamic_cast<CImageDialog*>(CWnd::FromHandle(root));
  if (dialog != nullptr && dialog->m_hWnd != nullptr) {
    if (dialog->PreTranslateMessage(&msg)) return;
    if (IsDialogMessageW(dialog->m_hWnd, &msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void CImageDialog::EndDialog(INT_PTR result) {
  result_ = result;
  ended_ = true;
  moving_ = false;
  if (m_hWnd != nullptr) {
    ::ShowWindow(m_hWnd, SW_HIDE);
    // Wakes a modal loop waiting in GetMessage.
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
  }
}

int CImageDialog::SetBackPicture(int, UINT id, HINSTANCE, bool) {
  auto image = LoadImageResource(id);
  if (!image) return 0;
  background_ = std::move(image);
  if (m_hWnd != nullptr) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, background_->Width(), background_->Height(),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(m_hWnd, nullptr, TRUE);
  }
  return 1;
}

void CImageDialog::SetWindowText(const std::string& text) {
  title_ = text;
  if (m_hWnd != nullptr) SetWindowTextW(m_hWnd, Utf8ToWide(text).c_str());
}

std::string CImageDialog::GetWindowText() const { return title_; }

CWnd* CImageDialog::GetDlgItem(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void CImageDialog::RedrawWindow() {
  if (m_hWnd != nullptr)
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void CImageDialog::GetWindowRect(CRect* rect) const {
  if (m_hWnd == nullptr || !::GetWindowRect(m_hWnd, rect)) *rect = CRect();
}

BOOL CImageDialog::SetWindowPos(const CWnd*, int x, int y, int cx, int cy, UINT flags) {
  if (!(flags & SWP_NOMOVE)) placed_ = true;
  return m_hWnd != nullptr && ::SetWindowPos(m_hWnd, nullptr, x, y, cx, cy, flags | SWP_NOACTIVATE) ? TRUE : FALSE;
}

LRESULT CImageDialog::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return hwnd_ ? ::SendMessageA(hwnd_, msg, wParam, lParam) : WindowProc(msg, wParam, lParam);
}

BOOL CImageDialog::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return hwnd_ ? ::PostMessageA(hwnd_, msg, wParam, lParam) : FALSE;
}

void CImageDialog::MapClicked(UINT id, std::function<void()> handler) { commandMap_[id] = std::move(handler); }

void CImageDialog::MapMessage(UINT msg, std::function<LRESULT(WPARAM, LPARAM)> handler) {
  messageMap_[msg] = std::move(handler);
}

void CImageDialog::OnCommand(UINT id) {
  auto it = commandMap_.find(id);
  if (it != commandMap_.end()) {
    it->second();
    return;
  }
  // Escape (IsDialogMessage's IDCANCEL) closes a dialog that maps nothing
  // else to it.
  if (id == IDCANCEL) EndDialog(IDCANCEL);
}

LRESULT CImageDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = messageMap_.find(msg);
  if (it != messageMap_.end()) return acceptingMessages_ ? it->second(wParam, lParam) : 0;
  switch (msg) {
    case WM_COMMAND:
      // Clicks only: BN_CLICKED and STN_CLICKED are both 0.
      if (HIWORD(wParam) == 0) OnCommand(LOWORD(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      OnLButtonDown(static_cast<UINT>(wParam), CPoint{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_NCLBUTTONDOWN:
      // HTCAPTION: the system's own move loop, while the button is held.
      return m_hWnd != nullptr ? DefWindowProcW(m_hWnd, msg, wParam, lParam) : 0;
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wParam));
      return 0;
    default:
      return 0;
  }
}

bool CImageDialog::HandleWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (messageMap_.count(msg) != 0 || msg == WM_COMMAND || msg == WM_LBUTTONDOWN || msg == WM_TIMER) {
    result = WindowProc(msg, wParam, lParam);
    return true;
  }
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(m_hWnd, &client);
      DrawBackground(reinterpret_cast<HDC>(wParam), 0, 0, client.right, client.bottom);
      result = 1;
      return true;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(m_hWnd, &paint);
      if (paint.fErase) DrawBackground(paint.hdc, 0, 0, paint.rcPaint.right, paint.rcPaint.bottom);
      EndPaint(m_hWnd, &paint);
      result = 0;
      return true;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      CWnd* control = CWnd::FromHandle(item->hwndItem);
      if (control == nullptr) return false;
      const int width = item->rcItem.right - item->rcItem.left, height = item->rcItem.bottom - item->rcItem.top;
      HDC memory = CreateCompatibleDC(item->hDC);
      HBITMAP bitmap = CreateCompatibleBitmap(item->hDC, width, height);
      HGDIOBJ old = SelectObject(memory, bitmap);
      POINT origin{0, 0};
      MapWindowPoints(item->hwndItem, m_hWnd, &origin, 1);
      DrawBackground(memory, origin.x, origin.y, width, height);
      control->Draw(memory, width, height);
      BitBlt(item->hDC, item->rcItem.left, item->rcItem.top, width, height, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteObject(bitmap);
      DeleteDC(memory);
      result = TRUE;
      return true;
    }
    case WM_ACTIVATE:
      // Keeps the dialog manager from giving the first button the focus (and
      // its mark) on activation; the keyboard's Tab moves it into the buttons.
      if (LOWORD(wParam) != WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus == nullptr || !IsChild(m_hWnd, focus)) SetFocus(m_hWnd);
      }
      result = 0;
      return true;
    case WM_SETFOCUS:
      // The dialog manager would pass the focus on to the first button.
      result = 0;
      return true;
    case WM_CLOSE:
      EndDialog(IDCANCEL);
      result = 0;
      return true;
    default:
      return false;
  }
}

CWnd* CImageDialog::MainButton() const {
  for (const auto& item : template_) {
    CWnd* control = GetDlgItem(item.id);
    auto* button = dynamic_cast<CImageButtonX*>(control);
    if (button != nullptr && button->IsWindowVisible() && !button->GetWindowText().empty()) return button;
  }
  return nullptr;
}

bool CImageDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message != WM_KEYDOWN) return false;
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool other = GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
  if (other) return false;
  HWND focus = GetFocus();
  const bool inside = focus != nullptr && IsChild(m_hWnd, focus);
  if (msg->wParam == VK_TAB) {
    // From the dialog itself the first (or, backwards, the last) button.
    HWND next = GetNextDlgTabItem(m_hWnd, inside ? focus : nullptr, shift ? TRUE : FALSE);
    if (next != nullptr) {
      HWND old = focus;
      SetFocus(next);
      if (CWnd* previous = CWnd::FromHandle(old)) previous->Invalidate();
      if (CWnd* now = CWnd::FromHandle(next)) now->Invalidate();
    }
    return true;
  }
  if (msg->wParam == VK_RETURN && !shift) {
    auto* button = inside ? dynamic_cast<CImageButtonX*>(CWnd::FromHandle(focus)) : nullptr;
    if (button == nullptr || !button->IsWindowVisible()) button = dynamic_cast<CImageButtonX*>(MainButton());
    if (button != nullptr) ::SendMessageW(button->GetSafeHwnd(), BM_CLICK, 0, 0);
    return true;
  }
  return false;
}

void CImageDialog::DrawBackground(HDC dc, int x, int y, int width, int height) const {
  if (!background_) {
    RECT area{0, 0, width, height};
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  background_->Draw(dc, -x, -y, background_->Width(), background_->Height());
}

void CImageDialog::PrintClient(HDC dc) {
  if (m_hWnd == nullptr) return;
  RECT client;
  GetClientRect(m_hWnd, &client);
  DrawBackground(dc, 0, 0, client.right, client.bottom);
  // Bottom of the z-order first, so that what lies on top is drawn last.
  for (HWND child = GetWindow(m_hWnd, GW_CHILD) ? GetWindow(GetWindow(m_hWnd, GW_CHILD), GW_HWNDLAST) : nullptr;
       child != nullptr; child = GetWindow(child, GW_HWNDPREV)) {
    CWnd* control = CWnd::FromHandle(child);
    if (control == nullptr || !(GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE)) continue;
    RECT place;
    ::GetWindowRect(child, &place);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&place), 2);
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, place.left, place.top, place.right, place.bottom);
    SetViewportOrgEx(dc, place.left, place.top, nullptr);
    control->Draw(dc, place.right - place.left, place.bottom - place.top);
    RestoreDC(dc, saved);
  }
}
