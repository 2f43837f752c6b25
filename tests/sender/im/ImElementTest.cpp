// The instant-message element on the host: escaping and cuts, names, the
// content check (against the XML parser of Python's standard library) and
// the elements byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "sender/im/PendingMessage.h"
#include "sender/im/XmlContent.h"
#include "sender/im/XmlText.h"
#include "tests/support/oracle.h"

namespace {

using sender::ImFields;
using sender::ImRefusal;

std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += text;
  return out;
}

TEST(XmlText, EscapesDropsAndCutsWhole) {
  struct Row {
    std::u16string in;
    std::size_t limit;
    std::string out;
  };
  const Row rows[] = {
      {u"a&\"'<>b", std::string::npos, "a&amp;&quot;&apos;&lt;&gt;b"},
      {u"\u00E9\u20AC\u0080\u009F", std::string::npos, "\xC3\xA9\xE2\x82\xAC\xC2\x80\xC2\x9F"},
      {u"\U0001F600", std::string::npos, "\xF0\x9F\x98\x80"},
      {u"\t\r\n\u007F\u0085\uFFFD", std::string::npos, "\t\r\n\x7F\xC2\x85\xEF\xBF\xBD"},
      {std::u16string(u"\u0000\u0001\u0008\u000B\u000C\u000E\u001F\uFFFE\uFFFFx", 10), std::string::npos, "x"},
      {u"a\xD800"
       u"b\xDC00"
       u"c\xDC00\xD800"
       u"d\xD800",
       std::string::npos, "abcd"},                                         // unpaired surrogates
      {std::u16string(255, u'\u00E9'), 255, Repeat("\xC3\xA9", 127)},      // 254 bytes: no lone lead byte
      {u"a" + std::u16string(254, u'&'), 255, "a" + Repeat("&amp;", 50)},  // 251 bytes: no "&amp"
      {u"abc&", 7, "abc"},                                                 // "&amp;" would end at 8
      {u"abc\U0001F600", 6, "abc"},  // a 4-byte sequence is kept whole or not at all
      {u"\u00E9\u00E9", 3, "\xC3\xA9"},
      {u"", 255, ""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(sender::EncodeXMLText(row.in, row.limit), row.out) << row.out;
  // The cut in UTF-16 units never parts a pair.
  std::u16string pair = std::u16string(254, u'a') + u"\U0001F600";
  EXPECT_EQ(sender::CutUnits(pair).size(), 254u);
  EXPECT_EQ(sender::CutUnits(pair + u"b", 256).size(), 256u);
  EXPECT_EQ(sender::CutUnits(std::u16string(300, u'a')).size(), 255u);
  EXPECT_EQ(sender::CutUnits(std::u16string(254, u'a') + u"\xD800"
                                                         u"b")
                .size(),
            255u);
  std::string utf8;
  EXPECT_TRUE(sender::Utf16ToUtf8(u"\u00E9\U0001F600<", utf8));
  EXPECT_EQ(utf8, "\xC3\xA9\xF0\x9F\x98\x80<");
  EXPECT_FALSE(sender::Utf16ToUtf8(u"a\xDC00", utf8));
}

TEST(XmlNames, AsciiNamesWithOneInnerColon) {
  for (const char16_t* good : {u"a", u"_", u"message", u"xml:lang", u"a-b.c_1", u"A9", u"x:_y"})
    EXPECT_TRUE(sender::IsXmlAsciiName(good))
        << std::string(std::u16string_view(good).begin(), std::u16string_view(good).end());
  for (const char16_t* bad : {u"", u"a b", u"x='1'", u"1a", u"-a", u".a", u":a", u"a:", u"a:b:c", u"a:1", u"\u00E9",
                              u"a\u00E9", u"a>", u"a/", u"a\t"})
    EXPECT_FALSE(sender::IsXmlAsciiName(bad))
        << std::string(std::u16string_view(bad).begin(), std::u16string_view(bad).end());
}

// Content rows, with what the parser answers for "<r>" + text + "</r>".
struct ContentRow {
  std::string text;
  bool wellFormed;
};
const ContentRow ContentRows[] = {
    {"", true},
    {"plain text", true},
    {"a]]b ]>", true},
    {"]]>", false},
    {"a]]]>", false},
    {"<a/>", true},
    {"<a></a >", true},
    {"<a>\n</a\n>", true},
    {"<a>", false},
    {"</a>", false},
    {"<a></b>", false},
    {"</r><r>", false},
    {"<a/ >", false},
    {"< a/>", false},
    {"<a b='1'c='2'/>", false},
    {"<a b='1' b='2'/>", false},
    {"<a b = 'c' />", true},
    {"<a\tb=\"'\"/>", true},
    {"<a b='<'/>", false},
    {"<a b='>'/>", true},
    {"<a b='&#0;'/>", false},
    {"<a b='&amp;&#x41;'/>", true},
    {"<a b='x/>", false},
    {"<a b/>", false},
    {":a<:b/><a:b:c/>", true},
    {"<a\xC2\xB7"
     "b/>",
     true},
    {"<\xC2\xB7/>", false},
    {"<\xF0\x90\x80\x80/>", false},
    {"<?xml?>", false},
    {"<?XmL v?>", false},
    {"<?xml-x?>", true},
    {"<?p?>", true},
    {"<?p x?>", true},
    {"<?p?x?>", false},
    {"<?p ?"
     "?>",
     true},
    {"<?p", false},
    {"<!---->", true},
    {"<!--->", false},
    {"<!-- - -->", true},
    {"<!-- -- -->", false},
    {"<!---a-->", true},
    {"<!-- a --->", false},
    {"<![CDATA[<&]]>", true},
    {"<![CDATA[]]]]>", true},
    {"<![CDATA[", false},
    {"<![cdata[x]]>", false},
    {"<!DOCTYPE a>", false},
    {"&nbsp;", false},
    {"&amp;&lt;&gt;&quot;&apos;", true},
    {"&amp", false},
    {"&ampx;", false},
    {"&#9;&#x0A;&#x10FFFF;&#0000000065;", true},
    {"&#0;", false},
    {"&#X41;", false},
    {"&#xD800;", false},
    {"&#xFFFE;", false},
    {"&#x110000;", false},
    {"&#99999999999999999999;", false},
    {"&#x;", false},
    {"&#;", false},
    {"&#x41", false},
    {"\r\n\t", true},
    {std::string("a\0b", 3), false},
    {"\x01", false},
    {"\x7F\xC2\x85", true},
    {"\xEF\xBF\xBE", false},
    {"\xEF\xBF\xBF", false},
    {"\xEF\xB7\x90", true},
    {"\xF4\x8F\xBF\xBF", true},
    {"\xF4\x90\x80\x80", false},
    {"\xC0\xAF", false},
    {"\xE0\x80\xAF", false},
    {"\xED\xA0\x80", false},
    {"\xC3", false},
    {"\x80", false},
    {"\xFF", false},
    {"<a><b><c/></b>text</a>", true},
};

TEST(XmlContent, Rows) {
  for (const ContentRow& row : ContentRows)
    EXPECT_EQ(sender::IsWellFormedContent(row.text), row.wellFormed) << row.text;
}

std::string HexOf(const std::string& text) {
  return testing_support::Hex(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

std::string Utf8Of(char32_t c) {
  std::string out;
  sender::Utf16ToUtf8(c < 0x10000 ? std::u16string(1, static_cast<char16_t>(c))
                                  : std::u16string{static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                                   static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))},
                      out);
  return out;
}

// The rows and every character of the Basic Multilingual Plane as the
// first and as a later character of a name, against the parser itself.
TEST(XmlContent, AgreesWithTheParser) {
  std::vector<std::string> texts;
  for (const ContentRow& row : ContentRows)
    texts.push_back(row.text);
  for (char32_t c = 0x20; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    texts.push_back("<" + Utf8Of(c) + "/>");
    texts.push_back("<a" + Utf8Of(c) + "/>");
  }
  std::vector<std::string> lines;
  for (const std::string& text : texts)
    lines.push_back(HexOf(text));
  const std::vector<std::string> answers =
      testing_support::RunPythonOracle("tests/sender/im/xml_oracle.py", "content", lines);
  ASSERT_EQ(answers.size(), texts.size());
  int disagreements = 0;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (sender::IsWellFormedContent(texts[i]) != (answers[i] == "1") && ++disagreements <= 20)
      ADD_FAILURE() << "disagrees on " << lines[i];
  }
  EXPECT_EQ(disagreements, 0);
}

constexpr const char* Stamp = "20240131T09:05:07";
constexpr const char* Delay = "<x from='F' stamp='20240131T09:05:07' xmlns='jabber:x:delay'/>";

std::string Build(const ImFields& fields, ImRefusal expected = ImRefusal::None) {
  std::string out = "untouched";
  EXPECT_EQ(sender::BuildPendingMessage(fields, Stamp, out), expected);
  return out;
}

TEST(PendingMessage, ElementsByteForByte) {
  const std::u16string long300(300, u'v');
  struct Row {
    const char* what;
    ImFields fields;
    std::string xml;
  };
  const Row rows[] = {
      {"all fields",
       {.body = u"B", .from = u"F", .to = u"T", .subject = u"S", .type = u"chat"},
       std::string("<message from='F' to='T' type='chat'><subject>S</subject><body>B</body>") + Delay + "</message>"},
      {"empty from: no from on either element",
       {.to = u"T"},
       "<message to='T'><body/><x stamp='20240131T09:05:07' xmlns='jabber:x:delay'/></message>"},
      {"raw text after the body, as it stands",
       {.tag = u"msg", .raw = u"ab<c d='&amp;'/>", .from = u"F"},
       std::string("<msg from='F'><body/>ab<c d='&amp;'/>") + Delay + "</msg>"},
      {"attributes in order, an empty value left out",
       {.from = u"F", .type = u"t", .attributes = {{u"id", u""}, {u"xml:lang", u"en"}, {u"n", u"<'\">&"}}},
       std::string("<message from='F' type='t' xml:lang='en' n='&lt;&apos;&quot;&gt;&amp;'><body/>") + Delay +
           "</message>"},
      {"escaped body, UTF-8",
       {.body = u"a<b&c \u00E9\u20AC", .from = u"F"},
       std::string("<message from='F'><body>a&lt;b&amp;c \xC3\xA9\xE2\x82\xAC</body>") + Delay + "</message>"},
      {"a 300-character value: 255 bytes",
       {.from = u"F", .attributes = {{u"v", long300}}},
       "<message from='F' v='" + std::string(255, 'v') + "'><body/>" + Delay + "</message>"},
      {"a 300-character tag is cut",
       {.tag = std::u16string(300, u't'), .from = u"F"},
       "<" + std::string(255, 't') + " from='F'><body/>" + Delay + "</" + std::string(255, 't') + ">"},
      {"an added attribute named like an unwritten one",
       {.from = u"F", .attributes = {{u"to", u"x"}}},
       std::string("<message from='F' to='x'><body/>") + Delay + "</message>"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Build(row.fields), row.xml) << row.what;
  EXPECT_EQ(sender::FormatStamp(987, 1, 2, 3, 4, 5), "09870102T03:04:05");
}

TEST(PendingMessage, RefusedElementsAreEmpty) {
  struct Row {
    ImFields fields;
    ImRefusal refusal;
  };
  const Row rows[] = {
      {{.tag = u"a b"}, ImRefusal::TagName},
      {{.tag = u"x='1'"}, ImRefusal::TagName},
      {{.tag = u"1a"}, ImRefusal::TagName},
      {{.tag = std::u16string(254, u't') + u":x"}, ImRefusal::TagName},  // cut to "t...t:"
      {{.attributes = {{u"a b", u"1"}}}, ImRefusal::AttributeName},
      {{.attributes = {{u"", u"1"}}}, ImRefusal::AttributeName},
      {{.attributes = {{u"x='1' y", u""}}}, ImRefusal::AttributeName},
      {{.from = u"F", .attributes = {{u"from", u"G"}}}, ImRefusal::DuplicateAttribute},
      {{.attributes = {{u"a", u"1"}, {u"a", u"2"}}}, ImRefusal::DuplicateAttribute},
      {{.raw = u"<a>"}, ImRefusal::RawText},
      {{.raw = u"&nbsp;"}, ImRefusal::RawText},
      {{.raw = u"</message><message>"}, ImRefusal::RawText},
      {{.raw = u"\xD800"}, ImRefusal::RawText},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Build(row.fields, row.refusal), "");
  // One attribute of a name written, the other left out: no clash.
  EXPECT_NE(Build({.attributes = {{u"a", u""}, {u"a", u"2"}}}), "");
}

}  // namespace
