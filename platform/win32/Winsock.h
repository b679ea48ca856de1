// Host-name resolution as the updater asks Winsock for it, over the resolver
// of the C library (IPv4 only).
#pragma once

#include <arpa/inet.h>   // inet_addr: the same call and meaning as in Winsock
#include <netinet/in.h>  // INADDR_NONE

#include <cstdint>
#include <string>

#include "platform/win32/Win32Types.h"

// Starting and stopping Winsock have nothing to do here; both succeed.
struct WSADATA {
  std::uint16_t wVersion = 0;
};
int WSAStartup(std::uint16_t version, WSADATA* data);
int WSACleanup();

// The first IPv4 address the resolver gives for host, as dotted text. False
// (dotted untouched) when the name has no IPv4 address.
bool LookupHostIPv4(const std::string& host, std::string& dotted);
