#include "core/messages/MessageText.h"

#include <algorithm>

#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {
namespace {

// Walks the block line by line; at each line start, atStart decides what
// happens to a leading "." (true: it stays).
template <typename AtLineStart>
void ByLines(std::string_view block, bool& lineStart, std::string& out, AtLineStart atStart) {
  std::size_t position = 0;
  while (position < block.size()) {
    if (lineStart && block[position] == '.' && !atStart(out)) ++position;
    lineStart = false;
    const std::size_t newline = block.find('\n', position);
    const std::size_t end = newline == std::string_view::npos ? block.size() : newline + 1;
    out.append(block.data() + position, end - position);
    position = end;
    lineStart = newline != std::string_view::npos;
  }
}

std::string TwoDigits(int value) { return PadLeft(std::to_string(value), 2, '0'); }

}  // namespace

void DotStuffer::Feed(std::string_view block, std::string& out) {
  ByLines(block, lineStart_, out, [](std::string& text) {
    text += '.';
    return true;
  });
}

void DotUnstuffer::Feed(std::string_view block, std::string& out) {
  ByLines(block, lineStart_, out, [](std::string&) { return false; });
}

void TmpDecoder::Feed(std::string_view block, std::string& out) {
  const std::size_t keep = MessageEndMark.size();
  if (tail_.size() + block.size() <= keep) {
    tail_.append(block);
    return;
  }
  // Everything but the last five bytes of tail_ + block is certain now.
  const std::size_t fromTail = std::min(tail_.size(), tail_.size() + block.size() - keep);
  Release(std::string_view(tail_).substr(0, fromTail), out);
  tail_.erase(0, fromTail);
  if (block.size() > keep) {
    Release(block.substr(0, block.size() - keep), out);
    tail_.assign(block.substr(block.size() - keep));
  } else {
    tail_.append(block);
  }
}

void TmpDecoder::Finish(std::string& out) {
  if (tail_ != MessageEndMark) Release(tail_, out);
  tail_.clear();
  unstuffer_ = DotUnstuffer();
}

std::string StuffMessage(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 64 + MessageEndMark.size());
  DotStuffer stuffer;
  stuffer.Feed(text, out);
  out += MessageEndMark;
  return out;
}

std::string UnstuffMessage(std::string_view tmp) {
  std::string out;
  out.reserve(tmp.size());
  TmpDecoder decoder;
  decoder.Feed(tmp, out);
  decoder.Finish(out);
  return out;
}

std::uint32_t DosDateTime(const LocalDateTime& time) {
  LocalDateTime t = time;
  if (t.year < 1980) t = LocalDateTime{};
  if (t.year > 2107) t = LocalDateTime{2107, 12, 31, 23, 59, 59};
  const auto date = static_cast<std::uint32_t>((t.year - 1980) << 9 | t.month << 5 | t.day);
  const auto clock = static_cast<std::uint32_t>(t.hour << 11 | t.minute << 5 | t.second / 2);
  return (date & 0xFFFF) << 16 | (clock & 0xFFFF);
}

std::string ImapHeaderText(std::uint32_t dosDateTime) {
  return "0000000000000000" + IntToHex8(static_cast<std::int32_t>(dosDateTime));
}

std::string ImapMessageHeader(std::uint32_t dosDateTime) { return ImapHeaderText(dosDateTime) + "\r\n"; }

std::string MessageFileName(std::string_view folder, std::string_view prefix, const LocalDateTime& time,
                            std::uint16_t counter, std::string_view extension) {
  std::string name(folder);
  name += prefix;
  name += PadLeft(std::to_string(time.year), 4, '0');
  for (const int part : {time.month, time.day, time.hour, time.minute, time.second})
    name += TwoDigits(part);
  name += IntToHex8(counter).substr(4);
  name += extension;
  return name;
}

std::string ConvertedBaseName(std::string_view fileName) {
  std::string_view base = fileName.substr(0, std::min(fileName.size(), fileName.rfind('.')));
  const std::size_t dash = base.rfind('-');
  if (dash != std::string_view::npos) base = base.substr(0, dash);
  return std::string(base);
}

bool HasExtension(std::string_view fileName, std::string_view extension) {
  if (fileName.size() < extension.size()) return false;
  return SameText(fileName.substr(fileName.size() - extension.size()), extension);
}

}  // namespace core
