#include "api/automation/SettingNames.h"

#include <span>

#include "core/config/SettingTables.h"
#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace api::automation {

std::vector<std::string> NamesFileCandidates(std::string_view root) {
  std::string base(root);
  if (!base.empty() && base.back() != '\\') base += '\\';
  const std::string file(NamesFileName);
  return {base + "API\\Include\\" + file, base + "..\\API\\" + file, base + file};
}

bool IsFullFolderPath(std::string_view root) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (root.size() >= 3 && letter(root[0]) && root[1] == ':' && root[2] == '\\') return true;
  return root.size() >= 3 && root[0] == '\\' && root[1] == '\\' && root[2] != '\\';
}

bool ParseSettingLine(std::string_view raw, SettingName& out) {
  if (raw.find('=') == std::string_view::npos || raw.find("//") == std::string_view::npos) return false;
  const std::string line = core::LowerCase(raw);
  std::string name = core::CutTo(core::GetDelimitedWord(line, 0, '='), MaxNameLength);
  // An empty name would make every empty command mean this row.
  if (name.empty()) return false;
  const std::string value = core::GetDelimitedWord(core::GetDelimitedWord(line, 1, '='), 0, ';');
  out.name = std::move(name);
  out.id =
      value.find('$') != std::string::npos ? static_cast<std::int32_t>(core::HexToInt(value)) : core::TextToInt(value);
  out.kind = line.find(" string") != std::string::npos ? ValueKind::Text
             : line.find(" date") != std::string::npos ? ValueKind::Date
                                                       : ValueKind::Integer;
  return true;
}

SettingNameTable SettingNameTable::Parse(std::string_view image) {
  SettingNameTable table;
  std::size_t start = 0;
  while (start < image.size()) {
    std::size_t end = image.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = image.size();
    SettingName row;
    if (end > start && ParseSettingLine(image.substr(start, end - start), row)) table.rows_.push_back(std::move(row));
    start = end + 1;
  }
  return table;
}

const SettingName* SettingNameTable::Find(std::string_view command) const {
  command = command.substr(0, MaxCommandLength);
  if (command.empty()) return nullptr;
  if (command.front() >= '0' && command.front() <= '9') {
    const std::int32_t id = core::TextToInt(command);
    for (const SettingName& row : rows_)
      if (row.id == id) return &row;
    return nullptr;
  }
  const std::string name = core::LowerCase(command);
  for (const SettingName& row : rows_)
    if (row.name == name) return &row;
  return nullptr;
}

namespace {

// "MaxMessageSize" -> "max_message_size", "DomainMBLimit" -> "domain_mb_limit".
std::string SnakeCase(std::string_view name) {
  const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  const auto lowerOrDigit = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (upper(c) && i > 0 &&
        (lowerOrDigit(name[i - 1]) || (upper(name[i - 1]) && i + 1 < name.size() && lowerOrDigit(name[i + 1]) &&
                                       !(name[i + 1] >= '0' && name[i + 1] <= '9'))))
      out += '_';
    out += upper(c) ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

std::string_view KindWord(core::SettingFamily family, const core::FieldDef& row) {
  const core::FieldDef* field = row.kind == core::FieldKind::Alias ? core::FindSettingField(family, row.id) : &row;
  if (field == nullptr) return "integer";
  if (core::IsTextKind(field->kind) || field->kind == core::FieldKind::Block ||
      field->kind == core::FieldKind::ConfigFolder || field->kind == core::FieldKind::FixedText)
    return "string";
  if (field->kind == core::FieldKind::Date) return "date";
  return field->kind == core::FieldKind::Bool ? "boolean" : "integer";
}

}  // namespace

std::string SettingConstantsText() {
  struct Family {
    core::SettingFamily family;
    std::string_view prefix;
  };
  static constexpr Family families[] = {{core::SettingFamily::Config, "config"},
                                        {core::SettingFamily::Domain, "domain"},
                                        {core::SettingFamily::Account, "account"},
                                        {core::SettingFamily::RemoteAccount, "remote"}};
  std::string text =
      "// Setting names for GetProperty and SetProperty of the automation objects.\r\n"
      "// config_ names belong to the API object, domain_ to domains, account_ to\r\n"
      "// accounts and remote_ to remote accounts. Generated from the setting tables.\r\n";
  for (const Family& f : families) {
    for (const core::FieldDef& row : core::FieldTable(f.family)) {
      if (row.id < 0 || row.name.empty()) continue;
      std::string name = SnakeCase(row.name);
      // "DomainName" in the domain table is domain_name, not domain_domain_name.
      const std::string own = std::string(f.prefix) + "_";
      if (name.compare(0, own.size(), own) != 0 && name != f.prefix) name = own + name;
      text += name + " = " + std::to_string(row.id) + "; // " + std::string(KindWord(f.family, row)) + "\r\n";
    }
  }
  return text;
}

}  // namespace api::automation
