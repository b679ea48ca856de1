#include "platform/win32/Registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

struct HKEY__ {
  std::string path;  // below the registry root, "/"-separated
  bool predefined = false;
};

namespace {

HKEY__ localMachine{"HKEY_LOCAL_MACHINE", true};

std::string RegistryRoot() {
  const char* root = std::getenv("ZOLT_REGISTRY_ROOT");
  std::string path = (root != nullptr && *root != '\0') ? root : "/var/lib/zolt/registry";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A key or value name must stay inside its key's folder: no empty, "." or
// ".." part, no separator ("/" or "\") and no zero byte inside a part.
bool IsPlainPart(std::string_view part) {
  return !part.empty() && part != "." && part != ".." &&
         part.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool ToFolderPath(std::string_view subKey, std::string& path) {
  path.clear();
  while (!subKey.empty()) {
    const auto separator = subKey.find('\\');
    const std::string_view part = subKey.substr(0, separator);
    if (!IsPlainPart(part)) return false;
    path += '/';
    path += part;
    subKey.remove_prefix(separator == std::string_view::npos ? subKey.size() : separator + 1);
  }
  return true;
}

}  // namespace

const HKEY HKEY_LOCAL_MACHINE = &localMachine;

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD /*options*/, DWORD access, HKEY* result) {
  if (result == nullptr || root == nullptr) return static_cast<LONG>(ERROR_ACCESS_DENIED);
  *result = nullptr;
  std::string relative;
  if (!ToFolderPath(subKey == nullptr ? "" : subKey, relative)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
  const std::string path = root->path + relative;
  const std::string folder = RegistryRoot() + "/" + path;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
  // Asking for write access to a key the process may not change fails at the
  // open, as it does on Windows, not later at the first write.
  if ((access & KEY_WRITE & ~KEY_READ) != 0 && ::access(folder.c_str(), W_OK | X_OK) != 0)
    return static_cast<LONG>(ERROR_ACCESS_DENIED);
  *result = new HKEY__{path, false};
  return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD /*reserved*/, DWORD /*type*/, const BYTE* data, DWORD size) {
  if (key == nullptr || valueName == nullptr || !IsPlainPart(valueName) || (data == nullptr && size != 0))
    return static_cast<LONG>(ERROR_ACCESS_DENIED);
  const std::string file = RegistryRoot() + "/" + key->path + "/" + valueName;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  return WriteFileAtomically(file, bytes) ? static_cast<LONG>(ERROR_SUCCESS) : static_cast<LONG>(ERROR_ACCESS_DENIED);
}

LONG RegCloseKey(HKEY key) {
  if (key == nullptr) return static_cast<LONG>(ERROR_ACCESS_DENIED);
  if (!key->predefined) delete key;
  return static_cast<LONG>(ERROR_SUCCESS);
}
