#pragma once
// The message-file side of the MIME routines on Windows: files read in large
// blocks and written through a temporary file, over the portable readers of
// core/mime.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/mime/LineReader.h"
#include "core/mime/MessageBody.h"
#include "core/platform/Handles.h"

namespace core {

// A file opened read-only (every sharing mode, so writers are not blocked).
class FileSource final : public ByteSource {
 public:
  bool Open(const std::string& fileName);
  // By a UTF-16 name: one that holds a NUL opens nothing.
  bool Open(const std::wstring& fileName);
  std::size_t Read(char* buffer, std::size_t size) override;
  bool Failed() const override { return failed_; }
  std::uint64_t Size() const;
  std::uint64_t SizeHint() const override { return Size(); }

 private:
  UniqueHandle file_;
  bool failed_ = false;
};

// Writes straight to an open file handle (not owned); false on a failed write.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(HANDLE file) : file_(file) {}
  bool Write(std::string_view bytes) override;

 private:
  HANDLE file_;
};

// The file's base64 in lines of 72 characters, each ended by CRLF: collected
// into text, or written to out block by block. False when the file cannot be
// opened or read, the output cannot be written, or the text cannot be held.
bool Base64EncodeFile(const std::string& fileName, std::string& text);
bool Base64EncodeFile(const std::string& fileName, ByteSink& out);

// The header readers of core/mime/MessageHeaders.h on a message file; empty
// when it cannot be opened.
std::string ReadMessageHeader(const std::string& fileName, std::string_view name);
std::string ReadHeaderValue(const std::string& fileName, std::string_view name);

// Writes the message with one header replaced or added (ReplaceHeaderLines)
// to targetName, or to the message file's name with ".tmp" appended when it
// is empty, and answers the name written. The target appears complete or not
// at all. Empty, with nothing written, when the message cannot be opened, the
// target is the message file itself, or the copy fails.
std::string ReplaceMessageHeader(const std::string& fileName, std::string_view name, std::string_view value,
                                 const std::string& targetName, bool addIfMissing);

// ReadMessageBody of core/mime/MessageBody.h on a message file in the given
// form (a ".tmp" file stuffed, a whole ".imap" file StoredFile); false when it
// cannot be opened.
bool ReadMessageBody(const std::string& fileName, std::string& out, std::size_t maxLength, std::string_view wantedType,
                     std::int32_t& lineIndex, MessageForm form = MessageForm::Stuffed);

}  // namespace core
