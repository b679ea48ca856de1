#include "update/ServerWait.h"

#include <ctime>

#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/transfer/ZOLTUpdateIntf.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "platform/win32/Runtime.h"

namespace {

std::string RecordPath(const std::string& appPath) { return appPath + "UPDATE.kept\\retry-after"; }

}  // namespace

std::int64_t KeptServerWait(const std::string& appPath) {
  if (PathIsSymbolicLinkA((appPath + "UPDATE.kept").c_str())) return 0;
  std::string text;
  SGuardedRead rules;
  rules.maxBytes = 64;
  rules.ownOnly = true;
  rules.privateState = true;
  if (!ReadFileGuarded(RecordPath(appPath), text, rules)) return 0;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const std::int64_t until = std::stoll(text);
  const std::int64_t now = std::time(nullptr);
  // Further off than a server may ask: not a record this updater wrote.
  if (until <= now || until > now + CZOLTUpdateIntf::kRetryAfterCapHttps) return 0;
  return until;
}

void KeepServerWait(const std::string& appPath, std::int64_t until) {
  if (PathIsSymbolicLinkA((appPath + "UPDATE.kept").c_str())) return;
  CreateDirectoryTree((appPath + "UPDATE.kept").c_str());
  if (!WriteFileAtomically(RecordPath(appPath), std::to_string(until) + "\n"))
    diagnostics::LogFact("cannot keep the server's Retry-After in " + NativePath(RecordPath(appPath)));
}

std::string FormatWaitEnd(std::int64_t until) {
  const std::time_t time = static_cast<std::time_t>(until);
  std::tm local{};
  crt::LocalCalendar(time, local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}
