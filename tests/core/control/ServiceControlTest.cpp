// The control channel on Windows NT against fake services: real pipes, the
// real service control manager and real windows; only the services are fake.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/control/PipeClient.h"
#include "core/control/ServiceControl.h"
#include "core/platform/System.h"
#include "tests/support/fake_services.h"
#include "tests/support/fake_window.h"

namespace {

using fake::FakeMode;

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The single record the fake of that kind received; waits a little longer
// so that a second, unwanted one would show.
fake::LogRecord OnlyRecord(const fake::FakeServiceSet& services, int index) {
  EXPECT_TRUE(services.WaitForRecords(index, 1)) << index;
  ::Sleep(50);
  const auto records = services.Records(index);
  EXPECT_EQ(records.size(), 1u) << index;
  return records.empty() ? fake::LogRecord{} : records[0];
}

// Records how the pipe is opened (identification level only, so that whoever
// owns the name cannot act as us), then opens it as usual.
DWORD g_openedFlags = 0;
std::string g_openedPath;
HANDLE WINAPI RecordingOpen(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                            DWORD flags, HANDLE templateFile) {
  g_openedPath = path;
  g_openedFlags = flags;
  return ::CreateFileA(path, access, share, security, disposition, flags, templateFile);
}

// A test that goes wrong fails within seconds: replies are waited for two
// seconds, busy pipes one and a half.
class ControlChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetWindowsNTOverride(-1);
    core::SetPipeTimeout(2000);
    core::SetPipeBusyWait(1500);
  }
  void TearDown() override {
    core::SetPipeTimeout(30000);
    core::SetPipeBusyWait(10000);
  }
  fake::FakeServiceSet services;  // removes leftovers first, takes everything down at the end
};

TEST_F(ControlChannel, ServiceNeitherRegisteredNorWindowedGetsNothing) {
  ASSERT_TRUE(core::IsWindowsNT());
  EXPECT_FALSE(core::IsServerRunning(core::ServerSmtp, core::ServiceStateRunning));
  EXPECT_EQ(core::NotifyServer(core::ServerSmtp, 0x500, 0, 0), 0);
  EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, 0x500, 0, false, 0), 0);

  // Its pipe alone does not make it running: the notice is not sent, while
  // a direct command still goes through.
  ASSERT_TRUE(services.Add({core::ServerSmtp, FakeMode::Process, false, {}})) << services.Error();
  EXPECT_EQ(core::NotifyServer(core::ServerSmtp, 0x500, 0, 0), 0);
  EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, core::SpamIndexMessage, 0, false, 0), 1);
  EXPECT_EQ(OnlyRecord(services, core::ServerSmtp).Message(), core::SpamIndexMessage);
}

TEST_F(ControlChannel, RunningServicesReceiveExactlySixteenBytesInTheOrderCalled) {
  ASSERT_TRUE(services.AddRunning({0, 1, 2, 3, 4})) << services.Error();
  EXPECT_TRUE(core::IsServiceRunning(core::ServerPop3, true, core::ServiceStateRunning));
  const int order[] = {0, 1, 2, 4, 3};
  core::SetPipeOpenFunction(&RecordingOpen);
  for (const int index : order)
    EXPECT_EQ(core::DefaultServiceNotifier().Notify(index, 0x500, 0x11223344, 0x8899AABB), 1) << index;
  core::SetPipeOpenFunction(nullptr);
  EXPECT_EQ(g_openedPath, "\\\\.\\pipe\\ParlinexInstant Messaging Server");
  EXPECT_EQ(g_openedFlags & SECURITY_SQOS_PRESENT, static_cast<DWORD>(SECURITY_SQOS_PRESENT));
  // SECURITY_IDENTIFICATION is the level value 1 << 16 inside the 0x30000 level field.
  EXPECT_EQ(g_openedFlags & 0x30000u, static_cast<DWORD>(SECURITY_IDENTIFICATION));

  std::vector<std::pair<std::uint64_t, int>> seen;
  for (int index = 0; index < 5; ++index) {
    const auto record = OnlyRecord(services, index);
    EXPECT_EQ(record.bytes, std::string("\x00\x10\0\0\x00\x05\0\0\x44\x33\x22\x11\xBB\xAA\x99\x88", 16));
    seen.emplace_back(record.time, index);
  }
  std::sort(seen.begin(), seen.end());
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(seen[i].second, order[i]) << i;
}

TEST_F(ControlChannel, ManagerIsAskedFirstThenTheWindowAndThePipeCarriesTheNotice) {
  ASSERT_TRUE(services.Add({core::ServerControl, FakeMode::StoppedService, true, {}})) << services.Error();
  ASSERT_TRUE(services.Add({core::ServerWebMail, FakeMode::Service, false, {}})) << services.Error();
  ASSERT_TRUE(services.Add({core::ServerCalendaring, FakeMode::StoppedService, false, {}})) << services.Error();
  fake::FakeWindow imWindow("TIMForm", "Instant Messaging Server");
  fake::FakeWindow wrongCaption("TSMTPForm", "SMTP Server");
  ASSERT_TRUE(imWindow.Ready() && wrongCaption.Ready());

  // Stopped in the manager, but its window is up: running, and told over its pipe.
  EXPECT_FALSE(core::IsServiceRunning(core::ServerControl, true, core::ServiceStateRunning));
  EXPECT_TRUE(core::IsServerRunning(core::ServerControl, core::ServiceStateRunning));
  EXPECT_EQ(core::DefaultServiceNotifier().Notify(core::ServerControl, core::ReloadServicesMessage, 0, 0), 1);
  EXPECT_EQ(OnlyRecord(services, core::ServerControl).bytes,  // a window message would have command 0
            fake::Words(0x1000, core::ReloadServicesMessage, 0, 0));

  EXPECT_TRUE(core::IsServerRunning(core::ServerWebMail, core::ServiceStateRunning));  // not prefixed
  EXPECT_TRUE(core::IsServerRunning(core::ServerInstantMessaging, core::ServiceStateRunning));
  EXPECT_FALSE(core::IsServerRunning(core::ServerCalendaring, core::ServiceStateRunning));
  EXPECT_FALSE(core::IsServerRunning(core::ServerSmtp, core::ServiceStateRunning));  // caption differs
  EXPECT_TRUE(core::ServiceStateIs("ParlinexCalendar", 1));                          // stopped, as asked
}

TEST_F(ControlChannel, ReplyGivesItsFirstFourBytes) {
  const struct {
    int index;
    std::string reply;
    std::int32_t expected;
  } cases[] = {
      {core::ServerSmtp, std::string("\x2A\0\0\0\x55\x66", 6), 42},
      {core::ServerPop3, "\x2A\x01", 0},
      {core::ServerControl, "\xFE\xFF\xFF\xFF", -2},
      {core::ServerCalendaring, "", 0},  // the service hangs up without an answer
  };
  for (const auto& c : cases)
    ASSERT_TRUE(services.Add({c.index, FakeMode::Process, false, c.reply}));
  for (const auto& c : cases) {
    EXPECT_EQ(core::SendServiceCommand(c.index, core::SpamIndexMessage, 3, true, 4), c.expected) << c.index;
    EXPECT_EQ(OnlyRecord(services, c.index).bytes, fake::Words(0x1003, core::SpamIndexMessage, 3, 4));
  }
}

TEST_F(ControlChannel, AServiceThatNeverAnswersIsGivenUpAfterThePipeTimeOut) {
  ASSERT_TRUE(services.Add({core::ServerControl, FakeMode::Process, false, {}, true})) << services.Error();
  core::SetPipeTimeout(500);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(core::SendServiceCommand(core::ServerControl, core::SpamIndexMessage, 0, true, 0), 0);
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 400);
  EXPECT_LT(elapsed, 3000);
  // The pipe was closed: the service saw its request end.
  EXPECT_EQ(OnlyRecord(services, core::ServerControl).bytes, fake::Words(0x1003, core::SpamIndexMessage, 0, 0));
}

constexpr core::ServiceNaming BusyNaming{"VmControlBusy"};

// One pipe instance, held by a client of our own so that every other client
// finds it busy; given releaseMs, freed after that long for the next client,
// whose bytes are taken.
class BusyPipe {
 public:
  explicit BusyPipe(int index, DWORD releaseMs = 0) : path_("\\\\.\\pipe\\" + BusyNaming.PipeName(index)) {
    server_.reset(::CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr));
    holder_.reset(Connect());
    if (releaseMs == 0 || !Ready()) return;
    thread_ = std::thread([this, releaseMs] {
      ::Sleep(releaseMs);
      holder_.reset();
      ::DisconnectNamedPipe(server_.get());
      if (!::ConnectNamedPipe(server_.get(), nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED) return;
      char buffer[64];
      DWORD got = 0;
      while (::ReadFile(server_.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        received_.append(buffer, got);
    });
  }
  ~BusyPipe() {
    if (thread_.joinable()) core::UniqueHandle{Connect()}.reset();  // unblocks a server waiting for a client
    Received();
  }
  bool Ready() const { return server_.valid() && holder_.valid(); }
  std::string Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  HANDLE Connect() const {
    return ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  std::string path_;
  core::UniqueHandle server_, holder_;
  std::thread thread_;
  std::string received_;
};

TEST(BusyPipeWait, PipeFreedInTimeGetsTheRequestAndOneThatStaysBusyIsGivenUp) {
  EXPECT_EQ(core::SetPipeBusyWait(1500), 10000u);  // ten seconds unless shortened, as here
  BusyPipe freed(core::ServerSmtp, 300), stuck(core::ServerCalendaring);
  ASSERT_TRUE(freed.Ready() && stuck.Ready());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, 0x500, 1, false, 2, BusyNaming), 1);
  EXPECT_LT(MillisecondsSince(start), 5000);
  EXPECT_EQ(freed.Received(), fake::Words(0x1000, 0x500, 1, 2));

  start = std::chrono::steady_clock::now();
  EXPECT_EQ(core::SendServiceCommand(core::ServerCalendaring, 0x500, 0, true, 0, BusyNaming), 0);
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 1400);  // the full wait
  EXPECT_LT(elapsed, 5000);
  core::SetPipeBusyWait(10000);
}

}  // namespace
