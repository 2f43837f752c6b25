// The plug-in's walk of a hostile host table: four header bytes give the
// capacity, both slot sizes and the count (which may exceed the capacity);
// the blocks are allocated to the byte and filled from the input, so the
// sanitizers catch any access past a slot. Then lines "variable=text" are
// put in turn (variables without a zero byte, as the plug-in's are): a put that answers true is read back, one that
// answers false changed nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "installer/pellacor/HostTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  PellacorHostTable table{};
  table.capacity = data[0] % 16;
  table.nameSlotSize = data[1] % 24;
  table.valueSlotSize = data[2] % 24;
  table.count = data[3];
  std::string_view input(reinterpret_cast<const char*>(data) + 4, size - 4);
  const std::size_t nameBytes = std::size_t{table.capacity} * table.nameSlotSize;
  const std::size_t valueBytes = std::size_t{table.capacity} * table.valueSlotSize;
  if (input.size() < nameBytes + valueBytes) return 0;
  auto names = std::make_unique<char[]>(nameBytes + 1);  // never empty, so never null
  auto values = std::make_unique<char[]>(valueBytes + 1);
  std::memcpy(names.get(), input.data(), nameBytes);
  std::memcpy(values.get(), input.data() + nameBytes, valueBytes);
  input.remove_prefix(nameBytes + valueBytes);
  table.names = nameBytes == 0 ? nullptr : names.get();
  table.values = valueBytes == 0 ? nullptr : values.get();

  pellacor::HostTable host(table);
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    const std::size_t equals = line.find('=');
    const std::string_view variable = line.substr(0, equals);
    const std::string_view text = equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
    if (variable.find('\0') != std::string_view::npos) continue;  // the plug-in's names have none
    const std::string before(names.get(), nameBytes + 1), valuesBefore(values.get(), valueBytes + 1);
    const std::uint32_t count = table.count;
    if (host.Put(variable, text)) {
      if (text.find('\0') == std::string_view::npos && host.Get(variable) != text) std::abort();
      if (table.count != count && (count >= table.capacity || table.count != count + 1)) std::abort();
    } else if (table.count != count || before != std::string(names.get(), nameBytes + 1) ||
               valuesBefore != std::string(values.get(), valueBytes + 1)) {
      std::abort();
    }
    if (names[nameBytes] != 0 || values[valueBytes] != 0) std::abort();  // the guard bytes
  }
  return 0;
}
