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

#include "platform/win32/Shell.h"
#include "platform/win32/Window.h"
#include "tests/silent/SilentFixture.h"

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
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
    std::filesystem::copy_file(Env("ZOLT_UPDATE_BIN"), app + "ZOLTUpdate");
  }

  // wrapper, when given, is put in front of the program (strace, or a
  // namespace that mounts something first); its first element is a full path.
  pid_t Start(const std::vector<std::string>& args = {"-silent"}, const std::string& name = "run",
              const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> arguments = wrapper;
    arguments.push_back(app + "ZOLTUpdate");
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment{"XDG_RUNTIME_DIR=" + runtime, "ZOLT_REGISTRY_ROOT=" + registry,
                                         "XDG_STATE_HOME=" + state, "PATH=/usr/bin:/bin",
                                         // A trial's hold of 10 s shortened: every run with a client waits it.
                                         "ZOLT_TRIAL_HOLD_MS=1500"};
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
    for (const char* own : {"Config.dat", "UserConfig.dat", "UpdateRecord.dat", "ZOLTUpdate", "ZOLTUpdate.pub",
                            "client.log", "ZOLTUpdate.log"})
      tree.erase(own);
    return tree;
  }

  TempDir work;
  std::vector<std::string> extraEnvironment;  // "NAME=value" for the runs Start begins
  std::string app = work / "app/";
  std::string pub = work / "pub/";
  std::string registry = work / "registry/";
  std::string runtime = work / "run";
  std::string state = work / "state";  // where a log goes that the application folder cannot hold
};
