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

// Walks the message (its header block first, then its parts) and appends to
// out the decoded lines of the parts it takes: those of the wanted type
// ("text/html", case ignored), or with no wanted type the "text/plain" parts
// and parts without a type. Parts with a file name are attachments and never
// taken; a message/rfc822 part is read as the message it encloses. A body
// line "." ends the message; a leading "." is dropped. The first lineIndex
// lines are skipped and lineIndex grows by one per line returned; with
// maxLength (0: no limit) the walk stops once it collected that much. True
// when it stopped before the end of the message, so the next call with the
// raised lineIndex returns the next page.
bool ReadMessageBody(LineReader& message, std::string& out, std::size_t maxLength, std::string_view wantedType,
                     std::int32_t& lineIndex);

}  // namespace core
