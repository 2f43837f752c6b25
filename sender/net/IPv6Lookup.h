#pragma once
// The sending library's IPv6 state: the default for new sockets and the DNS
// server list (set from the server's settings), the run-time binding of the
// address-info functions, and the AAAA lookup of a host name.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>
#include <string_view>

namespace sender {

struct IPv6Settings {
  bool enabled = false;    // new sockets try IPv6 first
  std::string dnsServers;  // ";"-separated; the first is asked
};

// Set as one snapshot under a lock: the settings loader rewrites them while
// connections in other threads read them.
void SetIPv6Settings(bool enabled, std::string_view dnsServers);
IPv6Settings GetIPv6Settings();

using GetAddrInfoFunction = int(WSAAPI*)(const char*, const char*, const addrinfo*, addrinfo**);
using FreeAddrInfoFunction = void(WSAAPI*)(addrinfo*);

struct AddressInfoFunctions {
  GetAddrInfoFunction getAddrInfo = nullptr;
  FreeAddrInfoFunction freeAddrInfo = nullptr;
};

// Binds getaddrinfo and freeaddrinfo once: from the loaded ws2_32.dll, else
// from "wship6.dll" in the system folder. A failure is tried again next time.
bool LoadIPv6Functions();
// The bound pair (both null before LoadIPv6Functions succeeded).
AddressInfoFunctions IPv6Functions();
// Test hook: replaces the bound getaddrinfo; nullptr restores it.
void SetGetAddrInfoHook(GetAddrInfoFunction hook);

// The first AAAA address of the host as IPv6AddressToText gives it, asked of
// the first DNS server of the list (default port 53) with a time-out of 5 s;
// empty when the list is empty, the query fails, its response code is not 0
// or it holds no AAAA record.
std::string LookupIPv6Address(std::string_view hostName);

}  // namespace sender
