// The dialog base: a borderless window built from a dialog template, painted
// from a background image, with the framework's ways of running a dialog —
// modal run with a result, data exchange binding members to controls by ID, a
// message map for clicks and window messages, and a window handle through
// which other threads reach it (platform/win32/Window.h).
//
// Every method is for the GUI thread, except that the handle may be used from
// any thread with SendMessageA and PostMessageA.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/visual/Control.h"
#include "platform/visual/VisualTypes.h"
#include "platform/win32/Window.h"

#if defined(_WIN32)
#include "platform/visual/Resources.h"
#else
#include <QDialog>
#include <QPixmap>

class QTimer;
#endif

class CImageDialog;
class CDialogWindowTarget;

// One data exchange: binding controls when the dialog is created (and
// afterwards moving texts to the controls), or reading texts back.
class CDataExchange {
 public:
  CDataExchange(CImageDialog* dialog, bool saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
  CImageDialog* m_pDlgWnd;
  bool m_bSaveAndValidate;
};

// Makes control the dialog's control id (its geometry, text and visibility
// from the template). Only while the dialog is being created.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Moves value into control id's text, or (saving) the text into value.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);

#if defined(_WIN32)
// On Windows the dialog is itself a window (a CWnd), created from the
// template resource of the module that holds the dialogs.
using CImageDialogBase = CWnd;
#else
using CImageDialogBase = QDialog;
#endif

class CImageDialog : public CImageDialogBase {
 public:
  CImageDialog(UINT templateId, CParentWindow parent);
  ~CImageDialog() override;

  // Creates the window, runs OnInitDialog, shows the window and waits until
  // EndDialog; returns its result (IDCANCEL for Escape or a close request).
  INT_PTR DoModal();
  // Creates the window and runs OnInitDialog, then shows it without waiting
  // (the framework's modeless Create). FALSE without a template.
  BOOL Create();
  void EndDialog(INT_PTR result);
  bool IsEnded() const { return ended_; }
  INT_PTR Result() const { return result_; }

  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange* pDX);
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  // The colours of a plain static control; derived dialogs override it.
  virtual HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor);
  virtual void OnLButtonDown(UINT flags, CPoint point);

  // Timer id: after every elapseMs (until KillTimer) OnTimer(id) runs on the
  // dialog's thread, from its message loop. A second SetTimer with the same
  // id starts it afresh. Returns id, or 0 when it cannot run (on Windows:
  // before the window exists).
  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs);
  // FALSE when timer id was not running.
  BOOL KillTimer(UINT_PTR id);
  virtual void OnTimer(UINT_PTR id);

  // Type 2 is a PNG resource; the image becomes the whole window's background
  // and its size the window's size. 1 on success, 0 without the image.
  int SetBackPicture(int type, UINT id, HINSTANCE module, bool stretch);

  void SetWindowText(const std::string& text);
  std::string GetWindowText() const;
  CWnd* GetDlgItem(int id) const;
  HWND GetSafeHwnd() const { return hwnd_; }
  // Paints the whole window now (the framework's RedrawWindow with its
  // default flags), for work that will hold the thread for a while.
  void RedrawWindow();
  // The window's rectangle on the screen.
  void GetWindowRect(CRect* rect) const;
  // Moves the window; only SWP_NOSIZE | SWP_NOZORDER moves are used.
  BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
  LRESULT SendMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  BOOL PostMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  // Routes a command (a click on control id) through the message map.
  void OnCommand(UINT id);
  // Handles a window message as the window procedure does.
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

  // True while the window follows the pointer after a caption drag began.
  bool IsMoving() const { return moving_; }

#if defined(_WIN32)
  // Draws the part of the background image that lies under the dialog's
  // rectangle (x, y, width, height) onto dc at (0, 0); the controls draw it
  // under themselves, having no background of their own.
  void DrawBackground(HDC dc, int x, int y, int width, int height) const;
  // Draws the whole window as it looks (background, then every visible
  // control) onto dc, whose size is the window's: for pictures of it, also
  // after it was hidden.
  void PrintClient(HDC dc);
  // Routes msg as the modal loop does: the keyboard to the dialog it is for,
  // everything else to its window. For loops that run a modeless dialog.
  static void RouteMessage(MSG& msg);
#endif

 protected:
  // The message map, filled by the derived class's constructor.
  void MapClicked(UINT id, std::function<void()> handler);
  void MapMessage(UINT msg, std::function<LRESULT(WPARAM, LPARAM)> handler);

  // Stops messages to this window and wakes senders waiting for it; the
  // derived destructor calls it before stopping threads that send to it.
  void DestroyWindowTarget();
  // Gives the dialog a window handle again after DestroyWindowTarget (a new
  // handle: messages for the old one stay undelivered). Does nothing while
  // the dialog has one.
  void CreateWindowTarget();

#if defined(_WIN32)
  // The window's own messages that the message map does not take: painting,
  // the controls' colours and drawing, the keyboard, closing.
  bool HandleWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // Enter presses the focused button, or the main button (the first visible
  // button with a text, in template order); true when it handled the key.
  bool PreTranslateMessage(MSG* msg);

 private:
  friend void DDX_Control(CDataExchange*, int, CWnd&);
  friend void DDX_Text(CDataExchange*, int, std::string&);
  friend INT_PTR CALLBACK ImageDialogProc(HWND, UINT, WPARAM, LPARAM);
  bool CreateControls();
  void PlaceControls();
  CWnd* MainButton() const;
  // The template font's 9 points on a 96-dpi screen.
  static int DialogFontPixels() { return 12; }

  std::shared_ptr<const CPngImage> background_;
  std::vector<DialogControlTemplate> template_;
  std::string fontName_;
  HFONT font_ = nullptr;
  // After DestroyWindowTarget the window refuses other threads' messages
  // until CreateWindowTarget.
  bool acceptingMessages_ = false;
  std::string title_;
  bool moving_ = false;
  // Moved by its own code (SetWindowPos): not centred when it opens.
  bool placed_ = false;
#else
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // Enter (and the keypad's) presses the button that has the focus, or the
  // dialog's main button (the first visible button with a text, in template
  // order) when none has; Escape ends the dialog through reject.
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void accept() override;

 private:
  friend void DDX_Control(CDataExchange*, int, CWnd&);
  friend void DDX_Text(CDataExchange*, int, std::string&);
  bool CreateControls();
  void BeginCaptionDrag();

  QPixmap background_;
  std::shared_ptr<CDialogWindowTarget> target_;
  // Children of the dialog; a stopped one is kept for the next SetTimer.
  std::map<UINT_PTR, QTimer*> timers_;
  bool buttonDown_ = false;
  bool moving_ = false;
  QPoint dragOffset_;
#endif

  // Both systems: the template, the bound and owned controls, the maps the
  // dialog's messages go through, and its window, the handle other threads reach.
  UINT templateId_;
  bool created_ = false;
  bool creating_ = false;
  std::map<int, CWnd*> bound_;
  std::vector<std::pair<int, std::string*>> pendingTexts_;
  std::map<int, CWnd*> controls_;
  std::vector<std::unique_ptr<CWnd>> ownedControls_;
  std::map<UINT, std::function<void()>> commandMap_;
  std::map<UINT, std::function<LRESULT(WPARAM, LPARAM)>> messageMap_;
  HWND hwnd_ = nullptr;
  bool ended_ = false;
  INT_PTR result_ = 0;
};
