#include "core/platform/Files.h"
#include "core/platform/System.h"
#include "core/util/NetText.h"
#include "core/util/Numbers.h"
#include "core/util/Text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace {

using core::DeleteDirectory;
using core::DirectoryExists;
using core::FileExists;

// A fresh folder under %TEMP% per test, removed afterwards.
class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    char temp[MAX_PATH + 1] = {};
    ASSERT_GT(::GetTempPathA(sizeof temp, temp), 0u);
    base_ = std::string(temp) + "vmplat-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(::GetTickCount()) + "-" + std::to_string(counter.fetch_add(1));
    ASSERT_TRUE(::CreateDirectoryA(base_.c_str(), nullptr));
  }
  void TearDown() override { DeleteDirectory(base_, "", true); }
  std::string Path(const std::string& relative) const { return base_ + "\\" + relative; }
  static void WriteText(const std::string& fileName, const std::string& text) {
    ASSERT_TRUE(core::WriteFileAtomic(fileName, text.data(), text.size())) << fileName;
  }
  // Entries in the folder, to spot left-over temporary files.
  int EntryCount() const {
    WIN32_FIND_DATAA entry{};
    HANDLE search = ::FindFirstFileA((base_ + "\\*").c_str(), &entry);
    int count = 0;
    if (search == INVALID_HANDLE_VALUE) return count;
    do
      ++count;
    while (::FindNextFileA(search, &entry));
    ::FindClose(search);
    return count - 2;  // "." and ".."
  }
  std::string base_;
};

using FolderTest = TempFolder;
using FileTest = TempFolder;
using ProcessTest = TempFolder;

TEST_F(FolderTest, ForceDirectoryCreatesMissingLevels) {
  EXPECT_TRUE(core::ForceDirectory(Path("one\\two\\three")));
  EXPECT_TRUE(DirectoryExists(Path("one\\two\\three")));
  EXPECT_TRUE(core::ForceDirectory(Path("one\\two\\three\\")));
  core::CreateDirectoryChain(Path("a\\b\\c\\"));
  EXPECT_TRUE(DirectoryExists(Path("a\\b\\c")));
  // A file in the way: the folder cannot exist afterwards.
  WriteText(Path("file"), "x");
  EXPECT_FALSE(core::ForceDirectory(Path("file\\sub")));
  EXPECT_FALSE(core::ForceDirectory(""));
}

TEST_F(FolderTest, DeleteDirectoryRemovesTreeAndHonoursMask) {
  ASSERT_TRUE(core::ForceDirectory(Path("tree\\sub\\deeper")));
  for (const char* name : {"tree\\a.txt", "tree\\noext", "tree\\sub\\c.txt", "tree\\sub\\deeper\\d.dat"})
    WriteText(Path(name), name);
  // Without recurse the sub-folder stays, so the folder does too.
  EXPECT_FALSE(DeleteDirectory(Path("tree"), "", false));
  EXPECT_FALSE(FileExists(Path("tree\\noext")));
  EXPECT_TRUE(FileExists(Path("tree\\sub\\c.txt")));
  // "*.txt" does not match the folder "sub": it and its parent stay.
  WriteText(Path("tree\\e.txt"), "e");
  EXPECT_FALSE(DeleteDirectory(Path("tree"), "*.txt", true));
  EXPECT_FALSE(FileExists(Path("tree\\e.txt")));
  EXPECT_TRUE(FileExists(Path("tree\\sub\\deeper\\d.dat")));

  EXPECT_TRUE(DeleteDirectory(Path("tree\\"), "*.*", true));
  EXPECT_FALSE(DirectoryExists(Path("tree")));
  EXPECT_FALSE(DeleteDirectory(Path("tree"), "", true));
}

TEST_F(FolderTest, DeleteDirectoryRefusesRootsAndDotParts) {
  for (const char* refused :
       {"C:\\", "C:", "c:/", "C:\\\\", "\\", "/", "\\\\server\\share\\", "\\\\server\\share", "\\\\?\\C:\\data",
        "\\\\.\\C:\\data", "C:\\data\\..", "C:\\data\\.\\x", "..\\data", ".", "C:\\a\\... \\b", ""})
    EXPECT_FALSE(core::IsDeletableFolder(refused)) << refused;
  for (const char* allowed : {"C:\\data", "c:/data/sub", "\\\\server\\share\\data", "data", "C:\\a\\.hidden"})
    EXPECT_TRUE(core::IsDeletableFolder(allowed)) << allowed;

  ASSERT_TRUE(core::ForceDirectory(Path("keep\\inner")));
  WriteText(Path("keep\\inner\\f.txt"), "f");
  for (const std::string& refused : {std::string("\\\\?\\") + Path("keep"), Path("keep\\inner\\.."),
                                     Path("keep\\.\\inner"), Path("keep\\inner\\... ")})
    EXPECT_FALSE(DeleteDirectory(refused, "*.*", true)) << refused;
  EXPECT_FALSE(DeleteDirectory(Path("keep"), "inner\\*.*", true));  // the mask stays in the folder
  EXPECT_TRUE(FileExists(Path("keep\\inner\\f.txt")));
}

TEST_F(FolderTest, DeleteDirectoryRemovesLinksButNotTheirTargets) {
  ASSERT_TRUE(core::ForceDirectory(Path("target")) && core::ForceDirectory(Path("tree")));
  WriteText(Path("target\\precious.txt"), "p");
  const std::string inner = Path("tree\\link");
  // 3: a folder link, without the privilege where the system allows that.
  const bool made = ::CreateSymbolicLinkA(inner.c_str(), Path("target").c_str(), 3) &&
                    ::CreateSymbolicLinkA(Path("direct").c_str(), Path("target").c_str(), 3) &&
                    (::GetFileAttributesA(inner.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!made || !FileExists(inner + "\\precious.txt")) GTEST_SKIP() << "no folder links on this system";

  EXPECT_TRUE(DeleteDirectory(Path("direct"), "*.*", true));  // the link itself only
  EXPECT_TRUE(DeleteDirectory(Path("tree"), "*.*", true));
  EXPECT_TRUE(FileExists(Path("target\\precious.txt")));
}

TEST_F(FileTest, ReadSizeAndStampTakeTheNameLiterally) {
  const std::string content("0123\r\n\0bin\xff", 11);
  WriteText(Path("a.txt"), content);
  EXPECT_EQ(core::GetFileSizeByName(Path("a.txt")), 11);
  EXPECT_NE(core::GetFileStamp(Path("a.txt")), 0u);
  // Wildcards name no file: a directory search would report a.txt here.
  for (const char* pattern : {"*.txt", "?.txt", "missing.txt"})
    EXPECT_TRUE(core::GetFileSizeByName(Path(pattern)) == 0 && core::GetFileStamp(Path(pattern)) == 0) << pattern;
  std::string out = "old";
  EXPECT_FALSE(core::ReadFileToString(Path("missing.txt"), false, out));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(core::ReadFileToString(Path("a.txt"), true, out));  // read, then delete
  EXPECT_EQ(out, content);
  EXPECT_FALSE(FileExists(Path("a.txt")));
}

TEST_F(FileTest, SetFileDateChangesOnlyTheLastWriteTime) {
  const std::string name = Path("dated.txt");
  WriteText(name, "x");
  WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
  ASSERT_TRUE(::GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &before));
  // 2009-06-15 13:45:30 local (DOS time counts seconds in steps of two).
  const std::uint32_t stamp = (((2009u - 1980) << 9 | 6 << 5 | 15) << 16) | (13 << 11 | 45 << 5 | 30 / 2);
  ASSERT_TRUE(core::SetFileDate(name, stamp));
  EXPECT_EQ(core::GetFileStamp(name), stamp);
  ASSERT_TRUE(::GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &after));
  EXPECT_EQ(::CompareFileTime(&before.ftLastAccessTime, &after.ftLastAccessTime), 0);
  // Wine on Linux derives the creation time from the last-write time.
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  const bool wine = ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  EXPECT_TRUE(wine || ::CompareFileTime(&before.ftCreationTime, &after.ftCreationTime) == 0);
  EXPECT_FALSE(core::SetFileDate(name, 0));  // month 0 is no date
  EXPECT_FALSE(core::SetFileDate(Path("missing.txt"), stamp));
  EXPECT_FALSE(FileExists(Path("missing.txt")));
}

TEST_F(FileTest, WriteFileAtomicReplacesOrLeavesTheOldFile) {
  const std::string name = Path("settings.cfg");
  const std::string first = "first version";
  const std::string second(100000, 'z');
  std::string read;
  ASSERT_TRUE(core::WriteFileAtomic(name, first.data(), first.size()));
  ASSERT_TRUE(core::WriteFileAtomic(name, second.data(), second.size()));
  EXPECT_TRUE(core::ReadFileToString(name, false, read) && read == second);
  EXPECT_EQ(EntryCount(), 1);

  EXPECT_FALSE(core::WriteFileAtomic(Path("nofolder\\x.cfg"), first.data(), first.size()));
  {
    // Held open without sharing at all: the write fails and nothing changes.
    core::UniqueHandle holder(::CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());
    EXPECT_FALSE(core::WriteFileAtomic(name, first.data(), first.size()));
  }
  EXPECT_TRUE(core::ReadFileToString(name, false, read) && read == second);
  {
    // Held by a reader that shares writing but not deletion, as a running
    // service may: the replace is refused, so the file is rewritten in place.
    core::UniqueHandle holder(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());
    const std::string longer = second + " and more";
    EXPECT_TRUE(core::WriteFileAtomic(name, longer.data(), longer.size()));
    EXPECT_TRUE(core::WriteFileAtomic(name, first.data(), first.size()));
  }
  EXPECT_TRUE(core::ReadFileToString(name, false, read) && read == first);
  ASSERT_TRUE(core::WriteFileAtomic(name, second.data(), second.size()));
  ASSERT_TRUE(core::ForceDirectory(Path("folder.cfg")));
  EXPECT_FALSE(core::WriteFileAtomic(Path("folder.cfg"), first.data(), first.size()));
  EXPECT_EQ(EntryCount(), 2);  // folder.cfg and settings.cfg
}

std::string Child(const std::string& arguments) {
  return "\"" + core::HostProgramFolder() + "platform_child.exe\" " + arguments;
}

TEST_F(ProcessTest, CapturesLongOutputAndExitCode) {
  std::uint32_t exitCode = 99;
  std::string output = "old";
  ASSERT_TRUE(core::ExecuteAndCapture(Child("print 5000 7"), exitCode, SW_HIDE, output));
  EXPECT_EQ(exitCode, 7u);
  std::string expected;
  for (int i = 0; i < 5000; ++i)
    expected += static_cast<char>('a' + i % 26);
  EXPECT_EQ(output, expected + "err");

  EXPECT_FALSE(core::ExecuteAndCapture(Path("missing\\nothing.exe"), exitCode, SW_HIDE, output));
  EXPECT_EQ(output, "");
  EXPECT_EQ(exitCode, 0u);
}

TEST_F(ProcessTest, OnlyThePipeIsInherited) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  core::UniqueHandle event(::CreateEventA(&inherit, TRUE, TRUE, nullptr));
  std::string command = Child(
      "handle " + core::IntToHexText(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(event.get())), true));
  // Control: a plain start with inheritance hands the event over.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &info));
  core::UniqueHandle process(info.hProcess), thread(info.hThread);
  ::WaitForSingleObject(process.get(), 10000);
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  ASSERT_EQ(code, 10u);

  std::uint32_t exitCode = 0;
  std::string output;
  ASSERT_TRUE(core::ExecuteAndCapture(command, exitCode, SW_HIDE, output));
  EXPECT_EQ(exitCode, 11u);
}

// The last logon as "user;domain;password;type", "(null)" for a missing domain.
std::string g_logon;
int g_logonCalls = 0;
bool g_acceptLogon = false;

// Grants the logon, when g_acceptLogon is set, with a copy of this process's own token.
BOOL WINAPI FakeLogon(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD, PHANDLE token) {
  ++g_logonCalls;
  g_logon = std::string(user) + ";" + (domain ? domain : "(null)") + ";" + password + ";" + std::to_string(type);
  *token = nullptr;
  HANDLE own = nullptr;
  if (!g_acceptLogon || !::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) return FALSE;
  core::UniqueHandle ownToken(own);
  return ::DuplicateTokenEx(own, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, token);
}

TEST_F(ProcessTest, LogonSeamDecidesWhetherTheCommandRuns) {
  std::uint32_t exitCode = 99;
  std::string output = "old";
  const std::string marker = Path("ran.txt");
  core::SetLogonFunction(FakeLogon);
  g_acceptLogon = false;
  EXPECT_FALSE(
      core::ExecuteAndCapture(Child("touch \"" + marker + "\"| someone ; ; secret "), exitCode, SW_HIDE, output));
  EXPECT_EQ(output, "");
  EXPECT_EQ(g_logonCalls, 1);
  EXPECT_EQ(g_logon, "someone;(null);secret;4");  // 4: batch logon
  ::Sleep(200);
  EXPECT_FALSE(FileExists(marker));

  g_acceptLogon = true;
  EXPECT_TRUE(core::ExecuteAndCapture(Child("print 10 3|user;DOMAIN;pass"), exitCode, SW_HIDE, output));
  core::SetLogonFunction(nullptr);
  EXPECT_EQ(g_logon, "user;DOMAIN;pass;4");
  EXPECT_EQ(exitCode, 3u);
  EXPECT_EQ(output, "abcdefghijerr");
}

TEST(System, PlatformAffinityAndFolders) {
  EXPECT_TRUE(core::IsWindowsNT());
  core::SetWindowsNTOverride(0);
  EXPECT_FALSE(core::IsWindowsNT());
  core::SetWindowsNTOverride(-1);
  EXPECT_TRUE(core::IsWindowsNT());

  DWORD_PTR original = 0, processMask = 0, systemMask = 0;
  ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &original, &systemMask));
  core::SetProcessAffinity(false);
  ::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask);
  EXPECT_EQ(processMask, 1u);
  core::SetProcessAffinity(true);
  ::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask);
  EXPECT_EQ(processMask, systemMask);
  ::SetProcessAffinityMask(::GetCurrentProcess(), original);

  const std::string folder = core::HostProgramFolder();
  EXPECT_TRUE(!folder.empty() && folder.back() == '\\') << folder;
  EXPECT_TRUE(FileExists(folder + "platform_test.exe"));
}

TEST(System, LocalAddressesAreDottedAndNeverZero) {
  core::InitPlatformUnit();
  const std::string list = core::GetLocalIPAddresses();
  EXPECT_TRUE(list.empty() || list.back() == ';');
  std::uint32_t value = 0;
  for (int i = 0; !core::GetDelimitedItem(list, i, ';').empty(); ++i)
    EXPECT_TRUE(core::ParseIPv4Strict(core::GetDelimitedItem(list, i, ';'), value) && value != 0) << list;
  core::DonePlatformUnit();
  EXPECT_EQ(core::GetLocalIPAddresses(), "");
}

}  // namespace
