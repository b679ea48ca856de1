#include "ui/DlgUpdate.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "install/Installation.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/visual/VisualApp.h"
#include "platform/win32/Files.h"
#include "transfer/DownFileThread.h"
#include "transfer/DownloadFileList.h"
#include "ui/DialogSkin.h"
#include "ui/DialogTemplates.h"
#include "update/ServerConfig.h"

namespace {

constexpr UINT kIconUpdate = 19531;
constexpr UINT kIconNoUpdate = 19530;
constexpr UINT kBannerDownloading = 19532;
constexpr UINT kBannerAvailable = 19533;
constexpr UINT kBannerNoUpdate = 19534;
constexpr UINT kBannerInstalling = 19535;
// The bar's range while downloading: thousandths of the bytes to come.
constexpr unsigned long kProgressSteps = 1000;

}  // namespace

CDlgUpdate::CDlgUpdate() : CImageDialog((RegisterDialogTemplates(), IDD_UPDATE), nullptr) {
  MapClicked(IDC_CLOSE, [this] { OnCloseButton(); });
  MapClicked(IDC_TITLE_CLOSE, [this] { OnCloseButton(); });
  MapClicked(IDC_UPGRADE, [this] { OnUpgrade(); });
  MapMessage(WM_UPDATE_DOWNLOAD_DONE, [this](WPARAM w, LPARAM l) { return OnDownloadDone(w, l); });
}

CDlgUpdate::~CDlgUpdate() {
  // The worker may be waiting in a send to this window: release it before
  // waiting for the worker, or both would wait for each other.
  DestroyWindowTarget();
  if (downloadThread) {
    downloadThread->Terminate();
    delete downloadThread;
    downloadThread = nullptr;
  }
  session_.reset();
  delete transfer;
  transfer = nullptr;
}

void CDlgUpdate::DoDataExchange(CDataExchange* pDX) {
  CImageDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_CLOSE, closeButton);
  DDX_Control(pDX, IDC_UPGRADE, upgradeButton);
  DDX_Control(pDX, IDC_TITLE_CLOSE, titleCloseButton);
  DDX_Control(pDX, IDC_PROGRESS, progressBar);
  DDX_Control(pDX, IDC_ICON, iconPicture);
  DDX_Control(pDX, IDC_BANNER, bannerPicture);
  DDX_Control(pDX, IDC_TITLE, titleText);
  DDX_Control(pDX, IDC_VERSION, versionText);
  DDX_Control(pDX, IDC_STATUS, statusText);
}

BOOL CDlgUpdate::OnInitDialog() {
  CImageDialog::OnInitDialog();
  SetWindowText("在线更新");
  SetBackPicture(2, 19536, nullptr, false);
  iconPicture.SetPicture(kIconUpdate, nullptr);
  bannerPicture.SetPicture(kBannerAvailable, nullptr);

  titleText.SetFontSize(12, 0);
  titleText.SetTextColor(0xFEF7E9);
  titleText.SetAligns(0);
  titleText.SetBold(true);

  SkinPushButton(closeButton);
  SkinPushButton(upgradeButton);
  SkinTitleCloseButton(titleCloseButton);

  versionText.SetFontSize(12, 0);
  versionText.SetTextColor(0x333333);
  versionText.SetBold(true);
  statusText.SetFontSize(12, 0);
  statusText.SetTextColor(0x333333);

  progressBar.SetBmpResource(19500, 19502, 19501, 19503, nullptr);
  progressBar.SetRange(0, 100);
  progressBar.SetProgress(0);

  CheckForUpdate();
  return TRUE;
}

HBRUSH CDlgUpdate::OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor) {
  return StaticTextColour(*this, dc, control, ctlColor, 0x333333);
}

void CDlgUpdate::OnLButtonDown(UINT flags, CPoint point) { DragByTitleBand(*this, flags, point); }

void CDlgUpdate::HideOfferControls() {
  versionText.ShowWindow(SW_HIDE);
  if (CWnd* item = GetDlgItem(IDC_UPDATABLE)) item->ShowWindow(SW_HIDE);
  if (CWnd* item = GetDlgItem(IDC_QUESTION)) item->ShowWindow(SW_HIDE);
  upgradeButton.ShowWindow(SW_HIDE);
}

void CDlgUpdate::CheckForUpdate() {
  CDirectoryEx::GetApplicationPath(appPath);
  manifestName = "UpdateConfig.ini";
  ReadServerConfig(localVersion, region, servers, useProxy);

  UpdateFolders folders = FoldersOfType(appPath, updateType, moduleName);
  installDir = std::move(folders.installDir);
  stagingDir = std::move(folders.stagingDir);
  session_.reset();
  delete transfer;
  transfer = new CZOLTUpdateIntf(servers, useProxy);
  manifestName = "UpdateConfig.ini";

  UpdatePlace place = PlaceOf(*this);
  place.recordPattern = "%Y-%m-%d %H:%M:%S";
  place.versionOnlyWhenGreater = true;
  session_ = std::make_unique<CUpdateSession>(std::move(place), *transfer, static_cast<IUpdateObserver*>(this));
  updateFiles.clear();
  downloadList.clear();
  expectedSizes.clear();
  // The causes are on stderr and in the log already; the dialog shows its
  // status line.
  if (!session_->Prepare()) return ShowCheckFailure();
  // A check that found no manifest cannot tell whether an update exists.
  if (!session_->FetchManifest()) return ShowCheckFailure(!transfer->LastFetchAnswered());
  // A manifest the comparison rejects (an unsafe name, no files) is not
  // "up to date" either: nothing of it may be installed.
  if (session_->Compare() == CUpdateSession::Comparison::kRejected) return ShowCheckFailure();
  updateFiles = session_->Files().All();
  if (updateFiles.empty()) return ShowNoUpdate();
  // Files already downloaded by an earlier run are not fetched again.
  downloadList = session_->PendingDownloads(&expectedSizes);
  iconPicture.SetPicture(kIconUpdate, nullptr);
  bannerPicture.SetPicture(kBannerAvailable, nullptr);
  versionText.SetWindowText(session_->Release().version);
}

void CDlgUpdate::OnFailure(const std::string&) { exitStatus = 1; }

void CDlgUpdate::ShowNoUpdate() {
  iconPicture.SetPicture(kIconNoUpdate, nullptr);
  bannerPicture.SetPicture(kBannerNoUpdate, nullptr);
  statusText.SetWindowText("您安装的Tovaro已经是最新版本！");
  HideOfferControls();
}

void CDlgUpdate::ShowCheckFailure(bool unreachable) {
  exitStatus = 1;
  iconPicture.SetPicture(kIconNoUpdate, nullptr);
  // The no-update caption ("没有可用更新！") would claim what the check could
  // not find out.
  bannerPicture.ShowWindow(SW_HIDE);
  statusText.SetWindowText(unreachable ? "无法与服务器建立连接,请稍候重试！" : "更新过程出现错误,请稍候重试！");
  HideOfferControls();
}

void CDlgUpdate::OnUpgrade() {
  if (downloadThread) {
    // As in the destructor: a worker waiting in a send to this window is
    // released first, or deleting it would wait for this very thread. The
    // window comes back with a new handle, so late reports of the earlier
    // worker cannot be counted for the new one.
    DestroyWindowTarget();
    delete downloadThread;
    downloadThread = nullptr;
    CreateWindowTarget();
  }
  downloadBytes_ = 0;
  for (const int size : expectedSizes) downloadBytes_ += static_cast<std::uint64_t>(std::max(size, 0));
  finishedBytes_ = 0;
  progressBar.SetRange(0, kProgressSteps);
  finishedCount = 0;
  ShowDownloaded(0);
  bannerPicture.SetPicture(kBannerDownloading, nullptr);
  statusText.SetWindowText("软件更新后会自动启用新版本！");
  HideOfferControls();

  if (!downloadList.empty()) {
    downloadThread = new CDownFileThread(servers, useProxy, GetSafeHwnd(), WM_UPDATE_DOWNLOAD_DONE);
    downloadThread->SetLocalDir(stagingDir);
    EnterCriticalSection(&downloadThread->lock);
    downloadThread->files = downloadList;
    downloadThread->sizeCaps = ManifestSizeCaps(updateFiles);
    downloadThread->source = session_->DownloadSource();
    downloadThread->changedFiles = updateFiles;
    downloadThread->digestKinds = session_->SignedReleases() ? kDigestMD5 | kDigestSHA256 : kDigestMD5;
    LeaveCriticalSection(&downloadThread->lock);
    downloadThread->updateType = static_cast<unsigned>(updateType);
    downloadThread->Start();
  } else if (!updateFiles.empty()) {
    // Everything is staged already: report the first file as just finished,
    // which counts the one listed name and installs.
    const std::int64_t size = CUpdateSession::ListedSize(updateFiles.front());
    expectedSizes.push_back(size);
    downloadList.push_back(updateFiles.front().fileName);
    SendMessage(WM_UPDATE_DOWNLOAD_DONE, static_cast<WPARAM>(size), static_cast<LPARAM>(size));
  }
}

void CDlgUpdate::OnCloseButton() { EndDialog(1); }

LRESULT CDlgUpdate::OnDownloadDone(WPARAM wParam, LPARAM lParam) {
  if (lParam == -1) {
    exitStatus = 1;
    statusText.SetWindowText("无法与服务器建立连接,请稍候重试！");
    return 0;
  }
  if (wParam != static_cast<WPARAM>(lParam)) {
    // The file under way has wParam bytes so far.
    ShowDownloaded(finishedBytes_ + wParam);
    return 0;
  }
  // A report after the last listed file (a late one from the transfer, or one
  // after the installation began) has nothing left to count.
  if (static_cast<std::size_t>(finishedCount) >= expectedSizes.size()) return 0;
  if (wParam == static_cast<WPARAM>(expectedSizes[static_cast<std::size_t>(finishedCount)])) {
    ++finishedCount;
    finishedBytes_ += wParam;
    ShowDownloaded(finishedBytes_);
  } else {
    if (downloadThread) downloadThread->Terminate();
    exitStatus = 1;
    diagnostics::ReportCause(downloadList[static_cast<std::size_t>(finishedCount)] + " arrived with " +
                             std::to_string(wParam) + " bytes instead of " +
                             std::to_string(expectedSizes[static_cast<std::size_t>(finishedCount)]));
    statusText.SetWindowText("更新过程出现错误,请稍候重试！");
  }
  if (static_cast<std::size_t>(finishedCount) == downloadList.size()) ApplyDownloadedUpdate();
  return 0;
}

void CDlgUpdate::ShowDownloaded(std::uint64_t bytes) {
  // Without sizes (none listed, or all 0) the files themselves are counted.
  const std::uint64_t total = downloadBytes_ != 0 ? downloadBytes_ : downloadList.size();
  const std::uint64_t done = downloadBytes_ != 0 ? bytes : static_cast<std::uint64_t>(finishedCount);
  const unsigned long steps =
      total == 0 ? 0 : static_cast<unsigned long>(std::min<std::uint64_t>(done, total) * kProgressSteps / total);
  progressBar.SetProgress(steps);
  const int percent = static_cast<int>(steps / 10);
  ShowTaskBarProgress(*this, "在线更新 " + std::to_string(percent) + "%", percent);
}

void CDlgUpdate::ApplyDownloadedUpdate() {
  // What follows blocks this thread for as long as hashing and copying take:
  // the installing state, with the bar full, is painted before it starts.
  const auto steps = static_cast<unsigned long>(std::max<std::size_t>(downloadList.size(), 1));
  progressBar.SetRange(0, steps);
  progressBar.SetProgress(steps);
  bannerPicture.SetPicture(kBannerInstalling, nullptr);
  RedrawWindow();
  // A size can match while the content does not (a truncated file padded by a
  // proxy, a changed file of the same size): the digest decides.
  if (!session_->VerifyStaged(downloadList, downloadThread ? downloadThread->digests : std::vector<FileDigests>{})) {
    bannerPicture.SetPicture(kBannerDownloading, nullptr);
    statusText.SetWindowText("更新过程出现错误,请稍候重试！");
    return;
  }
  CloseRunningClient();
  if (downloadThread) session_->NoteTransferred(downloadThread->tally);
  const bool installed = session_->Install() && session_->Commit();
  // The client was closed for the installation: it runs again either way,
  // on what is installed now (a failed installation keeps the old version
  // recorded, and the next run completes it).
  if (installed) session_->RemoveStaging();
  StartClient(appPath);
  if (!installed) {
    // As for a failed download: the dialog stays open and says so; the cause
    // is on stderr and in the log.
    bannerPicture.SetPicture(kBannerDownloading, nullptr);
    statusText.SetWindowText("更新过程出现错误,请稍候重试！");
    return;
  }
  EndDialog(1);
}
