// The grant over scripted tables: each fake answers as the row says and
// records how it was called. Status codes map through the system's own
// LsaNtStatusToWinError, texts through the real FormatMessageA.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>

#include "installer/tavisheen/LogonRight.h"

namespace {

struct Script {
  NTSTATUS open = 0;
  BOOL found = TRUE;
  DWORD lookupError = 0;
  SID_NAME_USE use = SidTypeUser;
  bool lookupThrows = false;
  NTSTATUS add = 0;
};

Script script;
std::string called;  // one letter per call: Open, Lookup, Add, Close, Status
PSID lookedUpSid = nullptr;
const LSA_HANDLE kHandle = reinterpret_cast<LSA_HANDLE>(static_cast<std::uintptr_t>(0x5A5A));
// S-1-5-32-544.
const BYTE kSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

const tavisheen::LsaCalls& SystemCalls() {
  static const tavisheen::ResolvedLsaCalls resolved;
  return resolved.calls();
}

// The fakes check their arguments as they are called.
BOOL WINAPI FakeLookup(LPCSTR system, LPCSTR, PSID sid, LPDWORD sidSize, LPSTR domain, LPDWORD domainSize,
                       PSID_NAME_USE use) {
  called += 'L';
  EXPECT_EQ(system, nullptr);
  EXPECT_EQ(*sidSize, 1024u);
  EXPECT_EQ(*domainSize, 1024u);
  if (script.lookupThrows) throw std::runtime_error("scripted");
  if (!script.found) {
    SetLastError(script.lookupError);
    return FALSE;
  }
  std::memcpy(sid, kSid, sizeof kSid);
  *sidSize = sizeof kSid;
  std::strcpy(domain, "BUILTIN");
  *domainSize = 7;
  *use = script.use;
  lookedUpSid = sid;
  return TRUE;
}

NTSTATUS NTAPI FakeOpen(PLSA_UNICODE_STRING system, PLSA_OBJECT_ATTRIBUTES attributes, ACCESS_MASK access,
                        PLSA_HANDLE handle) {
  called += 'O';
  LSA_OBJECT_ATTRIBUTES zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(system, nullptr);
  EXPECT_EQ(std::memcmp(attributes, &zero, sizeof zero), 0);
  EXPECT_EQ(access, 0x000F0FFFu);
  if (script.open == 0) *handle = kHandle;
  return script.open;
}

NTSTATUS NTAPI FakeAdd(LSA_HANDLE handle, PSID sid, PLSA_UNICODE_STRING rights, ULONG count) {
  called += 'A';
  EXPECT_EQ(handle, kHandle);
  EXPECT_EQ(sid, lookedUpSid);
  EXPECT_EQ(std::memcmp(sid, kSid, sizeof kSid), 0);
  EXPECT_EQ(rights->Length, 38);
  EXPECT_EQ(rights->MaximumLength, 40);
  EXPECT_EQ(std::wstring(rights->Buffer, 20), std::wstring(L"SeServiceLogonRight", 20));  // with its zero
  EXPECT_EQ(count, 1u);
  return script.add;
}

NTSTATUS NTAPI FakeClose(LSA_HANDLE handle) {
  called += 'C';
  EXPECT_EQ(handle, kHandle);
  return 0;
}

ULONG NTAPI FakeStatus(NTSTATUS status) {
  called += 'S';
  return SystemCalls().statusToWinError(status);
}

tavisheen::LsaCalls Fakes(int missing = -1) {
  tavisheen::LsaCalls calls{&FakeLookup, &FakeOpen, &FakeAdd, &FakeClose, &FakeStatus};
  if (missing == 0) calls.lookupAccountName = nullptr;
  if (missing == 1) calls.openPolicy = nullptr;
  if (missing == 2) calls.addAccountRights = nullptr;
  if (missing == 3) calls.close = nullptr;
  if (missing == 4) calls.statusToWinError = nullptr;
  return calls;
}

// The caller's 256 bytes, pre-filled, and a canary behind them.
struct Buffer {
  std::array<unsigned char, 256 + 8> bytes;
  Buffer() {
    bytes.fill(0xCC);
    std::memcpy(bytes.data() + 256, "CANARY!!", 8);
  }
  char* text() { return reinterpret_cast<char*>(bytes.data()); }
  // Only the text and its zero were written.
  bool untouchedAfterText() const {
    const std::size_t end = std::strlen(reinterpret_cast<const char*>(bytes.data())) + 1;
    for (std::size_t i = end; i < 256; ++i)
      if (bytes[i] != 0xCC) return false;
    return std::memcmp(bytes.data() + 256, "CANARY!!", 8) == 0;
  }
};

const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
const NTSTATUS kNoSuchPrivilege = static_cast<NTSTATUS>(0xC0000060);
const char kNoSid[] = "1332 = Could not retrieve a security identifier (SID)";
const char kOpenRefused[] =
    "[Halvercot] [Qrn Library] 5 - Could not open a handle to the Policy object on a local or remote system";
const char kNotAssigned[] = "[Halvercot] [Qrn Library] 1313 - Could not assign one or more privileges to an account";
const char kUnknown[] = "[Halvercot] [Qrn Library] -1 - Unknown Exception";

TEST(AddLogonAsService, AnswersAndCallsFollowTheScript) {
  const struct {
    const char* what;
    Script script;
    const char* account;
    int missing;
    std::int32_t result;
    const char* message;
    const char* calls;
  } rows[] = {
      {"granted", {}, "svc-mail", -1, 0, "", "OLAC"},
      {"an alias is an account", {.use = SidTypeAlias}, "Administrators", -1, 0, "", "OLAC"},
      {"open refused", {.open = kAccessDenied}, "svc-mail", -1, 2, kOpenRefused, "OS"},
      {"no such privilege", {.add = kNoSuchPrivilege}, "svc-mail", -1, 2, kNotAssigned, "OLASC"},
      {"unknown name", {.found = FALSE, .lookupError = 1332}, "no-such-user", -1, 1, kNoSid, "OLC"},
      {"buffers too small",
       {.found = FALSE, .lookupError = ERROR_INSUFFICIENT_BUFFER},
       "svc-mail",
       -1,
       1,
       "122 = Could not retrieve a security identifier (SID)",
       "OLC"},
      {"a domain is no account", {.use = SidTypeDomain}, "BUILTIN", -1, 1, kNoSid, "OLC"},
      {"look-up throws", {.lookupThrows = true}, "svc-mail", -1, 2, kUnknown, "OLC"},
      {"null account", {}, nullptr, -1, 1, kNoSid, ""},
      {"empty account", {}, "", -1, 1, kNoSid, ""},
      {"no LookupAccountNameA", {}, "svc-mail", 0, 1, "", ""},
      {"no LsaOpenPolicy", {}, "svc-mail", 1, 1, "", ""},
      {"no LsaAddAccountRights", {}, "svc-mail", 2, 1, "", ""},
      {"no LsaClose", {}, "svc-mail", 3, 1, "", ""},
      {"no LsaNtStatusToWinError", {}, "svc-mail", 4, 1, "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    script = row.script;
    called.clear();
    Buffer buffer;
    EXPECT_EQ(tavisheen::AddLogonAsService(Fakes(row.missing), row.account, buffer.text()), row.result);
    EXPECT_STREQ(buffer.text(), row.message);
    EXPECT_TRUE(buffer.untouchedAfterText());
    EXPECT_EQ(called, row.calls);
    // Without a message buffer the same answer.
    EXPECT_EQ(tavisheen::AddLogonAsService(Fakes(row.missing), row.account, nullptr), row.result);
  }
}

// Blocks in use on the heap the system's text buffers come from.
std::size_t BusyProcessHeapBlocks() {
  std::size_t busy = 0;
  PROCESS_HEAP_ENTRY entry;
  entry.lpData = nullptr;
  HeapLock(GetProcessHeap());
  while (HeapWalk(GetProcessHeap(), &entry))
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) ++busy;
  HeapUnlock(GetProcessHeap());
  return busy;
}

// The exception holds its own copy of the system's text: the system's buffer
// is gone while the exception lives, and a copied exception frees nothing
// twice, however often the refused open is answered.
TEST(AddLogonAsService, ARefusedOpenAThousandTimesLeavesTheHeapSound) {
  script = Script();
  script.open = kAccessDenied;
  { const tavisheen::LsaException warmUp(Fakes(), script.open, tavisheen::kOpenPolicyText); }
  const std::size_t busy = BusyProcessHeapBlocks();
  const tavisheen::LsaException failure(Fakes(), script.open, tavisheen::kOpenPolicyText);
  EXPECT_EQ(BusyProcessHeapBlocks(), busy);
  const tavisheen::LsaException copy = failure;
  EXPECT_EQ(copy.code(), 5);
  EXPECT_FALSE(copy.systemText().empty());
  EXPECT_EQ(copy.systemText(), failure.systemText());

  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) {
    Buffer buffer;
    ASSERT_EQ(tavisheen::AddLogonAsService(Fakes(), "svc-mail", buffer.text()), 2);
    ASSERT_EQ(std::strncmp(buffer.text(), "[Halvercot] [Qrn Library] 5 - ", 30), 0);
  }
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
