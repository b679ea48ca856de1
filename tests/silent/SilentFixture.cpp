#include "tests/silent/SilentFixture.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"

namespace fs = std::filesystem;

namespace {

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, int limitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TestNginx::TestNginx(const std::string& root, const std::string& limitRate) {
  // The port can be taken between the probe and nginx's bind; try a few.
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = FreePort();
    WriteTextFile(prefix_ / "nginx.conf",
                  "daemon off;\nmaster_process off;\nerror_log " + prefix_.path() + "error.log;\npid " +
                      prefix_.path() + "nginx.pid;\nevents { worker_connections 64; }\n" + "http {\n  access_log " +
                      prefix_.path() + "access.log;\n" + "  client_body_temp_path " + prefix_.path() +
                      "t1;\n  proxy_temp_path " + prefix_.path() + "t2;\n  fastcgi_temp_path " + prefix_.path() +
                      "t3;\n  uwsgi_temp_path " + prefix_.path() + "t4;\n  scgi_temp_path " + prefix_.path() +
                      "t5;\n  server {\n    listen 127.0.0.1:" + std::to_string(port_) + ";\n    root " + root + ";\n" +
                      (limitRate.empty() ? "" : "    limit_rate " + limitRate + ";\n") + "  }\n}\n");
    const std::string conf = prefix_ / "nginx.conf";
    const std::string errors = prefix_ / "stderr.log";
    const char* argv[] = {"/usr/sbin/nginx", "-p", prefix_.path().c_str(),          "-c",
                          conf.c_str(),      "-e", (prefix_ / "error.log").c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start nginx");
    int status = 0;
    const bool up = WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) != 0 || Accepts(port_); });
    if (up && ::waitpid(pid, &status, WNOHANG) == 0) pid_ = pid;
  }
  if (pid_ < 0) throw std::runtime_error("nginx did not start: " + ReadTextFile(prefix_ / "error.log"));
}

TestNginx::~TestNginx() {
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

int TestNginx::Requests(const std::string& urlPath) const {
  const std::string log = ReadTextFile(prefix_ / "access.log");
  const std::string needle = "\"GET " + urlPath + " ";
  int count = 0;
  for (auto at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++count;
  return count;
}

std::string Native(const std::string& name) {
  std::string native = name;
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

void WriteFiles(const std::string& directory, const FileSet& files) {
  for (const auto& [name, content] : files) WriteTextFile(directory + Native(name), content);
}

void Publish(const std::string& root, int type, const FileSet& files, const ManifestHeader& header,
             const FileSet& digests) {
  const std::string folder = root + std::to_string(type) + "/";
  WriteFiles(folder, files);
  std::string manifest;
  if (type == 1) {
    manifest = "[Version]\nVERSION=" + header.version + "\nREGION=" + header.region +
               "\nNOTIFIY=" + std::to_string(header.notify) + "\n[FILES]\n";
    for (const auto& file : files) manifest += file.first + "\n";
  }
  for (const auto& [name, content] : files) {
    const auto forced = digests.find(name);
    const std::string md5 = forced != digests.end() ? forced->second : CMD5::OfBytes(content.data(), content.size());
    manifest += "[" + name + "]\nMD5=" + md5 + "\nSIZE=" + std::to_string(content.size()) +
                "\nMODIFYTIME=2026-12-01 10:00:00\n";
  }
  WriteTextFile(folder + (type == 1 ? "UpdateConfig.ini" : "config.ini"), manifest);
}

FileSet ReadTree(const std::string& directory, const std::string& skipPrefix) {
  FileSet tree;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), directory).string();
    if (relative.starts_with(skipPrefix)) continue;
    tree[relative] = ReadTextFile(entry.path().string());
  }
  return tree;
}

void WriteLocalConfig(const std::string& appPath, const std::string& version, const std::string& region, int port) {
  CCryptConfigFile config(appPath + "Config.dat", "");
  config.WriteString("Update", "Version", version);
  config.WriteString("Update", "Region", region);
  config.WriteString("Update", "ServerIP", "127.0.0.1");
  config.WriteString("Update", "ServerPort", std::to_string(port));
  config.WriteString("Server", "WebSiteURL", "http://127.0.0.1:1/tovaro");
  CCryptConfigFile user(appPath + "UserConfig.dat", "");
  user.WriteInteger("Server", "UseProxy", 0);
}

std::string ReadConfig(const std::string& path, const std::string& section, const std::string& key) {
  CCryptConfigFile file(path, "");
  std::string value;
  file.ReadString(section, key, "", value);
  return value;
}
