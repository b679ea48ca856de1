// The window behind a dialog's handle: an in-process message window
// (platform/win32/MessageWindow.h) whose owner is the GUI thread and whose
// queue is pumped by Qt's event loop.
//
// Send from the GUI thread runs the handler at once. Send from any other
// thread queues the message, has the event loop pump it, and waits until the
// handler has run or the window is destroyed, whichever comes first. Post
// queues and never waits. After Destroy no handler runs again and every
// waiting sender returns 0 at once.
#pragma once

#include "platform/win32/MessageWindow.h"

class CDialogWindowTarget : public CMessageWindow {
 public:
  // Call on the GUI thread, with a QCoreApplication running.
  explicit CDialogWindowTarget(Handler handler);

 protected:
  void WakeOwner() override;
};

// Creates and registers the window for a dialog; UnregisterDialogWindow
// destroys it (removing the handle and releasing waiting senders).
HWND RegisterDialogWindow(CDialogWindowTarget::Handler handler, std::shared_ptr<CDialogWindowTarget>& target);
void UnregisterDialogWindow(std::shared_ptr<CDialogWindowTarget>& target);
