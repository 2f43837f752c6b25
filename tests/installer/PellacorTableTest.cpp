// The host-table walk over tables whose blocks are allocated to the byte,
// so that under the sanitizers any read or write past a slot or block
// fails the test. The expected tables are written out by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "installer/pellacor/HostTable.h"

namespace {

// A host's table: blocks of exactly capacity slots; entries given as
// (name, value) are copied into their slots, without their zero when they
// fill the slot.
struct Table {
  Table(std::uint32_t capacity, std::uint32_t nameSlot, std::uint32_t valueSlot,
        std::vector<std::pair<std::string, std::string>> entries)
      : names(std::make_unique<char[]>(std::size_t{capacity} * nameSlot)),
        values(std::make_unique<char[]>(std::size_t{capacity} * valueSlot)) {
    t.capacity = capacity;
    t.nameSlotSize = nameSlot;
    t.valueSlotSize = valueSlot;
    t.count = static_cast<std::uint32_t>(entries.size());
    t.names = names.get();
    t.values = values.get();
    for (std::size_t i = 0; i < entries.size() && i < capacity; ++i) {
      std::memcpy(names.get() + i * nameSlot, entries[i].first.data(),
                  std::min<std::size_t>(entries[i].first.size(), nameSlot));
      std::memcpy(values.get() + i * valueSlot, entries[i].second.data(),
                  std::min<std::size_t>(entries[i].second.size(), valueSlot));
    }
  }
  std::string Name(std::size_t i) const { return std::string(names.get() + i * t.nameSlotSize, t.nameSlotSize); }
  std::string Value(std::size_t i) const { return std::string(values.get() + i * t.valueSlotSize, t.valueSlotSize); }

  PellacorHostTable t{};
  std::unique_ptr<char[]> names, values;
};

std::string Slot(std::string text, std::size_t size) {
  text.resize(size, '\0');
  return text;
}

TEST(PellacorTable, FindAndGet) {
  Table table(4, 16, 8, {{"%M_KTZ%", "a"}, {"%m_error%", "lower"}, {"%M_ERROR%", "12345678"}, {"%LATE%", "x"}});
  table.t.count = 3;  // the fourth slot is no entry
  pellacor::HostTable host(table.t);
  EXPECT_EQ(host.Find("M_KTZ"), 0u);
  EXPECT_EQ(host.Find("M_ERROR"), 2u);         // byte for byte: "%m_error%" is another name
  EXPECT_EQ(host.Get("M_ERROR"), "12345678");  // no zero: the whole slot, nothing past it
  EXPECT_EQ(host.Find("LATE"), std::nullopt);
  EXPECT_EQ(host.Get("LATE"), "");
  EXPECT_EQ(host.Find(""), std::nullopt);

  // A count beyond the capacity examines the capacity; a name that fills
  // its slot without a zero still compares.
  Table over(2, 9, 4, {{"%a%", "1"}, {"%M_ERROR%", "2"}});
  over.t.count = 1000;
  EXPECT_EQ(pellacor::HostTable(over.t).Get("M_ERROR"), "2");
}

TEST(PellacorTable, Put) {
  Table table(3, 10, 4, {{"%M_ERROR%", "x"}});
  pellacor::HostTable host(table.t);
  EXPECT_TRUE(host.Put("M_ERROR", "0"));
  EXPECT_EQ(table.Value(0), Slot("0", 4));
  EXPECT_FALSE(host.Put("M_ERROR", "1234"));  // needs 5 bytes with its zero
  EXPECT_EQ(table.Value(0), Slot("0", 4));
  EXPECT_TRUE(host.Put("M_ERROR", "123"));
  EXPECT_EQ(table.Value(0), "123" + std::string(1, '\0'));

  EXPECT_TRUE(host.Put("B", "v"));  // appended at index count
  EXPECT_EQ(table.t.count, 2u);
  EXPECT_EQ(table.Name(1), Slot("%B%", 10));
  EXPECT_EQ(table.Value(1), Slot("v", 4));
  EXPECT_FALSE(host.Put("M_KTZ_SETTING", "v"));  // the name does not fit its slot
  EXPECT_FALSE(host.Put("C", "long"));           // nor the value
  EXPECT_EQ(table.t.count, 2u);
  EXPECT_EQ(table.Name(2), Slot("", 10));
  EXPECT_TRUE(host.Put("1234567", "v"));  // "%1234567%" and its zero: exactly 10
  EXPECT_EQ(table.t.count, 3u);
  EXPECT_FALSE(host.Put("D", "v"));  // full
  EXPECT_EQ(table.t.count, 3u);
}

TEST(PellacorTable, AbsentBlocksAndSlotsMeanNoEntries) {
  Table noNames(2, 16, 8, {{"%A%", "1"}});
  noNames.t.names = nullptr;
  Table noValues(2, 16, 8, {{"%A%", "1"}});
  noValues.t.values = nullptr;
  Table zeroSlot(2, 16, 8, {{"%A%", "1"}});
  zeroSlot.t.nameSlotSize = 0;
  for (Table* table : {&noNames, &noValues, &zeroSlot}) {
    pellacor::HostTable host(table->t);
    EXPECT_EQ(host.Get("A"), "");
    EXPECT_FALSE(host.Put("B", "2"));
    EXPECT_EQ(table->t.count, 1u);
  }
  EXPECT_EQ(pellacor::HostTable(noValues.t).Find("A"), 0u);

  // Slots that would end beyond the address space are never touched.
  PellacorHostTable high{};
  high.capacity = high.count = 3;
  high.nameSlotSize = high.valueSlotSize = 0x80000000u;
  high.names = high.values = reinterpret_cast<char*>(UINTPTR_MAX - 0x1000);
  pellacor::HostTable far(high);
  EXPECT_EQ(far.Find("A"), std::nullopt);
  EXPECT_FALSE(far.Put("A", "1"));
}

// Beyond a 16-bit index: the last of 70,000 entries.
TEST(PellacorTable, SeventyThousandEntries) {
  std::vector<std::pair<std::string, std::string>> entries(70000, {"%F%", ""});
  entries.back() = {"%M_KTZ_SETTING%", "config_pop3_port"};
  Table table(70001, 16, 24, entries);
  pellacor::HostTable host(table.t);
  EXPECT_EQ(host.Find("M_KTZ_SETTING"), 69999u);
  EXPECT_TRUE(host.Put("M_ERROR", "0"));
  EXPECT_EQ(table.Name(70000), Slot("%M_ERROR%", 16));
  EXPECT_EQ(table.t.count, 70001u);
}

}  // namespace
