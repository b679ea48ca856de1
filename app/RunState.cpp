#include "app/RunState.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>

#include "install/InstallJournal.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/Files.h"
#include "platform/win32/Runtime.h"
#include "transfer/KeptManifest.h"
#include "update/Rollout.h"

namespace {

constexpr std::size_t kMaximumLastRunBytes = 16 * 1024;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  crt::UtcCalendar(now, parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// The last run's file as this program writes it: a flat object of string and
// whole-number values. Anything else (a hand-edited or planted file) is not
// passed on.
std::optional<std::string> ParseLastRun(const std::string& text) {
  std::size_t at = 0;
  const auto skip = [&] {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\n')) ++at;
  };
  const auto string = [&](std::string& out) {
    if (at >= text.size() || text[at] != '"') return false;
    for (++at; at < text.size(); ++at) {
      const unsigned char c = static_cast<unsigned char>(text[at]);
      if (c == '"') {
        ++at;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++at >= text.size()) return false;
        const char e = text[at];
        if (e == 'u') {
          if (at + 4 >= text.size()) return false;
          const std::string hex = text.substr(at + 1, 4);
          if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
          out += static_cast<char>(std::stoi(hex, nullptr, 16) & 0x7f);
          at += 4;
        } else if (e == 'n') {
          out += '\n';
        } else if (e == '"' || e == '\\' || e == '/') {
          out += e;
        } else {
          return false;
        }
        continue;
      }
      out += static_cast<char>(c);
    }
    return false;
  };
  std::string json = "{";
  skip();
  if (at >= text.size() || text[at++] != '{') return std::nullopt;
  for (bool first = true;; first = false) {
    skip();
    if (at < text.size() && text[at] == '}' && first) {
      ++at;
      break;
    }
    std::string key, value;
    if (!string(key)) return std::nullopt;
    skip();
    if (at >= text.size() || text[at++] != ':') return std::nullopt;
    skip();
    if (at < text.size() && text[at] == '"') {
      if (!string(value)) return std::nullopt;
      value = JsonString(value);
    } else {
      const std::size_t end = text.find_first_not_of("-0123456789", at);
      value = text.substr(at, end - at);
      if (value.empty() || value.size() > 20 || value.find('-', 1) != std::string::npos) return std::nullopt;
      at = end;
    }
    json += (first ? "" : ", ") + JsonString(key) + ": " + value;
    skip();
    if (at < text.size() && text[at] == ',') {
      ++at;
      continue;
    }
    if (at < text.size() && text[at] == '}') {
      ++at;
      break;
    }
    return std::nullopt;
  }
  skip();
  if (at != text.size()) return std::nullopt;
  return json + "}";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

void WriteLastRun(const std::string& appPath, int exitStatus, const std::string& outcome) {
  const std::string json = "{\"time\": " + JsonString(UtcNow()) + ", \"exit\": " + std::to_string(exitStatus) +
                           ", \"outcome\": " + JsonString(outcome) +
                           ", \"cause\": " + JsonString(diagnostics::FirstCause()) + "}\n";
  const std::string folder = appPath + "UPDATE.kept";
  const std::string path = appPath + kLastRunPath;
  if ((PathIsDirectoryA(folder.c_str()) || CreateDirectoryTree(folder.c_str())) && WriteFileAtomically(path, json))
    return;
  diagnostics::LogFact("cannot write " + NativePath(path) + ": " + diagnostics::ErrorText(errno));
}

std::string StatusJson(const std::string& appPath) {
  CCryptConfigFile config(appPath + "Config.dat", "");
  std::string version, region;
  config.ReadString("Update", "Version", "", version);
  config.ReadString("Update", "Region", "", region);
  std::string json = "{\n  \"installed\": {\"version\": " + JsonString(version) + ", \"region\": " +
                     JsonString(region) + "},\n";

  std::string text, cause;
  std::optional<std::string> lastRun;
  if (ReadFileGuarded(appPath + kLastRunPath, text, {kMaximumLastRunBytes, true, false, true})) lastRun = ParseLastRun(text);
  json += "  \"last_run\": " + lastRun.value_or("null") + ",\n";

  SInstallJournal journal;
  std::string pending = "null";
  if (ReadJournal(JournalPath(appPath, 1), journal, cause) == EJournalRead::kRead)
    pending = "{\"state\": " + JsonString(JournalStateName(journal.state)) + ", \"version\": " +
              JsonString(journal.version) + ", \"replaces\": " + JsonString(journal.oldVersion) + "}";
  json += "  \"trial\": " + pending + ",\n";

  SHeldRelease held;
  std::string hold = "null";
  cause.clear();
  // Read, never removed here: --status changes nothing.
  std::string holdBytes;
  if (ReadFileGuarded(KeptTypeFolder(appPath, 1) + "held", holdBytes, {1024, true, false, true})) {
    const std::size_t line = holdBytes.find('\n');
    if (line != std::string::npos && line > 0 && holdBytes.size() > line + 1 && holdBytes.back() == '\n' &&
        holdBytes.find('\n', line + 1) == holdBytes.size() - 1)
      hold = "{\"version\": " + JsonString(holdBytes.substr(line + 1, holdBytes.size() - line - 2)) +
             ", \"release\": " + JsonString(holdBytes.substr(0, line)) + "}";
  }
  json += "  \"held\": " + hold + ",\n";

  std::string previous = "null";
  if (ReadJournal(PreviousJournalPath(appPath, 1), journal, cause) == EJournalRead::kRead &&
      journal.state == EJournalState::kKept)
    previous = "{\"version\": " + JsonString(journal.oldVersion) + ", \"replaced_by\": " +
               JsonString(journal.version) + "}";
  json += "  \"previous\": " + previous + ",\n";

  const auto serial = CKeptFiles(appPath, 1).HighestSerial("UpdateConfig.ini").serial;
  json += "  \"highest_serial\": " + (serial ? std::to_string(*serial) : std::string("null")) + ",\n";

  std::string rollout = "null", manifest;
  if (ReadFileGuarded(KeptTypeFolder(appPath, 1) + "UpdateConfig.ini", manifest,
                      {CZOLTUpdateIntf::kDefaultSizeCap, true})) {
    std::string offered;
    CConfigFile::OfBytes(std::move(manifest)).ReadString("Version", "VERSION", "", offered);
    const std::string id = offered.empty() ? std::string() : InstallationId(appPath, cause);
    if (!id.empty())
      rollout = "{\"version\": " + JsonString(offered) + ", \"bucket\": " +
                std::to_string(RolloutBucket(id, offered)) + "}";
  }
  json += "  \"rollout\": " + rollout + "\n}\n";
  return json;
}
