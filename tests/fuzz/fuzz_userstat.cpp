// The statistics report over hostile counter files, dates and filters: it
// ends, and every line has 13 fields and ends in CR LF. The input is split
// at the first three NUL bytes: filter, from date, to date, then the bytes
// of "userstat.dat" (whose first 24 bytes also serve as "useraccess.dat").
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/support/fake_stat_source.h"

namespace {

struct Text final : core::UserStatSink {
  std::string text;
  bool Write(std::string_view part) override {
    text += part;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view parts[3];
  for (std::string_view& part : parts) {
    const std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos) return 0;
    part = input.substr(0, nul);
    input.remove_prefix(nul + 1);
  }
  testing_support::FakeStatSource source;
  source.domains.push_back({"a.test", {testing_support::StatAccount("ann;[Staff];bob\r\n", "box")}});
  source.domains.push_back({"B.Test", {testing_support::StatAccount("dave", "box")}});
  source.files["m\\box\\userstat.dat"] = std::string(input);
  source.files["m\\box\\useraccess.dat"] = std::string(input.substr(0, 24));
  Text sink;
  if (!core::WriteUserStatReport(parts[1], parts[2], parts[0], source, sink)) std::abort();
  for (std::size_t start = 0, end = 0; start < sink.text.size(); start = end + 2) {
    end = sink.text.find("\r\n", start);
    if (end == std::string::npos) std::abort();
    const std::string_view line = std::string_view(sink.text).substr(start, end - start);
    if (std::count(line.begin(), line.end(), ',') != 12 || line.find_first_of("\r\n") != std::string_view::npos)
      std::abort();
  }
  return 0;
}
