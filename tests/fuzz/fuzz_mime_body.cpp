// The multipart walk: reading a message page by page gives the same text as
// reading it at once, whatever the block sizes, and every page moves on.
// Byte 0: page size, byte 1: block size, byte 2: wanted type and form; rest:
// message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime/MessageBody.h"

namespace {

core::MessageForm g_form = core::MessageForm::Stuffed;

bool Read(std::string_view message, std::size_t chunk, std::size_t max, std::string_view wanted, std::int32_t& index,
          std::string& out) {
  core::MemorySource source(message, chunk);
  core::LineReader reader(source);
  return core::ReadMessageBody(reader, out, max, wanted, index, g_form);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t page = data[0] % 64 + 1;
  const std::size_t chunk = data[1];
  const std::string_view wanted = data[2] % 3 == 0 ? "" : data[2] % 3 == 1 ? "text/html" : "TEXT/PLAIN";
  g_form = static_cast<core::MessageForm>(data[2] / 3 % 3);
  const std::string_view message(reinterpret_cast<const char*>(data + 3), size - 3);

  std::string whole;
  std::int32_t lines = 0;
  if (Read(message, 0, 0, wanted, lines, whole)) std::abort();  // no limit: always to the end

  std::string paged;
  std::int32_t index = 0;
  for (int pages = 0;; ++pages) {
    if (pages > lines + 2) std::abort();
    std::string out;
    const bool more = Read(message, chunk, page, wanted, index, out);
    paged += out;
    if (!more) break;
    if (out.size() < page) std::abort();  // stops only once a page is full
  }
  if (paged != whole || index != lines) std::abort();
  return 0;
}
