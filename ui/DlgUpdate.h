// The update dialog of the interactive mode: checks for an update while it
// opens, downloads the changed files in a worker thread when the user asks,
// then installs them, records the outcome and restarts the client.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "platform/visual/ImageButtonX.h"
#include "platform/visual/ImageDialog.h"
#include "platform/visual/PNGPicture.h"
#include "platform/visual/ProgressBar.h"
#include "platform/visual/StaticText.h"
#include "update/UpdateSession.h"

class CDownFileThread;

class CDlgUpdate : public CImageDialog, private IUpdateObserver {
 public:
  CDlgUpdate();
  // Stops the download first: no report reaches the dialog once this runs.
  ~CDlgUpdate() override;

  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor) override;
  void OnLButtonDown(UINT flags, CPoint point) override;

  // Reads the configuration, removes old backups, fetches and compares the
  // manifest, and shows whether an update is available. Runs on the GUI
  // thread before the window is shown.
  void CheckForUpdate();
  void OnUpgrade();
  void OnCloseButton();
  // WM_UPDATE_DOWNLOAD_DONE: (0, -1) a fetch failed; (n, n) a file of n bytes
  // is complete; anything else is progress. Always 0.
  LRESULT OnDownloadDone(WPARAM wParam, LPARAM lParam);
  // Installs once every listed file is in, and ends the dialog; a staged file
  // whose digest differs from the manifest stops it before anything changes.
  // A failed installation or commit leaves the dialog open with the error
  // text (the client is started again in both cases).
  void ApplyDownloadedUpdate();

  CImageButtonX closeButton;
  CImageButtonX upgradeButton;
  CImageButtonX titleCloseButton;
  CProgressBar progressBar;
  CPNGPicture iconPicture;
  CPNGPicture bannerPicture;
  CStaticText titleText;
  CStaticText versionText;
  CStaticText statusText;

  int updateType = 1;
  std::string moduleName;
  int finishedCount = 0;
  CZOLTUpdateIntf* transfer = nullptr;
  CDownFileThread* downloadThread = nullptr;
  std::vector<std::string> downloadList;
  std::vector<UpdateFileInfo> updateFiles;
  std::vector<std::int64_t> expectedSizes;
  std::vector<S_UpdateSerivceAddr> servers;
  bool useProxy = false;
  std::string appPath;
  std::string manifestName;
  std::string installDir;
  std::string stagingDir;
  std::string localVersion;
  std::string region;
  // The process exit status the dialog leaves: 1 once a check, download or
  // installation has failed, 0 otherwise (also when the user only closes it).
  int exitStatus = 0;

 private:
  // The bar shows the bytes in so far (complete files and the one under way)
  // against the listed files' sizes, in thousandths, and the window's icon
  // text (a task bar's label for it) the same as a percentage.
  void ShowDownloaded(std::uint64_t bytes);
  std::uint64_t downloadBytes_ = 0;  // the listed files' sizes together
  std::uint64_t finishedBytes_ = 0;  // of the complete files

  // A step of the session failed (its cause is on stderr and in the log).
  void OnFailure(const std::string& cause) override;
  // The steps of the update, created by each check.
  std::unique_ptr<CUpdateSession> session_;
  void HideOfferControls();
  // The check ends without an offer: a failed check (its cause reported)
  // shows the cannot-connect text when no server answered, else the error
  // text, never "up to date" nor its caption; or the up-to-date text.
  void ShowCheckFailure(bool unreachable = false);
  void ShowNoUpdate();
};
