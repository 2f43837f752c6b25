#include "installer/pellacor/HostTable.h"

#include <algorithm>
#include <cstring>

namespace pellacor {
namespace {

// Slot index of a block, or null when the block or slot size is absent or
// the slot would end beyond the address space.
char* Slot(char* block, std::uint32_t slotSize, std::uint32_t index) noexcept {
  if (block == nullptr || slotSize == 0) return nullptr;
  const std::uint64_t offset = std::uint64_t{index} * slotSize;
  const std::uint64_t room = std::uint64_t{UINTPTR_MAX} - reinterpret_cast<std::uintptr_t>(block);
  if (offset > room || slotSize > room - offset) return nullptr;
  return block + static_cast<std::uintptr_t>(offset);
}

std::string_view SlotText(const char* slot, std::uint32_t slotSize) {
  if (slot == nullptr) return {};
  const void* zero = std::memchr(slot, 0, slotSize);
  return std::string_view(slot, zero == nullptr ? slotSize : static_cast<const char*>(zero) - slot);
}

std::string Decorated(std::string_view variable) {
  std::string name;
  name.reserve(variable.size() + 2);
  name += '%';
  name += variable;
  name += '%';
  return name;
}

void Store(char* slot, std::string_view text) {
  if (!text.empty()) std::memcpy(slot, text.data(), text.size());
  slot[text.size()] = '\0';
}

}  // namespace

std::uint32_t HostTable::Examined() const noexcept { return std::min(table_.count, table_.capacity); }

char* HostTable::NameSlot(std::uint32_t index) const noexcept { return Slot(table_.names, table_.nameSlotSize, index); }

char* HostTable::ValueSlot(std::uint32_t index) const noexcept {
  return Slot(table_.values, table_.valueSlotSize, index);
}

std::optional<std::uint32_t> HostTable::Find(std::string_view variable) const {
  const std::string name = Decorated(variable);
  const std::uint32_t examined = Examined();
  for (std::uint32_t i = 0; i < examined; ++i) {
    const char* slot = NameSlot(i);
    if (slot == nullptr) break;  // and every later slot too
    if (SlotText(slot, table_.nameSlotSize) == name) return i;
  }
  return std::nullopt;
}

std::string_view HostTable::Get(std::string_view variable) const {
  const std::optional<std::uint32_t> index = Find(variable);
  return index ? SlotText(ValueSlot(*index), table_.valueSlotSize) : std::string_view();
}

bool HostTable::Put(std::string_view variable, std::string_view text) {
  if (text.size() >= table_.valueSlotSize) return false;
  if (const std::optional<std::uint32_t> index = Find(variable)) {
    char* value = ValueSlot(*index);
    if (value == nullptr) return false;
    Store(value, text);
    return true;
  }
  if (table_.count >= table_.capacity) return false;
  const std::string name = Decorated(variable);
  char* nameSlot = NameSlot(table_.count);
  char* value = ValueSlot(table_.count);
  if (nameSlot == nullptr || value == nullptr || name.size() >= table_.nameSlotSize) return false;
  Store(nameSlot, name);
  Store(value, text);
  ++table_.count;
  return true;
}

}  // namespace pellacor
