#pragma once
// Moving entry data of the "ILDS" archive: streaming deflate and inflate over
// read and write callbacks in 64 KB chunks, the writer of one entry, and the
// restore loop over a sink that owns the files. No file-system call here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive/ArchiveFormat.h"

namespace core {

// Fills up to size bytes; answers the count (0 at the end) or -1 on an error.
using ReadCallback = std::function<std::int64_t(std::uint8_t* data, std::size_t size)>;
// Takes size bytes; false stops the stream.
using WriteCallback = std::function<bool(const std::uint8_t* data, std::size_t size)>;

enum class StreamResult {
  Ok,
  ReadFailed,
  WriteFailed,
  BadData,     // not a zlib stream, or its Adler-32 is wrong
  Unfinished,  // the input ended before the stream did
  TooLarge,    // the output passed its cap
  NoMemory,
};

// Deflates the first limit bytes of read (fewer when it ends sooner) into one
// zlib stream at the default level, equal to the one-shot stream of the
// same bytes. consumed and produced count both sides; more than outputCap
// bytes of output stop the stream with TooLarge. One Deflater keeps its
// zlib state and buffers from stream to stream.
class Deflater {
 public:
  Deflater();
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  StreamResult Run(const ReadCallback& read, std::uint64_t limit, const WriteCallback& write, std::uint64_t outputCap,
                   std::uint64_t& consumed, std::uint64_t& produced);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Inflates one zlib stream from at most inputLength bytes of read. Ok only
// when the stream ends, its Adler-32 good, within inputLength; what follows
// its end is not read. More than outputCap bytes of output give TooLarge.
class Inflater {
 public:
  Inflater();
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  StreamResult Run(const ReadCallback& read, std::uint64_t inputLength, const WriteCallback& write,
                   std::uint64_t outputCap = kMaxEntryBytes);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Where the writer puts entries: appended at the end, patched, cut back.
class ArchiveOutput {
 public:
  virtual ~ArchiveOutput() = default;
  virtual bool Append(const std::uint8_t* data, std::size_t size) = 0;
  virtual bool Patch(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
  // Drops everything from size on; later appends go there.
  virtual bool CutBack(std::uint64_t size) = 0;
  virtual std::uint64_t Size() const = 0;
};

enum class EntryWrite {
  Written,
  LeftOut,       // name, size or source unfit: nothing of the entry remains
  OutputFailed,  // the archive could not be written: stop packing
};

// Writes one entry of at most size bytes of read (its size when opened):
// raw, exactly those bytes (L patched down when the source ends sooner), or
// compressed, one zlib stream whose size is patched into L afterwards. A
// source that fails, a name over 255 bytes, and data of 2^31 bytes or more
// (raw or compressed) leave the entry out. On any failure the archive is cut
// back to where the entry began. One EntryWriter serves a whole pack.
class EntryWriter {
 public:
  EntryWrite Write(ArchiveOutput& output, std::string_view name, bool compressed, std::uint64_t size,
                   const ReadCallback& read);

 private:
  EntryWrite WriteFrom(ArchiveOutput& output, std::uint64_t start, std::string_view name, bool compressed,
                       std::uint64_t size, const ReadCallback& read);
  Deflater deflater_;
  std::vector<std::uint8_t> buffer_;
};

// Receives the files a restore writes. Paths are relative, checked by
// CheckEntryName, with "\" between folders.
class RestoreSink {
 public:
  virtual ~RestoreSink() = default;
  // Characters of the target folder text the paths are joined to.
  virtual std::size_t BaseLength() const = 0;
  // False: the entry's data is passed over.
  virtual bool Wants(const std::string& path) = 0;
  // Prepares the file; nothing may replace the existing one before Commit.
  virtual bool Begin(const std::string& path) = 0;
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  virtual bool Commit() = 0;
  virtual void Abort() = 0;
};

// Restores every entry of the archive at start into sink. A refused name, a
// bad entry or a failing sink makes the answer false and the loop goes on
// with the next entry wherever its position is known; a header or entry
// head cut short, L running past the end and read errors end it.
bool RestoreEntries(ArchiveInput& input, std::uint64_t start, RestoreSink& sink);

}  // namespace core
