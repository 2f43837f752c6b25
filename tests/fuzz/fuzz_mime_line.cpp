// One body line by every transfer kind: bounded output, an empty line for an
// unknown kind; base64 split into two lines decodes the same four characters
// at a time as one at a time. Byte 0: kind (-1 to 5); rest: the line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime/TransferCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int kind = data[0] % 7 - 1;
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string out = core::DecodeMimeLine(kind, line);
  switch (kind) {
    case core::TransferBase64:
    case core::TransferMime:
      if (out.size() > line.size() * 3 / 4) std::abort();
      {
        core::Base64Decoder fast, slow;
        std::string a, b;
        const std::size_t cut = line.size() / 2 + data[0] % 3;
        fast.Line(line.substr(0, cut), a);
        fast.Line(line.substr(std::min(cut, line.size())), a);
        slow.LineOneByOne(line.substr(0, cut), b);
        slow.LineOneByOne(line.substr(std::min(cut, line.size())), b);
        if (a != b || a.size() > line.size() * 3 / 4) std::abort();
      }
      break;
    case core::TransferUuencode:
      if (out.size() > 63) std::abort();
      break;
    case core::TransferPlain:
      if (out != line) std::abort();
      break;
    case core::TransferQuotedPrintable:
      if (out.size() > line.size() + 2) std::abort();
      if (core::DecodeQuotedPrintable(line).size() > line.size()) std::abort();
      break;
    default:
      if (!out.empty()) std::abort();
  }
  return 0;
}
