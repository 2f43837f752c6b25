// The session's notices reach real (fake) services over their pipes.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "api/Session.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "include/Api.h"
#include "tests/api/ExportSession.h"
#include "tests/api/Fixture.h"
#include "tests/support/fake_services.h"

namespace {

const auto* const registered = ::testing::AddGlobalTestEnvironment(new fixture::CoreUnits);

std::vector<std::uint32_t> Messages(const fake::FakeServiceSet& fakes, int index) {
  std::vector<std::uint32_t> out;
  for (const auto& record : fakes.Records(index))
    out.push_back(record.Message());
  return out;
}

TEST(Notices, UpdateConfigurationReachesTheFiveServicesInOrder) {
  fake::FakeServiceSet fakes;
  ASSERT_TRUE(fakes.AddRunning({0, 1, 2, 3, 4})) << fakes.Error();
  UpdateConfiguration();
  std::vector<std::pair<std::uint64_t, int>> arrivals;
  for (int index : {0, 1, 2, 3, 4}) {
    ASSERT_TRUE(fakes.WaitForRecords(index, 1)) << index;
    auto records = fakes.Records(index);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Command(), 0x1000u);
    EXPECT_EQ(records[0].Message(), 0x500u);
    EXPECT_EQ(records[0].bytes.size(), 16u);
    arrivals.emplace_back(records[0].time, index);
  }
  std::sort(arrivals.begin(), arrivals.end());
  std::vector<int> order;
  for (auto& a : arrivals)
    order.push_back(a.second);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 4, 3}));
}

TEST(Notices, DoneNotifiesOnlyAfterAChange) {
  fixture::TempInstall install("done");
  fixture::WriteSettings(install.config(), fixture::SettingsFile());
  fake::FakeServiceSet fakes;
  ASSERT_TRUE(fakes.AddRunning({0, 2})) << fakes.Error();
  ASSERT_EQ(Init(install.root().c_str()), 0);
  Done();
  Sleep(200);
  EXPECT_TRUE(fakes.Records(0).empty());

  std::uint8_t on = 1;
  ASSERT_EQ(SetConfigSetting(15, &on, 1), 0);
  Done();
  ASSERT_TRUE(fakes.WaitForRecords(0, 1));
  EXPECT_EQ(Messages(fakes, 0), (std::vector<std::uint32_t>{0x500}));
}

TEST(Notices, ReloadServicesAnswersWhetherTheControlServiceGotIt) {
  {
    fake::FakeServiceSet fakes;
    ASSERT_TRUE(fakes.AddRunning({2})) << fakes.Error();
    EXPECT_EQ(ReloadServices(), 1);
    ASSERT_TRUE(fakes.WaitForRecords(2, 1));
    EXPECT_EQ(Messages(fakes, 2), (std::vector<std::uint32_t>{0x513}));
  }
  EXPECT_EQ(ReloadServices(), 0);
}

}  // namespace
