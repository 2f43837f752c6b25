#pragma once
// The text of a stored message: its text parts, decoded, page by page.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/mime/LineReader.h"

namespace core {

// Multipart parts nest at most this deep; deeper parts are not taken.
inline constexpr int MaxMultipartDepth = 64;

// How a message file holds its text.
enum class MessageForm {
  Stuffed,     // ".tmp": lines starting with "." carry one more, a "." line ends the text
  Stored,      // ".imap" text: the lines as sent, no end mark
  StoredFile,  // a whole ".imap" file: its header, then the text as Stored
};

// The form a message file's name stands for: ".tmp" (any case) stuffed,
// ".imap" a whole file with its header, anything else plain text.
MessageForm MessageFormOf(std::string_view path);

// The header in front of the text of an ".imap" file.
inline constexpr std::size_t StoredFileHeaderBytes = 26;

// Walks the message (its header block first, then its parts) and appends to
// out the decoded lines of the parts it takes: those of the wanted type
// ("text/html", case ignored), or with no wanted type the "text/plain" parts
// and parts without a type. Parts with a file name are attachments and never
// taken; a message/rfc822 part is read as the message it encloses. In the
// stuffed form a body line "." ends the message and a leading "." is
// dropped; the stored forms keep every line as it is. The first lineIndex
// lines are skipped and lineIndex grows by one per line returned; with
// maxLength (0: no limit) the walk stops once it collected that much. True
// when it stopped before the end of the message, so the next call with the
// raised lineIndex returns the next page.
bool ReadMessageBody(LineReader& message, std::string& out, std::size_t maxLength, std::string_view wantedType,
                     std::int32_t& lineIndex, MessageForm form = MessageForm::Stuffed);

}  // namespace core
