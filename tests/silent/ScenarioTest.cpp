// The silent runs as data: each file in tests/silent/scenarios/ lays out an
// installation, a release and a fault, runs the program or component update in
// process against nginx on 127.0.0.1, and states what must hold afterwards.
// Built with the dialogs (ZOLT_SCENARIO_DIALOG), the files' dialog rows drive
// the real update dialog on Qt's offscreen platform; without them, files with
// dialog rows are skipped. The format is described in tests/silent/scenarios/README.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "install/Installation.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "platform/win32/RemoteWindow.h"
#include "silent/SilentUpdate.h"
#include "tests/silent/SilentFixture.h"
#include "update/UpdateRecord.h"
#include "update/UpdateSession.h"
#if ZOLT_SCENARIO_DIALOG
#include <QAbstractButton>

#include "tests/ui/UpdateFixture.h"
#include "ui/DialogTemplates.h"
#include "ui/DlgUpdate.h"
#endif

namespace fs = std::filesystem;

namespace {

// Words of a line: bare words as written (a "\" is a folder separator), or
// double-quoted text with \n, \" and \\ escapes.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  for (std::size_t at = 0; at < line.size();) {
    if (line[at] == ' ') {
      ++at;
      continue;
    }
    std::string word;
    if (line[at] == '"') {
      for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] == '\\' && at + 1 < line.size()) {
          const char next = line[++at];
          word += next == 'n' ? '\n' : next;
        } else {
          word += line[at];
        }
      }
      ++at;
    } else {
      const auto end = line.find(' ', at);
      word = line.substr(at, end - at);
      at = end == std::string::npos ? line.size() : end;
    }
    words.push_back(word);
  }
  return words;
}

class Scenario {
 public:
  Scenario() { Reset(); }
  ~Scenario() {
    StopClient();
    SetInstallCopyFunction({});
    SetRecordClock({});
    CDirectoryEx::OverrideApplicationPath("");
    unsetenv("ZOLT_REGISTRY_ROOT");
    unsetenv("XDG_RUNTIME_DIR");
  }

  // One line of a scenario file; false (with a failure) for a line it does not know.
  void Step(const std::vector<std::string>& w) {
    const auto arg = [&](std::size_t i, const std::string& fallback = "") { return i < w.size() ? w[i] : fallback; };
    const std::string& verb = w[0];
    if (verb == "case") {
      Reset();
    } else if (verb == "install") {
      initial_[w[1]] = arg(2);
      WriteFiles(app_, {{w[1], arg(2)}});
    } else if (verb == "config") {
      WriteLocalConfig(app_, w[1], arg(2, "GD"), server_->port());
    } else if (verb == "registry") {
      fs::create_directories(registry_ + "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro");
    } else if (verb == "release") {
      release_[w[1]] = arg(2);
    } else if (verb == "publish") {
      type_ = std::stoi(w[1]);
      const ManifestHeader header{arg(2), arg(3), std::stoi(arg(4, "0")), std::stoi(arg(5, "0")), arg(6)};
      Publish(pub_, type_, release_, header);
    } else if (verb == "tamper") {  // written below the application folder right after the dialog's check
      tampered_[w[1]] = arg(2);
    } else if (verb == "downloaded") {
      downloaded_[w[1]] = arg(2);
    } else if (verb == "serve-as") {  // the published type 1 served under another type
      fs::rename(pub_ + "1", pub_ + w[1]);
    } else if (verb == "serve") {  // a file on the server as given, after publish
      WriteTextFile(pub_ + Native(w[1]), arg(2));
    } else if (verb == "unserve") {
      fs::remove(pub_ + Native(w[1]));
    } else if (verb == "server" && arg(1) == "down") {  // nothing listens on its port any more
      server_.reset();
    } else if (verb == "put") {  // any file below the application folder
      WriteTextFile(app_ + Native(w[1]), arg(2));
    } else if (verb == "folder") {
      fs::create_directories(app_ + Native(w[1]));
    } else if (verb == "delete") {
      fs::remove_all(app_ + Native(w[1]));
    } else if (verb == "outside") {  // a file beside the application folder
      WriteTextFile(*work_ / Native(w[1]), arg(2));
    } else if (verb == "link") {  // app path -> folder beside the application folder
      fs::create_directories(fs::path(app_ + w[1]).parent_path());
      fs::create_directory_symlink(*work_ / w[2], app_ + w[1]);
    } else if (verb == "locked") {  // refuses to be replaced while it is in place, as a running program's file
      const std::string locked = app_ + Native(w[1]);
      SetInstallCopyFunction([locked](const char* source, const char* target, int failIfExists) {
        return Native(target) == locked && fs::exists(locked) ? 0 : CopyFileA(source, target, failIfExists);
      });
    } else if (verb == "client-writes") {  // the running client stores SECTION KEY VALUE while the run installs
      SetInstallCopyFunction([this, w, written = false](const char* source, const char* target, int fail) mutable {
        if (!written) CCryptConfigFile(app_ + "Config.dat", "").WriteString(w[1], w[2], w[3]);
        written = true;
        return CopyFileA(source, target, fail);
      });
    } else if (verb == "release-dat") {  // a key of an enciphered file the release ships: PATH SECTION KEY VALUE
      const std::string path = *work_ / "dat";
      WriteTextFile(path, release_[w[1]]);
      CCryptConfigFile(path, "").WriteString(w[2], w[3], w[4]);
      release_[w[1]] = ReadTextFile(path);
    } else if (verb == "client") {  // a running client: a window that notes WM_CLOSE
      StartClient();
    } else if (verb == "fifo") {
      fs::remove(app_ + w[1]);
      ASSERT_EQ(::mkfifo((app_ + w[1]).c_str(), 0600), 0);
    } else if (verb == "foreign") {  // the file belongs to another user
      ASSERT_EQ(::lchown((app_ + Native(w[1])).c_str(), 65534, 65534), 0);
    } else if (verb == "run") {
      Run(w);
    } else if (verb == "expect") {
      Expect(w);
    } else {
      ADD_FAILURE() << "unknown step: " << verb;
    }
  }

 private:
  void StartClient() {
    client_ = std::make_unique<CRemoteWindowOwner>();
    ASSERT_TRUE(client_->Listen("ZOLTCLIENT"));
    clientClosed_ = stopClient_ = false;
    clientThread_ = std::thread([this] {
      while (!stopClient_ && !clientClosed_)
        client_->HandleNext(
            [this](UINT msg, WPARAM, LPARAM) {
              if (msg == WM_CLOSE) clientClosed_ = true;
              return 0;
            },
            50);
    });
  }
  void StopClient() {
    stopClient_ = true;
    if (clientThread_.joinable()) clientThread_.join();
    client_.reset();
  }

  void Reset() {
    StopClient();
    SetInstallCopyFunction({});
    work_ = std::make_unique<TempDir>();
    app_ = *work_ / "app/";
    pub_ = *work_ / "pub/";
    registry_ = *work_ / "registry/";
    for (const std::string& folder : {app_, pub_, registry_}) fs::create_directories(folder);
    server_ = std::make_unique<NginxServer>(pub_);
    CDirectoryEx::OverrideApplicationPath(app_);
    setenv("ZOLT_REGISTRY_ROOT", registry_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", work_->path().c_str(), 1);
    SetRecordClock(RecordNoon);
    initial_.clear();
    release_.clear();
    downloaded_.clear();
    tampered_.clear();
    notified_.clear();
    shown_.clear();
    type_ = 1;
  }

  // run program ok|failed [answer]   run component NAME ok|failed
  void Run(const std::vector<std::string>& w) {
    // The run's log beside the application folder, for "expect log".
    diagnostics::OpenRunLog(work_->path() + "/");
    struct CloseLog {
      ~CloseLog() { diagnostics::CloseRunLog(); }
    } closeLog;
    ::testing::internal::CaptureStderr();
    bool succeeded = false;
    if (w[1] == "stopped") {
      // A program run stopped between its last rename and its commit point.
      CSilentUpdate update(1, "Program");
      CUpdateSession session(PlaceOf(update), *update.transfer);
      bool staged = false;
      ASSERT_TRUE(session.Prepare() && session.FetchManifest());
      ASSERT_EQ(session.CompareAndStage(staged), CUpdateSession::Comparison::kCompared);
      ASSERT_TRUE(staged && session.Install());
      stderr_ = ::testing::internal::GetCapturedStderr();
      return;
    }
    if (w[1] == "program") {
      CSilentUpdate update(1, "Program");
      if (w.size() > 3)
        update.SetNotifier([this, answer = std::stoi(w[3])](const NotifyRequest& request) {
          notified_.push_back(request.currentVersion + " -> " + request.newVersion + " " + request.webSiteUrl);
          return answer;
        });
      succeeded = update.RunProgramUpdate();
    } else if (w[1] == "dialog") {
      succeeded = RunDialogSteps(std::stoi(w[2]));
    } else {
      CSilentUpdate update(type_, w[2] == "-" ? "" : w[2]);
      succeeded = update.RunComponentUpdate();
    }
    stderr_ = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(succeeded ? "ok" : "failed", w[w[1] == "program" ? 2 : 3]) << stderr_;
  }

#if ZOLT_SCENARIO_DIALOG
  // The update dialog of type (module "Plugin" for another type): its check
  // while it opens, then "立即升级", its download thread fetching from the
  // server (what "downloaded" lines serve instead of the release's files),
  // OnDownloadDone counting the reports, and the installation. "ok": the
  // dialog installed and closed itself; otherwise it stays open with the
  // status line it shows (kept for "expect shown").
  bool RunDialogSteps(int type) {
    WriteFiles(pub_ + std::to_string(type) + "/", downloaded_);
    CDlgUpdate dialog;
    dialog.updateType = type;
    dialog.moduleName = type == 1 ? "" : "Plugin";
    EXPECT_TRUE(dialog.Create());
    WriteFiles(app_, tampered_);
    auto* upgrade = dynamic_cast<QAbstractButton*>(Control(dialog, IDC_UPGRADE));
    if (upgrade != nullptr && !upgrade->isHidden()) {
      upgrade->click();
      // Until it ends, or leaves the downloading state's text for an error.
      EXPECT_TRUE(WaitPumpingEvents(
          [&] { return dialog.IsEnded() || dialog.statusText.GetWindowText() != "软件更新后会自动启用新版本！"; },
          60000));
    }
    shown_ = dialog.statusText.GetWindowText();
    return dialog.IsEnded() && dialog.exitStatus == 0;
  }
#else
  bool RunDialogSteps(int) {
    ADD_FAILURE() << "built without the dialogs";
    return false;
  }
#endif

  FileSet Installed() const { return InstalledTree(app_); }

  void Expect(const std::vector<std::string>& w) {
    const std::string& what = w[1];
    const std::string value = w.size() > 3 ? w[3] : (w.size() > 2 ? w[2] : "");
    if (what == "installed") {  // installed release|initial
      EXPECT_EQ(Installed(), WithNativeNames(w[2] == "release" ? release_ : initial_));
    } else if (what == "file") {  // file PATH CONTENT
      EXPECT_EQ(ReadTextFile(app_ + Native(w[2])), value) << w[2];
    } else if (what == "no") {  // no PATH
      EXPECT_FALSE(fs::exists(app_ + Native(w[2]))) << w[2];
    } else if (what == "folder") {
      EXPECT_TRUE(fs::is_directory(app_ + Native(w[2]))) << w[2];
    } else if (what == "outside") {
      EXPECT_EQ(ReadTextFile(*work_ / Native(w[2])), value) << w[2];
    } else if (what == "version") {
      EXPECT_EQ(ReadConfig(app_ + "Config.dat", "Update", "Version"), w[2]);
    } else if (what == "record") {  // record KEY VALUE; "-" for none
      // A silent run's section is the day, the dialog's the day and time.
      std::string recorded = ReadConfig(app_ + "UpdateRecord.dat", "2026-12-08", w[2]);
      if (recorded.empty()) recorded = ReadConfig(app_ + "UpdateRecord.dat", "2026-12-08 12:00:00", w[2]);
      EXPECT_EQ(recorded, value == "-" ? "" : value) << w[2];
    } else if (what == "records") {  // how many sections the record has
      CCryptConfigFile record(app_ + "UpdateRecord.dat", "");
      EXPECT_EQ(CProfile::Parse(record.PlainText()).SectionNames().size(), std::stoul(w[2]));
    } else if (what == "registry") {  // registry VALUE; "-" for none
      const std::string stored = ReadTextFile(registry_ + "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro/Version");
      EXPECT_EQ(stored, w[2] == "-" ? "" : w[2] + std::string(1, '\0'));
    } else if (what == "requests") {  // requests URLPATH COUNT
      EXPECT_EQ(Requests(*server_, w[2]), std::stoi(w[3])) << w[2];
    } else if (what == "same") {  // same APP_PATH SERVED_PATH
      EXPECT_EQ(ReadTextFile(app_ + Native(w[2])), ReadTextFile(pub_ + Native(w[3]))) << w[2];
    } else if (what == "shown") {  // the dialog's status line after the run
      EXPECT_EQ(shown_, w[2]);
    } else if (what == "config") {  // config SECTION KEY VALUE: Config.dat holds it
      EXPECT_EQ(ReadConfig(app_ + "Config.dat", w[2], w[3]), w.size() > 4 ? w[4] : "") << w[2] << " " << w[3];
    } else if (what == "client") {  // client closed|open
      StopClient();
      EXPECT_EQ(clientClosed_.load() ? "closed" : "open", w[2]);
    } else if (what == "notified") {
      ASSERT_EQ(notified_.size(), std::stoul(w[2]));
      if (w.size() > 3) {
        EXPECT_EQ(notified_.back(), w[3]);
      }
    } else if (what == "stderr") {
      EXPECT_NE(stderr_.find(w[2]), std::string::npos) << w[2] << "\n" << stderr_;
    } else if (what == "log") {  // the runs' log holds TEXT
      const std::string log = ReadTextFile(*work_ / "ZOLTUpdate.log");
      EXPECT_NE(log.find(w[2]), std::string::npos) << w[2] << "\n" << log;
    } else {
      ADD_FAILURE() << "unknown expectation: " << what;
    }
  }

  std::unique_ptr<TempDir> work_;
  std::string app_, pub_, registry_, stderr_;
  std::unique_ptr<NginxServer> server_;
  FileSet initial_, release_, downloaded_, tampered_;
  std::vector<std::string> notified_;
  std::string shown_;
  std::unique_ptr<CRemoteWindowOwner> client_;
  std::thread clientThread_;
  std::atomic<bool> clientClosed_{false}, stopClient_{false};
  int type_ = 1;
};

std::vector<std::string> ScenarioFiles() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(ZOLT_SCENARIO_DIR))
    if (entry.path().extension() == ".scenario") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class SilentScenario : public ::testing::TestWithParam<std::string> {};

// The lines of a file, those of "use NAME" lines read from NAME.inc in their place.
std::vector<std::pair<std::string, std::string>> Lines(const std::string& name) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::ifstream file(std::string(ZOLT_SCENARIO_DIR) + "/" + name);
  EXPECT_TRUE(file) << name;
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    if (line.starts_with("use ")) {
      for (auto& used : Lines(line.substr(4) + ".inc")) lines.push_back(std::move(used));
      continue;
    }
    lines.emplace_back(name + ":" + std::to_string(number), line);
  }
  return lines;
}

TEST_P(SilentScenario, Holds) {
  const auto lines = Lines(GetParam() + ".scenario");
#if !ZOLT_SCENARIO_DIALOG
  for (const auto& [where, line] : lines)
    if (line.starts_with("run dialog ")) GTEST_SKIP() << "its dialog rows need the dialogs (ZOLT_GUI)";
#endif
  Scenario scenario;
  std::string caseName;
  for (const auto& [where, line] : lines) {
    const std::vector<std::string> words = Words(line);
    if (words[0] == "case") caseName = line.substr(5);
    SCOPED_TRACE(where + (caseName.empty() ? "" : " (" + caseName + ")"));
    scenario.Step(words);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SilentScenario, ::testing::ValuesIn(ScenarioFiles()), [](const auto& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

}  // namespace
