#pragma once
// An installation in memory for the statistics report: domains of account
// records, files by name (a mailbox path p has its files under "m\p\", the
// server-wide ones under "m\"), "dave" as the one member of "[staff]", and
// counts of the calls the report makes. NextUser raises at the second
// account of domain raiseIn.
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/userstat/StatReport.h"

namespace testing_support {

inline core::AccountRecordBytes StatAccount(const std::string& aliases, const std::string& path,
                                            std::uint8_t kind = 0) {
  core::AccountRecordBytes r{};
  r[0] = kind;
  r[260] = static_cast<std::uint8_t>(aliases.size());
  std::memcpy(r.data() + 261, aliases.data(), aliases.size());
  r[1028] = static_cast<std::uint8_t>(path.size());
  std::memcpy(r.data() + 1029, path.data(), path.size());
  return r;
}

struct FakeStatSource : core::UserStatSource {
  std::vector<std::pair<std::string, std::vector<core::AccountRecordBytes>>> domains;
  std::map<std::string, std::string> files;
  int raiseIn = -1, inits = 0, dones = 0, walks = 0;
  std::size_t current = 0, next = 0;

  std::uint32_t CountDomains() override { return static_cast<std::uint32_t>(domains.size()); }
  std::string DomainName(int index) override { return domains.at(static_cast<std::size_t>(index)).first; }
  bool InitUsers(const std::string& domain) override {
    for (current = 0; domains.at(current).first != domain; ++current) {
    }
    ++inits;
    next = 0;
    return true;
  }
  bool NextUser(core::AccountRecordBytes& record) override {
    if (static_cast<int>(current) == raiseIn && next == 1) throw std::runtime_error("disk gone");
    if (next == domains[current].second.size()) return false;
    record = domains[current].second[next++];
    return true;
  }
  void DoneUsers() override { ++dones; }
  std::string StatFolder(std::string_view path) override {
    return "m\\" + std::string(path) + (path.empty() ? "" : "\\");
  }
  bool ReadFile(const std::string& name, std::uint64_t offset, std::size_t max, std::string& out) override {
    const auto found = files.find(name);
    if (found == files.end()) return false;
    out = offset < found->second.size() ? found->second.substr(static_cast<std::size_t>(offset), max) : "";
    return true;
  }
  void MailboxSize(const std::string&, std::uint64_t& size, std::uint64_t& count) override {
    ++walks;
    size = 1000;
    count = 2;
  }
  void SplitAddress(std::string_view address, std::string& alias, std::string& domain) override {
    alias = address.substr(0, address.find('@'));
    domain = address.substr(address.find('@') + 1);
  }
  core::GroupMemberTest GroupTest() override {
    return [](std::string_view item, std::string_view group) { return item == "dave" && group == "[staff]"; };
  }
};

}  // namespace testing_support
