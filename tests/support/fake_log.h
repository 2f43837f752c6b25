// Log of what a fake service received, shared by the fakes and the tests
// that read it. One line per request or window message:
//   <time> <P|W> <hex bytes>
// time is the performance counter (one clock for every process), P a pipe
// connection with every byte it carried, W a window message written as the
// 16 bytes {0, message, wParam, lParam}.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fake {

struct LogRecord {
  std::uint64_t time = 0;
  char kind = 'P';    // 'P' pipe, 'W' window message
  std::string bytes;  // raw bytes received

  // Little-endian 32-bit word i of the bytes, 0 past the end.
  std::uint32_t Word(std::size_t i) const {
    if (bytes.size() < (i + 1) * 4) return 0;
    std::uint32_t value = 0;
    for (std::size_t b = 4; b-- > 0;)
      value = (value << 8) | static_cast<std::uint8_t>(bytes[i * 4 + b]);
    return value;
  }
  std::uint32_t Command() const { return Word(0); }
  std::uint32_t Message() const { return Word(1); }
  std::uint32_t WParam() const { return Word(2); }
  std::uint32_t LParam() const { return Word(3); }
};

inline std::uint64_t Now() {
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  return static_cast<std::uint64_t>(counter.QuadPart);
}

inline std::string ToHex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Pairs of hex digits to bytes; stops at the first pair that is not hex.
inline std::string FromHex(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) break;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

inline std::string Words(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  std::string bytes;
  for (const std::uint32_t w : {a, b, c, d})
    for (int i = 0; i < 4; ++i)
      bytes += static_cast<char>((w >> (8 * i)) & 0xFF);
  return bytes;
}

// Appends one line and closes the file again, so a reader sees every record
// at once and a killed fake loses nothing.
inline bool AppendLog(const std::string& path, char kind, std::string_view bytes, std::uint64_t time) {
  if (path.empty()) return false;
  const std::string line = std::to_string(time) + " " + kind + " " + ToHex(bytes) + "\n";
  const HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == line.size();
}

inline std::vector<LogRecord> ReadLog(const std::string& path) {
  std::vector<LogRecord> records;
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return records;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    text.append(buffer, got);
  ::CloseHandle(file);

  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a line still being written
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos || first + 2 >= line.size()) continue;
    LogRecord record;
    for (const char c : line.substr(0, first)) {
      if (c < '0' || c > '9') break;
      record.time = record.time * 10 + static_cast<std::uint64_t>(c - '0');
    }
    record.kind = line[first + 1];
    if (first + 3 <= line.size()) record.bytes = FromHex(line.substr(first + 3));
    records.push_back(record);
  }
  return records;
}

}  // namespace fake
