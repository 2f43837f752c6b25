// One part's header block: bounded fields and header text, the same record
// for any block size, and the reader left after the block.
// Byte 0: block size, byte 1: bit 0 takes the first line as pending; rest: data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime/MessageHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = data[0];
  const bool pending = (data[1] & 1) != 0;
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  std::string_view first;
  if (pending) {
    const std::size_t end = text.find_first_of("\r\n");
    first = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }

  core::MimePartHeaders parts[2];
  for (int i = 0; i < 2; ++i) {
    core::MemorySource source(text, i == 0 ? 0 : chunk);
    core::LineReader reader(source);
    if (pending)
      core::ParseMimePartHeaders(reader, parts[i], first);
    else
      core::ParseMimePartHeaders(reader, parts[i]);
  }
  const core::MimePartHeaders& p = parts[0];
  for (const std::string* field :
       {&p.type, &p.subtype, &p.transferEncoding, &p.charset, &p.contentId, &p.fileName, &p.boundary})
    if (field->size() > 255) std::abort();
  if (p.headerText.size() > core::HeaderTextLimit) std::abort();
  if (p.fileName.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
  const core::MimePartHeaders& q = parts[1];
  if (p.type != q.type || p.subtype != q.subtype || p.fileName != q.fileName || p.boundary != q.boundary ||
      p.headerText != q.headerText)
    std::abort();
  return 0;
}
