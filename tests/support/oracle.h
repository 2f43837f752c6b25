#pragma once
// Runs a Python oracle script of the tests with input lines and answers its
// output lines: RunOracle runs tests/support/net_oracle.py (Python's
// socket, ipaddress and dnslib). Native tests only.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// script: a path below the source folder.
inline std::vector<std::string> RunPythonOracle(const std::string& script, const std::string& arguments,
                                                const std::vector<std::string>& input = {}) {
  const std::string inputPath = "/tmp/vm-oracle-" + std::to_string(::getpid());
  std::ofstream(inputPath) << [&] {
    std::string all;
    for (const auto& line : input)
      all += line + "\n";
    return all;
  }();
  const char* source = std::getenv("VM_SOURCE_DIR");
  const std::string command =
      "/usr/bin/python3 " + std::string(source ? source : ".") + "/" + script + " " + arguments + " < " + inputPath;
  std::vector<std::string> lines(1);
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    for (int c; (c = std::fgetc(pipe)) != EOF;) {
      if (c == '\n')
        lines.emplace_back();
      else
        lines.back().push_back(static_cast<char>(c));
    }
    ::pclose(pipe);
  }
  lines.pop_back();  // after the last newline
  std::remove(inputPath.c_str());
  return lines;
}

inline std::vector<std::string> RunOracle(const std::string& arguments, const std::vector<std::string>& input = {}) {
  return RunPythonOracle("tests/support/net_oracle.py", arguments, input);
}

inline std::pair<std::string, std::string> SplitTab(const std::string& line) {
  const auto tab = line.find('\t');
  return {line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)};
}

inline std::string Hex(const unsigned char* bytes, std::size_t size) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i)
    text += {Digits[bytes[i] >> 4], Digits[bytes[i] & 15]};
  return text;
}

inline std::vector<unsigned char> Unhex(const std::string& text) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

}  // namespace testing_support
