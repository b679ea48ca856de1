// The bridge between the core's window handles (platform/win32/Window.h) and a
// Qt dialog living on the GUI thread.
//
// Send from the GUI thread runs the handler at once. Send from any other
// thread queues the call to the GUI thread and waits until the handler has run
// or the window is closed, whichever comes first. Post queues the call and
// never waits. After Close no handler runs again and every waiting sender
// returns 0 at once.
#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win32/Window.h"

class CDialogWindowTarget : public CWindowTarget, public std::enable_shared_from_this<CDialogWindowTarget> {
 public:
  using Handler = std::function<LRESULT(UINT, WPARAM, LPARAM)>;

  // context lives on the GUI thread, the thread calling this constructor;
  // handler runs there only.
  CDialogWindowTarget(QObject* context, Handler handler);
  ~CDialogWindowTarget() override;

  LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool Post(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // GUI thread only. Stops accepting messages and wakes waiting senders.
  void Close();
  bool IsClosed() const;

 private:
  struct Call;
  void Run(const std::shared_ptr<Call>& call);
  bool Queue(const std::shared_ptr<Call>& call);

  QObject* context_;
  std::thread::id guiThread_;
  Handler handler_;
  mutable std::mutex mutex_;
  std::condition_variable finished_;
  bool closed_ = false;
};

// Registers a target for context and gives its handle; UnregisterDialogWindow
// closes the target and removes the handle.
HWND RegisterDialogWindow(QObject* context, CDialogWindowTarget::Handler handler,
                          std::shared_ptr<CDialogWindowTarget>& target);
void UnregisterDialogWindow(HWND window, std::shared_ptr<CDialogWindowTarget>& target);
