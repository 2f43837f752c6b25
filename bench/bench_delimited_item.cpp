// Walks every item of a 10,000-item ";" list by index with GetDelimitedItem,
// against one linear split of the same text. Item i costs O(i), so the whole
// walk is quadratic by nature; what it guards is that no call copies or
// erases the whole list per item.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "bench/harness.h"
#include "core/util/Text.h"

int main() {
  constexpr int ItemCount = 10000;
  constexpr int Repetitions = 7;
  std::string list;
  for (int i = 0; i < ItemCount; ++i) {
    if (i != 0) list.push_back(';');
    list += "user" + std::to_string(i) + "@example.com";
  }

  const long long ours = bench::MedianNanoseconds(Repetitions, [&] {
    std::size_t total = 0;
    for (int i = 0; i < ItemCount; ++i)
      total += core::GetDelimitedItem(list, i, ';').size();
    return total;
  });

  const long long baseline = bench::MedianNanoseconds(Repetitions, [&] {
    std::vector<std::string> items;
    std::string_view rest(list);
    for (;;) {
      const std::size_t end = rest.find(';');
      items.emplace_back(rest.substr(0, end));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    std::size_t total = 0;
    for (const std::string& item : items)
      total += item.size();
    return total;
  });

  bench::Report("delimited_item_walk", ours, baseline);
  return 0;
}
