#pragma once
// What the peers of run_with_peers.sh recorded, asked over their report
// port (see smtp_peers.py): deliveries by envelope sender, and the bytes a
// scripted server received. Windows programs of the sender tests.

#include <string>
#include <utility>
#include <vector>

#include "sender/net/WinSocket.h"
#include "tests/sender/net/PeerPorts.h"

namespace sender_tests {

// One request to the report port, answered until it closes.
inline std::string Ask(const std::string& request) {
  sender::CustomWinSocket socket;
  socket.SetEventStyles(0);
  socket.ConnectTo("", "127.0.0.1", PeerPort("REPORT"), "");
  sender::WinSocketStream stream(socket, 30'000);
  stream.Write(request.data(), static_cast<std::int32_t>(request.size()));
  std::string answer;
  char buffer[65536];
  for (std::int32_t n; (n = stream.Read(buffer, sizeof buffer)) > 0;)
    answer.append(buffer, static_cast<std::size_t>(n));
  return answer;
}

// Recipients (joined by blanks) and content of every delivery from a
// sender (its bare address).
inline std::vector<std::pair<std::string, std::string>> Deliveries(const std::string& sender) {
  const std::string answer = Ask("MAIL " + sender + "\n");
  std::vector<std::pair<std::string, std::string>> found;
  std::size_t at = answer.find('\n') + 1;
  for (int n = std::stoi(answer); n-- > 0;) {
    const std::size_t rcptEnd = answer.find('\n', at), lengthEnd = answer.find('\n', rcptEnd + 1);
    const std::size_t length = std::stoul(answer.substr(rcptEnd + 1, lengthEnd - rcptEnd - 1));
    found.emplace_back(answer.substr(at, rcptEnd - at), answer.substr(lengthEnd + 1, length));
    at = lengthEnd + 1 + length;
  }
  return found;
}

}  // namespace sender_tests
