// Times ExtractAttachments on disk. A 100 MB message of 20 base64
// attachments (76 characters a line) against reading it in 64 KB blocks and
// writing the same decoded byte count unprocessed into 20 files (target: 2x);
// then a message whose 75 MB part is one base64 line against the same data
// at 76 characters a line (target: within 1.2x). Each run deletes what it
// wrote.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/attachments/Attachments.h"
#include "core/platform/LockTable.h"

namespace {

constexpr int Parts = 20;
constexpr std::size_t PartBytes = 3932160;  // 20 of them: 75 MB decoded, about 102 MB encoded
constexpr DWORD Block = 64 * 1024;

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends the base64 of bytes, a line break after every width characters
// (0: one line).
void Encode(const std::vector<unsigned char>& bytes, std::size_t width, std::string& out) {
  std::size_t column = 0;
  for (std::size_t i = 0; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6)
      out += Alphabet[(v >> shift) & 63];
    column += 4;
    if (width != 0 && column >= width) {
      out += "\r\n";
      column = 0;
    }
  }
  if (column != 0 || width == 0) out += "\r\n";
}

std::vector<unsigned char> Data(std::size_t size, std::uint32_t seed) {
  std::vector<unsigned char> bytes(size);
  for (auto& b : bytes) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    b = static_cast<unsigned char>(seed);
  }
  return bytes;
}

void Append(HANDLE file, const std::string& text) {
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// A message of parts, each of size bytes, their base64 at width characters a line.
std::string WriteMessage(const std::string& name, int parts, std::size_t size, std::size_t width) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  Append(file, "From: a@example.org\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n");
  for (int i = 0; i < parts; ++i) {
    std::string part = "--b\r\nContent-Type: application/octet-stream; name=\"part" + std::to_string(i) +
                       ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    Encode(Data(size, 0x9E3779B9u + static_cast<std::uint32_t>(i)), width, part);
    Append(file, part);
  }
  Append(file, "--b--\r\n");
  CloseHandle(file);
  return name;
}

std::uint64_t Extract(const std::string& message, const std::string& out) {
  core::AttachmentCollection found;
  core::ExtractAttachments(message, -1, out, found, false, false);
  std::uint64_t bytes = 0;
  if (found) {
    for (int i = 0; i < found->Count(); ++i)
      bytes += static_cast<std::uint64_t>(found->GetObjectAt(i)->size);
    core::FreeAttachmentObjects(*found, true);
  }
  return bytes;
}

// Reads the message in blocks and writes bytes in total, unprocessed, into
// parts files.
std::uint64_t ReadAndWrite(const std::string& message, const std::string& out, std::uint64_t bytes, int parts) {
  std::vector<char> buffer(Block);
  HANDLE in = CreateFileA(message.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  DWORD got = 0;
  std::uint64_t read = 0;
  while (ReadFile(in, buffer.data(), Block, &got, nullptr) && got != 0)
    read += got;
  CloseHandle(in);
  CreateDirectoryA(out.c_str(), nullptr);
  for (int i = 0; i < parts; ++i) {
    const std::string name = out + "plain" + std::to_string(i) + ".bin";
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    for (std::uint64_t left = bytes / static_cast<std::uint64_t>(parts); left != 0; left -= written) {
      const DWORD step = left < Block ? static_cast<DWORD>(left) : Block;
      if (!WriteFile(file, buffer.data(), step, &written, nullptr) || written == 0) break;
    }
    CloseHandle(file);
    DeleteFileA(name.c_str());
  }
  return read;
}

}  // namespace

int main() {
  core::CreateLockTable(true);
  const std::string folder = bench::TempBenchFolder("extract");
  const std::string out = folder + "out\\";

  const std::string twenty = WriteMessage(folder + "twenty.eml", Parts, PartBytes, 76);
  const std::uint64_t decoded = Extract(twenty, out);
  const auto [ours, baseline] = bench::AlternatingMedians(
      5, [&] { return Extract(twenty, out); }, [&] { return ReadAndWrite(twenty, out, decoded, Parts); });
  bench::Report("extract_20_base64_parts", ours, baseline);
  DeleteFileA(twenty.c_str());

  const std::string line = WriteMessage(folder + "line.eml", 1, Parts * PartBytes, 0);
  const std::string wrapped = WriteMessage(folder + "wrapped.eml", 1, Parts * PartBytes, 76);
  const auto [oneLine, lines] = bench::AlternatingMedians(
      5, [&] { return Extract(line, out); }, [&] { return Extract(wrapped, out); });
  bench::Report("extract_one_line_vs_76", oneLine, lines);

  DeleteFileA(line.c_str());
  DeleteFileA(wrapped.c_str());
  RemoveDirectoryA(out.c_str());
  RemoveDirectoryA(folder.c_str());
  return 0;
}
