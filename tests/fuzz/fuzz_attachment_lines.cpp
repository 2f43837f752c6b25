// The extraction's body decoding against DecodeMimeLine: for a part of lines
// of at most 200 characters (base64 lines whose groups end at the line end)
// the file holds what DecodeMimeLine gives line by line, whatever the piece
// size (uuencode: whole lines). Byte 0: transfer kind; byte 1: piece size
// (0: 64 KB); rest: the lines, separated by LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/attachments/AttachmentWalk.h"
#include "core/mime/TransferCodecs.h"
#include "tests/support/memory_folder.h"

namespace {

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Completes the last base64 group of a line without "=".
void EndGroups(std::string& line) {
  if (line.find('=') != std::string::npos) return;
  std::size_t count = 0;
  for (const char c : line)
    count += IsBase64Char(c) ? 1 : 0;
  if (count % 4 != 0) line.append(4 - count % 4, 'A');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static constexpr const char* Encodings[] = {"base64", "x-uuencode", "mime", "7bit", "quoted-printable"};
  const int kind = data[0] % 5;
  core::ExtractionOptions options;
  options.folder = "F:\\";
  if (data[1] != 0 && kind != core::TransferUuencode) options.piece = data[1];

  std::vector<std::string> lines(1);
  for (std::size_t i = 2; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n' || lines.back().size() == 200) lines.emplace_back();
    if (c != '\n' && c != '\r') lines.back().push_back(c);
  }
  std::string message = "Content-Type: application/octet-stream; name=\"x\"\r\nContent-Transfer-Encoding: " +
                        std::string(Encodings[kind]) + "\r\n\r\n";
  std::string expected;
  for (std::string& line : lines) {
    if (kind == core::TransferBase64 || kind == core::TransferMime) EndGroups(line);
    message += line + "\r\n";
    expected += kind == core::TransferPlain ? line + "\r\n" : core::DecodeMimeLine(kind, line);
  }

  testing_support::MemoryFolder folder;
  testing_support::NoteRecorder recorder;
  core::ExtractParts([&] { return std::make_unique<core::MemorySource>(message); }, options, folder, recorder);
  const std::string* written = folder.Content("F:\\x");
  if (written == nullptr || *written != expected) std::abort();
  return 0;
}
