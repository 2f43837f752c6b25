#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/archive/ArchiveFormat.h"
#include "core/archive/ArchiveStreams.h"

namespace {

std::string Hex(const char* hex) {
  std::string bytes;
  for (; hex[0] != '\0' && hex[1] != '\0'; hex += 2)
    bytes += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
  return bytes;
}

std::string U32(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

// Entries written out by hand: a length byte or a 256-byte field, L, data.
std::string V2(const std::string& name, const std::string& data) {
  return static_cast<char>(name.size()) + name + U32(static_cast<std::uint32_t>(data.size())) + data;
}
std::string Old(const std::string& name, const std::string& data) {
  std::string field = static_cast<char>(name.size()) + name;
  field.resize(256, '\x55');
  return field + U32(static_cast<std::uint32_t>(data.size())) + data;
}

const std::string kHello = Hex("789CCB48CDC9C90700062C0215");  // zlib stream of "hello"
const std::string kEmpty = Hex("789C030000000001");            // of nothing
const std::string kZip = Hex("494C4453050000000102000000");
const std::string kRaw = Hex("494C4453050000000002000000");

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

core::ReadCallback ReaderOf(const std::string& data, std::size_t& at, std::size_t step) {
  return [&data, &at, step](std::uint8_t* out, std::size_t size) -> std::int64_t {
    const std::size_t count = std::min({size, step, data.size() - at});
    std::memcpy(out, data.data() + at, count);
    at += count;
    return static_cast<std::int64_t>(count);
  };
}

TEST(ArchiveLayout, HeaderAndEntryHeadBytes) {
  const auto zip = core::MakeArchiveHeader(true);
  const auto raw = core::MakeArchiveHeader(false);
  EXPECT_EQ(std::string(zip.begin(), zip.end()), kZip);
  EXPECT_EQ(std::string(raw.begin(), raw.end()), kRaw);
  EXPECT_EQ(core::MakeEntryHead("a.txt", 13), Hex("05612E7478740D000000"));
}

TEST(ArchiveStreams, DeflateMatchesTheOneShotStreamWhateverTheReadSizes) {
  core::Deflater deflater;  // reset between streams
  for (const std::size_t step : {std::size_t{1}, std::size_t{65536}}) {
    for (const auto& [text, stream] : {std::pair{std::string("hello"), kHello}, std::pair{std::string(), kEmpty}}) {
      std::size_t at = 0;
      std::string out;
      std::uint64_t consumed = 0, produced = 0;
      const auto result = deflater.Run(
          ReaderOf(text, at, step), 1000,
          [&](const std::uint8_t* data, std::size_t size) {
            out.append(reinterpret_cast<const char*>(data), size);
            return true;
          },
          core::kMaxEntryBytes, consumed, produced);
      EXPECT_EQ(result, core::StreamResult::Ok);
      EXPECT_EQ(out, stream) << step;
      EXPECT_EQ(produced, stream.size());
    }
  }
}

TEST(ArchiveStreams, InflateStopsAtItsCapAndReadsByteWise) {
  core::Inflater inflater;  // reset between streams, the first left unfinished
  for (const auto& [cap, step, expected] :
       {std::tuple{4u, 64u, core::StreamResult::TooLarge}, std::tuple{5u, 1u, core::StreamResult::Ok}}) {
    std::size_t at = 0;
    std::string out;
    const auto result = inflater.Run(
        ReaderOf(kHello, at, step), kHello.size(),
        [&](const std::uint8_t* data, std::size_t size) {
          out.append(reinterpret_cast<const char*>(data), size);
          return true;
        },
        cap);
    EXPECT_EQ(result, expected) << cap;
    if (result == core::StreamResult::Ok) {
      EXPECT_EQ(out, "hello");
    }
  }
}

TEST(ArchiveNames, RefusedAndAcceptedNames) {
  struct Case {
    std::string name;
    const char* path;  // nullptr: refused
  };
  const Case cases[] = {
      {"a.txt", "a.txt"},
      {"d/e\\f.x", "d\\e\\f.x"},
      {"..webmail\\config\\w.ini", "..webmail\\config\\w.ini"},
      {".hidden", ".hidden"},
      {"a..b", "a..b"},
      {" lead", " lead"},
      {"CONSOLE.txt", "CONSOLE.txt"},
      {"x.con", "x.con"},
      {"COM10", "COM10"},
      {"LPT0", "LPT0"},
      {std::string(249, 'n'), "249"},  // joined with the 10-character folder: 259
      {std::string(250, 'n'), nullptr},
      {"", nullptr},
      {"\\", nullptr},
      {"a\\", nullptr},
      {"a\\\\b", nullptr},
      {"\\a", nullptr},
      {"/a", nullptr},
      {"\\\\srv\\share\\a", nullptr},
      {"\\\\?\\C:\\a", nullptr},
      {"..", nullptr},
      {"..\\a", nullptr},
      {"a/../b", nullptr},
      {"...", nullptr},
      {". .\\a", nullptr},
      {"a.", nullptr},
      {"a ", nullptr},
      {"a\\b.\\c", nullptr},
      {"C:a", nullptr},
      {"C:\\a", nullptr},
      {"a.txt:stream", nullptr},
      {"a\x01"
       "b",
       nullptr},
      {"a\x7f", nullptr},
      {"a*b", nullptr},
      {"a?b", nullptr},
      {"a\"b", nullptr},
      {"a<b", nullptr},
      {"a>b", nullptr},
      {"a|b", nullptr},
      {"CON", nullptr},
      {"con.txt", nullptr},
      {"Aux.tar.gz", nullptr},
      {"nul .txt", nullptr},
      {"COM1", nullptr},
      {"lpt9.log", nullptr},
      {"CONIN$", nullptr},
      {"conout$.x", nullptr},
      {"d\\PRN", nullptr},
      {"COM\xB9", nullptr},
  };
  for (const Case& c : cases) {
    std::string path;
    const bool accepted = core::CheckEntryName(c.name, 10, path);
    EXPECT_EQ(accepted, c.path != nullptr) << c.name;
    if (accepted) {
      EXPECT_EQ(path, c.name.size() < 200 ? c.path : c.name);
    }
  }
}

TEST(ArchiveNames, ListsHoldWholeItemsCaseFolded) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"", "a", false},
      {"a.cfg;b.cfg", "a.cfg", true},
      {"a.cfg;b.cfg", "B.CFG", true},
      {"a.cfg;b.cfg", "cfg", false},
      {"xa.cfg", "a.cfg", false},
      {";x;", "X", true},
      {"Skip.Me", "skip.me", true},
      {"a.cfg", "a.cf", false},
  };
  for (const auto& [list, name, holds] : cases)
    EXPECT_EQ(core::ListHoldsName(list, name), holds) << list << " / " << name;
}

// Files a restore wrote, in memory.
class MemorySink final : public core::RestoreSink {
 public:
  std::size_t BaseLength() const override { return 10; }
  bool Wants(const std::string&) override { return true; }
  bool Begin(const std::string& path) override {
    ++begins;
    current = path;
    data.clear();
    return true;
  }
  bool Write(const std::uint8_t* bytes, std::size_t size) override {
    data.append(reinterpret_cast<const char*>(bytes), size);
    return true;
  }
  bool Commit() override {
    files[current] = data;
    return true;
  }
  void Abort() override { ++aborted; }

  std::map<std::string, std::string> files;
  std::string current, data;
  int begins = 0, aborted = 0;
};

TEST(ArchiveRestore, HeadersEntriesAndBadData) {
  using Files = std::map<std::string, std::string>;
  struct Case {
    const char* what;
    std::string image;
    std::uint64_t start;
    bool ok;
    Files files;
    int aborted;
  };
  const std::string cut = kHello.substr(0, kHello.size() - 4);
  const std::string badSum = kHello.substr(0, kHello.size() - 1) + "\x16";
  const Case cases[] = {
      {"compressed, empty stream and L = 0",
       kZip + V2("a.txt", kHello) + V2("d/e", kEmpty) + V2("z", ""),
       0,
       true,
       {{"a.txt", "hello"}, {"d\\e", ""}, {"z", ""}},
       0},
      {"header length 3: flag and low version bytes", Hex("494C445303000000010200") + V2("a", kHello), 0, true,
       Files{{"a", "hello"}}, 0},
      {"header length 0: old form, raw", Hex("494C445300000000") + Old("a", "xyz"), 0, true, Files{{"a", "xyz"}}, 0},
      {"header length 9", Hex("494C4453090000000002000000FFFFFFFF") + V2("r", "raw"), 0, true, Files{{"r", "raw"}}, 0},
      {"header length past the end", Hex("494C4453FFFFFFFF01"), 0, false, Files{}, 0},
      {"no magic at the offset: old form from there", "junk" + Old("o", "12"), 4, true, Files{{"o", "12"}}, 0},
      {"magic at the offset", "junkjunk" + kRaw + V2("o", "12"), 8, true, Files{{"o", "12"}}, 0},
      {"refused name passed over", kZip + V2("..\\x", kHello) + V2("b", kHello), 0, false, Files{{"b", "hello"}}, 0},
      {"bad Adler-32", kZip + V2("bad", badSum) + V2("b", kHello), 0, false, Files{{"b", "hello"}}, 1},
      {"stream not ending within L", kZip + V2("cut", cut) + V2("b", kHello), 0, false, Files{{"b", "hello"}}, 1},
      {"bytes after the stream ignored", kZip + V2("x", kHello + "tail"), 0, true, Files{{"x", "hello"}}, 0},
      {"L past the end", kRaw + V2("a", "abc") + "\x01" + "b" + U32(100) + "short", 0, false, Files{{"a", "abc"}}, 0},
      {"L = 0xFFFFFFFF", kZip + "\x01" + "b" + U32(0xFFFFFFFF) + kHello, 0, false, Files{}, 0},
      {"end inside an entry head", kRaw + V2("a", "abc") + "\x05" + "ab", 0, false, Files{{"a", "abc"}}, 0},
      {"an empty trimmed name ends the archive", kRaw + V2("a", "1") + V2("  ", "") + V2("b", "2"), 0, true,
       Files{{"a", "1"}}, 0},
      {"start past the end", kRaw, 14, false, Files{}, 0},
  };
  for (const Case& c : cases) {
    MemorySink sink;
    core::MemoryArchiveInput input(Bytes(c.image), c.image.size());
    EXPECT_EQ(core::RestoreEntries(input, c.start, sink), c.ok) << c.what;
    EXPECT_EQ(sink.files, c.files) << c.what;
    EXPECT_EQ(sink.aborted, c.aborted) << c.what;
    EXPECT_EQ(sink.begins, static_cast<int>(sink.files.size()) + sink.aborted) << c.what;
  }
}

// An archive file that refuses every byte past failAt, as a full disk does.
class FailingOutput final : public core::ArchiveOutput {
 public:
  explicit FailingOutput(std::size_t failAt) : failAt_(failAt) {}
  bool Append(const std::uint8_t* data, std::size_t size) override {
    const std::size_t room = failAt_ > bytes.size() ? failAt_ - bytes.size() : 0;
    bytes.append(reinterpret_cast<const char*>(data), std::min(room, size));
    return size <= room;
  }
  bool Patch(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
    bytes.replace(static_cast<std::size_t>(offset), size, reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool CutBack(std::uint64_t size) override {
    bytes.resize(static_cast<std::size_t>(size));
    return true;
  }
  std::uint64_t Size() const override { return bytes.size(); }
  std::string bytes;

 private:
  std::size_t failAt_;
};

// A source that shrank, grew or failed since it was opened, and entries too
// large to declare: the archive holds whole entries only.
TEST(ArchiveWriter, EntriesFromChangingSources) {
  const std::string source = "abcdefghij";
  struct Case {
    const char* what;
    std::string name;
    bool compressed;
    std::uint64_t declared;
    std::size_t available;  // bytes the source gives before it ends
    bool fails;             // then reports an error
    core::EntryWrite result;
    std::string entry;
  };
  const Case cases[] = {
      {"shrank: L patched", "f", false, 10, 6, false, core::EntryWrite::Written,
       "\x01"
       "f" +
           U32(6) + "abcdef"},
      {"grew: the declared bytes only", "f", false, 4, 10, false, core::EntryWrite::Written,
       "\x01"
       "f" +
           U32(4) + "abcd"},
      {"raw read error", "f", false, 10, 6, true, core::EntryWrite::LeftOut, ""},
      {"compressed read error", "f", true, 10, 6, true, core::EntryWrite::LeftOut, ""},
      {"name over 255 bytes", std::string(256, 'n'), false, 1, 1, false, core::EntryWrite::LeftOut, ""},
      {"2 GB", "f", false, 0x80000000u, 10, false, core::EntryWrite::LeftOut, ""},
      {"compressed, empty", "e", true, 0, 0, false, core::EntryWrite::Written,
       "\x01"
       "e" +
           U32(8) + kEmpty},
  };
  for (const Case& c : cases) {
    FailingOutput output(1 << 20);
    output.bytes = kRaw;
    std::size_t at = 0;
    const std::string data = source.substr(0, c.available);
    const core::ReadCallback read = [&](std::uint8_t* out, std::size_t size) -> std::int64_t {
      if (at == data.size() && c.fails) return -1;
      return ReaderOf(data, at, 65536)(out, size);
    };
    EXPECT_EQ(core::EntryWriter().Write(output, c.name, c.compressed, c.declared, read), c.result) << c.what;
    EXPECT_EQ(output.bytes, kRaw + c.entry) << c.what;
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
  for (int i = 0; i < 400; ++i)
    files[1].second += "line " + std::to_string(i * 7919 % 1000) + " of text\n";
  std::uint32_t seed = 12345;
  for (int i = 0; i < 9000; ++i)
    files[2].second += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  for (const auto& [name, data] : files) {
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    std::ofstream(folder / path, std::ios::binary) << data;
  }
  const std::string script = std::string(std::getenv("VM_SOURCE_DIR")) + "/tests/support/ilds.py";
  for (const bool compressed : {true, false}) {
    for (std::size_t failAt = 4096;; failAt += 4096) {
      FailingOutput output(failAt);
      const auto header = core::MakeArchiveHeader(compressed);
      ASSERT_TRUE(output.Append(header.data(), header.size()));
      core::EntryWriter writer;
      std::size_t written = 0;
      core::EntryWrite result = core::EntryWrite::Written;
      for (; written < files.size(); ++written) {
        std::size_t at = 0;
        const std::string& data = files[written].second;
        result = writer.Write(output, files[written].first, compressed, data.size(), ReaderOf(data, at, 65536));
        if (result != core::EntryWrite::Written) break;
      }
      const fs::path image = folder / "image.ilds";
      std::ofstream(image, std::ios::binary) << output.bytes;
      const std::string command = "/usr/bin/python3 " + script + " verify " + image.string() + " " + folder.string();
      FILE* pipe = ::popen(command.c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      char line[256] = {};
      const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
      EXPECT_EQ(::pclose(pipe), 0) << line << " at " << failAt;
      EXPECT_TRUE(read && std::atoi(line) == static_cast<int>(written)) << line << " at " << failAt;
      if (result == core::EntryWrite::Written) break;
      EXPECT_EQ(result, core::EntryWrite::OutputFailed);
    }
  }
  fs::remove_all(folder);
}
#endif

}  // namespace
