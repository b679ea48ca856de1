// A publish folder <root>/1/... served by nginx and by the fault server, and
// a staging folder to fetch into.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>

#include "platform/crypt/MD5.h"
#include "platform/crypt/StreamDigest.h"
#include "platform/transfer/ZOLTUpdateIntf.h"
#include "tests/support/HttpServers.h"
#include "tests/support/TempDir.h"

inline std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

inline std::string RandomHex(unsigned seed) {
  const std::string bytes = RandomBytes(16, seed);
  return CMD5::OfBytes(bytes.data(), bytes.size());
}

inline S_UpdateSerivceAddr Local(int port) { return {"127.0.0.1", static_cast<std::uint16_t>(port)}; }

inline int CountOf(const std::string& text, const std::string& needle) {
  int count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

class TransferServers : public ::testing::Test {
 protected:
  void SetUp() override {
    Publish("UpdateConfig.ini", "[Version]\nVersion=2.0\n");
    Publish("a.bin", RandomBytes(20000, 1));
    Publish("big.bin", RandomBytes(1 << 20, 2));
    Publish("sub\\dir one\\file with space.dll", RandomBytes(3000, 3));
    Publish("数据\\文件 ü.bin", RandomBytes(5000, 4));
    Publish("empty.txt", "");
    nginx = std::make_unique<NginxServer>(root.path());
    faults = std::make_unique<FaultServer>(root.path());
  }

  void Publish(const std::string& name, const std::string& content) {
    std::string path = name;
    for (auto& c : path) c = c == '\\' ? '/' : c;
    WriteTextFile(root / ("1/" + path), content);
    published[name] = content;
  }

  std::string Source(const std::string& name) { return published.at(name); }
  std::string Md5Of(const std::string& name) { return CMD5::OfBytes(Source(name).data(), Source(name).size()); }
  std::string Sha256Of(const std::string& name) {
    CStreamDigest digest(kDigestSHA256);
    digest.Update(Source(name).data(), Source(name).size());
    return digest.Finish().sha256;
  }
  std::string SourcePath(const std::string& name) {
    std::string path = root / ("1/" + name);
    for (auto& c : path) c = c == '\\' ? '/' : c;
    return path;
  }

  TempDir root;
  TempDir staging;
  std::map<std::string, std::string> published;
  std::unique_ptr<NginxServer> nginx;
  std::unique_ptr<FaultServer> faults;
};
