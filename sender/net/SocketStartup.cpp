#include "sender/net/SocketStartup.h"

#include "core/platform/Handles.h"

namespace sender {

namespace {
SRWLOCK g_startup = SRWLOCK_INIT;
}  // namespace

int StartWindowsSockets(WSADATA& data) {
  core::ExclusiveSrwGuard guard(g_startup);
  return ::WSAStartup(MAKEWORD(1, 1), &data);
}

void EndWindowsSockets() {
  core::ExclusiveSrwGuard guard(g_startup);
  ::WSACleanup();
}

}  // namespace sender
