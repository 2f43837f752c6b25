#pragma once
// The byte and line plumbing under every message-file reader: a block source
// (a buffer in memory, or a file read in large blocks on Windows), a sink,
// and one line reader that decides line endings and the header-block limits
// for everybody, so each parser sees the same lines.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Hands out the bytes of a message in blocks of any size.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes into buffer; 0 at the end of the data or after a read
  // error (Failed tells the two apart).
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
  virtual bool Failed() const { return false; }
  // The byte count the source expects to hand out (0: unknown); readers size
  // their results from it.
  virtual std::uint64_t SizeHint() const { return 0; }
};

// The bytes of a text in memory; chunk limits every read (tests and fuzz
// targets use it to put line ends on block edges).
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view data, std::size_t chunk = 0) : data_(data), chunk_(chunk) {}
  std::size_t Read(char* buffer, std::size_t size) override;
  std::uint64_t SizeHint() const override { return data_.size(); }

 private:
  std::string_view data_;
  std::size_t chunk_;
};

// Takes the bytes a writer produces; false when they could not be kept.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(std::string_view bytes) = 0;
};

// Appends to a text.
class StringSink final : public ByteSink {
 public:
  explicit StringSink(std::string& text) : text_(text) {}
  bool Write(std::string_view bytes) override;

 private:
  std::string& text_;
};

// One header block ends after 65,535 characters (each line counted with its
// CRLF) or 2,048 lines, so an endless header costs a bounded amount of work.
inline constexpr std::size_t HeaderTextLimit = 65535;
inline constexpr std::size_t HeaderLineLimit = 2048;

// What a header block has used of its limits.
class HeaderBudget {
 public:
  // The longest line the block still admits.
  std::size_t Room() const;
  // Counts a line of that length; false when it does not fit any more.
  bool Take(std::size_t length);

 private:
  std::size_t characters_ = 0;
  std::size_t lines_ = 0;
};

// Splits a source into lines: CR, LF and CRLF each end a line (a CRLF split
// across two blocks included); the last line needs no ending. Reads the
// source in large blocks.
class LineReader {
 public:
  static constexpr std::size_t NoLimit = static_cast<std::size_t>(-1);
  static constexpr std::size_t BlockSize = 64 * 1024;

  explicit LineReader(ByteSource& source);

  // The next line without its ending; false at the end of the data. Only the
  // first limit characters are kept, the rest of the line is skipped (Cut).
  bool ReadLine(std::string& line, std::size_t limit = NoLimit);
  // The same without a copy where the line lies in one block: the view stays
  // valid until the next call on the reader.
  bool ReadLineView(std::string_view& line, std::size_t limit = NoLimit);

  // The next piece of a line of at most limit characters (limit >= 1); the
  // rest of a longer line comes with the following calls. LineEnded tells
  // whether this piece closed its line. False at the end of the data.
  bool ReadPiece(std::string& piece, std::size_t limit);
  // The same without a copy where the piece lies in one block: the view
  // stays valid until the next call on the reader.
  bool ReadPieceView(std::string_view& piece, std::size_t limit);

  // The next line of a header block: false at the end of the data and when
  // the line does not fit the block's limits (that line is consumed).
  bool ReadHeaderLine(std::string& line, HeaderBudget& budget);

  // Reads the rest of the data through.
  void SkipToEnd();
  // Passes over the next count bytes (fewer at the end of the data).
  void SkipBytes(std::size_t count);

  std::uint64_t SizeHint() const { return source_.SizeHint(); }

  bool Cut() const { return cut_; }
  bool LineEnded() const { return ended_; }
  bool Failed() const { return source_.Failed(); }

 private:
  bool Fill();

  ByteSource& source_;
  std::vector<char> buffer_;
  std::string assembled_;  // a line that crosses a block edge
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  bool atEnd_ = false;
  bool skipLineFeed_ = false;  // the last line ended with CR: a LF next belongs to it
  bool cut_ = false;
  bool ended_ = true;
};

// The first CR or LF of the n bytes, or nullptr.
const char* FindLineEnd(const char* begin, std::size_t n);

}  // namespace core
