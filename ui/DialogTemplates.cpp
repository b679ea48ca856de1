#include "ui/DialogTemplates.h"

#include <mutex>

#include "platform/visual/Resources.h"

namespace {

using Kind = DialogControlTemplate::Kind;

DialogTemplate UpdateTemplate() {
  DialogTemplate t;
  t.width = 287;
  t.height = 154;
  t.fontName = "宋体";
  t.controls = {
      {IDC_STATUS, Kind::Static, 74, 76, 145, 10, "Tovaro有新版本"},
      {IDC_UPGRADE, Kind::Button, 166, 129, 53, 20, "立即升级"},
      {IDC_QUESTION, Kind::Static, 74, 89, 180, 8, "是否要进行升级？升级过程中软件会自动重启。"},
      {IDC_VERSION, Kind::Static, 161, 76, 60, 8, "4.0.10070715"},
      {IDC_TITLE_CLOSE, Kind::Button, 257, 2, 26, 15, ""},
      {IDC_ICON, Kind::Static, 8, 35, 51, 51, ""},
      {IDC_CLOSE, Kind::Button, 226, 129, 53, 20, "关闭"},
      {IDC_UPDATABLE, Kind::Static, 225, 76, 34, 8, "可更新，"},
      {IDC_PROGRESS, Kind::Static, 70, 57, 200, 8, ""},
      {IDC_BANNER, Kind::Static, 74, 35, 145, 14, ""},
      {IDC_TITLE, Kind::Static, 6, 6, 82, 10, "在线更新"},
  };
  return t;
}

DialogTemplate NotifyTemplate() {
  DialogTemplate t;
  t.width = 233;
  t.height = 154;
  t.fontName = "宋体";
  t.controls = {
      {-1, Kind::Static, 70, 57, 82, 10, "Tovaro有新版本"},
      {IDC_UPGRADE_NOW, Kind::Button, 88, 129, 53, 20, "立即升级"},
      {-1, Kind::Static, 70, 81, 153, 8, "是否要进行升级？"},
      {IDC_NEW_VERSION, Kind::Static, 156, 57, 63, 8, "4.0.1007.0715"},
      {IDC_LATER, Kind::Button, 153, 129, 53, 20, "下次升级 "},
      {-1, Kind::Static, 70, 100, 48, 8, "当前版本："},
      {IDC_CLOSE, Kind::Button, 206, 1, 25, 15, ""},
      {-1, Kind::Static, 197, 57, 33, 8, "可更新，", false},
      {IDC_CURRENT_VERSION, Kind::Static, 114, 100, 63, 8, "4.0.10070715"},
      {IDC_TITLE, Kind::Static, 6, 6, 82, 10, "升级通知"},
      // The product's web site, under the version lines; shown only when an
      // address is configured.
      {IDC_WEBSITE_LINK, Kind::Static, 70, 113, 80, 9, "访问Tovaro网站", true, true},
  };
  return t;
}

}  // namespace

void RegisterDialogTemplates() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterDialogTemplate(IDD_UPDATE, UpdateTemplate());
    RegisterDialogTemplate(IDD_NOTIFY, NotifyTemplate());
  });
}
