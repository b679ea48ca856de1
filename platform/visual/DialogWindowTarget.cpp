#include "platform/visual/DialogWindowTarget.h"

#include <QCoreApplication>
#include <QMetaObject>

CDialogWindowTarget::CDialogWindowTarget(Handler handler) : CMessageWindow(std::move(handler)) {}

// Called on the sending thread. The pump is queued to the application object,
// which outlives every dialog, and holds the window only weakly: a window
// destroyed meanwhile is simply not pumped.
void CDialogWindowTarget::WakeOwner() {
  std::weak_ptr<CMessageWindow> window = weak_from_this();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [window] {
        if (auto alive = window.lock()) alive->PumpMessages();
      },
      Qt::QueuedConnection);
}

HWND RegisterDialogWindow(CDialogWindowTarget::Handler handler, std::shared_ptr<CDialogWindowTarget>& target) {
  target = std::make_shared<CDialogWindowTarget>(std::move(handler));
  return target->Register();
}

void UnregisterDialogWindow(std::shared_ptr<CDialogWindowTarget>& target) {
  if (target) target->Destroy();
  target.reset();
}
