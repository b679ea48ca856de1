// Loads the dialog module beside the program on first use. Loading it brings
// in Qt, which costs more than a whole silent run that finds nothing to do, so
// only a dialog that is actually shown loads it.
#pragma once

#include <string>

#include "silent/SilentUpdate.h"

// Runs the update dialog from the module; when the module cannot be loaded,
// says why on stderr and returns 2.
int RunUpdateDialogFromModule(int updateType, const std::string& moduleName);

// A notifier for the silent program update that loads the module when the
// window is wanted; without the module the answer is 7 (later).
NotifyFunction NotifierFromModule();
