#include "update/UpdateRecord.h"

#include <mutex>

#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Runtime.h"

namespace {

std::mutex clockMutex;
std::function<std::time_t()> recordClock;

std::time_t Now() {
  std::lock_guard lock(clockMutex);
  return recordClock ? recordClock() : std::time(nullptr);
}

// Closes the key on every way out of the caller, exceptions included.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool SetText(HKEY key, const char* name, const std::string& text) {
  // The length includes the terminating zero, which readers of REG_SZ expect.
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == static_cast<LONG>(ERROR_SUCCESS);
}

}  // namespace

void SetRecordClock(std::function<std::time_t()> clock) {
  std::lock_guard lock(clockMutex);
  recordClock = std::move(clock);
}

std::string FormatLocalTime(const std::string& pattern) {
  const std::time_t now = Now();
  std::tm local{};
  if (!crt::LocalCalendar(now, local)) return std::string();
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, pattern.c_str(), &local);
  return std::string(buffer, length);
}

bool WriteUpdateRecord(const std::string& appPath, const std::string& pattern, const std::string& newVersion,
                       const std::string& oldVersion, bool succeeded) {
  CCryptConfigFile record(appPath + "UpdateRecord.dat", "");
  const std::string section = FormatLocalTime(pattern);
  return record.WriteInteger(section, "IsSucceed", succeeded ? 1 : 0) != 0 &&
         record.WriteString(section, "NewVersion", newVersion) != 0 &&
         record.WriteString(section, "OldVersion", oldVersion) != 0;
}

bool WriteInstalledVersion(const std::string& appPath, const std::string& newVersion) {
  RegistryKey key;
  constexpr DWORD kReadWrite = KEY_READ | KEY_WRITE;  // 0x2001F, no registry-view flag
  static_assert(kReadWrite == 0x2001F);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tovaro", 0, kReadWrite, key.receive()) !=
      static_cast<LONG>(ERROR_SUCCESS))
    return true;
  return SetText(key.get(), "InstallPath", appPath) && SetText(key.get(), "Version", newVersion);
}
