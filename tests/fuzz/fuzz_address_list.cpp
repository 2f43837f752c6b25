// Address-list files over an in-memory seam: the input's NUL-separated
// parts are the files "0", "1", ..., free to include each other. No input
// may crash, recurse without bound or have a file read twice in one check.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/messages/AddressList.h"

namespace {

class Files final : public core::AddressListFiles {
 public:
  std::map<std::string, std::vector<std::string>> files;
  std::map<std::string, int> reads;
  bool Exists(const std::string& name) override { return files.count(name) != 0; }
  bool ReadLines(const std::string& name, std::vector<std::string>& lines) override {
    if (++reads[name] > 1) std::abort();
    lines = files.at(name);
    return true;
  }
  std::string IncludePath(std::string_view name) override { return std::string(name); }
  bool DomainServed(std::string_view domain) override { return domain.size() % 2 == 0; }
  bool IPMatches(std::string_view ip, std::string_view pattern) override { return ip.size() == pattern.size(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Files files;
  std::vector<std::string>* lines = &files.files["0"];
  lines->emplace_back();
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      lines = &files.files[std::to_string(files.files.size())];
      lines->emplace_back();
    } else if (data[i] == '\n') {
      lines->emplace_back();
    } else {
      lines->back() += static_cast<char>(data[i]);
    }
  }
  files.files["0.local.dat"];
  const core::AddressListSubject subject{{{"ann", "a.test"}, {"bob", "b.example"}}, "carl", "c.test", "192.0.2.1"};
  core::AddressNotListed(subject, "0", files);
  return 0;
}
