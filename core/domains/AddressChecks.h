#pragma once
// Address-list checks of client IPs: the relay list, IP patterns and the
// per-domain shield of "domainshield.dat". Each answers 1 (admitted) or 0.
#include <string_view>

namespace core {

// 1 when the IP passes the domain's line of "domainshield.dat", or when the
// file or a line for the domain is missing.
int CheckDomainShield(std::string_view domain, std::string_view ip);

// 1 when an item of the ";"-list admits the IP: an IP pattern that matches,
// or (domain shield on) a served domain whose shield admits it.
int IPInList(std::string_view list, std::string_view ip);

// IPInList(list, ip); with useRelayFile, when that says 0, each line of the
// relay file (empty name: configuration folder + "relay.dat") is tried too.
int CheckRelayIP(std::string_view ip, std::string_view list, bool useRelayFile, std::string_view relayFile);

}  // namespace core
