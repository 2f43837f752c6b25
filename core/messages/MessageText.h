#pragma once
// The two forms of a mailbox message file as pure text. ".tmp": CRLF lines,
// dot-stuffed, closed by the end mark CR LF "." CR LF, the form the services
// read and write. ".imap": a 26-byte header, then the plain text without
// stuffing or end mark. The stuffing machines take the text in blocks of any
// size and carry what a block edge splits, so a file reader feeds whatever
// each read returned.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

inline constexpr std::string_view MessageEndMark = "\r\n.\r\n";
inline constexpr std::size_t ImapHeaderSize = 26;

// Adds dot-stuffing: a "." that starts a line (the first line too) gets a
// second one in front.
class DotStuffer {
 public:
  void Feed(std::string_view block, std::string& out);

 private:
  bool lineStart_ = true;
};

// Removes dot-stuffing: the "." that starts a line is dropped.
class DotUnstuffer {
 public:
  void Feed(std::string_view block, std::string& out);

 private:
  bool lineStart_ = true;
};

// ".tmp" text to message text: the stuffing removed, and the last five bytes
// dropped when (and only when) they are the end mark. The last five bytes
// seen are held back until Finish.
class TmpDecoder {
 public:
  void Feed(std::string_view block, std::string& out);
  void Finish(std::string& out);

 private:
  void Release(std::string_view bytes, std::string& out) { unstuffer_.Feed(bytes, out); }
  DotUnstuffer unstuffer_;
  std::string tail_;
};

// Whole texts: message text to ".tmp" (stuffed, end mark appended) and back.
std::string StuffMessage(std::string_view text);
std::string UnstuffMessage(std::string_view tmp);

// A local date and time as the file system reports it.
struct LocalDateTime {
  int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// The DOS date-time stamp: date in the high 16 bits, time (two-second steps)
// in the low 16. Dates before 1980 give 1980-01-01 00:00:00 and dates after
// 2107 give 2107-12-31 23:59:58, the nearest the format holds.
std::uint32_t DosDateTime(const LocalDateTime& time);

// "00000000" "00000000" and the stamp as 8 upper-case hex digits: the 24
// characters that also stand in a converted ".imap" file's name.
std::string ImapHeaderText(std::uint32_t dosDateTime);
// The 26-byte header: those 24 characters and CR LF.
std::string ImapMessageHeader(std::uint32_t dosDateTime);

// folder + prefix + "yyyymmddhhnnss" + the counter as 4 upper-case hex
// digits + extension.
std::string MessageFileName(std::string_view folder, std::string_view prefix, const LocalDateTime& time,
                            std::uint16_t counter, std::string_view extension);

// The base name a converted file gets: the name without its extension (cut
// at the last "."), then cut before its last "-" when it holds one.
std::string ConvertedBaseName(std::string_view fileName);

// Whether the name ends in the extension, letter case ignored (a listing of
// "*.tmp" also shows "x.tmpl", whose short name matches).
bool HasExtension(std::string_view fileName, std::string_view extension);

}  // namespace core
