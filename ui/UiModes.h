// What start-up calls to show the dialogs.
#pragma once

#include "silent/SilentUpdate.h"

// Runs the update dialog for update type and module name and returns 0 when
// it ran. Without a display it says so on stderr and returns 1.
int RunUpdateDialog(int updateType, const std::string& moduleName);

// The silent program update's notifier: shows the notification window and
// returns its answer (6 or 7); 7 at once when there is no display.
int ShowUpdateNotification(const NotifyRequest& request);
