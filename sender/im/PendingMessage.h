#pragma once
// The element an instant message is stored as, built from the message's
// fields (the UTF-16 texts a client set), with the checks that keep every
// element of "Pending.dat" readable. Pure.
//
// <tag from='F' to='T' type='Y' name='value'...><subject>S</subject>
// <body>B</body>RAW<x from='F' stamp='20240131T09:05:07' xmlns='jabber:x:delay'/></tag>
//
// The tag is "message" when empty; attributes with an empty value are left
// out; "subject" only when set, "body" always; the raw text as it stands.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sender {

struct ImFields {
  std::u16string tag{}, raw{}, body{}, from{}, to{}, subject{}, type{};
  std::vector<std::pair<std::u16string, std::u16string>> attributes{};  // in the order added
};

// Why a message is not stored; nothing is written or sent for any of them.
enum class ImRefusal : std::uint8_t {
  None,
  TagName,             // a tag that is no name (XmlContent.h: IsXmlAsciiName)
  AttributeName,       // an added attribute whose name is none
  DuplicateAttribute,  // two attributes of one name on the element
  RawText,             // raw text that is no well-formed content
};

// "yyyymmddThh:nn:ss".
std::string FormatStamp(int year, int month, int day, int hour, int minute, int second);

// The element of the message with that stamp, or the refusal (out empty).
// Names are checked as cut to 255 characters; an added attribute's name is
// checked whether or not its value is written, its uniqueness among the
// attributes the element gets.
ImRefusal BuildPendingMessage(const ImFields& fields, std::string_view stamp, std::string& out);

}  // namespace sender
