// Entry points of the dialog module "ZOLTUpdateUI.so" ("ZOLTUpdateUI.dll" on
// Windows), which lies beside the program. Start-up looks them up by name (see
// app/UiLoader.h).
#pragma once

#if defined(_WIN32)
#define ZOLT_UI_EXPORT __declspec(dllexport)
#else
#define ZOLT_UI_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Runs the update dialog: 0 up to date or installed, 1 a failure or no
// display (said on stderr), kUiDeclined or kUiCancelled when the user closed
// it with an update on offer or under way (logged); nothing is installed then.
using ZoltUiRunUpdateDialogFunction = int (*)(int updateType, const char* moduleName);
ZOLT_UI_EXPORT int ZoltUiRunUpdateDialog(int updateType, const char* moduleName);

// Shows the notification window: 6 (upgrade now) or 7; 7 at once without a
// display; 8 (kNotifyTimedOut, counted as 7) when nobody answered within
// timeLimitSeconds (0: no limit).
using ZoltUiShowNotificationFunction = int (*)(const char* currentVersion, const char* newVersion,
                                               const char* webSiteUrl, int timeLimitSeconds);
ZOLT_UI_EXPORT int ZoltUiShowNotification(const char* currentVersion, const char* newVersion, const char* webSiteUrl,
                                          int timeLimitSeconds);
}

#if defined(_WIN32)
inline constexpr const char* kUiModuleName = "ZOLTUpdateUI.dll";
#else
inline constexpr const char* kUiModuleName = "ZOLTUpdateUI.so";
#endif
inline constexpr int kUiDeclined = 4;
inline constexpr int kUiCancelled = 5;
