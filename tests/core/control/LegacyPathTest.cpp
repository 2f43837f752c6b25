// The control channel on systems without named pipes: window messages, and
// the anonymous pipe pair that a service publishes in the registry. Built into
// the main program with "not NT" forced, and into one Wine runs as Windows 98.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/control/PipeClient.h"
#include "core/control/ServiceControl.h"
#include "core/platform/Files.h"
#include "core/platform/System.h"
#include "tests/support/fake_services.h"
#include "tests/support/fake_window.h"

namespace {

using fake::FakeMode;

class LegacyChannel : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef VM_REAL_LEGACY
    ASSERT_FALSE(core::IsWindowsNT()) << "this program must run with the Windows 98 version setting";
#else
    core::SetWindowsNTOverride(0);
#endif
  }
  void TearDown() override { core::SetWindowsNTOverride(-1); }

  fake::FakeServiceSet services;
};

TEST_F(LegacyChannel, OnlyTheWindowCountsAndIsSentTheMessage) {
  ASSERT_TRUE(services.Add({core::ServerSmtp, FakeMode::Legacy, true, {}})) << services.Error();
  EXPECT_TRUE(core::IsServerRunning(core::ServerSmtp, core::ServiceStateRunning));
  EXPECT_EQ(core::NotifyServer(core::ServerSmtp, 0x500, 7, 0xFFFFFFFF), 1);
  const auto records = services.Records(core::ServerSmtp);  // SendMessage has returned: it is logged
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].kind, 'W');
  EXPECT_EQ(records[0].bytes, fake::Words(0, 0x500, 7, 0xFFFFFFFF));

  // Running with the manager, but windowless; and web mail, which is looked
  // for but never told.
  ASSERT_TRUE(services.AddRunning({core::ServerPop3})) << services.Error();
  fake::FakeWindow webMail("TWebMailForm", "Velmora Web Mail");
  fake::FakeWindow im("TIMForm", "Instant Messaging Server");
  ASSERT_TRUE(webMail.Ready() && im.Ready());
  EXPECT_FALSE(core::IsServerRunning(core::ServerPop3, core::ServiceStateRunning));
  EXPECT_EQ(core::NotifyServer(core::ServerPop3, 0x500, 0, 0), 0);
  EXPECT_TRUE(core::IsServerRunning(core::ServerWebMail, core::ServiceStateRunning));
  EXPECT_EQ(core::NotifyServer(core::ServerWebMail, 0x500, 0, 0), 0);
  EXPECT_EQ(core::NotifyServer(core::ServerInstantMessaging, core::InstantMessageNotice, 12, 0), 1);
  ASSERT_EQ(im.Messages().size(), 1u);
  EXPECT_EQ(im.Messages()[0], (std::array<std::uint32_t, 3>{core::InstantMessageNotice, 12, 0}));
  EXPECT_TRUE(webMail.Messages().empty());
  ::Sleep(50);
  EXPECT_TRUE(services.Records(core::ServerPop3).empty());
}

TEST_F(LegacyChannel, CommandsTravelOverThePublishedPipe) {
  ASSERT_TRUE(services.Add({core::ServerSmtp, FakeMode::Legacy, false, std::string("\x2A\0\0\0\x01", 5)}));
  ASSERT_TRUE(services.Add({core::ServerPop3, FakeMode::Legacy, false, std::string("\x2A\0", 2)}));
  EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, core::SpamIndexMessage, 0, true, 0), 42);
  EXPECT_EQ(core::SendServiceCommand(core::ServerSmtp, 0x500, 5, false, 6), 1);
  EXPECT_EQ(core::SendServiceCommand(core::ServerPop3, core::SpamIndexMessage, 0, true, 0), 0);
  EXPECT_EQ(core::SendServiceCommand(core::ServerControl, 0x500, 0, false, 0), 0);  // nothing published
  ASSERT_TRUE(services.WaitForRecords(core::ServerSmtp, 2));
  const auto records = services.Records(core::ServerSmtp);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].bytes, fake::Words(0x1003, core::SpamIndexMessage, 0, 0));
  EXPECT_EQ(records[1].bytes, fake::Words(0x1000, 0x500, 5, 6));
}

// Publishes a pipe entry by hand, as a service that has gone away would have
// left it: its process id may name another process by now.
class StaleEntry {
 public:
  StaleEntry(const std::string& name, std::uintptr_t readValue, std::uintptr_t writeValue)
      : key_(core::PublishedPipeKey(name)), mutex_(::CreateMutexA(nullptr, FALSE, name.c_str())) {
    HKEY key = nullptr;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const std::uintptr_t values[] = {::GetCurrentProcessId(), readValue, writeValue};
    const char* names[] = {"PID", "HRP", "HWP"};
    for (int i = 0; i < 3; ++i) {
      char text[16];
      std::snprintf(text, sizeof(text), "%lX", static_cast<unsigned long>(values[i]));
      ::RegSetValueExA(key, names[i], 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>(std::strlen(text) + 1));
    }
    ::RegCloseKey(key);
  }
  ~StaleEntry() { ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_.c_str()); }

 private:
  std::string key_;
  core::UniqueHandle mutex_;
};

TEST_F(LegacyChannel, StaleEntryNamingOtherHandlesIsNotWrittenTo) {
  // Handles of this process with the published values, that are files.
  char folder[MAX_PATH + 1] = {};
  ::GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + "vm-control-stale-" + std::to_string(::GetCurrentProcessId());
  const core::UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(file.valid());
  const auto value = reinterpret_cast<std::uintptr_t>(file.get());
  const std::string name = core::GetServicePipeName(core::ServerCalendaring);
  for (const bool wantReply : {false, true}) {
    StaleEntry entry(name, value, value);
    EXPECT_EQ(core::SendServiceCommand(core::ServerCalendaring, 0x500, 0, wantReply, 0), 0);
  }
  {
    StaleEntry entry(name, 0, value);  // a zero value means nothing published
    EXPECT_EQ(core::SendServiceCommand(core::ServerCalendaring, 0x500, 0, false, 0), 0);
  }
  LARGE_INTEGER size{};
  ::GetFileSizeEx(file.get(), &size);
  EXPECT_EQ(size.QuadPart, 0);
}

}  // namespace
