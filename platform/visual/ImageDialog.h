// The dialog base: a borderless window built from a dialog template, painted
// from a background image, with the framework's ways of running a dialog —
// modal run with a result, data exchange binding members to controls by ID, a
// message map for clicks and window messages, and a window handle through
// which other threads reach it (platform/win32/Window.h).
//
// Every method is for the GUI thread, except that the handle may be used from
// any thread with SendMessageA and PostMessageA.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/visual/Control.h"
#include "platform/visual/VisualTypes.h"
#include "platform/win32/Window.h"

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
void DDX_Control(CDataExchange* pDX, int id, CControl& control);
// Moves value into control id's text, or (saving) the text into value.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);

class CImageDialog : public QDialog {
 public:
  CImageDialog(UINT templateId, QWidget* parent);
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
  virtual HBRUSH OnCtlColor(CDC* dc, QWidget* control, UINT ctlColor);
  virtual void OnLButtonDown(UINT flags, CPoint point);

  // Type 2 is a PNG resource; the image becomes the whole window's background
  // and its size the window's size. 1 on success, 0 without the image.
  int SetBackPicture(int type, UINT id, HINSTANCE module, bool stretch);

  void SetWindowText(const std::string& text);
  std::string GetWindowText() const;
  QWidget* GetDlgItem(int id) const;
  HWND GetSafeHwnd() const { return hwnd_; }
  LRESULT SendMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  BOOL PostMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  // Routes a command (a click on control id) through the message map.
  void OnCommand(UINT id);
  // Handles a window message as the window procedure does.
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

  // True while the window follows the pointer after a caption drag began.
  bool IsMoving() const { return moving_; }

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
  friend void DDX_Control(CDataExchange*, int, CControl&);
  friend void DDX_Text(CDataExchange*, int, std::string&);
  bool CreateControls();
  void BeginCaptionDrag();

  UINT templateId_;
  QPixmap background_;
  bool created_ = false;
  bool creating_ = false;
  std::map<int, CControl*> bound_;
  std::vector<std::pair<int, std::string*>> pendingTexts_;
  std::map<int, CControl*> controls_;
  std::vector<std::unique_ptr<CControl>> ownedControls_;
  std::map<UINT, std::function<void()>> commandMap_;
  std::map<UINT, std::function<LRESULT(WPARAM, LPARAM)>> messageMap_;
  HWND hwnd_ = nullptr;
  std::shared_ptr<CDialogWindowTarget> target_;
  bool ended_ = false;
  INT_PTR result_ = 0;
  bool buttonDown_ = false;
  bool moving_ = false;
  QPoint dragOffset_;
};
