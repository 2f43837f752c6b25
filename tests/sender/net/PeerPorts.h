#pragma once
// The ports of the peers that run_with_peers.sh started for this program.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace sender_tests {

// 0 when the variable is missing or empty.
inline std::uint16_t PeerPort(const char* name) {
  const char* value = std::getenv(("VM_" + std::string(name) + "_PORT").c_str());
  return value == nullptr ? 0 : static_cast<std::uint16_t>(std::atoi(value));
}

inline long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace sender_tests
