#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/archive/ArchiveFormat.h"
#include "core/archive/ArchiveStreams.h"

namespace {

std::string Hex(const char* hex) {
  std::string bytes;
  for (; hex[0] != '\0'; hex += 2)
    bytes += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
  return bytes;
}

std::string U32(std::uint32_t value) {
  return std::string{char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
}

const std::string kHello = Hex("789CCB48CDC9C90700062C0215");  // zlib stream of "hello"
const std::string kEmpty = Hex("789C030000000001");            // of nothing
const std::string kZip = Hex("494C4453050000000102000000");
const std::string kRaw = Hex("494C4453050000000002000000");

// Reads data in steps of at most step bytes.
core::ReadCallback ReaderOf(const std::string& data, std::size_t& at, std::size_t step = 65536) {
  return [&data, &at, step](std::uint8_t* out, std::size_t size) -> std::int64_t {
    const std::size_t count = std::min({size, step, data.size() - at});
    std::memcpy(out, data.data() + at, count);
    at += count;
    return static_cast<std::int64_t>(count);
  };
}

core::WriteCallback Into(std::string& out) {
  return [&out](const std::uint8_t* data, std::size_t size) {
    out.append(reinterpret_cast<const char*>(data), size);
    return true;
  };
}

TEST(ArchiveLayout, HeaderEntryHeadAndStreams) {
  const auto zip = core::MakeArchiveHeader(true), raw = core::MakeArchiveHeader(false);
  EXPECT_EQ(std::string(zip.begin(), zip.end()), kZip);
  EXPECT_EQ(std::string(raw.begin(), raw.end()), kRaw);
  EXPECT_EQ(core::MakeEntryHead("a.txt", 13), Hex("05612E7478740D000000"));
  // One codec of each kind serves several streams, fed one byte or a chunk at a time.
  core::Deflater deflater;
  core::Inflater inflater;
  for (const std::size_t step : {1, 65536}) {
    for (const auto& [text, stream] : {std::pair{std::string("hello"), kHello}, {std::string(), kEmpty}}) {
      std::string out, back;
      std::size_t at = 0, from = 0;
      std::uint64_t consumed = 0, produced = 0;
      EXPECT_EQ(deflater.Run(ReaderOf(text, at, step), 99, Into(out), 99, consumed, produced), core::StreamResult::Ok);
      EXPECT_EQ(out, stream);
      EXPECT_EQ(inflater.Run(ReaderOf(stream, from, step), stream.size(), Into(back)), core::StreamResult::Ok);
      EXPECT_EQ(back, text);
    }
  }
  std::size_t at = 0;
  std::string out;
  EXPECT_EQ(inflater.Run(ReaderOf(kHello, at), kHello.size(), Into(out), 4), core::StreamResult::TooLarge);
}

TEST(ArchiveListing, LinesOfEveryForm) {
  const std::string two =
      "\x05"
      "a.txt" +
      U32(5) + "hello" +
      "\x03"
      "b\\c" +
      U32(0);
  const std::string old = std::string(1, '\x03') + "old" + std::string(252, '\xAA') + U32(2) + "xy";
  const struct {
    const char* what;
    std::string image;
    std::string listing;
  } rows[] = {
      {"raw", kRaw + two, "a.txt;5\r\nb\\c;0\r\n"},
      {"compressed: the stored length", kZip + "\x01h" + U32(13) + kHello, "h;13\r\n"},
      {"version 1: 256-byte names", Hex("494C4453050000000001000000") + old, "old;2\r\n"},
      {"header-less", old + old, "old;2\r\nold;2\r\n"},
      {"header block past the end", "ILDS" + U32(0xFFFFFFFF) + "\x01", ""},
      {"header cut short", "ILDS\x05", ""},
      {"data reaching the end exactly", kRaw + "\x01x" + U32(3) + "abc", "x;3\r\n"},
      {"data past the end", kRaw + two + "\x01x" + U32(0xFFFFFFFF) + "abc", "a.txt;5\r\nb\\c;0\r\n"},
      {"head cut short",
       kRaw + two +
           "\x05"
           "ab",
       "a.txt;5\r\nb\\c;0\r\n"},
      {"blank name ends it", kRaw + "\x02 \t" + U32(0) + two, ""},
      {"control bytes", kRaw + "\x04\r\nx\x1F" + U32(0), "??x?;0\r\n"},
  };
  for (const auto& row : rows) {
    core::MemoryArchiveInput input(reinterpret_cast<const std::uint8_t*>(row.image.data()), row.image.size());
    EXPECT_EQ(core::ListPackage(input), row.listing) << row.what;
  }
}

TEST(ArchiveNames, RefusedAndAcceptedNames) {
  const char* const accepted[] = {
      "a.txt", "..webmail\\config\\w.ini", ".hidden", "a..b", " lead", "CONSOLE.txt", "x.con", "COM10", "LPT0"};
  const std::vector<const char*> refused[] = {
      // leaving the folder, roots, empty components
      {"", "\\", "a\\", "a\\\\b", "\\a", "/a", "\\\\srv\\share\\a", "\\\\?\\C:\\a", "..", "..\\a", "a/../b", "...",
       ". .\\a"},
      // what Windows trims or reads otherwise
      {"a.", "a ", "a\\b.\\c", "C:a", "C:\\a", "a:b", "a\x01", "a\x7f", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b"},
      // devices
      {"CON", "con.txt", "Aux.tar.gz", "nul .txt", "COM1", "lpt9.log", "CONIN$", "conout$.x", "d\\PRN", "COM\xB9"}};
  std::string path;
  for (const char* name : accepted) {
    EXPECT_TRUE(core::CheckEntryName(name, 10, path)) << name;
    EXPECT_EQ(path, name);
  }
  for (const auto& group : refused) {
    for (const char* name : group)
      EXPECT_FALSE(core::CheckEntryName(name, 10, path)) << name;
  }
  EXPECT_TRUE(core::CheckEntryName("d/e\\f", 10, path));
  EXPECT_EQ(path, "d\\e\\f");
  // Joined with the 10-character folder: 259 characters fit, 260 do not.
  EXPECT_TRUE(core::CheckEntryName(std::string(249, 'n'), 10, path));
  EXPECT_FALSE(core::CheckEntryName(std::string(250, 'n'), 10, path));

  const std::tuple<const char*, const char*, bool> lists[] = {{"", "a", false},
                                                              {"a.cfg;b.cfg", "a.cfg", true},
                                                              {"a.cfg;b.cfg", "B.CFG", true},
                                                              {"a.cfg;b.cfg", "cfg", false},
                                                              {"xa.cfg", "a.cfg", false},
                                                              {";x;", "X", true}};
  for (const auto& [list, name, holds] : lists)
    EXPECT_EQ(core::ListHoldsName(list, name), holds) << list << " / " << name;
}

// An archive file that refuses every byte past failAt, as a full disk does.
struct FailingOutput final : core::ArchiveOutput {
  explicit FailingOutput(std::size_t limit) : failAt(limit) {}
  bool Append(const std::uint8_t* data, std::size_t size) override {
    const std::size_t room = failAt > bytes.size() ? failAt - bytes.size() : 0;
    bytes.append(reinterpret_cast<const char*>(data), std::min(room, size));
    return size <= room;
  }
  bool Patch(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
    bytes.replace(offset, size, reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool CutBack(std::uint64_t size) override {
    bytes.resize(size);
    return true;
  }
  std::uint64_t Size() const override { return bytes.size(); }
  std::string bytes;
  std::size_t failAt;
};

// A source that shrank, grew or failed since it was opened, and entries too
// large to declare: the archive holds whole entries only.
TEST(ArchiveWriter, EntriesFromChangingSources) {
  using core::EntryWrite;
  const struct {
    std::string name;
    bool compressed;
    std::uint64_t declared;
    std::size_t available;  // bytes the source gives before it ends
    bool fails;             // then reports an error
    EntryWrite result;
    std::string entry;
  } cases[] = {
      {"f", false, 10, 6, false, EntryWrite::Written,
       "\x01"
       "f" +
           U32(6) + "abcdef"},  // shrank: L patched
      {"f", false, 4, 10, false, EntryWrite::Written,
       "\x01"
       "f" +
           U32(4) + "abcd"},  // grew
      {"f", false, 10, 6, true, EntryWrite::LeftOut, ""},
      {"f", true, 10, 6, true, EntryWrite::LeftOut, ""},
      {std::string(255, 'n'), false, 1, 1, false, EntryWrite::Written, "\xff" + std::string(255, 'n') + U32(1) + "a"},
      {std::string(256, 'n'), false, 1, 1, false, EntryWrite::LeftOut, ""},
      {"f", false, 0x80000000u, 10, false, EntryWrite::LeftOut, ""},
      {"e", true, 0, 0, false, EntryWrite::Written,
       "\x01"
       "e" +
           U32(8) + kEmpty},
  };
  for (const auto& c : cases) {
    FailingOutput output(1 << 20);
    output.bytes = kRaw;
    std::size_t at = 0;
    const std::string data = std::string("abcdefghij").substr(0, c.available);
    const core::ReadCallback read = [&](std::uint8_t* out, std::size_t size) -> std::int64_t {
      return at == data.size() && c.fails ? -1 : ReaderOf(data, at)(out, size);
    };
    EXPECT_EQ(core::EntryWriter().Write(output, c.name, c.compressed, c.declared, read), c.result) << c.declared;
    EXPECT_EQ(output.bytes, kRaw + c.entry) << c.declared;
    if (c.result != EntryWrite::Written) continue;
    // Read back: the name whole, the data where the head says.
    core::MemoryArchiveInput input(reinterpret_cast<const std::uint8_t*>(output.bytes.data()), output.bytes.size());
    core::ArchiveHeader header;
    core::EntryHead head;
    ASSERT_EQ(core::ReadArchiveHeader(input, 0, header), core::ArchiveRead::Ok);
    ASSERT_EQ(core::ReadEntryHead(input, header.version, head), core::ArchiveRead::Ok) << c.name.size();
    EXPECT_EQ(head.name, c.name);
    EXPECT_EQ(head.dataOffset, kRaw.size() + 1 + c.name.size() + 4);
  }
}

#ifndef _WIN32
// A write error at every 4 KB of a small pack leaves an archive that the
// independent reader reads whole, each entry equal to its file.
TEST(ArchiveWriter, WriteErrorsLeaveWholeEntriesOnly) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("ilds-writer-" + std::to_string(::getpid()));
  fs::create_directories(folder / "d");
  std::vector<std::pair<std::string, std::string>> files = {
      {"empty", ""}, {"text", ""}, {"d\\noise", ""}, {"zeros", std::string(12000, '\0')}, {"tiny", "abc"}};
  std::uint32_t seed = 12345;
  for (int i = 0; i < 9000; ++i) {
    files[1].second += "line " + std::to_string(i * 7919 % 1000) + "\n";
    files[2].second += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  }
  for (const auto& [name, data] : files)
    std::ofstream(folder / (name == "d\\noise" ? "d/noise" : name), std::ios::binary) << data;
  const std::string command = "/usr/bin/python3 " + std::string(std::getenv("VM_SOURCE_DIR")) +
                              "/tests/support/ilds.py verify " + (folder / "image").string() + " " + folder.string();
  for (const bool compressed : {true, false}) {
    for (std::size_t failAt = 4096, written = 0; written < files.size(); failAt += 4096) {
      FailingOutput output(failAt);
      const auto header = core::MakeArchiveHeader(compressed);
      output.bytes.assign(header.begin(), header.end());
      core::EntryWriter writer;
      for (written = 0; written < files.size(); ++written) {
        std::size_t at = 0;
        const auto& [name, data] = files[written];
        if (writer.Write(output, name, compressed, data.size(), ReaderOf(data, at)) != core::EntryWrite::Written) break;
      }
      std::ofstream(folder / "image", std::ios::binary) << output.bytes;
      FILE* pipe = ::popen(command.c_str(), "r");
      char line[256] = {};
      EXPECT_TRUE(std::fgets(line, sizeof line, pipe) && std::atoi(line) == static_cast<int>(written)) << line;
      EXPECT_EQ(::pclose(pipe), 0) << failAt;
    }
  }
  fs::remove_all(folder);
}
#endif

}  // namespace
