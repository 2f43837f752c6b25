// The names-file parser and table, and the shipped names file against the
// setting tables.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "api/automation/SettingNames.h"

namespace {

using api::automation::SettingName;
using api::automation::SettingNameTable;
using api::automation::ValueKind;
constexpr auto I = ValueKind::Integer, D = ValueKind::Date, T = ValueKind::Text;

TEST(SettingNames, LineRules) {
  struct Row {
    std::string line;
    bool named;
    std::string name;
    std::int32_t id;
    ValueKind kind;
  };
  const std::string longName(200, 'n');
  const Row rows[] = {
      {"x = $1F; // a string", true, "x", 31, T},
      {"x = 5;", false, "", 0, I},  // no "//"
      {"x 5; // string", false, "", 0, I},
      {"x = 5; // a date", true, "x", 5, D},
      {"x = 5; //string", true, "x", 5, I},  // the kind word needs its blank
      {"Mail_Folder = 5; // String", true, "mail_folder", 5, T},
      {"  a    b   = 7 ; // x", true, "a b", 7, I},
      {longName + " = 1; // x", true, std::string(127, 'n'), 1, I},
      {"x = 9 = 4; // x", true, "x", 9, I},  // the value ends at a second "="
      {"x = 0x1F; // x", true, "x", 31, I},
      {"x = 12ab; // x", true, "x", 12, I},
      {"x = abc; // x", true, "x", 0, I},
      {" = 5; // x", false, "", 0, I},  // no empty names
      {"= 5; // string", false, "", 0, I},
      {"x = ; // x", true, "x", 0, I},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    SettingName parsed;
    ASSERT_EQ(api::automation::ParseSettingLine(row.line, parsed), row.named);
    if (!row.named) continue;
    EXPECT_EQ(parsed.name, row.name);
    EXPECT_EQ(parsed.id, row.id);
    EXPECT_EQ(parsed.kind, row.kind);
  }
}

TEST(SettingNames, FileImagesAndLookups) {
  const std::string image = std::string("a = 1; // x\r\nb = 2; // string\n\x1A junk\r\nc = 3; // date\n") +
                            "a = 9; // x\nd = 2; // x\ne = 6; // date";  // no final line end
  const SettingNameTable table = SettingNameTable::Parse(image);
  ASSERT_EQ(table.Rows().size(), 6u);
  EXPECT_EQ(table.Find("A")->id, 1);      // first row of a name wins
  EXPECT_EQ(table.Find("2")->name, "b");  // first row of an id wins
  EXPECT_EQ(table.Find("c")->kind, D);    // after the Ctrl-Z
  EXPECT_EQ(table.Find("e")->id, 6);
  EXPECT_EQ(table.Find(""), nullptr);
  EXPECT_EQ(table.Find("7"), nullptr);
  EXPECT_EQ(table.Find("nosuch"), nullptr);

  // A 100 KB line among others, parsed in linear time.
  const std::string big = "x" + std::string(100 * 1024, ' ') + "= 4; // string\nz = 5; // x\n";
  const auto start = std::chrono::steady_clock::now();
  const SettingNameTable large = SettingNameTable::Parse(big);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_EQ(large.Rows().size(), 2u);
  EXPECT_EQ(large.Find("x")->kind, T);
  EXPECT_EQ(large.Find("z")->id, 5);
}

TEST(SettingNames, CandidatesAndRoots) {
  const auto c = api::automation::NamesFileCandidates("C:\\srv\\");
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0], "C:\\srv\\API\\Include\\APIConst.inc");
  EXPECT_EQ(c[1], "C:\\srv\\..\\API\\APIConst.inc");
  EXPECT_EQ(c[2], "C:\\srv\\APIConst.inc");
  EXPECT_TRUE(api::automation::IsFullFolderPath("C:\\srv\\"));
  EXPECT_TRUE(api::automation::IsFullFolderPath("\\\\host\\share\\"));
  for (const char* relative : {"", "srv\\", "C:srv\\", "\\srv\\", "\\\\\\x"})
    EXPECT_FALSE(api::automation::IsFullFolderPath(relative)) << relative;
}

// The committed file is what the tables give, and rows written out here from
// the record layouts are in it with the right id and kind.
TEST(SettingNames, ShippedFileMatchesTables) {
  const char* source = std::getenv("VM_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::ifstream in(std::string(source) + "/api/sdk/APIConst.inc", std::ios::binary);
  std::stringstream committed;
  committed << in.rdbuf();
  const std::string generated = api::automation::SettingConstantsText();
  if (committed.str() != generated) {
    const char* binary = std::getenv("VM_BINARY_DIR");
    const std::string fresh = std::string(binary != nullptr ? binary : ".") + "/APIConst.inc";
    std::ofstream(fresh, std::ios::binary) << generated;
    ADD_FAILURE() << "api/sdk/APIConst.inc differs from the tables; the generated file is " << fresh;
  }

  const SettingNameTable table = SettingNameTable::Parse(generated);
  std::set<std::string> names;
  for (const SettingName& row : table.Rows())
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
  struct Expected {
    const char* name;
    std::int32_t id;
    ValueKind kind;
  };
  const Expected expected[] = {
      {"config_host_name", 0, T},         {"config_mail_folder", 5, T},      {"config_pop3_port", 25, I},
      {"config_block148", 148, T},        {"config_host_name_alias", 11, T}, {"domain_name", 0, T},
      {"domain_max_message_size", 15, I}, {"domain_date22", 22, D},          {"account_max_message_size", 27, I},
      {"account_date19", 19, D},          {"remote_state_file", 244, T}};
  for (const Expected& e : expected) {
    const SettingName* row = table.Find(e.name);
    ASSERT_NE(row, nullptr) << e.name;
    EXPECT_EQ(row->id, e.id) << e.name;
    EXPECT_EQ(row->kind, e.kind) << e.name;
  }
  EXPECT_EQ(table.Find("5")->name, "config_mail_folder");  // config rows come first
}

}  // namespace
