// An installation of the product in a temporary folder, a publish folder for a
// server to serve, and the helpers the dialog tests share.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/HttpServers.h"
#include "tests/support/TempDir.h"

class QWidget;

// Runs the GUI thread's events until done() holds or timeoutMs pass.
bool WaitPumpingEvents(const std::function<bool()>& done, int timeoutMs = 10000);

// A file of a published update.
struct PublishedFile {
  std::string name;         // relative, "\" between folders
  std::string content;      // what the server serves
  std::string size = {};    // manifest SIZE; empty: the content's size
  std::string md5 = {};     // manifest MD5; empty: the content's digest
  std::string sha256 = {};  // manifest SHA256; empty: the content's digest
};

class Installation {
 public:
  // The updater's application directory is app (ends with "/"); registry and
  // runtime folders are private to the test.
  Installation();
  ~Installation();

  // Config.dat (installed version, server) and UserConfig.dat (no proxy).
  void Configure(int port, const std::string& version = "1.0");
  // Writes publish/<type>/UpdateConfig.ini and the files' contents.
  void Publish(const std::string& version, const std::vector<PublishedFile>& files, int type = 1);
  // Writes publish/<type>/UpdateConfig.ini.sig, signed with the Ed25519
  // private key in the PEM file privateKey.
  void Sign(const std::string& privateKey, int type = 1);
  // Writes app + name (or stagingDir + name) with "\" as "/".
  void Install(const std::string& name, const std::string& content);
  void Stage(const std::string& name, const std::string& content, const std::string& stagingFolder = "UPDATE/Program/");

  std::string Installed(const std::string& name) const;
  std::string ConfiguredVersion() const;
  std::string RegistryVersion() const;
  // The IsSucceed values of UpdateRecord.dat, in file order.
  std::vector<std::string> RecordOutcomes() const;

  TempDir app;
  TempDir publish;
  TempDir runtime;
};

// An installation of version 1.0 whose server (nginx) serves an update to
// version with files.
class ServedInstallation : public Installation {
 public:
  ServedInstallation(const std::string& version, const std::vector<PublishedFile>& files);
  NginxServer server;
};

// The control of a dialog by its ID (its objectName).
QWidget* Control(QWidget& dialog, int id);
