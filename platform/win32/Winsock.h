// Host-name resolution as the updater asks Winsock for it (IPv4 only): on
// Windows Winsock itself, on Linux the resolver of the C library.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>  // before windows.h, which would bring Winsock 1
#include <ws2tcpip.h>

#include "platform/win32/Win32Types.h"
#else
#include <arpa/inet.h>   // inet_addr: the same call and meaning as in Winsock
#include <netinet/in.h>  // INADDR_NONE

#include "platform/win32/Win32Types.h"

// Starting and stopping Winsock have nothing to do here; both succeed.
struct WSADATA {
  std::uint16_t wVersion = 0;
};
int WSAStartup(std::uint16_t version, WSADATA* data);
int WSACleanup();
#endif

// The first IPv4 address the resolver gives for host, as dotted text. False
// (dotted untouched) when the name has no IPv4 address.
bool LookupHostIPv4(const std::string& host, std::string& dotted);
