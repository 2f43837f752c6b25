// List matching with groups from hostile "groups.dat" and include files:
// it ends (cycles, deep nesting), and without groups it is symmetric.
// The input is split at the first two NUL bytes: list a, list b, then the
// groups file; an include "{x}" names the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/lists/Groups.h"

namespace {

class OneFile final : public core::GroupFiles {
 public:
  explicit OneFile(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i == text.size() || text[i] == '\n') {
        lines.emplace_back(text.substr(start, i - start));
        start = i + 1;
      }
    }
    parsed_ = core::ParseGroupFile(lines);
  }
  Parsed Read(std::string_view) override { return parsed_; }

 private:
  Parsed parsed_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t first = input.find('\0');
  if (first == std::string_view::npos) return 0;
  const std::size_t second = input.find('\0', first + 1);
  if (second == std::string_view::npos) return 0;
  const std::string_view a = input.substr(0, first);
  const std::string_view b = input.substr(first + 1, second - first - 1);
  OneFile files(input.substr(second + 1));
  if (core::MatchStringLists(a, b) != core::MatchStringLists(b, a)) std::abort();
  core::MatchStringLists(a, b, core::GroupTestOver(files));
  core::IsGroupMember(a, b, false, files);
  core::IsGroupMember(a, b, true, files);
  return 0;
}
