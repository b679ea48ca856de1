// The program's resources as the dialogs use them: dialog templates and
// images, both named by number.
//
// Images are Qt resources ":/zolt/<id>.png" compiled into the program. Dialog
// templates are registered by the program at start-up (RegisterDialogTemplate)
// and looked up by the dialog base when a dialog is created.
#pragma once

#include <QPixmap>
#include <QRect>
#include <string>
#include <vector>

#include "platform/win32/Win32Types.h"

// Dialog units: one unit is 1.5 pixels in both directions, the size a "宋体"
// 9-point template font gives on a 96-dpi screen.
int DialogUnitsToPixels(int units);
// A template rectangle (x, y, width, height in dialog units) in pixels; the
// edges are converted, so neighbouring controls stay neighbours.
QRect DialogRectToPixels(int x, int y, int width, int height);

struct DialogControlTemplate {
  enum class Kind { Static, Button };
  int id;  // -1 for a control the code never names
  Kind kind;
  int x, y, width, height;  // dialog units
  std::string text;         // UTF-8
  bool visible = true;
  bool notify = false;  // a static that reports clicks (SS_NOTIFY)
};

struct DialogTemplate {
  int width = 0, height = 0;  // dialog units
  std::string fontName;       // the template font; 9 points
  std::vector<DialogControlTemplate> controls;
};

// Makes templateId name tmpl; a later registration replaces an earlier one.
void RegisterDialogTemplate(UINT templateId, DialogTemplate tmpl);
// The template, or null when none is registered under templateId.
const DialogTemplate* FindDialogTemplate(UINT templateId);

// The image resource id; a null pixmap when the program has none.
QPixmap LoadImageResource(UINT id);

// The font of a template: the named face, falling back to the installed
// Simplified Chinese face (WenQuanYi Micro Hei, then Noto Sans CJK SC).
QFont TemplateFont(const std::string& fontName, int points);
