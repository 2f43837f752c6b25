// Attachment extraction on disk under Wine: hostile shapes within time and
// memory bounds, hostile names that must stay one disk file inside the
// folder, the edge cases of the extraction and of the attachment names, two
// threads filling one collection, and the scanner settings of "scan.cfg".
#include "core/attachments/Attachments.h"

#include <windows.h>
// (after windows.h)
#include <psapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/attachments/ScanConfig.h"
#include "core/config/ConfigStore.h"
#include "core/platform/Files.h"
#include "core/util/Text.h"
#include "tests/support/installation.h"

namespace core {
namespace {

using namespace records;
using testinst::ReadAll;
using testinst::WriteAll;

// Every name in a folder, with its subfolders' when deep, relative to it.
std::set<std::string> Snapshot(const std::string& folder, bool deep = true, const std::string& prefix = {}) {
  std::set<std::string> names;
  WIN32_FIND_DATAA entry{};
  HANDLE find = ::FindFirstFileA((folder + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    names.insert(prefix + name);
    if (deep && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      for (const std::string& inner : Snapshot(folder + name + "\\", true, prefix + name + "\\"))
        names.insert(inner);
  } while (::FindNextFileA(find, &entry));
  ::FindClose(find);
  return names;
}

bool IsDiskFile(const std::string& path) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool disk = ::GetFileType(file) == FILE_TYPE_DISK;
  ::CloseHandle(file);
  return disk;
}

std::size_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize;
}

struct Collection {
  AttachmentCollection list;
  ~Collection() {
    if (list) FreeAttachmentObjects(*list, false);
  }
  int Count() const { return list ? list->Count() : 0; }
  const AttachmentObject& operator[](int i) const { return *list->GetObjectAt(i); }
};

class AttachmentsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testinst::StartLibraryProcess(); }
  void SetUp() override {
    ASSERT_TRUE(
        install.Install(SettingsFile().Text(settings::TempFolder, root + "temp\\").U8(settings::ScannerFlag, 9), {}));
  }
  testinst::Installation install{"attach"};
  const std::string root = install.root;
};

// First in the file: the peak working set is measured from its start.
TEST_F(AttachmentsTest, DepthBombAndFiftyMegabyteLineEndSoonInBoundedMemory) {
  const std::string folder = root + "bounded\\";
  std::string bomb =
      "Content-Type: multipart/mixed; boundary=\"b0z\"\r\n\r\n--b0z\r\n"
      "Content-Type: text/plain; name=\"first.txt\"\r\n\r\nfirst\r\n";
  for (int i = 0; i < 10000; ++i)
    bomb += "--b" + std::to_string(i) + "z\r\nContent-Type: multipart/mixed; boundary=\"b" + std::to_string(i + 1) +
            "z\"\r\n\r\n";
  bomb += "--b10000z\r\nContent-Type: text/plain; name=\"deep.txt\"\r\n\r\ndeep\r\n";
  WriteAll(root + "bomb.eml", bomb);
  bomb.clear();
  bomb.shrink_to_fit();
  {
    std::ofstream line(root + "line.eml", std::ios::binary);
    line << "Content-Type: application/octet-stream; name=\"big.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    const std::string block(1 << 20, 'Q');  // "QQQQ" decodes to 0x41 0x04 0x10
    for (int i = 0; i < 50; ++i)
      line << block;
    line << "\r\n";
  }

  const std::size_t start = PeakWorkingSet();
  for (const char* name : {"bomb.eml", "line.eml"}) {
    Collection found;
    const auto began = std::chrono::steady_clock::now();
    ExtractAttachments(root + name, -1, folder, found.list, false, false);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_LT(seconds, 30.0) << name;
    ASSERT_EQ(found.Count(), 1) << name;
    EXPECT_EQ(found[0].size, name[0] == 'b' ? 7 : 50 * 786432) << found[0].filePath;
  }
  const std::size_t peak = PeakWorkingSet();
  ASSERT_GT(start, 0u);
  EXPECT_LT(peak - start, std::size_t{64} << 20) << "peak working set grew by " << (peak - start) / 1024 << " KB";
}

TEST_F(AttachmentsTest, HostileNamesStayOneDiskFileInsideTheFolder) {
  const std::string work = root + "work\\";
  const std::string folder = work + "a\\b\\c\\";
  ForceDirectory(folder);
  const std::vector<std::string> names = {"..\\..\\x.exe",
                                          "C:\\x",
                                          "\\\\srv\\s\\x",
                                          "x:stream",
                                          "CON",
                                          "nul.tar.gz",
                                          "COM1.txt",
                                          "aux .txt",
                                          "a.exe.",
                                          "ctl\x01\x1f\x7f.txt",
                                          std::string(300, 'n') + ".pdf",
                                          ""};
  std::string mime = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
  std::string uu = "Subject: uu\r\n\r\n";
  for (std::size_t i = 0; i < names.size(); ++i) {
    mime += "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" + names[i] +
            "\"\r\n\r\npart " + std::to_string(i) + "\r\n";
    uu += "begin 644 " + names[i] + "\r\n#86)C\r\n`\r\nend\r\n";
  }
  WriteAll(work + "names.eml", mime + "--b--\r\n");
  WriteAll(work + "begin.eml", uu);

  const std::set<std::string> driveBefore = Snapshot("C:\\", false);
  const std::set<std::string> workBefore = Snapshot(work);
  Collection found;
  ExtractAttachments(work + "names.eml", -1, folder, found.list, false, false);
  ExtractAttachments(work + "begin.eml", -1, folder, found.list, false, false);
  // The empty name is an unnamed part; the blank ends "aux .txt" as a "begin" name.
  ASSERT_EQ(found.Count(), 2 * static_cast<int>(names.size()) - 2);
  std::set<std::string> paths;
  for (int i = 0; i < found.Count(); ++i) {
    const AttachmentObject& object = found[i];
    const bool begin = i >= static_cast<int>(names.size()) - 1;
    const std::size_t declared = static_cast<std::size_t>(begin ? i - names.size() + 1 : i);
    ASSERT_EQ(object.filePath.compare(0, folder.size(), folder), 0) << object.filePath;
    EXPECT_EQ(object.filePath.find_first_of("\\/:", folder.size()), std::string::npos) << object.filePath;
    EXPECT_TRUE(IsDiskFile(object.filePath)) << object.filePath;
    EXPECT_EQ(ReadAll(object.filePath), begin ? "abc" : "part " + std::to_string(declared) + "\r\n") << object.filePath;
    EXPECT_EQ(object.name, begin ? "" : names[declared].substr(0, 255));
    EXPECT_EQ(object.nameGenerated, begin ? 1 : 0);
    EXPECT_EQ(object.size, begin ? 3 : static_cast<int>(ReadAll(object.filePath).size()));
    paths.insert(object.filePath);
  }
  EXPECT_EQ(paths.size(), static_cast<std::size_t>(found.Count()));
  EXPECT_EQ(Snapshot("C:\\", false), driveBefore);
  std::set<std::string> added;
  for (const std::string& name : Snapshot(work))
    if (workBefore.count(name) == 0) added.insert(name);
  for (const std::string& name : added)
    EXPECT_EQ(name.rfind("a\\b\\c\\", 0), 0u) << name;
}

TEST_F(AttachmentsTest, EdgeCasesOfTheExtractionAndTheNames) {
  const std::string folder = root + "out\\";
  const std::string uuBlock = "begin 644 inline.bin\r\n#86)C\r\n`\r\nend\r\n";
  WriteAll(root + "m.tmp",
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
           "Content-Type: application/pdf; name=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
           "JVBERg==\r\n--b\r\nContent-Type: text/html\r\n\r\n<p>hi</p>\r\n--b\r\n"
           "Content-Type: text/plain\r\n\r\n" +
               uuBlock + "--b--\r\n.\r\n");
  // Tagged: the uuencoded file (and the copy of the whole message) go to "scan\".
  {
    Collection found;
    ExtractAttachments(root + "m.tmp", 7, folder, found.list, true, true);
    ASSERT_EQ(found.Count(), 5);
    EXPECT_EQ(found[0].filePath, folder + "a.pdf");
    EXPECT_EQ(ReadAll(found[0].filePath), "%PDF");
    // The HTML part without its generated name, and the text part: ExtractAll's ".tmp" names.
    EXPECT_EQ(found[1].name.substr(found[1].name.size() - 4) + ReadAll(found[1].filePath), ".tmp<p>hi</p>\r\n");
    EXPECT_EQ(found[2].name.substr(found[2].name.size() - 4) + ReadAll(found[2].filePath), ".tmp" + uuBlock);
    EXPECT_EQ(found[3].filePath, folder + "scan\\inline.bin");
    EXPECT_EQ(found[3].name + ReadAll(found[3].filePath), "abc");
    EXPECT_EQ(found[4].filePath, folder + "scan\\m.tmp");
    EXPECT_EQ(found[4].name, "m.tmp");
    for (int i = 0; i < found.Count(); ++i) {
      EXPECT_EQ(found[i].tag, 7);
      EXPECT_EQ(found[i].messagePath, root + "m.tmp");
      EXPECT_EQ(found[i].nameGenerated, i == 0 ? 0 : 1);
      EXPECT_EQ(found[i].size, static_cast<int>(ReadAll(found[i].filePath).size()));
    }
  }
  // The copy never replaces the message itself nor a file of the same call.
  {
    const std::string self = folder + "self\\";
    ForceDirectory(self);
    const std::string message = "Content-Type: text/plain; name=\"x.eml\"\r\n\r\nbody\r\n";
    WriteAll(self + "x.eml", message);
    Collection found;
    ExtractAttachments(self + "x.eml", -1, self, found.list, true, false);
    ASSERT_EQ(found.Count(), 2);
    EXPECT_NE(found[0].filePath, self + "x.eml");  // an attachment named like the message
    EXPECT_EQ(ReadAll(self + "x.eml"), message);
    EXPECT_EQ(ReadAll(found[0].filePath), "body\r\n");
    EXPECT_EQ(ReadAll(found[1].filePath), message);
    EXPECT_NE(found[1].filePath, found[0].filePath);
    EXPECT_NE(found[1].filePath, self + "x.eml");
    EXPECT_EQ(found[1].name, "x.eml");
  }
  // Nothing to open: nothing made, the collection stays none.
  AttachmentCollection none;
  ExtractAttachments(root + "missing.eml", -1, folder + "none\\", none, true, false);
  EXPECT_FALSE(none);
  EXPECT_FALSE(DirectoryExists(folder + "none\\"));

  // The names: declared or generated, none for uuencoded files; every file
  // and the folder go again.
  const std::string names = GetAttachmentNames(root + "m.tmp");
  EXPECT_EQ(names.substr(0, 7), "a.pdf, ") << names;
  EXPECT_EQ(names.substr(names.size() - 5), ".html") << names;
  EXPECT_EQ(names.find(", ", 7), std::string::npos) << names;
  EXPECT_EQ(Snapshot(root + "temp\\"), std::set<std::string>());
  WriteAll(root + "plain.eml", "Subject: hi\r\n\r\njust text\r\n");
  EXPECT_EQ(GetAttachmentNames(root + "plain.eml"), "");
  EXPECT_EQ(Snapshot(root + "temp\\"), std::set<std::string>());
  EXPECT_EQ(GetAttachmentNames(root + "missing.eml"), "");
}

TEST_F(AttachmentsTest, TwoThreadsFillOneCollection) {
  const std::string folder = root + "shared\\";
  WriteAll(root + "one.eml", "Content-Type: text/plain; name=\"same.txt\"\r\n\r\ncontent\r\n");
  Collection found;
  const auto run = [&] {
    for (int i = 0; i < 250; ++i)
      ExtractAttachments(root + "one.eml", -1, folder, found.list, false, false);
  };
  std::thread first(run), second(run);
  first.join();
  second.join();
  ASSERT_EQ(found.Count(), 500);
  std::set<const AttachmentObject*> objects;
  std::set<std::string> paths;
  for (int i = 0; i < found.Count(); ++i) {
    objects.insert(&found[i]);
    paths.insert(LowerCase(found[i].filePath));
    EXPECT_EQ(found[i].size, 9) << found[i].filePath;
    EXPECT_EQ(found[i].name, "same.txt");
  }
  EXPECT_EQ(objects.size(), 500u);
  EXPECT_EQ(paths.size(), 500u);
  EXPECT_EQ(Snapshot(folder).size(), 500u);
}

TEST_F(AttachmentsTest, ScanConfigSetsTheScannerSettingsOnce) {
  const auto record = [](std::size_t size, char mode, char flag) {
    std::string bytes(size, '\x55');
    if (size > 509) bytes[509] = mode;
    if (size > 508) bytes[508] = flag;
    return bytes;
  };
  struct Row {
    const char* what;
    int mode;      // setting id 14 before the load
    int contents;  // 0: no file, 1: the bytes below, 2: a folder of that name
    std::string bytes;
    int wantMode, wantFlag;
  } rows[] = {
      {"byte 509 zero, 508 one", 0, 1, record(512, 0, 1), 1, 1},
      {"byte 509 set", 0, 1, record(512, 3, 7), 2, 7},
      {"a longer file: its first record", 0, 1, record(600, 1, 0), 2, 0},
      {"511 bytes: the flag stays", 0, 1, record(511, 3, 7), 1, 9},
      {"no file", 0, 0, {}, 1, 9},
      {"a folder of that name", 0, 2, {}, 1, 9},
      {"mode already set: the file is not read", 2, 1, record(512, 0, 1), 2, 9},
  };
  for (const Row& row : rows) {
    testinst::Installation other("scan");
    if (row.contents == 1) WriteAll(other.config + "scan.cfg", row.bytes);
    if (row.contents == 2) ::CreateDirectoryA((other.config + "scan.cfg").c_str(), nullptr);
    ASSERT_TRUE(other.Install(SettingsFile().U8(settings::ScannerMode, row.mode).U8(settings::ScannerFlag, 9), {}));
    EXPECT_EQ(Settings()[settings::ScannerMode], row.wantMode) << row.what;
    EXPECT_EQ(Settings()[settings::ScannerFlag], row.wantFlag) << row.what;
  }
  // Saved, the mode keeps a later file from being read.
  testinst::Installation saved("scan");
  WriteAll(saved.config + "scan.cfg", record(512, 3, 7));
  ASSERT_TRUE(saved.Install(SettingsFile(), {}));
  ASSERT_TRUE(SaveServerConfig());
  WriteAll(saved.config + "scan.cfg", record(512, 0, 1));
  ASSERT_TRUE(saved.Load());
  EXPECT_EQ(Settings()[settings::ScannerMode] * 10 + Settings()[settings::ScannerFlag], 27);
  // The sending library's own record and folder.
  SettingsRecord own{};
  LoadScanConfig(own, saved.config);
  EXPECT_EQ(own[settings::ScannerMode] * 10 + own[settings::ScannerFlag], 11);
}

}  // namespace
}  // namespace core
