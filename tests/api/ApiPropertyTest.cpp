// GetProperty and SetProperty over the setting exports, linked in-process,
// over fresh installations; the names file is written here or taken from the
// shipped api/sdk/APIConst.inc.
#include <gtest/gtest.h>
#include <windows.h>
// (after windows.h)
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/Session.h"
#include "api/automation/PropertyValues.h"
#include "core/control/ServiceControl.h"
#include "core/platform/OwnedVariant.h"
#include "include/Api.h"
#include "tests/api/ExportSession.h"
#include "tests/support/installation.h"

namespace {

using api::automation::PropertyTarget;
using core::SettingFamily;

const auto* const registered = ::testing::AddGlobalTestEnvironment(new fixture::QuietLibrary);

using Var = core::OwnedVariant;
using VarPtr = std::unique_ptr<Var>;
VarPtr MakeVar(VARTYPE vt) {
  VarPtr var = std::make_unique<Var>();
  var->v.vt = vt;
  return var;
}
VarPtr Text(const std::wstring& text) {
  VarPtr var(MakeVar(VT_BSTR));
  var->v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return var;
}
VarPtr Narrow(const std::string& text) { return Text(std::wstring(text.begin(), text.end())); }
VarPtr I4(LONG n) {
  VarPtr var(MakeVar(VT_I4));
  var->v.lVal = n;
  return var;
}
VarPtr I2(SHORT n) {
  VarPtr var(MakeVar(VT_I2));
  var->v.iVal = n;
  return var;
}
VarPtr Date(double d) {
  VarPtr var(MakeVar(VT_DATE));
  var->v.date = d;
  return var;
}
VarPtr R8(double d) {
  VarPtr var(MakeVar(VT_R8));
  var->v.dblVal = d;
  return var;
}
VarPtr Bool(bool b) {
  VarPtr var(MakeVar(VT_BOOL));
  var->v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return var;
}
VarPtr Of(VARTYPE vt) { return MakeVar(vt); }
// What a script passes for a variable: a reference to its variant.
VarPtr ByRef(Var& target) {
  VarPtr var(MakeVar(VT_BYREF | VT_VARIANT));
  var->v.pvarVal = &target.v;
  return var;
}

struct Got {
  HRESULT hr;
  std::int32_t err;
  Var value;
};
std::unique_ptr<Got> Get(const PropertyTarget& t, const VarPtr& command, std::int32_t lastErr = 99) {
  auto got = std::make_unique<Got>();
  const auto out = api::automation::GetPropertyOf(t, command->v, &got->value.v, lastErr);
  got->hr = out.hr;
  got->err = out.lastErr;
  return got;
}
struct Put {
  HRESULT hr;
  std::int32_t err;
  VARIANT_BOOL ok;
};
Put Set(const PropertyTarget& t, const VarPtr& command, const VarPtr& value, std::int32_t lastErr = 99) {
  Put put{S_OK, 0, 7};
  const auto out = api::automation::SetPropertyOf(t, command->v, value->v, &put.ok, lastErr);
  put.hr = out.hr;
  put.err = out.lastErr;
  return put;
}

const PropertyTarget Config{};

// An initialised installation with a names file in its root (none when
// empty), the names table to be loaded afresh.
struct Installed {
  fixture::TempInstall install{"prop"};
  explicit Installed(const std::string& names = {}) {
    fixture::WriteSettings(install.config(), fixture::SettingsFile());
    if (!names.empty()) testinst::WriteAll(install.root() + "APIConst.inc", names);
    api::automation::ResetSettingNames();
    EXPECT_EQ(Init(install.root().c_str()), 0);
  }
};

// Runs first: nothing has initialised the library in this process yet.
TEST(Property, NoFileIsReadBeforeInitAndNamesWorkAfter) {
  fixture::TempInstall here("cwd");
  CreateDirectoryA((here.root() + "API").c_str(), nullptr);
  CreateDirectoryA((here.root() + "API\\Include").c_str(), nullptr);
  testinst::WriteAll(here.root() + "APIConst.inc", "x = 12; // x\n");
  testinst::WriteAll(here.root() + "API\\Include\\APIConst.inc", "x = 12; // x\n");
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(here.root().c_str()));

  for (const char* command : {"x", "nosuch", ""}) {
    auto got = Get(Config, Narrow(command));
    EXPECT_EQ(got->hr, S_OK);
    EXPECT_EQ(got->value.v.vt, VT_EMPTY);
    EXPECT_EQ(got->err, -5) << command;
  }
  const Put put = Set(Config, Narrow("nosuch"), Narrow("not a number"));
  EXPECT_EQ(put.hr, S_OK);
  EXPECT_EQ(put.ok, VARIANT_FALSE);
  EXPECT_EQ(put.err, -5);
  EXPECT_EQ(api::automation::SettingNameLoads(), 0);
  // A failed Init leaves the library uninitialised: still no load.
  fixture::TempInstall empty("empty");
  EXPECT_EQ(Init(empty.root().c_str()), -4);
  EXPECT_EQ(Get(Config, Narrow("x"))->err, -5);
  EXPECT_EQ(api::automation::SettingNameLoads(), 0);

  fixture::WriteSettings(empty.config(), fixture::SettingsFile());
  testinst::WriteAll(empty.root() + "APIConst.inc", "x = 6; // x\n");
  ASSERT_EQ(Init(empty.root().c_str()), 0);
  EXPECT_EQ(Get(Config, Narrow("X"))->value.v.vt, VT_I4);  // kind 0 from the file: setting 6 as an integer
  EXPECT_EQ(api::automation::SettingNameLoads(), 1);
  // Loaded once: another root does not reload.
  Installed other("y = 5; // x\n");
  Get(Config, Narrow("y"));
  EXPECT_EQ(api::automation::SettingNameLoads(), 1);
  SetCurrentDirectoryA(previous);
}

TEST(Property, LastExistingCandidateWins) {
  const std::pair<std::string, std::string> include{"API\\Include\\APIConst.inc", "x = 5; // integer\n"};
  const std::pair<std::string, std::string> sibling{"..\\API\\APIConst.inc", "x = 6; // integer\n"};
  const std::pair<std::string, std::string> own{"APIConst.inc", "x = 12; // integer\n"};
  // The sibling candidate lies outside the root: give it a root one level down.
  fixture::TempInstall outer("outer");
  CreateDirectoryA((outer.root() + "API").c_str(), nullptr);
  const std::string root = outer.root() + "root\\";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA((root + "API").c_str(), nullptr);
  CreateDirectoryA((root + "API\\Include").c_str(), nullptr);
  fixture::WriteSettings(root + "config\\", fixture::SettingsFile());
  const auto run = [&](bool withSibling, bool withOwn) {
    testinst::WriteAll(root + include.first, include.second);
    DeleteFileA((root + sibling.first).c_str());
    DeleteFileA((root + own.first).c_str());
    if (withSibling) testinst::WriteAll(root + sibling.first, sibling.second);
    if (withOwn) testinst::WriteAll(root + own.first, own.second);
    api::automation::ResetSettingNames();
    EXPECT_EQ(Init(root.c_str()), 0);
    std::uint16_t seconds = 0;
    GetConfigSetting(12, &seconds, 2);  // id 12: a 2-byte number, tells itself apart
    auto got = Get(Config, Narrow("x"));
    return got->value.v.vt == VT_I4 ? got->value.v.lVal : -100;
  };
  std::uint16_t seconds = 0;
  ASSERT_EQ((Init(root.c_str()), GetConfigSetting(12, &seconds, 2)), 2);
  char folder[256] = {};
  EXPECT_EQ(run(true, true), static_cast<LONG>(seconds));
  GetConfigSetting(6, folder, 255);
  LONG logs = 0;
  std::memcpy(&logs, folder, 4);
  EXPECT_EQ(run(true, false), logs);
  GetConfigSetting(5, folder, 255);
  LONG mail = 0;
  std::memcpy(&mail, folder, 4);
  EXPECT_EQ(run(false, false), mail);
  DeleteFileA((root + include.first).c_str());
  api::automation::ResetSettingNames();
  ASSERT_EQ(Init(root.c_str()), 0);
  EXPECT_EQ(Get(Config, Narrow("x"))->err, -1);  // no file: names are not found
  auto number = Get(Config, I4(12));             // numbers still work (read as text)
  EXPECT_EQ(number->value.v.vt, VT_BSTR);
  EXPECT_GT(number->err, 0);
}

TEST(Property, EightFirstLookupsReadOnce) {
  Installed one("x = 12; // integer\n");
  std::atomic<int> ready{0};
  std::vector<LONG> answers(8, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < 8) {
      }
      auto got = Get(Config, Narrow("x"));
      answers[static_cast<std::size_t>(i)] = got->value.v.vt == VT_I4 ? got->value.v.lVal : -2;
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(api::automation::SettingNameLoads(), 1);
  for (const LONG a : answers)
    EXPECT_EQ(a, 300);  // id 12's default
}

TEST(Property, BytesGoingDown) {
  Installed none;
  Var held;
  held.v.vt = VT_BSTR;
  held.v.bstrVal = SysAllocString(L"abc");
  struct Row {
    const char* what;
    VarPtr value;
    int bytes;
  };
  Row rows[] = {{"date", Date(1.5), 8},
                {"short", I2(1), 4},
                {"text", Narrow("abc"), 3},
                {"long text", Narrow(std::string(300, 'a')), 255},
                {"variable", ByRef(held), 3}};
  for (Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::uint8_t> block(2048, 0xFF);
    ASSERT_EQ(SetConfigSetting(148, block.data(), 2048), 0);
    const Put put = Set(Config, I4(148), row.value);
    EXPECT_EQ(put.hr, S_OK);
    EXPECT_EQ(put.ok, VARIANT_TRUE);
    ASSERT_EQ(GetConfigSetting(148, block.data(), 2048), 2048);
    int changed = 0;
    while (changed < 2048 && block[static_cast<std::size_t>(changed)] != 0xFF)
      ++changed;
    EXPECT_EQ(changed, row.bytes);
  }
}

// Every name of the shipped file, on the record it belongs to.
TEST(Property, EveryShippedNameRoundTrips) {
  const char* source = std::getenv("VM_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const std::string shipped =
      testinst::ReadAll(testinst::HostPath((std::string(source) + "/api/sdk/APIConst.inc").c_str()));
  ASSERT_FALSE(shipped.empty());
  Installed one(shipped);
  std::vector<std::uint8_t> domain(fixture::DomainSize), account(fixture::AccountSize), remote(fixture::RemoteSize);
  int checked = 0;
  std::size_t start = 0;
  while (start < shipped.size()) {
    const std::size_t end = shipped.find('\n', start);
    const std::string line = shipped.substr(start, end - start);
    start = end == std::string::npos ? shipped.size() : end + 1;
    char name[128] = {}, word[16] = {};
    int id = 0;
    if (std::sscanf(line.c_str(), "%127s = %d; // %15s", name, &id, word) != 3) continue;
    const std::string n = name, w = word;
    if (id == 148 || id == 149 || n == "config_config_folder_text" || n == "config_folder_text" ||
        n == "config_version_library")
      continue;
    SCOPED_TRACE(n);
    std::fill(domain.begin(), domain.end(), 0);
    std::fill(account.begin(), account.end(), 0);
    std::fill(remote.begin(), remote.end(), 0);
    PropertyTarget t;
    if (n.rfind("domain_", 0) == 0)
      t = {SettingFamily::Domain, domain.data(), static_cast<std::int32_t>(domain.size())};
    if (n.rfind("account_", 0) == 0)
      t = {SettingFamily::Account, account.data(), static_cast<std::int32_t>(account.size())};
    if (n.rfind("remote_", 0) == 0)
      t = {SettingFamily::RemoteAccount, remote.data(), static_cast<std::int32_t>(remote.size())};
    const std::string sample = "v" + std::to_string(id);
    VarPtr value = w == "string" ? Narrow(sample) : w == "date" ? Date(45000.25) : w == "boolean" ? Bool(true) : I4(3);
    const Put put = Set(t, Narrow(n), value);
    ASSERT_EQ(put.hr, S_OK);
    ASSERT_EQ(put.ok, VARIANT_TRUE);
    auto got = Get(t, Narrow(n));
    std::uint8_t plain[255] = {};
    std::int32_t r = -1;
    switch (t.family) {
      case SettingFamily::Config:
        r = GetConfigSetting(id, plain, 255);
        break;
      case SettingFamily::Domain:
        r = GetDomainSetting(t.record, t.recordLen, id, plain, 255);
        break;
      case SettingFamily::Account:
        r = GetUserSetting(t.record, t.recordLen, id, plain, 255);
        break;
      case SettingFamily::RemoteAccount:
        r = GetRASetting(t.record, t.recordLen, id, plain, 255);
        break;
    }
    if (w == "string") {
      ASSERT_EQ(got->value.v.vt, VT_BSTR);
      EXPECT_EQ(std::wstring(got->value.v.bstrVal), std::wstring(sample.begin(), sample.end()));
      EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), static_cast<std::size_t>(r)), sample);
    } else if (w == "date") {
      ASSERT_EQ(got->value.v.vt, VT_DATE);
      EXPECT_EQ(got->value.v.date, 45000.25);
      double stored = 0;
      std::memcpy(&stored, plain, 8);
      EXPECT_EQ(stored, 45000.25);
    } else {
      const LONG expected = w == "boolean" ? 1 : 3;
      ASSERT_EQ(got->value.v.vt, VT_I4);
      EXPECT_EQ(got->value.v.lVal, expected);
      EXPECT_EQ(plain[0], expected);
    }
    ++checked;
  }
  EXPECT_GT(checked, 300);

  // Texts are cut to the field's width (widths written out from the record layouts).
  struct Width {
    const char* name;
    SettingFamily family;
    std::size_t chars;
  };
  for (const Width& row :
       {Width{"config_host_name", SettingFamily::Config, 127}, Width{"config_mail_folder", SettingFamily::Config, 255},
        Width{"domain_name", SettingFamily::Domain, 56}, Width{"remote_text224", SettingFamily::RemoteAccount, 63}}) {
    SCOPED_TRACE(row.name);
    PropertyTarget t;
    if (row.family == SettingFamily::Domain) t = {row.family, domain.data(), static_cast<std::int32_t>(domain.size())};
    if (row.family == SettingFamily::RemoteAccount)
      t = {row.family, remote.data(), static_cast<std::int32_t>(remote.size())};
    EXPECT_EQ(Set(t, Narrow(row.name), Narrow(std::string(300, 'w'))).ok, VARIANT_TRUE);
    auto got = Get(t, Narrow(row.name));
    ASSERT_EQ(got->value.v.vt, VT_BSTR);
    EXPECT_EQ(SysStringLen(got->value.v.bstrVal), row.chars);
  }
}

TEST(Property, ConversionsAndRejectedValues) {
  Installed one("n = 12; // integer\nb = 15; // boolean\nd = 22; // date\nt = 5; // string\n");
  EXPECT_EQ(Set(Config, Narrow("n"), Narrow("110")).ok, VARIANT_TRUE);
  std::uint16_t number = 0;
  EXPECT_EQ(GetConfigSetting(12, &number, 2), 2);
  EXPECT_EQ(number, 110);
  std::uint8_t flag = 0;
  SetConfigSetting(15, &flag, 1);
  EXPECT_EQ(Set(Config, Narrow("b"), Bool(true)).ok, VARIANT_TRUE);
  EXPECT_EQ(GetConfigSetting(15, &flag, 1), 1);
  EXPECT_EQ(flag, 1);

  std::vector<std::uint8_t> domain(fixture::DomainSize, 0);
  const PropertyTarget onDomain{SettingFamily::Domain, domain.data(), static_cast<std::int32_t>(domain.size())};
  struct Row {
    const char* what;
    const PropertyTarget* target;
    const char* command;
    VarPtr value;
    HRESULT hr;
  };
  Row rows[] = {{"text into a number", &Config, "n", Narrow("abc"), static_cast<HRESULT>(0x80020005)},
                {"too big a number", &Config, "n", R8(3e9), static_cast<HRESULT>(0x8002000A)},
                {"not a date", &onDomain, "d", Narrow("not a date"), static_cast<HRESULT>(0x80020005)},
                {"no exact 8-bit form", &Config, "t", Text(L"C:\xFF3Cx"), static_cast<HRESULT>(0x80020005)}};
  const std::vector<std::uint8_t> domainBefore = domain;
  char folderBefore[256] = {}, folderAfter[256] = {};
  GetConfigSetting(5, folderBefore, 255);
  for (Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Put put = Set(*row.target, Narrow(row.command), row.value, 42);
    EXPECT_EQ(put.hr, row.hr);
    EXPECT_EQ(put.err, 42);
  }
  EXPECT_EQ(GetConfigSetting(12, &number, 2), 2);
  EXPECT_EQ(number, 110);
  EXPECT_EQ(domain, domainBefore);
  GetConfigSetting(5, folderAfter, 255);
  EXPECT_STREQ(folderAfter, folderBefore);
  std::string ansi;
  const std::wstring exact = L"caf\xE9";
  EXPECT_TRUE(api::automation::ToAnsiExact(exact.data(), exact.size(), 255, ansi));
  EXPECT_EQ(ansi, "caf\xE9");
}

TEST(Property, UnknownCommandsAndEdgeCases) {
  Installed one("small = 13; // integer\nfive = 5; // integer\n");
  VarPtr commands[] = {Narrow("nosuch"), Narrow(""), Of(VT_EMPTY), Of(VT_NULL)};
  for (const VarPtr& command : commands) {
    SCOPED_TRACE(command->v.vt);
    auto got = Get(Config, command);
    EXPECT_EQ(got->hr, S_OK);
    EXPECT_EQ(got->value.v.vt, VT_EMPTY);
    EXPECT_EQ(got->err, -1);
    const Put put = Set(Config, command, Narrow("not a number"));  // the Value is not even converted
    EXPECT_EQ(put.hr, S_OK);
    EXPECT_EQ(put.ok, VARIANT_FALSE);
    EXPECT_EQ(put.err, -1);
  }
  // "5" names the row of id 5 (an integer here): the folder text's first four bytes.
  char folder[256] = {};
  ASSERT_GT(GetConfigSetting(5, folder, 255), 3);
  LONG head = 0;
  std::memcpy(&head, folder, 4);
  auto byRow = Get(Config, Narrow("5"));
  ASSERT_EQ(byRow->value.v.vt, VT_I4);
  EXPECT_EQ(byRow->value.v.lVal, head);
  // Without a row for the id a number reads as text.
  auto asText = Get(Config, Narrow("6"));
  ASSERT_EQ(asText->value.v.vt, VT_BSTR);
  char logs[256] = {};
  const int length = GetConfigSetting(6, logs, 255);
  EXPECT_EQ(std::wstring(asText->value.v.bstrVal), std::wstring(logs, logs + length));
  // A 1-byte field by name answers a 32-bit integer.
  const std::uint8_t byte = 200;
  ASSERT_EQ(SetConfigSetting(13, &byte, 1), 0);
  auto small = Get(Config, Narrow("SMALL"));
  ASSERT_EQ(small->value.v.vt, VT_I4);
  EXPECT_EQ(small->value.v.lVal, 200);
  std::vector<std::uint8_t> domain(fixture::DomainSize, 0);
  const PropertyTarget onDomain{SettingFamily::Domain, domain.data(), static_cast<std::int32_t>(domain.size())};
  auto missing = Get(onDomain, I4(4096));
  EXPECT_EQ(missing->value.v.vt, VT_EMPTY);
  EXPECT_EQ(missing->err, -1);
  auto block = Get(Config, I4(148));
  EXPECT_EQ(block->value.v.vt, VT_EMPTY);
  EXPECT_EQ(block->err, -3);
}

}  // namespace
