#include "platform/visual/ImageDialog.h"

#include <algorithm>
#include <limits>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>

#include "platform/visual/DialogWindowTarget.h"
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
    // The controls do not exist yet: the text follows once they do.
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

CImageDialog::CImageDialog(UINT templateId, CParentWindow parent) : QDialog(parent), templateId_(templateId) {
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setAttribute(Qt::WA_TranslucentBackground, false);
}

CImageDialog::~CImageDialog() { DestroyWindowTarget(); }

void CImageDialog::DestroyWindowTarget() {
  UnregisterDialogWindow(target_);
  hwnd_ = nullptr;
}

void CImageDialog::CreateWindowTarget() {
  if (hwnd_) return;
  hwnd_ = RegisterDialogWindow(
      [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WindowProc(msg, wParam, lParam); }, target_);
}

bool CImageDialog::CreateControls() {
  const DialogTemplate* tmpl = FindDialogTemplate(templateId_);
  if (!tmpl) return false;
  const QFont dialogFont = TemplateFont(tmpl->fontName, 9);
  setFont(dialogFont);
  const QRect frame = DialogRectToPixels(0, 0, tmpl->width, tmpl->height);
  resize(frame.size());

  creating_ = true;
  CDataExchange dx(this, false);
  DoDataExchange(&dx);
  creating_ = false;

  for (const auto& item : tmpl->controls) {
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
      text->SetTransparent(dc.bkMode == TRANSPARENT || brush == GetStockObject(NULL_BRUSH));
      control = text.get();
      ownedControls_.push_back(std::move(text));
    }
    QWidget* widget = control->Widget();
    widget->setParent(this);
    widget->setObjectName(QString::number(item.id));
    widget->setFont(dialogFont);
    widget->setGeometry(DialogRectToPixels(item.x, item.y, item.width, item.height));
    control->SetWindowText(item.text);
    widget->setVisible(item.visible);
    if (auto* text = dynamic_cast<CStaticText*>(widget)) text->SetNotify(item.notify);
    if (auto* button = dynamic_cast<QAbstractButton*>(widget)) {
      const UINT id = static_cast<UINT>(item.id);
      connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
    }
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

UINT_PTR CImageDialog::SetTimer(UINT_PTR id, UINT elapseMs) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    // Never early, as the system's timers: a coarse one may fire 5% before.
    timer->setTimerType(Qt::PreciseTimer);
    // As WM_TIMER through the window procedure, so a dialog that maps the
    // message sees it as on Windows.
    connect(timer, &QTimer::timeout, this, [this, id] { WindowProc(WM_TIMER, id, 0); });
  }
  timer->start(static_cast<int>(std::min<UINT>(elapseMs, std::numeric_limits<int>::max())));
  return id;
}

BOOL CImageDialog::KillTimer(UINT_PTR id) {
  auto it = timers_.find(id);
  if (it == timers_.end() || !it->second->isActive()) return FALSE;
  // Kept, not deleted: this may run inside the timer's own signal.
  it->second->stop();
  return TRUE;
}

void CImageDialog::OnTimer(UINT_PTR) {}

BOOL CImageDialog::Create() {
  ended_ = false;
  result_ = 0;
  CreateWindowTarget();
  if (!FindDialogTemplate(templateId_)) return FALSE;
  OnInitDialog();
  if (!ended_) show();
  return TRUE;
}

INT_PTR CImageDialog::DoModal() {
  if (!Create()) return -1;
  // A dialog may end inside OnInitDialog; exec would show it again.
  if (!ended_) exec();
  DestroyWindowTarget();
  return result_;
}

void CImageDialog::EndDialog(INT_PTR result) {
  result_ = result;
  ended_ = true;
  moving_ = false;
  done(static_cast<int>(result));
}

void CImageDialog::reject() { EndDialog(IDCANCEL); }
void CImageDialog::accept() { EndDialog(IDOK); }

int CImageDialog::SetBackPicture(int, UINT id, HINSTANCE, bool) {
  QPixmap image = LoadImageResource(id);
  if (image.isNull()) return 0;
  background_ = std::move(image);
  setFixedSize(background_.size());
  update();
  return 1;
}

void CImageDialog::SetWindowText(const std::string& text) { setWindowTitle(QString::fromStdString(text)); }

std::string CImageDialog::GetWindowText() const { return windowTitle().toStdString(); }

CWnd* CImageDialog::GetDlgItem(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void CImageDialog::RedrawWindow() { repaint(); }

void CImageDialog::GetWindowRect(CRect* rect) const {
  const QRect frame = frameGeometry();
  *rect = CRect(frame.x(), frame.y(), frame.x() + frame.width(), frame.y() + frame.height());
}

BOOL CImageDialog::SetWindowPos(const CWnd*, int x, int y, int cx, int cy, UINT flags) {
  if (!(flags & SWP_NOMOVE)) move(x, y);
  if (!(flags & SWP_NOSIZE)) resize(cx, cy);
  return TRUE;
}

LRESULT CImageDialog::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return hwnd_ ? SendMessageA(hwnd_, msg, wParam, lParam) : WindowProc(msg, wParam, lParam);
}

BOOL CImageDialog::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return hwnd_ ? PostMessageA(hwnd_, msg, wParam, lParam) : FALSE;
}

void CImageDialog::MapClicked(UINT id, std::function<void()> handler) { commandMap_[id] = std::move(handler); }

void CImageDialog::MapMessage(UINT msg, std::function<LRESULT(WPARAM, LPARAM)> handler) {
  messageMap_[msg] = std::move(handler);
}

void CImageDialog::OnCommand(UINT id) {
  auto it = commandMap_.find(id);
  if (it != commandMap_.end()) it->second();
}

LRESULT CImageDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = messageMap_.find(msg);
  if (it != messageMap_.end()) return it->second(wParam, lParam);
  switch (msg) {
    case WM_COMMAND:
      OnCommand(static_cast<UINT>(wParam & 0xFFFF));
      return 0;
    case WM_LBUTTONDOWN:
      OnLButtonDown(static_cast<UINT>(wParam), CPoint{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_NCLBUTTONDOWN:
      if (wParam == HTCAPTION) BeginCaptionDrag();
      return 0;
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wParam));
      return 0;
    default:
      return 0;
  }
}

// The system moves the window when it can (a window manager is running);
// otherwise the window follows the pointer until the button is released.
void CImageDialog::BeginCaptionDrag() {
  if (!buttonDown_) return;
  moving_ = true;
  if (QWindow* handle = windowHandle(); handle && handle->startSystemMove()) moving_ = false;
}

void CImageDialog::paintEvent(QPaintEvent* event) {
  if (background_.isNull()) {
    QDialog::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, background_);
}

void CImageDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    buttonDown_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
    const QPoint p = event->position().toPoint();
    WindowProc(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x(), p.y()));
  }
  QDialog::mousePressEvent(event);
}

void CImageDialog::mouseMoveEvent(QMouseEvent* event) {
  if (moving_ && (event->buttons() & Qt::LeftButton)) move(event->globalPosition().toPoint() - dragOffset_);
  QDialog::mouseMoveEvent(event);
}

void CImageDialog::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() & ~Qt::KeypadModifier || (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)) {
    QDialog::keyPressEvent(event);
    return;
  }
  auto* button = qobject_cast<QAbstractButton*>(focusWidget());
  if (button == nullptr || !button->isVisible() || button->window() != this) {
    button = nullptr;
    const DialogTemplate* tmpl = FindDialogTemplate(templateId_);
    for (std::size_t i = 0; tmpl != nullptr && i < tmpl->controls.size() && button == nullptr; ++i) {
      CWnd* item = GetDlgItem(tmpl->controls[i].id);
      auto* candidate = item != nullptr ? qobject_cast<QAbstractButton*>(item->Widget()) : nullptr;
      if (candidate != nullptr && candidate->isVisible() && !candidate->text().isEmpty()) button = candidate;
    }
  }
  if (button != nullptr) button->click();
  event->accept();
}

void CImageDialog::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    buttonDown_ = false;
    moving_ = false;
  }
  QDialog::mouseReleaseEvent(event);
}
