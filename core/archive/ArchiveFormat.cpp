#include "core/archive/ArchiveFormat.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "core/util/LittleEndian.h"
#include "core/util/Text.h"

namespace core {

namespace {

// Reads exactly size bytes: Ok, Truncated at the end, Failed on an error.
ArchiveRead ReadExactly(ArchiveInput& input, std::uint8_t* data, std::size_t size) {
  const std::int64_t got = input.Read(data, size);
  if (got < 0) return ArchiveRead::Failed;
  return static_cast<std::uint64_t>(got) == size ? ArchiveRead::Ok : ArchiveRead::Truncated;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device for these base names whatever extension follows,
// and ignores blanks before the extension. The digits include the
// superscripts one to three of the Latin code page.
bool IsDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ')
    base.remove_suffix(1);
  std::string upper;
  for (char c : base)
    upper += AsciiUpper(c);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" || upper == "CONOUT$")
    return true;
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) return false;
  const auto digit = static_cast<unsigned char>(upper[3]);
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool IsSafeComponent(std::string_view component) {
  if (component.empty()) return false;
  bool onlyDotsAndBlanks = true;
  for (char c : component) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127 || std::strchr(":*?\"<>|", c) != nullptr) return false;
    if (c != '.' && c != ' ') onlyDotsAndBlanks = false;
  }
  if (onlyDotsAndBlanks || component.back() == '.' || component.back() == ' ') return false;
  return !IsDeviceName(component);
}

}  // namespace

std::int64_t MemoryArchiveInput::Read(std::uint8_t* data, std::size_t size) {
  const std::size_t count = size < size_ - position_ ? size : size_ - position_;
  if (count > 0) std::memcpy(data, data_ + position_, count);
  position_ += count;
  return static_cast<std::int64_t>(count);
}

bool MemoryArchiveInput::Seek(std::uint64_t position) {
  if (position > size_) return false;
  position_ = static_cast<std::size_t>(position);
  return true;
}

ArchiveRead ReadArchiveHeader(ArchiveInput& input, std::uint64_t start, ArchiveHeader& header) {
  header = ArchiveHeader{};
  if (start > input.Size()) return ArchiveRead::Truncated;
  if (!input.Seek(start)) return ArchiveRead::Failed;
  std::uint8_t lead[8] = {};
  const std::int64_t got = input.Read(lead, sizeof lead);
  if (got < 0) return ArchiveRead::Failed;
  if (got < 4 || std::memcmp(lead, kArchiveMagic, 4) != 0) {
    // The old form starts where the archive was said to start.
    return input.Seek(start) ? ArchiveRead::Ok : ArchiveRead::Failed;
  }
  if (got < 8) return ArchiveRead::Truncated;
  const std::uint64_t blockLength = LoadLE<std::uint32_t>(lead + 4);
  const std::uint64_t blockStart = start + 8;
  if (blockLength > input.Size() - blockStart) return ArchiveRead::Truncated;
  std::uint8_t block[kArchiveHeaderLength] = {};
  const std::size_t used = blockLength < kArchiveHeaderLength ? static_cast<std::size_t>(blockLength) : sizeof block;
  const ArchiveRead read = ReadExactly(input, block, used);
  if (read != ArchiveRead::Ok) return read;
  if (!input.Seek(blockStart + blockLength)) return ArchiveRead::Failed;
  header.hasMagic = true;
  header.compressed = block[0] != 0;
  header.version = LoadLE<std::uint32_t>(block + 1);
  return ArchiveRead::Ok;
}

ArchiveRead ReadEntryHead(ArchiveInput& input, std::uint32_t version, EntryHead& head) {
  head = EntryHead{};
  if (input.Position() >= input.Size()) return ArchiveRead::End;
  std::uint8_t field[kOldNameFieldSize];
  const std::size_t fieldSize = version >= 2 ? 1 : kOldNameFieldSize;
  ArchiveRead read = ReadExactly(input, field, fieldSize);
  if (read != ArchiveRead::Ok) return read;
  const std::size_t nameLength = field[0];
  if (version >= 2) {
    read = ReadExactly(input, field + 1, nameLength);
    if (read != ArchiveRead::Ok) return read;
  }
  head.name.assign(reinterpret_cast<const char*>(field + 1), nameLength);
  std::uint8_t length[4];
  read = ReadExactly(input, length, sizeof length);
  if (read != ArchiveRead::Ok) return read;
  head.length = LoadLE<std::uint32_t>(length);
  head.dataOffset = input.Position();
  if (Trim(head.name).empty()) return ArchiveRead::End;
  if (head.length > input.Size() - head.dataOffset) return ArchiveRead::Truncated;
  return ArchiveRead::Ok;
}

std::string ListPackage(ArchiveInput& input) {
  std::string list;
  ArchiveHeader header;
  if (ReadArchiveHeader(input, 0, header) != ArchiveRead::Ok) return list;
  // Its own walk: entry heads are read from a window of the file, which is
  // refilled only when a head may reach past it, and a name is copied only
  // into the listing.
  const bool lengthPrefixed = header.version >= 2;
  const std::size_t fieldSize = lengthPrefixed ? 1 : kOldNameFieldSize;
  constexpr std::size_t kLongestHead = kOldNameFieldSize + 4;
  const std::uint64_t size = input.Size();
  std::vector<std::uint8_t> window(kArchiveChunkSize);
  std::uint64_t windowStart = 0;
  std::size_t windowLength = 0;
  std::size_t used = 0;
  for (std::uint64_t position = input.Position(); position < size;) {
    if (position < windowStart || position - windowStart + kLongestHead > windowLength) {
      if (!input.Seek(position)) break;
      const std::int64_t got = input.Read(window.data(), window.size());
      if (got <= 0) break;
      windowStart = position;
      windowLength = static_cast<std::size_t>(got);
    }
    const std::uint8_t* head = window.data() + (position - windowStart);
    const std::size_t available = windowLength - static_cast<std::size_t>(position - windowStart);
    if (available < fieldSize) break;
    const std::size_t nameLength = head[0];
    const std::size_t headLength = fieldSize + (lengthPrefixed ? nameLength : 0) + 4;
    if (available < headLength) break;
    const char* name = reinterpret_cast<const char*>(head + 1);
    if (std::all_of(name, name + nameLength, [](char c) { return static_cast<unsigned char>(c) <= 32; })) break;
    const std::uint32_t length = LoadLE<std::uint32_t>(head + headLength - 4);
    if (length > size - position - headLength) break;
    // A name, ";", at most ten digits and CR LF, written in place.
    if (list.size() - used < nameLength + 13) list.resize(std::max<std::size_t>(2 * list.size(), 4096));
    char* out = list.data() + used;
    for (std::size_t at = 0; at < nameLength; ++at)
      out[at] = static_cast<unsigned char>(name[at]) < 32 ? '?' : name[at];
    out += nameLength;
    *out++ = ';';
    out = std::to_chars(out, out + 10, length).ptr;
    *out++ = '\r';
    *out++ = '\n';
    used = static_cast<std::size_t>(out - list.data());
    position += headLength + length;
  }
  list.resize(used);
  return list;
}

std::array<std::uint8_t, kArchiveHeaderSize> MakeArchiveHeader(bool compressed) {
  std::array<std::uint8_t, kArchiveHeaderSize> header{};
  std::memcpy(header.data(), kArchiveMagic, 4);
  StoreLE<std::uint32_t>(header.data() + 4, kArchiveHeaderLength);
  header[8] = compressed ? 1 : 0;
  StoreLE<std::uint32_t>(header.data() + 9, kArchiveVersion);
  return header;
}

std::string MakeEntryHead(std::string_view name, std::uint32_t length) {
  if (name.size() > kMaxEntryNameLength) name = name.substr(0, kMaxEntryNameLength);
  std::string head(1, static_cast<char>(name.size()));
  head.append(name);
  std::uint8_t bytes[4];
  StoreLE<std::uint32_t>(bytes, length);
  head.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
  return head;
}

bool CheckEntryName(std::string_view name, std::size_t baseLength, std::string& path) {
  path.assign(name);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.empty() || baseLength > kMaxRestorePath || path.size() > kMaxRestorePath - baseLength) return false;
  // Splitting at every "\" also refuses a leading one (root, UNC, "\\?\"),
  // a doubled one and a trailing one: each leaves an empty component.
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = path.find('\\', begin);
    const std::string_view component =
        std::string_view(path).substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (!IsSafeComponent(component)) return false;
    if (end == std::string::npos) return true;
    begin = end + 1;
  }
}

bool ListHoldsName(std::string_view list, std::string_view name) {
  if (list.empty()) return false;
  const std::string wrapped = ";" + LowerCase(list) + ";";
  const std::string item = ";" + LowerCase(name) + ";";
  return wrapped.find(item) != std::string::npos;
}

}  // namespace core
