// Differential: the streaming stuffing machines fed in blocks of random
// sizes against whole-buffer references written here, and the round trips.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/messages/MessageText.h"

namespace {

// Whole-buffer stuffing (add) or unstuffing of every "." that starts a line.
std::string Reference(std::string_view text, bool add) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && c == '.' && add) out += '.';
    if (!(lineStart && c == '.' && !add)) out += c;
    lineStart = c == '\n';
  }
  return out;
}

// Feeds the text in blocks of 0 to 8 bytes chosen by the seed.
template <typename Machine>
std::string InBlocks(Machine& machine, std::string_view text, std::uint32_t seed) {
  std::string out;
  while (!text.empty()) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t size = std::min<std::size_t>(text.size(), (seed >> 16) % 9);
    machine.Feed(text.substr(0, size), out);
    text.remove_prefix(size);
  }
  return out;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t seed = data[0] | data[1] << 8;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

  core::DotStuffer stuffer;
  const std::string stuffed = InBlocks(stuffer, text, seed);
  Check(stuffed == Reference(text, true) && Reference(stuffed, false) == text);
  core::DotUnstuffer unstuffer;
  Check(InBlocks(unstuffer, text, seed ^ 0x5A5A) == Reference(text, false));

  core::TmpDecoder decoder;
  std::string decoded = InBlocks(decoder, text, seed + 7);
  decoder.Finish(decoded);
  const bool marked = text.size() >= 5 && text.substr(text.size() - 5) == core::MessageEndMark;
  Check(decoded == Reference(marked ? text.substr(0, text.size() - 5) : text, false));
  Check(core::UnstuffMessage(core::StuffMessage(text)) == text);
  return 0;
}
