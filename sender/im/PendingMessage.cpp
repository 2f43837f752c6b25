#include "sender/im/PendingMessage.h"

#include <algorithm>

#include "sender/im/XmlContent.h"
#include "sender/im/XmlObject.h"
#include "sender/im/XmlText.h"

namespace sender {
namespace {

// A checked name: ASCII only, so one byte per unit.
std::string Narrow(std::u16string_view name) { return std::string(name.begin(), name.end()); }

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

void PutDigits(std::string& out, int value, int width) {
  std::string digits(static_cast<std::size_t>(width), '0');
  for (int i = width - 1; i >= 0 && value > 0; --i, value /= 10)
    digits[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
  out += digits;
}

}  // namespace

std::string FormatStamp(int year, int month, int day, int hour, int minute, int second) {
  std::string out;
  PutDigits(out, year, 4);
  PutDigits(out, month, 2);
  PutDigits(out, day, 2);
  out += 'T';
  PutDigits(out, hour, 2);
  out += ':';
  PutDigits(out, minute, 2);
  out += ':';
  PutDigits(out, second, 2);
  return out;
}

ImRefusal BuildPendingMessage(const ImFields& fields, std::string_view stamp, std::string& out) {
  out.clear();
  const std::u16string_view tag = CutUnits(fields.tag);
  if (!tag.empty() && !IsXmlAsciiName(tag)) return ImRefusal::TagName;
  std::vector<std::u16string_view> written;
  const std::pair<std::u16string_view, const std::u16string*> own[] = {
      {u"from", &fields.from}, {u"to", &fields.to}, {u"type", &fields.type}};
  for (const auto& [name, value] : own) {
    if (!value->empty()) written.push_back(name);
  }
  for (const auto& [name, value] : fields.attributes) {
    const std::u16string_view cut = CutUnits(name);
    if (!IsXmlAsciiName(cut)) return ImRefusal::AttributeName;
    if (!value.empty()) written.push_back(cut);
  }
  std::sort(written.begin(), written.end());
  if (std::adjacent_find(written.begin(), written.end()) != written.end()) return ImRefusal::DuplicateAttribute;
  std::string raw;
  if (!fields.raw.empty() && (!Utf16ToUtf8(fields.raw, raw) || !IsWellFormedContent(raw))) return ImRefusal::RawText;

  XmlObject root;
  XmlObject& element = root.AddElement(tag.empty() ? std::string("message") : Narrow(tag));
  element.AddAttribute("from", fields.from);
  element.AddAttribute("to", fields.to);
  element.AddAttribute("type", fields.type);
  for (const auto& [name, value] : fields.attributes)
    element.AddAttribute(Narrow(CutUnits(name)), value);
  if (!fields.subject.empty()) element.AddElement("subject", fields.subject);
  element.AddElement("body", fields.body);
  if (!raw.empty()) element.AddElement("").SetRawText(std::move(raw));
  XmlObject& delay = element.AddElement("x");
  delay.AddAttribute("from", fields.from);
  delay.AddAttribute("stamp", Widen(stamp));
  delay.AddAttribute("xmlns", u"jabber:x:delay");
  out = root.GetXML();
  return ImRefusal::None;
}

}  // namespace sender
