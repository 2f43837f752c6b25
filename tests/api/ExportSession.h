#pragma once
// What the export test programs share around an installation: the units
// they start themselves and an initialised session.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "api/Session.h"
#include "core/control/ServiceControl.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "include/Api.h"
#include "tests/api/Fixture.h"
#include "tests/support/installation.h"

namespace fixture {

// The units a test program of the exports starts itself, as the library's
// load would: the lock table and the platform unit.
class CoreUnits : public ::testing::Environment {
 public:
  void SetUp() override {
    core::CreateLockTable(true);
    core::InitPlatformUnit();
  }
};

// The library's units started as its load does, with notices to the
// services answered as sent and never delivered.
class QuietLibrary : public ::testing::Environment {
 public:
  void SetUp() override {
    testinst::StartLibraryProcess();
    static Silent notifier;
    api::SetSessionNotifier(&notifier);
  }

 private:
  struct Silent : core::ServiceNotifier {
    int Notify(int, std::uint32_t, std::uint32_t, std::uint32_t) override { return 1; }
  };
};

// An installation with its mail folder under the root, initialised.
struct MailSession {
  explicit MailSession(const std::string& tag) : install(tag) {
    SettingsFile settings;
    settings.Text(settings::MailFolder, mail);
    WriteSettings(install.config(), settings);
    EXPECT_EQ(Init(install.root().c_str()), 0);
  }
  TempInstall install;
  std::string mail = install.root() + "mail\\";
};

}  // namespace fixture
