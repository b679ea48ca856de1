#include "platform/win32/MessageWindow.h"

#include "platform/core_guard.h"

struct CMessageWindow::Message {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  bool sent;          // a sender waits for the result
  bool done = false;  // handler ran, or the window was destroyed
  LRESULT result = 0;
};

CMessageWindow::CMessageWindow(Handler handler) : handler_(std::move(handler)), owner_(std::this_thread::get_id()) {}

// The table holds a reference while the window is registered, so by now the
// handle is gone (or the table itself is being torn down at exit): only the
// waiting senders are left to release.
CMessageWindow::~CMessageWindow() {
  {
    std::lock_guard lock(mutex_);
    handle_ = nullptr;
  }
  Destroy();
}

std::shared_ptr<CMessageWindow> CMessageWindow::Create(Handler handler) {
  auto window = std::make_shared<CMessageWindow>(std::move(handler));
  window->Register();
  return window;
}

HWND CMessageWindow::Register() {
  {
    std::lock_guard lock(mutex_);
    if (handle_ != nullptr || destroyed_) return handle_;
  }
  HWND handle = RegisterWindow(shared_from_this());
  std::lock_guard lock(mutex_);
  handle_ = handle;
  return handle_;
}

HWND CMessageWindow::Handle() const {
  std::lock_guard lock(mutex_);
  return handle_;
}

LRESULT CMessageWindow::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (std::this_thread::get_id() == owner_) {
    if (IsDestroyed()) return 0;
    return handler_ ? handler_(msg, wParam, lParam) : 0;
  }
  auto message = std::make_shared<Message>(Message{msg, wParam, lParam, true});
  {
    std::lock_guard lock(mutex_);
    if (destroyed_) return 0;
    queue_.push_back(message);
  }
  queued_.notify_all();
  WakeOwner();
  std::unique_lock lock(mutex_);
  handled_.wait(lock, [&] { return message->done; });
  return message->result;
}

bool CMessageWindow::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(mutex_);
    if (destroyed_) return false;
    queue_.push_back(std::make_shared<Message>(Message{msg, wParam, lParam, false}));
  }
  queued_.notify_all();
  WakeOwner();
  return true;
}

int CMessageWindow::PumpMessages() {
  int handled = 0;
  for (;;) {
    std::shared_ptr<Message> message;
    {
      std::lock_guard lock(mutex_);
      if (destroyed_ || queue_.empty()) return handled;
      message = std::move(queue_.front());
      queue_.pop_front();
      current_ = message;
    }
    // The handler runs without the lock: it may send, post or destroy.
    const LRESULT result = handler_ ? handler_(message->msg, message->wParam, message->lParam) : 0;
    ++handled;
    {
      std::lock_guard lock(mutex_);
      current_.reset();
      if (message->done) continue;  // destroyed meanwhile: the sender already has 0
      message->result = result;
      message->done = true;
    }
    if (message->sent) handled_.notify_all();
  }
}

bool CMessageWindow::WaitForMessage(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  queued_.wait_for(lock, timeout, [&] { return destroyed_ || !queue_.empty(); });
  return !destroyed_ && !queue_.empty();
}

void CMessageWindow::Destroy() {
  HWND handle;
  {
    std::lock_guard lock(mutex_);
    if (destroyed_) return;
    destroyed_ = true;
    handle = handle_;
    // Senders whose message is queued or being handled get 0 now; a result
    // the handler produces later is dropped.
    for (auto& message : queue_) message->done = true;
    queue_.clear();
    if (current_) current_->done = true;
  }
  handled_.notify_all();
  queued_.notify_all();
  if (handle != nullptr) UnregisterWindow(handle);
}

bool CMessageWindow::IsDestroyed() const {
  std::lock_guard lock(mutex_);
  return destroyed_;
}
