// Runs of the real ZOLTUpdate binary, copied into a temporary application
// directory, against nginx on 127.0.0.1.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/Shell.h"
#include "platform/win32/Window.h"
#include "tests/silent/SilentFixture.h"
#include "tests/support/ChildProcess.h"

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// ZOLT_TARGET=windows: ZOLT_UPDATE_BIN and ZOLT_CLIENT_BIN are the Windows
// programs, run under Wine (WINEPREFIX, WINEDEBUG from the test's
// environment); the registry is Wine's, the mutex and windows are Wine's own.
inline bool WindowsTarget() { return Env("ZOLT_TARGET") == "windows"; }

// What a Wine process needs of the test's environment: its prefix, the
// display when the test runs under xvfb-run, and a UTF-8 locale: Wine names
// the Linux files after the Windows ones in the locale's character set, and
// in the bare C locale a Chinese file name has no Linux name at all (the
// program's W calls then fail with "path not found").
inline std::vector<std::string> WineEnvironment() {
  std::vector<std::string> environment{"WINEDEBUG=-all", "LC_ALL=C.UTF-8"};
  for (const char* name : {"WINEPREFIX", "HOME", "DISPLAY", "XAUTHORITY"})
    if (!Env(name).empty()) environment.push_back(std::string(name) + "=" + Env(name));
  return environment;
}

// Runs a Windows console program of Wine's (reg) to its end.
inline ChildResult RunWine(std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/wine");
  return RunChild(args, WineEnvironment(), 60);
}

class SilentE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(pub);
    std::filesystem::create_directories(registry);
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    ASSERT_FALSE(Env("ZOLT_UPDATE_BIN").empty());
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  }
  void TearDown() override {
    // A client the updater started must not outlive the test.
    if (HWND client = FindWindowA("ZOLTCLIENT", nullptr)) {
      SendMessageA(client, WM_CLOSE, 0, 0);
      UnregisterWindow(client);
    }
    unsetenv("XDG_RUNTIME_DIR");
  }

  // A fresh installation of files at version, with the updater in it.
  void Install(const FileSet& files, const std::string& version, int port) {
    std::filesystem::remove_all(app);
    std::filesystem::create_directories(app);
    WriteFiles(app, files);
    WriteLocalConfig(app, version, "GD", port);
    std::filesystem::copy_file(Env("ZOLT_UPDATE_BIN"), app + updater);
  }

  // The product's registry key HKEY_LOCAL_MACHINE\SOFTWARE\Tovaro made empty
  // (the updater opens it, never creates it), or removed.
  void ResetRegistryKey(bool exists) {
    if (WindowsTarget()) {
      RunWine({"reg", "delete", R"(HKLM\SOFTWARE\Tovaro)", "/f", "/reg:32"});
      if (exists) {
        ASSERT_EQ(RunWine({"reg", "add", R"(HKLM\SOFTWARE\Tovaro)", "/f", "/reg:32"}).exitCode, 0);
      }
      return;
    }
    std::filesystem::remove_all(registry + "HKEY_LOCAL_MACHINE");
    if (exists) std::filesystem::create_directories(registry + "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro");
  }
  // A value of that key as text, without its closing NUL; "-" when missing.
  // On Windows it is read as the 32-bit client reads it, in the 32-bit view.
  std::string RegistryValue(const std::string& name) {
    if (WindowsTarget()) {
      const ChildResult query = RunWine({"reg", "query", R"(HKLM\SOFTWARE\Tovaro)", "/v", name, "/reg:32"});
      // "    Version    REG_SZ    4.1.0"
      std::istringstream lines(query.out);
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto type = line.find("REG_SZ");
        if (type == std::string::npos || line.find(name) > type) continue;
        const auto value = line.find_first_not_of(' ', type + 6);
        return value == std::string::npos ? "" : line.substr(value);
      }
      return "-";
    }
    const std::string path = registry + "HKEY_LOCAL_MACHINE/SOFTWARE/Tovaro/" + name;
    if (!std::filesystem::exists(path)) return "-";
    std::string value = ReadTextFile(path);
    if (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
  }
  // The application folder as the updater names it: "Z:\...\" under Wine.
  std::string AppAsTheUpdaterSeesIt() const {
    if (!WindowsTarget()) return app;
    std::string name = "Z:" + app;
    for (char& c : name)
      if (c == '/') c = '\\';
    return name;
  }
  // Starts a copy of the sample client (Linux or Windows, as the updater)
  // installed in the application folder.
  pid_t StartClient(const std::vector<std::string>& args = {}, const std::string& name = "ZOLTClient.exe") {
    return Spawn(WindowsTarget() ? std::vector<std::string>{"/usr/bin/wine", app + name}
                                 : std::vector<std::string>{app + name},
                 args, "client");
  }

  // wrapper, when given, is put in front of the program (strace, or a
  // namespace that mounts something first); its first element is a full path.
  pid_t Start(const std::vector<std::string>& args = {"-silent"}, const std::string& name = "run",
              const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> program = wrapper;
    if (WindowsTarget()) program.push_back("/usr/bin/wine");
    program.push_back(app + updater);
    return Spawn(program, args, name);
  }

  pid_t Spawn(const std::vector<std::string>& program, const std::vector<std::string>& args, const std::string& name) {
    std::vector<std::string> arguments = program;
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment{"XDG_RUNTIME_DIR=" + runtime, "ZOLT_REGISTRY_ROOT=" + registry,
                                         "XDG_STATE_HOME=" + state, "PATH=/usr/bin:/bin",
                                         // A trial's hold of 10 s shortened: every run with a client waits it.
                                         "ZOLT_TRIAL_HOLD_MS=1500"};
    if (WindowsTarget()) {
      const auto wine = WineEnvironment();
      environment.insert(environment.end(), wine.begin(), wine.end());
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (work / (name + ".out")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (work / (name + ".err")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // The exit status, or -1 when the process did not end within the limit.
  static int Wait(pid_t pid, int limitMs = 60000) {
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limitMs)) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  FileSet Installed() const {
    // Staging and the kept state are not installed.
    FileSet tree = ReadTree(app, "UPDATE");
    for (const char* own : {"Config.dat", "UserConfig.dat", "UpdateRecord.dat", "ZOLTUpdate", "ZOLTUpdate.exe",
                            "ZOLTUpdate.pub",
                            "client.log", "ZOLTUpdate.log"})
      tree.erase(own);
    return tree;
  }

  TempDir work;
  std::vector<std::string> extraEnvironment;  // "NAME=value" for the runs Start begins
  const std::string updater = WindowsTarget() ? "ZOLTUpdate.exe" : "ZOLTUpdate";  // its name in app
  std::string app = work / "app/";
  std::string pub = work / "pub/";
  std::string registry = work / "registry/";
  std::string runtime = work / "run";
  std::string state = work / "state";  // where a log goes that the application folder cannot hold
};
