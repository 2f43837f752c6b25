#include "core/platform/FileUnit.h"
#include "core/platform/SystemUnit.h"
#include "core/util/NetText.h"
#include "core/util/StringUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using core::DeleteDirectory;
using core::DirectoryExists;
using core::FileExists;

// A fresh folder under %TEMP% per test, removed afterwards.
class TempFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<int> counter{0};
        char temp[MAX_PATH + 1] = {};
        ASSERT_GT(::GetTempPathA(sizeof temp, temp), 0u);
        char name[64];
        std::snprintf(name, sizeof name, "vmplat-%lu-%lu-%d", ::GetCurrentProcessId(), ::GetTickCount(),
                      counter.fetch_add(1));
        base_ = std::string(temp) + name;
        ASSERT_TRUE(::CreateDirectoryA(base_.c_str(), nullptr));
    }
    void TearDown() override { DeleteDirectory(base_, "", true); }

    std::string Path(const std::string& relative) const { return base_ + "\\" + relative; }

    static void WriteText(const std::string& fileName, const std::string& text)
    {
        ASSERT_TRUE(core::WriteFileAtomic(fileName, text.data(), text.size())) << fileName;
    }

    static std::string ReadText(const std::string& fileName)
    {
        std::string text;
        core::ReadFileToString(fileName, false, text);
        return text;
    }

    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA entry{};
        HANDLE search = ::FindFirstFileA((base_ + "\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (::FindNextFileA(search, &entry));
        ::FindClose(search);
        return names;
    }

    std::string base_;
};

using FolderTest = TempFolder;
using FileTest = TempFolder;
using ProcessTest = TempFolder;

TEST_F(FolderTest, ForceDirectoryCreatesMissingLevels)
{
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

TEST_F(FolderTest, DeleteDirectoryRemovesTreeAndHonoursMask)
{
    ASSERT_TRUE(core::ForceDirectory(Path("tree\\sub\\deeper")));
    for (const char* name : {"tree\\a.txt", "tree\\noext", "tree\\sub\\c.txt", "tree\\sub\\deeper\\d.dat"}) {
        WriteText(Path(name), name);
    }
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

TEST_F(FolderTest, DeleteDirectoryRefusesRootsAndDotParts)
{
    for (const char* refused : {"C:\\", "C:", "c:/", "C:\\\\", "\\", "/", "\\\\server\\share\\", "\\\\server\\share",
                                "\\\\?\\C:\\data", "\\\\.\\C:\\data", "C:\\data\\..", "C:\\data\\.\\x", "..\\data",
                                ".", "C:\\a\\... \\b", ""}) {
        EXPECT_FALSE(core::IsDeletableFolder(refused)) << refused;
    }
    for (const char* allowed : {"C:\\data", "c:/data/sub", "\\\\server\\share\\data", "data", "C:\\a\\.hidden"}) {
        EXPECT_TRUE(core::IsDeletableFolder(allowed)) << allowed;
    }
    ASSERT_TRUE(core::ForceDirectory(Path("keep\\inner")));
    WriteText(Path("keep\\inner\\f.txt"), "f");
    for (const std::string& refused : {std::string("\\\\?\\") + Path("keep"), Path("keep\\inner\\.."),
                                       Path("keep\\.\\inner"), Path("keep\\inner\\... ")}) {
        EXPECT_FALSE(DeleteDirectory(refused, "*.*", true)) << refused;
    }
    EXPECT_FALSE(DeleteDirectory(Path("keep"), "inner\\*.*", true));   // the mask stays in the folder
    EXPECT_TRUE(FileExists(Path("keep\\inner\\f.txt")));
}

TEST_F(FolderTest, DeleteDirectoryRemovesLinksButNotTheirTargets)
{
    ASSERT_TRUE(core::ForceDirectory(Path("target")));
    WriteText(Path("target\\precious.txt"), "p");
    ASSERT_TRUE(core::ForceDirectory(Path("tree")));
    const std::string inner = Path("tree\\link");
    const std::string direct = Path("direct");
    // 3: a folder link, without the privilege where the system allows that.
    const bool made = ::CreateSymbolicLinkA(inner.c_str(), Path("target").c_str(), 3) &&
                      ::CreateSymbolicLinkA(direct.c_str(), Path("target").c_str(), 3) &&
                      (::GetFileAttributesA(inner.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!made || !FileExists(inner + "\\precious.txt")) GTEST_SKIP() << "no folder links on this system";

    EXPECT_TRUE(DeleteDirectory(direct, "*.*", true));   // the link itself only
    EXPECT_TRUE(DeleteDirectory(Path("tree"), "*.*", true));
    EXPECT_FALSE(DirectoryExists(Path("tree")));
    EXPECT_TRUE(FileExists(Path("target\\precious.txt")));
}

TEST_F(FileTest, ReadFileToStringWithAndWithoutDelete)
{
    const std::string name = Path("data.bin");
    const std::string content("line\r\n\0binary\xff", 14);
    WriteText(name, content);
    std::string out = "old";
    EXPECT_TRUE(core::ReadFileToString(name, false, out));
    EXPECT_EQ(out, content);
    EXPECT_TRUE(core::ReadFileToString(name, true, out));
    EXPECT_EQ(out, content);
    EXPECT_FALSE(FileExists(name));
    out = "old";
    EXPECT_FALSE(core::ReadFileToString(name, true, out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(core::ReadFileToString("", true, out));
}

TEST_F(FileTest, SizeAndStampTakeTheNameLiterally)
{
    WriteText(Path("a.txt"), "0123456789");
    EXPECT_EQ(core::GetFileSizeByName(Path("a.txt")), 10);
    EXPECT_NE(core::GetFileStamp(Path("a.txt")), 0u);
    // Wildcards name no file: a directory search would report a.txt here.
    for (const char* pattern : {"*.txt", "?.txt", "missing.txt"}) {
        EXPECT_EQ(core::GetFileSizeByName(Path(pattern)), 0) << pattern;
        EXPECT_EQ(core::GetFileStamp(Path(pattern)), 0u) << pattern;
    }
}

bool ReadTimes(const std::string& name, FILETIME& creation, FILETIME& access)
{
    core::UniqueHandle file(
        ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.valid() && ::GetFileTime(file.get(), &creation, &access, nullptr);
}

bool RunningUnderWine()
{
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_F(FileTest, SetFileDateChangesOnlyTheLastWriteTime)
{
    const std::string name = Path("dated.txt");
    WriteText(name, "x");
    {
        core::UniqueHandle file(::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        const SYSTEMTIME known{2001, 2, 0, 3, 0, 0, 0, 0};
        FILETIME access{};
        ASSERT_TRUE(::SystemTimeToFileTime(&known, &access));
        ASSERT_TRUE(::SetFileTime(file.get(), nullptr, &access, nullptr));
    }
    FILETIME creation[2]{};
    FILETIME access[2]{};
    ASSERT_TRUE(ReadTimes(name, creation[0], access[0]));
    // 2009-06-15 13:45:30 local (DOS time counts seconds in steps of two).
    const std::uint32_t stamp = (((2009u - 1980) << 9 | 6 << 5 | 15) << 16) | (13 << 11 | 45 << 5 | 30 / 2);
    ASSERT_TRUE(core::SetFileDate(name, stamp));
    EXPECT_EQ(core::GetFileStamp(name), stamp);
    ASSERT_TRUE(ReadTimes(name, creation[1], access[1]));
    EXPECT_EQ(::CompareFileTime(&access[0], &access[1]), 0);
    // Wine on Linux derives the creation time from the last-write time.
    if (!RunningUnderWine()) {
        EXPECT_EQ(::CompareFileTime(&creation[0], &creation[1]), 0);
    }
    EXPECT_FALSE(core::SetFileDate(name, 0));   // month 0 is no date
    EXPECT_FALSE(core::SetFileDate(Path("missing.txt"), stamp));
    EXPECT_FALSE(FileExists(Path("missing.txt")));
}

TEST_F(FileTest, WriteFileAtomicReplacesOrLeavesTheOldFile)
{
    const std::string name = Path("settings.cfg");
    const std::string first = "first version";
    const std::string second(100000, 'z');
    ASSERT_TRUE(core::WriteFileAtomic(name, first.data(), first.size()));
    ASSERT_TRUE(core::WriteFileAtomic(name, second.data(), second.size()));
    EXPECT_EQ(ReadText(name), second);
    EXPECT_EQ(Entries(), std::vector<std::string>{"settings.cfg"});

    EXPECT_FALSE(core::WriteFileAtomic(Path("nofolder\\x.cfg"), first.data(), first.size()));
    {
        // Held open without delete sharing: the replace fails, nothing changes.
        core::UniqueHandle holder(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.valid());
        EXPECT_FALSE(core::WriteFileAtomic(name, first.data(), first.size()));
    }
    EXPECT_EQ(ReadText(name), second);
    ASSERT_TRUE(core::ForceDirectory(Path("folder.cfg")));
    EXPECT_FALSE(core::WriteFileAtomic(Path("folder.cfg"), first.data(), first.size()));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"folder.cfg", "settings.cfg"}));
}

TEST(UniqueHandle, ClosesOnceAndToleratesInvalidValues)
{
    core::UniqueHandle none(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(none.valid());
    none.reset();
    HANDLE raw = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    core::UniqueHandle first(raw);
    core::UniqueHandle second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.release(), raw);
    second.reset(raw);
    second.reset();
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(raw, &flags));
}

std::string Child(const std::string& arguments)
{
    return "\"" + core::HostProgramFolder() + "platform_child.exe\" " + arguments;
}

TEST_F(ProcessTest, CapturesLongOutputAndExitCode)
{
    std::uint32_t exitCode = 99;
    std::string output = "old";
    ASSERT_TRUE(core::ExecuteAndCapture(Child("print 5000 7"), exitCode, SW_HIDE, output));
    EXPECT_EQ(exitCode, 7u);
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += static_cast<char>('a' + i % 26);
    EXPECT_EQ(output, expected + "err");

    ASSERT_TRUE(core::ExecuteAndCapture("cmd /c for /L %i in (1,1,300) do @echo line %i", exitCode, SW_HIDE, output));
    EXPECT_GT(output.size(), 2048u);
    EXPECT_NE(output.find("line 300"), std::string::npos);

    EXPECT_FALSE(core::ExecuteAndCapture(Path("missing\\nothing.exe"), exitCode, SW_HIDE, output));
    EXPECT_EQ(output, "");
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(ProcessTest, OnlyThePipeIsInherited)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    core::UniqueHandle event(::CreateEventA(&inherit, TRUE, TRUE, nullptr));
    char value[32];
    std::snprintf(value, sizeof value, "%lx", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(event.get())));
    std::string command = Child(std::string("handle ") + value);

    // Control: a plain start with inheritance hands the event over.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::vector<char> line(command.c_str(), command.c_str() + command.size() + 1);
    ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                 &startup, &info));
    core::UniqueHandle process(info.hProcess);
    core::UniqueHandle thread(info.hThread);
    ::WaitForSingleObject(process.get(), 10000);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    ASSERT_EQ(code, 10u);

    std::uint32_t exitCode = 0;
    std::string output;
    ASSERT_TRUE(core::ExecuteAndCapture(command, exitCode, SW_HIDE, output));
    EXPECT_EQ(exitCode, 11u);
}

struct LogonCall {
    int calls = 0;
    std::string user, domain, password;
    bool domainNull = false;
    DWORD type = 0;
};
LogonCall g_logon;

BOOL WINAPI RefuseLogon(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD, PHANDLE token)
{
    g_logon = {g_logon.calls + 1, user, domain ? domain : "", password, domain == nullptr, type};
    *token = nullptr;
    return FALSE;
}

// Grants the logon with a copy of this process's own token.
BOOL WINAPI AcceptLogon(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD, PHANDLE token)
{
    g_logon = {g_logon.calls + 1, user, domain ? domain : "", password, domain == nullptr, type};
    HANDLE own = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) return FALSE;
    core::UniqueHandle ownToken(own);
    return ::DuplicateTokenEx(own, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, token);
}

TEST_F(ProcessTest, LogonSeamDecidesWhetherTheCommandRuns)
{
    std::uint32_t exitCode = 99;
    std::string output = "old";
    const std::string marker = Path("ran.txt");
    g_logon = LogonCall();
    core::SetLogonFunction(RefuseLogon);
    EXPECT_FALSE(core::ExecuteAndCapture(Child("touch \"" + marker + "\"| someone ; ; secret "), exitCode, SW_HIDE,
                                         output));
    EXPECT_EQ(output, "");
    EXPECT_EQ(g_logon.calls, 1);
    EXPECT_EQ(g_logon.user, "someone");
    EXPECT_TRUE(g_logon.domainNull);
    EXPECT_EQ(g_logon.password, "secret");
    EXPECT_EQ(g_logon.type, 4u);   // batch logon
    ::Sleep(200);
    EXPECT_FALSE(FileExists(marker));

    core::SetLogonFunction(AcceptLogon);
    EXPECT_TRUE(core::ExecuteAndCapture(Child("print 10 3|user;DOMAIN;pass"), exitCode, SW_HIDE, output));
    core::SetLogonFunction(nullptr);
    EXPECT_EQ(g_logon.domain, "DOMAIN");
    EXPECT_EQ(exitCode, 3u);
    EXPECT_EQ(output, "abcdefghijerr");
}

TEST(SystemUnit, PlatformAffinityAndFolders)
{
    EXPECT_TRUE(core::IsWindowsNT());
    core::SetWindowsNTOverride(0);
    EXPECT_FALSE(core::IsWindowsNT());
    core::SetWindowsNTOverride(-1);
    EXPECT_TRUE(core::IsWindowsNT());

    DWORD_PTR original = 0;
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &original, &systemMask));
    core::SetProcessAffinity(false);
    ::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask);
    EXPECT_EQ(processMask, 1u);
    core::SetProcessAffinity(true);
    ::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask);
    EXPECT_EQ(processMask, systemMask);
    ::SetProcessAffinityMask(::GetCurrentProcess(), original);

    const std::string folder = core::HostProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_TRUE(FileExists(folder + "platform_test.exe"));
}

TEST(SystemUnit, LocalAddressesAreDottedAndNeverZero)
{
    core::DonePlatformUnit();
    EXPECT_EQ(core::GetLocalIPAddresses(), "");
    core::InitPlatformUnit();
    const std::string list = core::GetLocalIPAddresses();
    EXPECT_TRUE(list.empty() || list.back() == ';');
    for (int i = 0; !core::GetDelimitedItem(list, i, ';').empty(); ++i) {
        std::uint32_t value = 0;
        EXPECT_TRUE(core::ParseIPv4Strict(core::GetDelimitedItem(list, i, ';'), value));
        EXPECT_NE(value, 0u);
    }
    core::DonePlatformUnit();
    EXPECT_EQ(core::GetLocalIPAddresses(), "");
}

}  // namespace
