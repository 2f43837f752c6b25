// The built Tavisheen.dll loaded as an installer loads it. Under Wine the
// LSA stores no rights, so only the answers are checked here; the grant's
// arguments are checked over fake tables.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "include/Tavisheen.h"

namespace {

class TavisheenDll : public testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("VM_TAVISHEEN_DLL");
    ASSERT_NE(path, nullptr);
    module_ = LoadLibraryA(path);
    ASSERT_NE(module_, nullptr);
    byName_ = Bind("AddLogonAsService");
    byOrdinal_ = Bind(MAKEINTRESOURCEA(1));
    ASSERT_NE(byName_, nullptr);
    ASSERT_EQ(byName_, byOrdinal_);
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  AddLogonAsServiceFunction Bind(const char* name) const {
    return reinterpret_cast<AddLogonAsServiceFunction>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }

  HMODULE module_ = nullptr;
  AddLogonAsServiceFunction byName_ = nullptr;
  AddLogonAsServiceFunction byOrdinal_ = nullptr;
};

std::string CurrentUser() {
  char name[256] = {};
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) ? name : "";
}

#if defined(__i386__)
// Calls through a cdecl pointer and answers how far ESP moved across the
// call and the caller's own clean-up: 0 for cdecl, 8 for a callee that
// removed its two arguments itself.
long EspMovement(AddLogonAsServiceFunction function, const char* account, char* message, int32_t& result) {
  long moved = 0;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %[message]\n\t"
      "pushl %[account]\n\t"
      "call *%[function]\n\t"
      "addl $8, %%esp\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%esi, %%ecx\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(result), "=c"(moved), [message] "+d"(message)
      : [function] "b"(function), [account] "D"(account)
      : "esi", "memory", "cc");
  return moved;
}
#endif

TEST_F(TavisheenDll, AnswersForKnownAndUnknownNames) {
  const std::string user = CurrentUser();
  ASSERT_FALSE(user.empty());
  const std::string noSid = "1332 = Could not retrieve a security identifier (SID)";
  const struct {
    std::string account;
    int32_t result;
    std::string message;
  } rows[] = {
      {user, 0, ""},
      {"Administrators", 0, ""},
      {"no-such-user-7f3a", 1, noSid},
      {"", 1, noSid},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.account);
    for (AddLogonAsServiceFunction function : {byName_, byOrdinal_}) {
      char message[TAVISHEEN_MESSAGE_SIZE];
      std::memset(message, 0xCC, sizeof message);
      EXPECT_EQ(function(row.account.c_str(), message), row.result);
      EXPECT_EQ(std::string(message), row.message);
    }
#if defined(__i386__)
    char message[TAVISHEEN_MESSAGE_SIZE];
    int32_t result = -99;
    EXPECT_EQ(EspMovement(byName_, row.account.c_str(), message, result), 0);
    EXPECT_EQ(result, row.result);
#endif
  }
}

// Every call loads and frees advapi32 and opens and closes a policy.
TEST_F(TavisheenDll, TenThousandCallsKeepTheHandleCount) {
  const std::string user = CurrentUser();
  DWORD before = 0, after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  const auto start = std::chrono::steady_clock::now();
  char message[TAVISHEEN_MESSAGE_SIZE];
  for (int i = 0; i < 10000; ++i)
    ASSERT_EQ(byName_(i % 2 == 0 ? user.c_str() : "no-such-user-7f3a", message), i % 2 == 0 ? 0 : 1);
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_LE(after, before + 5);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
