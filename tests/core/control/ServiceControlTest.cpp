// The control channel on Windows NT against fake services: real pipes, the
// real service control manager and real windows; only the services are fake.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/control/PipeUnit.h"
#include "core/control/ServiceControlUnit.h"
#include "core/platform/SystemUnit.h"
#include "tests/support/fake_services.h"
#include "tests/support/fake_window.h"

namespace {

using core::ParlinexNaming;
using fake::FakeMode;
using fake::FakeSetup;

std::string Bytes(std::initializer_list<int> values)
{
    std::string text;
    for (const int v : values) text += static_cast<char>(v);
    return text;
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TEST(ServiceNames, FollowTheServiceTable)
{
    const char* pipes[] = {"ParlinexSMTP", "ParlinexPOP3", "ParlinexIMAP", "ParlinexInstant Messaging Server",
                           "ParlinexCalendaring Server", "Parlinex", "Parlinex"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(core::GetServicePipeName(i), pipes[i]) << i;
    EXPECT_EQ(core::GetServicePipeName(-1), "Parlinex");
    EXPECT_EQ(core::GetServicePipeName(core::ServerInstantMessaging, core::TolumNaming),
              "TolumInstant Messaging Server");

    const char* services[] = {"ParlinexSMTP", "ParlinexPOP3", "ParlinexControl", "ParlinexIM", "ParlinexCalendar",
                              "VelmoraWebMail"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(ParlinexNaming.ServiceName(i), services[i]) << i;
    EXPECT_EQ(core::TolumNaming.ServiceName(core::ServerControl), "TolumControl");
    EXPECT_EQ(core::TolumNaming.ServiceName(core::ServerWebMail), "VelmoraWebMail");
    EXPECT_EQ(ParlinexNaming.ServiceName(6), "");

    EXPECT_EQ(core::ServiceWindowClass(2, false), "TControlForm");
    EXPECT_EQ(core::ServiceWindowCaption(3, false), "Instant Messaging Server");
    // Web mail is only looked for, never sent a message.
    EXPECT_EQ(core::ServiceWindowClass(5, false), "");
    EXPECT_EQ(core::ServiceWindowClass(5, true), "TWebMailForm");
    EXPECT_EQ(core::ServiceWindowCaption(5, true), "Velmora Web Mail");
    EXPECT_EQ(core::ServiceWindowClass(6, true), "");
}

TEST(ControlRequest, IsSixteenLittleEndianBytesAndRepliesNeedFour)
{
    const auto request = core::EncodeControlRequest(true, 0x5A0, 0x01020304, 0xFFFFFFFE);
    const std::string expected = Bytes({0x03, 0x10, 0, 0, 0xA0, 0x05, 0, 0, 0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF,
                                        0xFF, 0xFF});
    EXPECT_EQ(std::string(request.begin(), request.end()), expected);
    EXPECT_EQ(core::EncodeControlRequest(false, 0, 0, 0)[0], 0x00);
    EXPECT_EQ(core::EncodeControlRequest(false, 0, 0, 0)[1], 0x10);

    EXPECT_EQ(core::DecodeControlReply(Bytes({0x2A, 0, 0, 0, 0x77})), 42);
    EXPECT_EQ(core::DecodeControlReply(Bytes({0xFE, 0xFF, 0xFF, 0xFF})), -2);
    EXPECT_EQ(core::DecodeControlReply(Bytes({0x2A, 0x01})), 0);
    EXPECT_EQ(core::DecodeControlReply(""), 0);
}

TEST(PipeClient, WithoutAPipeEveryReadAndWriteFails)
{
    core::TPipeClient client("VmControlTestNoSuchPipe");
    EXPECT_FALSE(client.IsOpen());
    EXPECT_FALSE(client.WriteString("x"));
    EXPECT_TRUE(client.WriteString(""));
    std::string text = "old";
    EXPECT_FALSE(client.ReadString(text, 16));
    EXPECT_EQ(text, "");
    char buffer[4];
    std::uint32_t got = 99;
    EXPECT_FALSE(client.Read(buffer, 0, got));
    EXPECT_EQ(got, 0u);
}

// Records how the pipe is opened, then opens it as usual.
DWORD g_openedFlags = 0;
std::string g_openedPath;
HANDLE WINAPI RecordingOpen(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                            DWORD flags, HANDLE templateFile)
{
    g_openedPath = path;
    g_openedFlags = flags;
    return ::CreateFileA(path, access, share, security, disposition, flags, templateFile);
}

TEST(PipeClient, OpensForIdentificationOnly)
{
    core::SetPipeOpenFunction(&RecordingOpen);
    core::SendServiceCommand(core::ServerPop3, 0x500, 0, false, 0);
    core::SetPipeOpenFunction(nullptr);
    EXPECT_EQ(g_openedPath, "\\\\.\\pipe\\ParlinexPOP3");
    EXPECT_EQ(g_openedFlags & SECURITY_SQOS_PRESENT, static_cast<DWORD>(SECURITY_SQOS_PRESENT));
    // SECURITY_IDENTIFICATION is the level value 1 << 16 inside the 0x30000 level field.
    EXPECT_EQ(g_openedFlags & 0x30000u, static_cast<DWORD>(SECURITY_IDENTIFICATION));
}

class ControlChannel : public ::testing::Test {
protected:
    void SetUp() override { core::SetWindowsNTOverride(-1); }
    fake::FakeServiceSet services;  // removes leftovers first, takes everything down at the end
};

TEST_F(ControlChannel, ServiceNeitherRegisteredNorWindowedGetsNothing)
{
    ASSERT_TRUE(core::IsWindowsNT());
    EXPECT_FALSE(core::IsServerRunning(core::ServerSmtp, core::ServiceStateRunning));
    EXPECT_EQ(core::NotifyServer(core::ServerSmtp, 0x500, 0, 0), 0);
    EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, 0x500, 0, false, 0), 0);

    // Its pipe alone does not make it running: the notice is not sent, while
    // a direct command still goes through.
    FakeSetup setup;
    setup.index = core::ServerSmtp;
    setup.mode = FakeMode::Process;
    ASSERT_TRUE(services.Add(setup)) << services.Error();
    EXPECT_EQ(core::NotifyServer(core::ServerSmtp, 0x500, 0, 0), 0);
    EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, core::SpamIndexMessage, 0, false, 0), 1);
    ASSERT_TRUE(services.WaitForRecords(core::ServerSmtp, 1));
    ::Sleep(50);
    const auto records = services.Records(core::ServerSmtp);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Message(), core::SpamIndexMessage);
}

TEST_F(ControlChannel, RunningServiceReceivesExactlyTheSixteenBytes)
{
    ASSERT_TRUE(services.AddRunning({core::ServerPop3})) << services.Error();
    EXPECT_TRUE(core::IsServiceRunning(core::ServerPop3, true, core::ServiceStateRunning));
    EXPECT_EQ(core::NotifyServer(core::ServerPop3, 0x500, 0x11223344, 0x8899AABB), 1);
    ASSERT_TRUE(services.WaitForRecords(core::ServerPop3, 1));
    ::Sleep(50);
    const auto records = services.Records(core::ServerPop3);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 'P');
    EXPECT_EQ(records[0].bytes, Bytes({0x00, 0x10, 0, 0, 0x00, 0x05, 0, 0, 0x44, 0x33, 0x22, 0x11, 0xBB, 0xAA, 0x99,
                                       0x88}));
}

TEST_F(ControlChannel, StoppedServiceWithWindowIsReachedOverItsPipe)
{
    FakeSetup setup;
    setup.index = core::ServerControl;
    setup.mode = FakeMode::StoppedService;
    setup.window = true;
    ASSERT_TRUE(services.Add(setup)) << services.Error();
    EXPECT_FALSE(core::IsServiceRunning(core::ServerControl, true, core::ServiceStateRunning));
    EXPECT_TRUE(core::IsServiceRunning(core::ServerControl, false, core::ServiceStateRunning));
    EXPECT_TRUE(core::IsServerRunning(core::ServerControl, core::ServiceStateRunning));

    EXPECT_EQ(core::DefaultServiceNotifier().Notify(core::ServerControl, core::ReloadServicesMessage, 0, 0), 1);
    ASSERT_TRUE(services.WaitForRecords(core::ServerControl, 1));
    ::Sleep(50);
    const auto records = services.Records(core::ServerControl);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 'P');  // not a window message
    EXPECT_EQ(records[0].Message(), core::ReloadServicesMessage);
}

TEST_F(ControlChannel, RunningTestAsksTheManagerThenLooksForTheWindow)
{
    FakeSetup webMail;
    webMail.index = core::ServerWebMail;
    ASSERT_TRUE(services.Add(webMail)) << services.Error();
    FakeSetup registeredOnly;
    registeredOnly.index = core::ServerCalendaring;
    registeredOnly.mode = FakeMode::StoppedService;
    ASSERT_TRUE(services.Add(registeredOnly)) << services.Error();
    fake::FakeWindow imWindow("TIMForm", "Instant Messaging Server");
    fake::FakeWindow wrongCaption("TSMTPForm", "SMTP Server");
    ASSERT_TRUE(imWindow.Ready() && wrongCaption.Ready());

    EXPECT_TRUE(core::IsServerRunning(core::ServerWebMail, core::ServiceStateRunning));
    EXPECT_FALSE(core::IsServerRunning(core::ServerWebMail, 1));  // another wanted state, and no window
    EXPECT_TRUE(core::IsServerRunning(core::ServerInstantMessaging, core::ServiceStateRunning));
    EXPECT_FALSE(core::IsServerRunning(core::ServerCalendaring, core::ServiceStateRunning));
    EXPECT_FALSE(core::IsServerRunning(core::ServerSmtp, core::ServiceStateRunning));
    EXPECT_FALSE(core::IsServerRunning(9, core::ServiceStateRunning));
    // The stopped one is in the state asked for.
    EXPECT_TRUE(core::ServiceStateIs("ParlinexCalendar", 1));
    EXPECT_FALSE(core::ServiceStateIs("ParlinexNoSuchService", 1));
}

TEST_F(ControlChannel, ReplyGivesItsFirstFourBytes)
{
    const struct {
        int index;
        std::string reply;
        std::int32_t expected;
    } cases[] = {
        {core::ServerSmtp, Bytes({0x2A, 0, 0, 0, 0x55, 0x66}), 42},
        {core::ServerPop3, Bytes({0x2A, 0x01}), 0},
        {core::ServerControl, Bytes({0xFE, 0xFF, 0xFF, 0xFF}), -2},
        {core::ServerCalendaring, "", 0},  // the service hangs up without an answer
    };
    for (const auto& c : cases) {
        FakeSetup setup;
        setup.index = c.index;
        setup.mode = FakeMode::Process;
        setup.reply = c.reply;
        ASSERT_TRUE(services.Add(setup)) << services.Error();
    }
    for (const auto& c : cases) {
        EXPECT_EQ(core::SendServiceCommand(c.index, core::SpamIndexMessage, 3, true, 4), c.expected) << c.index;
        ASSERT_TRUE(services.WaitForRecords(c.index, 1));
        const auto records = services.Records(c.index);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].bytes.size(), 16u);
        EXPECT_EQ(records[0].Command(), 0x1003u);
        EXPECT_EQ(records[0].WParam(), 3u);
        EXPECT_EQ(records[0].LParam(), 4u);
    }
}

TEST_F(ControlChannel, FiveServicesAreNotifiedInTheOrderCalled)
{
    ASSERT_TRUE(services.AddRunning({0, 1, 2, 3, 4})) << services.Error();
    const int order[] = {0, 1, 2, 4, 3};
    for (const int index : order)
        EXPECT_EQ(core::DefaultServiceNotifier().Notify(index, core::ConfigChangedMessage, 0, 0), 1) << index;

    std::vector<std::pair<std::uint64_t, int>> seen;
    for (int index = 0; index < 5; ++index) {
        ASSERT_TRUE(services.WaitForRecords(index, 1)) << index;
        const auto records = services.Records(index);
        ASSERT_EQ(records.size(), 1u) << index;
        EXPECT_EQ(records[0].Message(), core::ConfigChangedMessage);
        seen.emplace_back(records[0].time, index);
    }
    std::sort(seen.begin(), seen.end());
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(seen[i].second, order[i]) << i;
}

// One pipe instance, taken by a client of our own, so that every other
// client finds the pipe busy until released.
class BusyPipe {
public:
    explicit BusyPipe(const std::string& name) : path_("\\\\.\\pipe\\" + name)
    {
        server_ = ::CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                     nullptr);
        holder_ = ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~BusyPipe()
    {
        if (thread_.joinable()) {
            // Unblock a server still waiting for a client.
            const HANDLE dummy = ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                               0, nullptr);
            if (dummy != INVALID_HANDLE_VALUE) ::CloseHandle(dummy);
            thread_.join();
        }
        if (holder_ != INVALID_HANDLE_VALUE) ::CloseHandle(holder_);
        if (server_ != INVALID_HANDLE_VALUE) ::CloseHandle(server_);
    }
    bool Ready() const { return server_ != INVALID_HANDLE_VALUE && holder_ != INVALID_HANDLE_VALUE; }

    // Frees the instance after delayMs and takes what the next client sends.
    void ReleaseAfter(DWORD delayMs)
    {
        thread_ = std::thread([this, delayMs] {
            ::Sleep(delayMs);
            ::CloseHandle(holder_);
            holder_ = INVALID_HANDLE_VALUE;
            ::DisconnectNamedPipe(server_);
            if (!::ConnectNamedPipe(server_, nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED) return;
            char buffer[64];
            DWORD got = 0;
            while (::ReadFile(server_, buffer, sizeof(buffer), &got, nullptr) && got > 0) received_.append(buffer, got);
        });
    }
    std::string Received()
    {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    std::string path_;
    HANDLE server_ = INVALID_HANDLE_VALUE;
    HANDLE holder_ = INVALID_HANDLE_VALUE;
    std::thread thread_;
    std::string received_;
};

constexpr core::ServiceNaming BusyNaming{"VmControlBusy"};

class BusyPipeTest : public ::testing::Test {
protected:
    void TearDown() override { core::SetPipeBusyWait(10000); }
};

TEST_F(BusyPipeTest, PipeFreedDuringTheWaitGetsTheRequest)
{
    BusyPipe pipe(BusyNaming.PipeName(core::ServerSmtp));
    ASSERT_TRUE(pipe.Ready());
    pipe.ReleaseAfter(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, 0x500, 1, false, 2, BusyNaming), 1);
    EXPECT_LT(MillisecondsSince(start), 5000);
    EXPECT_EQ(pipe.Received(), std::string(reinterpret_cast<const char*>(core::EncodeControlRequest(false, 0x500, 1, 2).data()), 16));
}

TEST_F(BusyPipeTest, WaitsForBusyPipesOneAtATime)
{
    core::SetPipeBusyWait(300);
    BusyPipe first(BusyNaming.PipeName(core::ServerPop3));
    BusyPipe second(BusyNaming.PipeName(core::ServerControl));
    ASSERT_TRUE(first.Ready() && second.Ready());
    const auto start = std::chrono::steady_clock::now();
    std::int32_t results[2] = {-1, -1};
    std::thread other([&] { results[1] = core::SendServiceCommand(core::ServerControl, 0x500, 0, false, 0, BusyNaming); });
    results[0] = core::SendServiceCommand(core::ServerPop3, 0x500, 0, false, 0, BusyNaming);
    other.join();
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_GE(MillisecondsSince(start), 550);
}

TEST_F(BusyPipeTest, PipeThatStaysBusyIsGivenUpAfterTenSeconds)
{
    BusyPipe pipe(BusyNaming.PipeName(core::ServerCalendaring));
    ASSERT_TRUE(pipe.Ready());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(core::SendServiceCommand(core::ServerCalendaring, 0x500, 0, true, 0, BusyNaming), 0);
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 9500);
    EXPECT_LT(elapsed, 15000);
}

}  // namespace
