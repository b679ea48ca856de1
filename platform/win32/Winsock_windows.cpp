#include "platform/core_guard.h"
#include "platform/win32/Winsock.h"

bool LookupHostIPv4(const std::string& host, std::string& dotted) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0 || results == nullptr) return false;
  bool found = false;
  for (const addrinfo* entry = results; entry != nullptr && !found; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&address->sin_addr);
    dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
             std::to_string(bytes[3]);
    found = true;
  }
  ::freeaddrinfo(results);
  return found;
}
