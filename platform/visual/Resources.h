// The program's resources as the dialogs use them: dialog templates and
// images, both named by number.
//
// On Linux, images are Qt resources ":/zolt/<id>.png" compiled into the
// program, and dialog templates are registered by the program at start-up
// (RegisterDialogTemplate) and looked up by the dialog base when a dialog is
// created. On Windows both are resources of the module that holds the dialogs
// (ui/ZOLTUpdateUI.rc): templates of type RT_DIALOG, images of type "PNG"; the
// registered templates are what the resources are checked against.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/visual/VisualTypes.h"

#if !defined(_WIN32)
#include <QPixmap>
#include <QRect>
#endif

// Dialog units: one unit is 1.5 pixels in both directions, the size a "宋体"
// 9-point template font gives on a 96-dpi screen.
int DialogUnitsToPixels(int units);
// A template rectangle (x, y, width, height in dialog units) in pixels; the
// edges are converted, so neighbouring controls stay neighbours.
#if defined(_WIN32)
CRect DialogRectToPixels(int x, int y, int width, int height);
#else
QRect DialogRectToPixels(int x, int y, int width, int height);
#endif

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

#if defined(_WIN32)

// A decoded image: 32-bit premultiplied BGRA in a DIB section, drawn with its
// alpha channel.
class CPngImage {
 public:
  CPngImage(HBITMAP bitmap, int width, int height);
  ~CPngImage();
  CPngImage(const CPngImage&) = delete;
  CPngImage& operator=(const CPngImage&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Draws the source part (whole image by default) into the target rectangle,
  // scaled when the sizes differ.
  void Draw(HDC dc, int x, int y, int width, int height) const;
  void DrawPart(HDC dc, const RECT& target, const RECT& source) const;
  // The colour at (x, y), alpha ignored.
  COLORREF PixelAt(int x, int y) const;

 private:
  HBITMAP bitmap_;
  int width_;
  int height_;
};

// The module whose resources the dialogs use: the one this code is linked
// into (the dialog DLL, or the program).
HINSTANCE VisualResourceModule();
// The PNG resource id decoded with WIC; null when the module has none or it
// does not decode. Decoded once, then shared.
std::shared_ptr<const CPngImage> LoadImageResource(UINT id);

// The template resource id (RT_DIALOG) as a DialogTemplate, the rectangles in
// dialog units; false when there is none or it is not an extended template.
bool LoadDialogTemplateResource(UINT id, DialogTemplate& tmpl);

// A font of points (9 is the template's) or of a pixel height, for the named
// face, falling back to the installed Simplified Chinese face (WenQuanYi
// Micro Hei, Noto Sans CJK SC, then Microsoft YaHei) when the face is not
// installed. The caller owns the font.
HFONT CreateTemplateFont(const std::string& fontName, int pixelHeight, bool bold, bool underline);

// UTF-8 and the system's UTF-16.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

#else

// The image resource id; a null pixmap when the program has none.
QPixmap LoadImageResource(UINT id);

// The font of a template: the named face, falling back to the installed
// Simplified Chinese face (WenQuanYi Micro Hei, then Noto Sans CJK SC).
QFont TemplateFont(const std::string& fontName, int points);

#endif
