// An in-process window: a message handler owned by one thread, reached from
// any thread through SendMessageA and PostMessageA.
//
// The owner thread runs the handler when it pumps (PumpMessages), or, when a
// GUI toolkit owns the thread, whenever WakeOwner has asked the toolkit to call
// PumpMessages on it. Destroy makes the window refuse messages at once and
// releases every sender still waiting, so no thread ever waits on a window
// that is gone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win32/Window.h"

class CMessageWindow : public CWindowTarget, public std::enable_shared_from_this<CMessageWindow> {
 public:
  using Handler = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;

  // The constructing thread becomes the owner.
  explicit CMessageWindow(Handler handler);
  ~CMessageWindow() override;

  // Creates a window and gives it a handle.
  static std::shared_ptr<CMessageWindow> Create(Handler handler);

  // Gives the window a handle in the window table (once; later calls return
  // the same handle). The object must be held by a shared_ptr.
  HWND Register();
  HWND Handle() const;

  // From the owner thread: runs the handler at once. From any other thread:
  // queues the message, wakes the owner and waits until the handler has run
  // there; returns 0 without running it when the window is (or gets) destroyed.
  LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // Queues the message for the owner. False once the window is destroyed.
  bool Post(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // Owner thread only: runs the handler for every queued message, in arrival
  // order, and returns how many ran. Messages that arrive while it runs are
  // handled too.
  int PumpMessages();

  // Owner thread only: waits until a message is queued, the window is
  // destroyed or the time is up. True when a message is waiting.
  bool WaitForMessage(std::chrono::milliseconds timeout);

  // Any thread: removes the handle, refuses further messages, drops the queue
  // and wakes every waiting sender (their Send returns 0). The handler is not
  // called again once Destroy has returned, except by a pump already under way
  // on the owner thread, which stops after its current message.
  void Destroy();
  bool IsDestroyed() const;

 protected:
  // Called after a message was queued, from the sending thread, with no lock
  // held. A GUI adapter overrides it to schedule PumpMessages on the owner's
  // event loop; the default does nothing (the owner waits in WaitForMessage).
  virtual void WakeOwner() {}

 private:
  struct Message;

  Handler handler_;
  const std::thread::id owner_;
  mutable std::mutex mutex_;
  std::condition_variable queued_;   // owner waits: a message arrived
  std::condition_variable handled_;  // senders wait: their message ran
  std::deque<std::shared_ptr<Message>> queue_;
  std::shared_ptr<Message> current_;  // being handled by the owner
  bool destroyed_ = false;
  HWND handle_ = nullptr;
};
