#include "platform/win32/Winsock.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/core_guard.h"

int WSAStartup(std::uint16_t version, WSADATA* data) {
  if (data != nullptr) data->wVersion = version;
  return 0;
}

int WSACleanup() { return 0; }

bool LookupHostIPv4(const std::string& host, std::string& dotted) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0 || results == nullptr) return false;
  bool found = false;
  for (const addrinfo* entry = results; entry != nullptr && !found; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN];
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) {
      dotted = text;
      found = true;
    }
  }
  ::freeaddrinfo(results);
  return found;
}
