// What start-up calls to show the dialogs.
#pragma once

#include "silent/SilentUpdate.h"

// Runs the update dialog for update type and module name and returns 0 when
// it ran. Without a display it says so on stderr and returns 1.
int RunUpdateDialog(int updateType, const std::string& moduleName);

// Shows the notification window and returns its answer: 6 (upgrade now) or 7
// (anything else); 7 at once when there is no display; kNotifyTimedOut when
// nobody answered within request.timeLimitSeconds.
int ShowUpdateNotification(const NotifyRequest& request);

// The notifier for the silent program update: ShowUpdateNotification when a
// display is available, otherwise none (the run then takes "later" itself).
NotifyFunction NotificationWindowNotifier();
