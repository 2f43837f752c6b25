#include "core/mime/LocaleCharsets.h"

namespace core {

namespace {

// CP1251 stands twice in the list as the rule files have always seen it.
constexpr std::string_view Cyrillic = "KOI8R KOI8U KOI8T ISOIR111 CP1251 GEORGIANPS CP1251 PT154 CP866";

constexpr LocaleCharsets Table[] = {
    {"en", ""},
    {"ja",
     "EUCJP JISX020119760 JISX020819830 JISX020819900 JISX020819970 JISX021219900 JISX021320001 JISX021320002 "
     "SHIFT_JIS SHIFTJIS ISO2022JP SJIS JIS7 JISX0201 JISX0208 JISX0212"},
    {"ko", "EUCKR KSC56011987"},
    {"th", "TIS620"},
    {"zh", "GB1988 GB2312 GB23121980 GB18030 GBK BIG5HKSCS BIG5 EUCTW ISO2022CN"},
    {"ru", Cyrillic},
    {"ka", Cyrillic},
    {"tg", Cyrillic},
    {"be", Cyrillic},
    {"uk", Cyrillic},
    {"bg", Cyrillic},
};

}  // namespace

std::span<const LocaleCharsets> LocaleCharsetTable() { return Table; }

}  // namespace core
