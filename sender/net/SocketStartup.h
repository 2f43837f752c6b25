#pragma once
// Each socket user starts and ends its own use of Windows Sockets. The two
// calls go through one process-wide lock: Wine keeps the start count without
// one, and a lost update lets one object's cleanup close every socket of the
// process while other threads still use theirs.

#include <winsock2.h>

namespace sender {

// WSAStartup for version 1.1: 0 or its error code.
int StartWindowsSockets(WSADATA& data);
void EndWindowsSockets();

}  // namespace sender
