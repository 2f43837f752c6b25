#pragma once
// The "ILDS" backup archive layout, with no file-system call: the header, the
// entry heads, the check of entry names against the folder they are restored
// into, and the name lists of the pack and restore options.
//
// Layout, integers 32-bit little-endian: "ILDS", the length of the header
// block that follows (written: 5), a compress flag byte, a version (written:
// 2). Then entries to the end of the file: a name (version 2 and up: a length
// byte and the characters; below 2: a 256-byte field of a length byte and 255
// characters), a data length L and L data bytes, raw or one zlib stream. A
// file without the magic holds entries of the old form from its start, raw.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

inline constexpr char kArchiveMagic[4] = {'I', 'L', 'D', 'S'};
inline constexpr std::uint32_t kArchiveHeaderLength = 5;  // flag byte and version
inline constexpr std::uint32_t kArchiveVersion = 2;
inline constexpr std::size_t kArchiveHeaderSize = 13;
inline constexpr std::size_t kOldNameFieldSize = 256;
inline constexpr std::size_t kMaxEntryNameLength = 255;
// Readers take L as a signed 32-bit number, and an inflated entry stops here.
inline constexpr std::uint32_t kMaxEntryBytes = 0x7FFFFFFF;
// Joined target path of a restored file, as the ANSI file calls take it.
inline constexpr std::size_t kMaxRestorePath = 259;
inline constexpr std::size_t kArchiveChunkSize = 64 * 1024;

// Random-access reading of an archive held in a file or in memory.
class ArchiveInput {
 public:
  virtual ~ArchiveInput() = default;
  // Reads up to size bytes at the position and moves past them; answers the
  // count, less than size only at the end, or -1 on a read error.
  virtual std::int64_t Read(std::uint8_t* data, std::size_t size) = 0;
  virtual bool Seek(std::uint64_t position) = 0;
  virtual std::uint64_t Position() const = 0;
  virtual std::uint64_t Size() const = 0;
};

// An archive image in memory (not copied).
class MemoryArchiveInput final : public ArchiveInput {
 public:
  MemoryArchiveInput(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}
  std::int64_t Read(std::uint8_t* data, std::size_t size) override;
  bool Seek(std::uint64_t position) override;
  std::uint64_t Position() const override { return position_; }
  std::uint64_t Size() const override { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

enum class ArchiveRead {
  Ok,
  End,        // end of the file at an entry boundary, or an empty trimmed name
  Truncated,  // the file ends inside the header or an entry head, or L runs past it
  Failed,     // the input reported a read or seek error
};

struct ArchiveHeader {
  bool hasMagic = false;  // false: the old header-less form
  bool compressed = false;
  std::uint32_t version = 0;
};

// Reads the header at start and leaves the input at the first entry. A file
// without the magic there is read from start as the old form (version 0,
// raw); a header block shorter than 5 bytes leaves the missing fields 0, one
// longer is passed over, one running past the end is Truncated.
ArchiveRead ReadArchiveHeader(ArchiveInput& input, std::uint64_t start, ArchiveHeader& header);

struct EntryHead {
  std::string name;  // as stored
  std::uint32_t length = 0;
  std::uint64_t dataOffset = 0;
};

// Reads one entry head and leaves the input at its data. Truncated also when
// the declared data runs past the end of the file.
ArchiveRead ReadEntryHead(ArchiveInput& input, std::uint32_t version, EntryHead& head);

// The listing of an archive image: one line "name;L" CR LF per entry, in
// archive order, L the stored length (compressed for a compressed archive).
// Bytes below 32 in a name show as "?", so that an entry stays one line.
// The listing ends at the end of the file, at an empty trimmed name, at an
// entry head cut short and before an entry whose data runs past the end; a
// header block running past the end lists nothing.
std::string ListPackage(ArchiveInput& input);

std::array<std::uint8_t, kArchiveHeaderSize> MakeArchiveHeader(bool compressed);

// A length byte, the name and L; the name is at most 255 bytes.
std::string MakeEntryHead(std::string_view name, std::uint32_t length);

// The relative path an entry name is restored to below a folder whose text
// has baseLength characters (with its trailing "\"), "/" turned into "\".
// False for a name that would leave the folder or name something other than
// an ordinary file: an empty component (also a leading or trailing "\"), a
// component of dots and blanks only or ending in "." or a blank, ":",
// control characters and * ? " < > |, device names with or without an
// extension, or a joined path over 259 characters.
bool CheckEntryName(std::string_view name, std::size_t baseLength, std::string& path);

// Whether a ";"-separated list holds name as a whole item, ASCII case
// ignored. The list is wrapped in ";" first, so its first and last items
// count too; an empty list holds nothing.
bool ListHoldsName(std::string_view list, std::string_view name);

}  // namespace core
