#include <windows.h>
// After windows.h.
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/archive/ArchiveFormat.h"
#include "core/archive/FolderArchive.h"

namespace {

namespace fs = std::filesystem;

class FolderArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    base_ = (fs::temp_directory_path() /
             ("ilds-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter)))
                .string() +
            "\\";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  std::string Path(const std::string& relative) const { return base_ + relative; }
  void Write(const std::string& relative, const std::string& data) {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    std::ofstream(Path(relative), std::ios::binary) << data;
  }
  std::string Read(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
  }
  // Entry names, sorted.
  std::vector<std::string> Names(const std::string& archive) const {
    const std::string image = Read(archive);
    core::MemoryArchiveInput input(reinterpret_cast<const std::uint8_t*>(image.data()), image.size());
    core::ArchiveHeader header;
    std::vector<std::string> names;
    core::ReadArchiveHeader(input, 0, header);
    for (core::EntryHead head; core::ReadEntryHead(input, header.version, head) == core::ArchiveRead::Ok;) {
      names.push_back(head.name);
      input.Seek(head.dataOffset + head.length);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static HANDLE Hold(const std::string& path, DWORD access, DWORD share) {
    return ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  std::string base_;
};

// A file held without read sharing is left out and the answer is false; an
// archive held by another writer is neither appended to nor restored.
TEST_F(FolderArchive, FilesAndArchivesHeldByOthers) {
  Write("src\\a.txt", "a");
  Write("src\\b.txt", "b");
  Write("src\\c.txt", "c");
  HANDLE held = Hold(Path("src\\b.txt"), GENERIC_READ, 0);
  EXPECT_FALSE(core::PackFolder(Path("x.ilds"), Path("src")));
  ::CloseHandle(held);
  EXPECT_EQ(Names("x.ilds"), (std::vector<std::string>{"a.txt", "c.txt"}));

  const std::string before = Read("x.ilds");
  held = Hold(Path("x.ilds"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
  EXPECT_FALSE(core::PackFolder(Path("x.ilds"), Path("src"), {.append = true}));
  EXPECT_FALSE(core::UnpackFolder(Path("x.ilds"), Path("out"), true, "", 0));
  ::CloseHandle(held);
  EXPECT_EQ(Read("x.ilds"), before);
}

TEST_F(FolderArchive, ConfigurationBackupAndRestore) {
  Write("root\\config\\settings.cfg", std::string(20864, '\x11'));
  Write("root\\config\\sub\\x.dat", "x");
  // Without "webmail\config\": the configuration folder alone.
  ASSERT_TRUE(core::BackupConfigFolder(Path("b1.ilds"), Path("root\\config"), Path("root")));
  EXPECT_EQ(Read("b1.ilds").substr(0, 13), std::string("ILDS\x05\0\0\0\x01\x02\0\0\0", 13));
  EXPECT_EQ(Names("b1.ilds"), (std::vector<std::string>{"settings.cfg", "sub\\x.dat"}));

  Write("root\\webmail\\config\\w.ini", "w");
  ASSERT_TRUE(core::BackupConfigFolder(Path("b2.ilds"), Path("root\\config"), Path("root\\")));
  EXPECT_EQ(Names("b2.ilds").front(), "..webmail\\config\\w.ini");
  std::vector<std::string> written;
  ASSERT_TRUE(core::RestoreConfigFolder(Path("b2.ilds"), Path("restored"), &written));
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, Names("b2.ilds"));
  EXPECT_EQ(Read("restored\\settings.cfg"), std::string(20864, '\x11'));
  EXPECT_EQ(Read("restored\\sub\\x.dat"), "x");
  EXPECT_EQ(Read("restored\\..webmail\\config\\w.ini"), "w");

  // A backup lacking a file is no success, but it holds everything else,
  // the web-mail part included.
  HANDLE held = Hold(Path("root\\config\\settings.cfg"), GENERIC_READ, 0);
  EXPECT_FALSE(core::BackupConfigFolder(Path("b3.ilds"), Path("root\\config"), Path("root")));
  ::CloseHandle(held);
  EXPECT_EQ(Names("b3.ilds"), (std::vector<std::string>{"..webmail\\config\\w.ini", "sub\\x.dat"}));
  // Without overwrite, a file kept is no file written.
  written.clear();
  EXPECT_TRUE(core::UnpackFolder(Path("b3.ilds"), Path("restored"), false, ";sub\\x.dat;", 0, &written));
  EXPECT_EQ(written, (std::vector<std::string>{"..webmail\\config\\w.ini"}));
  EXPECT_FALSE(core::RestoreConfigFolder(Path("missing.ilds"), Path("restored"), &written));
}

// Packing and restoring a 300 MB file of text, random bytes and zeros
// streams it: the peak working set grows by less than 64 MB.
TEST_F(FolderArchive, LargeFileStreamsBothWays) {
  {
    fs::create_directories(Path("big"));
    std::ofstream out(Path("big\\mixed.bin"), std::ios::binary);
    std::string chunk(1 << 20, '\0');
    std::uint32_t seed = 1;
    for (int mb = 0; mb < 300; ++mb) {
      for (std::size_t i = 0; i < chunk.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        chunk[i] = mb % 3 == 0 ? static_cast<char>(seed >> 24) : mb % 3 == 1 ? "text and more\n"[i % 14] : '\0';
      }
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
  }
  PROCESS_MEMORY_COUNTERS before{}, after{};
  ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &before, sizeof before));
  ASSERT_TRUE(core::PackFolder(Path("big.ilds"), Path("big")));
  ASSERT_TRUE(core::UnpackFolder(Path("big.ilds"), Path("out"), true, "", 0));
  ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &after, sizeof after));
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, std::size_t{64} << 20);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExA(Path("out\\mixed.bin").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 300u << 20);
}

}  // namespace
