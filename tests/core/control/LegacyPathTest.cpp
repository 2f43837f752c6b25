// The control channel on systems without named pipes: window messages, and
// the anonymous pipe pair that a service publishes in the registry. Built
// twice: into the main test program with the platform test forced to answer
// "not NT", and into a program that Wine runs as Windows 98 for real.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/control/PipeUnit.h"
#include "core/control/ServiceControlUnit.h"
#include "core/platform/SystemUnit.h"
#include "tests/support/fake_services.h"
#include "tests/support/fake_window.h"

namespace {

using fake::FakeMode;
using fake::FakeSetup;

class LegacyChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef VM_REAL_LEGACY
        ASSERT_FALSE(core::IsWindowsNT()) << "this program must run with the Windows 98 version setting";
#else
        core::SetWindowsNTOverride(0);
#endif
    }
    void TearDown() override { core::SetWindowsNTOverride(-1); }

    fake::FakeServiceSet services;
};

TEST_F(LegacyChannel, NotifyServerSendsTheWindowMessage)
{
    FakeSetup setup;
    setup.index = core::ServerSmtp;
    setup.mode = FakeMode::Legacy;
    setup.window = true;
    ASSERT_TRUE(services.Add(setup)) << services.Error();

    EXPECT_EQ(core::NotifyServer(core::ServerSmtp, 0x500, 7, 0xFFFFFFFF), 1);
    const auto records = services.Records(core::ServerSmtp);  // SendMessage has returned: it is logged
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 'W');
    EXPECT_EQ(records[0].Message(), 0x500u);
    EXPECT_EQ(records[0].WParam(), 7u);
    EXPECT_EQ(records[0].LParam(), 0xFFFFFFFFu);
    EXPECT_TRUE(core::IsServerRunning(core::ServerSmtp, core::ServiceStateRunning));
}

TEST_F(LegacyChannel, OnlyTheWindowCountsAsRunning)
{
    // Registered and running with the manager, but windowless: not running here.
    ASSERT_TRUE(services.AddRunning({core::ServerPop3})) << services.Error();
    fake::FakeWindow otherCaption("TControlForm", "Control Panel");
    fake::FakeWindow webMail("TWebMailForm", "Velmora Web Mail");
    fake::FakeWindow im("TIMForm", "Instant Messaging Server");
    ASSERT_TRUE(otherCaption.Ready() && webMail.Ready() && im.Ready());

    EXPECT_FALSE(core::IsServerRunning(core::ServerPop3, core::ServiceStateRunning));
    EXPECT_EQ(core::NotifyServer(core::ServerPop3, 0x500, 0, 0), 0);
    EXPECT_FALSE(core::IsServerRunning(core::ServerControl, core::ServiceStateRunning));
    EXPECT_EQ(core::NotifyServer(core::ServerControl, 0x513, 0, 0), 0);
    EXPECT_TRUE(core::IsServerRunning(core::ServerWebMail, core::ServiceStateRunning));
    EXPECT_EQ(core::NotifyServer(core::ServerWebMail, 0x500, 0, 0), 0);  // looked for, never told
    EXPECT_TRUE(webMail.Messages().empty());

    EXPECT_EQ(core::NotifyServer(core::ServerInstantMessaging, core::InstantMessageNotice, 12, 0), 1);
    ASSERT_EQ(im.Messages().size(), 1u);
    EXPECT_EQ(im.Messages()[0][0], core::InstantMessageNotice);
    EXPECT_EQ(im.Messages()[0][1], 12u);
    EXPECT_TRUE(otherCaption.Messages().empty());
    ::Sleep(50);
    EXPECT_TRUE(services.Records(core::ServerPop3).empty());
}

TEST_F(LegacyChannel, CommandsTravelOverThePublishedPipe)
{
    FakeSetup withReply;
    withReply.index = core::ServerSmtp;
    withReply.mode = FakeMode::Legacy;
    withReply.reply = std::string("\x2A\x00\x00\x00\x01", 5);
    ASSERT_TRUE(services.Add(withReply)) << services.Error();
    FakeSetup shortReply;
    shortReply.index = core::ServerPop3;
    shortReply.mode = FakeMode::Legacy;
    shortReply.reply = std::string("\x2A\x00", 2);
    ASSERT_TRUE(services.Add(shortReply)) << services.Error();

    EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, core::SpamIndexMessage, 0, true, 0), 42);
    EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, 0x500, 5, false, 6), 1);
    EXPECT_EQ(core::SendServiceCommand(core::ServerPop3, core::SpamIndexMessage, 0, true, 0), 0);
    ASSERT_TRUE(services.WaitForRecords(core::ServerSmtp, 2));
    const auto records = services.Records(core::ServerSmtp);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Command(), 0x1003u);
    EXPECT_EQ(records[0].Message(), core::SpamIndexMessage);
    EXPECT_EQ(records[1].bytes.size(), 16u);
    EXPECT_EQ(records[1].Command(), 0x1000u);
    EXPECT_EQ(records[1].WParam(), 5u);
    EXPECT_EQ(records[1].LParam(), 6u);

    // Nothing published under that name.
    EXPECT_EQ(core::SendServiceCommand(core::ServerControl, 0x500, 0, false, 0), 0);
}

// Publishes a pipe entry by hand, as a service that has gone away would
// have left it.
class StaleEntry {
public:
    StaleEntry(const std::string& name, DWORD processId, std::uintptr_t readValue, std::uintptr_t writeValue)
        : name_(name)
    {
        mutex_ = ::CreateMutexA(nullptr, FALSE, name.c_str());
        HKEY key = nullptr;
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, core::PublishedPipeKey(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr);
        Put(key, "PID", processId);
        Put(key, "HRP", readValue);
        Put(key, "HWP", writeValue);
        ::RegCloseKey(key);
    }
    ~StaleEntry()
    {
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, core::PublishedPipeKey(name_).c_str());
        if (mutex_ != nullptr) ::CloseHandle(mutex_);
    }

private:
    static void Put(HKEY key, const char* valueName, std::uintptr_t value)
    {
        char text[16];
        std::snprintf(text, sizeof(text), "%lX", static_cast<unsigned long>(value));
        ::RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                         static_cast<DWORD>(std::strlen(text) + 1));
    }
    std::string name_;
    HANDLE mutex_ = nullptr;
};

TEST_F(LegacyChannel, StaleEntryNamingOtherHandlesIsNotWrittenTo)
{
    // A process id that now belongs to another process (here: this one),
    // whose handles of those values are files.
    char folder[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "vm-control-stale-" + std::to_string(::GetCurrentProcessId());
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const auto value = reinterpret_cast<std::uintptr_t>(file);
    {
        StaleEntry entry(core::GetServicePipeName(core::ServerCalendaring), ::GetCurrentProcessId(), value, value);
        EXPECT_EQ(core::SendServiceCommand(core::ServerCalendaring, 0x500, 0, false, 0), 0);
        EXPECT_EQ(core::SendServiceCommand(core::ServerCalendaring, 0x500, 0, true, 0), 0);
    }
    {
        // Zero values mean nothing published.
        StaleEntry entry(core::GetServicePipeName(core::ServerCalendaring), ::GetCurrentProcessId(), 0, value);
        EXPECT_EQ(core::SendServiceCommand(core::ServerCalendaring, 0x500, 0, false, 0), 0);
    }
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file, &size);
    EXPECT_EQ(size.QuadPart, 0);
    ::CloseHandle(file);
    ::DeleteFileA(path.c_str());
}

}  // namespace
