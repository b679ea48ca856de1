#include "tests/ui/UpdateFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <regex>
#include <stdexcept>

#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "platform/directory/DirectoryEx.h"
#include "update/ReleaseTrust.h"

bool WaitPumpingEvents(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

static std::string Slashed(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

Installation::Installation() {
  CDirectoryEx::OverrideApplicationPath(app.path());
  setenv("ZOLT_REGISTRY_ROOT", (runtime / "registry").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (runtime / "run").c_str(), 1);
  CDirectoryEx::CreateMultipleDirectory(runtime / "registry/HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro");
  CDirectoryEx::CreateMultipleDirectory(runtime / "run");
}

Installation::~Installation() { CDirectoryEx::OverrideApplicationPath(""); }

void Installation::Configure(int port, const std::string& version) {
  CCryptConfigFile config(app / "Config.dat", "");
  config.WriteString("Update", "Version", version);
  config.WriteString("Update", "Region", "");
  config.WriteString("Update", "ServerIP", "127.0.0.1");
  config.WriteInteger("Update", "ServerPort", port);
  CCryptConfigFile user(app / "UserConfig.dat", "");
  user.WriteInteger("Server", "UseProxy", 0);
}

void Installation::Publish(const std::string& version, const std::vector<PublishedFile>& files, int type) {
  const std::string root = publish / (std::to_string(type) + "/");
  std::string manifest = "[Version]\nVERSION=" + version + "\nREGION=\n\n[FILES]\n";
  for (const auto& file : files) manifest += file.name + "\n";
  for (const auto& file : files) {
    manifest += "\n[" + file.name + "]\n";
    manifest += "MD5=" + (file.md5.empty() ? CMD5::OfBytes(file.content.data(), file.content.size()) : file.md5) + "\n";
    manifest += "SIZE=" + (file.size.empty() ? std::to_string(file.content.size()) : file.size) + "\n";
    manifest += "MODIFYTIME=2026-12-01 10:00:00\n";
    manifest += "SHA256=" +
                (file.sha256.empty() ? CMD5::SHA256OfBytes(file.content.data(), file.content.size()) : file.sha256) +
                "\n";
    WriteTextFile(root + Slashed(file.name), file.content);
  }
  WriteTextFile(root + "UpdateConfig.ini", manifest);
}

void Installation::Sign(const std::string& privateKey, int type) {
  SignManifestFile(publish / (std::to_string(type) + "/UpdateConfig.ini"), static_cast<unsigned long>(type),
                   privateKey);
}

void Installation::Install(const std::string& name, const std::string& content) {
  WriteTextFile(app / Slashed(name), content);
}

void Installation::Stage(const std::string& name, const std::string& content, const std::string& stagingFolder) {
  WriteTextFile(app / (stagingFolder + Slashed(name)), content);
}

std::string Installation::Installed(const std::string& name) const { return ReadTextFile(app / Slashed(name)); }

std::string Installation::ConfiguredVersion() const {
  CCryptConfigFile config(app / "Config.dat", "");
  std::string version;
  config.ReadString("Update", "Version", "", version);
  return version;
}

std::string Installation::RegistryVersion() const {
  std::string value = ReadTextFile(runtime / "registry/HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro/Version");
  // A string value may carry its terminating zero.
  if (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

std::vector<std::string> Installation::RecordOutcomes() const {
  CCryptConfigFile record(app / "UpdateRecord.dat", "");
  const std::string text = record.PlainText();
  std::vector<std::string> outcomes;
  const std::regex line(R"(IsSucceed\s*=\s*(\S+))", std::regex::icase);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
    outcomes.push_back((*it)[1]);
  return outcomes;
}

ServedInstallation::ServedInstallation(const std::string& version, const std::vector<PublishedFile>& files)
    : server(publish.path()) {
  Publish(version, files);
  Configure(server.port());
}

QWidget* Control(QWidget& dialog, int id) { return dialog.findChild<QWidget*>(QString::number(id)); }
