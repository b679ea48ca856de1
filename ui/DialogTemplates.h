// The dialog templates and control IDs of the two dialogs.
#pragma once

#include "platform/visual/VisualTypes.h"

// windows.h names an obsolete cursor IDC_ICON; here it is the dialog's icon.
#ifdef IDC_ICON
#undef IDC_ICON
#endif

inline constexpr unsigned IDD_NOTIFY = 19520;
inline constexpr unsigned IDD_UPDATE = 19521;

inline constexpr int IDC_CLOSE = 19504;        // "关闭" (update), title close (notification)
inline constexpr int IDC_TITLE_CLOSE = 19505;  // title close (update)
inline constexpr int IDC_LATER = 19506;        // "下次升级 "
inline constexpr int IDC_UPGRADE_NOW = 19507;  // "立即升级" (notification)
inline constexpr int IDC_UPGRADE = 19508;      // "立即升级" (update)
inline constexpr int IDC_PROGRESS = 19509;
inline constexpr int IDC_CURRENT_VERSION = 19510;
inline constexpr int IDC_STATUS = 19511;
inline constexpr int IDC_UPDATABLE = 19512;  // "可更新，"
inline constexpr int IDC_QUESTION = 19513;
inline constexpr int IDC_ICON = 19514;
inline constexpr int IDC_NEW_VERSION = 19515;  // notification
inline constexpr int IDC_WEBSITE_LINK = 19516;
inline constexpr int IDC_BANNER = 19517;
inline constexpr int IDC_TITLE = 19518;
inline constexpr int IDC_VERSION = 19519;  // update

// Registers both templates with the dialog base; later calls do nothing.
void RegisterDialogTemplates();
