#include "platform/visual/DialogWindowTarget.h"

#include <QMetaObject>

struct CDialogWindowTarget::Call {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
};

CDialogWindowTarget::CDialogWindowTarget(QObject* context, Handler handler)
    : context_(context), guiThread_(std::this_thread::get_id()), handler_(std::move(handler)) {}

CDialogWindowTarget::~CDialogWindowTarget() = default;

bool CDialogWindowTarget::IsClosed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

void CDialogWindowTarget::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  finished_.notify_all();
}

// GUI thread. closed_ is only ever set on this thread, so a handler that starts
// here cannot meet a dialog that is being torn down.
void CDialogWindowTarget::Run(const std::shared_ptr<Call>& call) {
  LRESULT result = 0;
  if (!IsClosed()) result = handler_(call->msg, call->wParam, call->lParam);
  {
    std::lock_guard lock(mutex_);
    call->result = result;
    call->done = true;
  }
  finished_.notify_all();
}

LRESULT CDialogWindowTarget::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (std::this_thread::get_id() == guiThread_) return IsClosed() ? 0 : handler_(msg, wParam, lParam);

  auto call = std::make_shared<Call>(Call{msg, wParam, lParam});
  if (!Queue(call)) return 0;
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return call->done || closed_; });
  return call->done ? call->result : 0;
}

bool CDialogWindowTarget::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
  return Queue(std::make_shared<Call>(Call{msg, wParam, lParam}));
}

// Queued under the lock: Close takes it too, so once Close has returned no
// thread can still be posting to the context object, which may then go.
bool CDialogWindowTarget::Queue(const std::shared_ptr<Call>& call) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  auto self = shared_from_this();
  return QMetaObject::invokeMethod(
      context_, [self, call] { self->Run(call); }, Qt::QueuedConnection);
}

HWND RegisterDialogWindow(QObject* context, CDialogWindowTarget::Handler handler,
                          std::shared_ptr<CDialogWindowTarget>& target) {
  target = std::make_shared<CDialogWindowTarget>(context, std::move(handler));
  return RegisterWindow(target);
}

void UnregisterDialogWindow(HWND window, std::shared_ptr<CDialogWindowTarget>& target) {
  // Closed first: a sender that found the handle just before it went away
  // still holds the target and must not wait for a handler that never runs.
  if (target) target->Close();
  if (window) UnregisterWindow(window);
  target.reset();
}
