// Instant messages under Wine, through the IMMessage class: the recipient's
// store found through the configuration (installations written by
// im_files.py from the record layouts alone), the element appended to
// "Pending.dat", the notice to fake instant-messaging services, storage
// mode 2 on the stand-in back end, and writers in four processes at once.
// Each case leaves its stores and the messages it stored in out\ for the
// XML oracle (im_files.py check).
#include "sender/com/IMMessage.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/db/DbLibrary.h"
#include "core/platform/Files.h"
#include "core/platform/System.h"
#include "core/platform/TextConversion.h"
#include "sender/config/SendingConfig.h"
#include "sender/im/ImStore.h"
#include "tests/sender/config/SenderFixture.h"
#include "tests/support/db_standin/StandinControl.h"
#include "tests/support/fake_services.h"
#include "tests/support/installation.h"

namespace {

using sender::ImFields;
using senderfix::RegistryValue;
using testinst::ReadAll;
using testinst::WriteAll;

std::string Made() { return testinst::HostPath(std::getenv("VM_IM_FILES")) + "\\"; }
std::string Files() { return Made() + "files\\"; }
std::string Mode2() { return Made() + "mode2\\"; }
std::string Box(const std::string& name) { return Files() + "mail\\" + name + "\\~IM\\"; }
std::string Mode2Box() { return Mode2() + "mail\\~IM\\"; }
const std::string AllBoxes[] = {Box("a.test\\ann"), Box("a.test\\team"), Box("a.test\\jose"), Box("b.test\\carl"),
                                Mode2Box()};

core::UniqueBstr Bstr(std::u16string_view text) {
  return core::UniqueBstr(
      ::SysAllocStringLen(reinterpret_cast<const wchar_t*>(text.data()), static_cast<UINT>(text.size())));
}

// One IMMessage, called through its interface as a client in the process.
class Message {
 public:
  Message() {
    void* out = nullptr;
    EXPECT_EQ(core::CreateComObject<sender::IMMessage>(IID_IIMMessage, &out), S_OK);
    im_ = static_cast<IIMMessage*>(out);
  }
  ~Message() { im_->Release(); }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;

  bool Loaded() const { return static_cast<sender::IMMessage*>(im_)->Loaded(); }
  IIMMessage* operator->() const { return im_; }

  void Set(const ImFields& f) const {
    EXPECT_EQ(im_->Reset(), S_OK);
    EXPECT_EQ(im_->put_MessageTag(Bstr(f.tag).get()), S_OK);
    EXPECT_EQ(im_->put_MessageBody(Bstr(f.body).get()), S_OK);
    EXPECT_EQ(im_->put_MessageFrom(Bstr(f.from).get()), S_OK);
    EXPECT_EQ(im_->put_MessageTo(Bstr(f.to).get()), S_OK);
    EXPECT_EQ(im_->put_MessageSubject(Bstr(f.subject).get()), S_OK);
    EXPECT_EQ(im_->put_MessageType(Bstr(f.type).get()), S_OK);
    for (const auto& [name, value] : f.attributes)
      EXPECT_EQ(im_->AddAttribute(Bstr(name).get(), Bstr(value).get()), S_OK);
    if (!f.raw.empty()) {
      EXPECT_EQ(im_->AddTag(Bstr(f.raw).get()), S_OK);
    }
  }
  bool Send() const {
    VARIANT_BOOL result = 1;
    EXPECT_EQ(im_->SendMessage(&result), S_OK);
    return result == VARIANT_TRUE;
  }
  bool Online(std::u16string_view address) const {
    VARIANT_BOOL result = 1;
    EXPECT_EQ(im_->IsOnline(Bstr(address).get(), &result), S_OK);
    return result == VARIANT_TRUE;
  }

 private:
  IIMMessage* im_ = nullptr;
};

std::string Json(std::u16string_view text) {
  std::string out = "\"";
  char escape[8];
  for (const char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\"";
}

std::string Json(const ImFields& f) {
  std::string attrs;
  for (const auto& [name, value] : f.attributes)
    attrs += std::string(attrs.empty() ? "" : ", ") + "[" + Json(name) + ", " + Json(value) + "]";
  return "{\"tag\": " + Json(f.tag) + ", \"from\": " + Json(f.from) + ", \"to\": " + Json(f.to) +
         ", \"type\": " + Json(f.type) + ", \"subject\": " + Json(f.subject) + ", \"body\": " + Json(f.body) +
         ", \"raw\": " + Json(f.raw) + ", \"attrs\": [" + attrs + "]}";
}

// The element with its stamp made fixed, for comparisons.
std::string Unstamped(const std::string& xml) {
  static const std::regex stamp("stamp='[0-9]{8}T[0-9]{2}:[0-9]{2}:[0-9]{2}'");
  return std::regex_replace(xml, stamp, "stamp='S'");
}

// A write that stops after one byte, failing.
BOOL WINAPI WriteOneByteThenFail(HANDLE file, const void* data, DWORD, DWORD* written, OVERLAPPED*) {
  ::WriteFile(file, data, 1, written, nullptr);
  return FALSE;
}

// A fake instant-messaging service.
fake::FakeSetup InstantMessaging(fake::FakeMode mode = fake::FakeMode::Service, bool window = false) {
  fake::FakeSetup setup;
  setup.index = core::ServerInstantMessaging;
  setup.mode = mode;
  setup.window = window;
  return setup;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

class ImStore : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { senderfix::StartSendingLibrary(); }
  void SetUp() override {
    for (const std::string& box : AllBoxes) {
      ::DeleteFileA((box + "Pending.dat").c_str());
      ::DeleteFileA((box + "Last.dat").c_str());
    }
  }
  // What this case stored goes to out\<case>-<n>\ for the oracle.
  void TearDown() override {
    sender::SetPendingWriteForTesting(nullptr);
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    int n = 0;
    for (const auto& [box, messages] : expected_) {
      const std::string folder = Made() + "out\\" + name + "-" + std::to_string(++n) + "\\";
      ::CreateDirectoryA(folder.c_str(), nullptr);
      ::CopyFileA((box + "Pending.dat").c_str(), (folder + "Pending.dat").c_str(), FALSE);
      std::string json;
      for (const ImFields& f : messages)
        json += (json.empty() ? "" : ",\n") + Json(f);
      json = "[" + json + "]";
      if (unordered_) json = "{\"unordered\": true, \"messages\": " + json + "}";
      WriteAll(folder + "expect.json", json);
    }
  }

  // Sends the fields from m; what was stored is expected in box.
  bool Send(const Message& m, const std::string& box, const ImFields& f) {
    m.Set(f);
    const bool sent = m.Send();
    if (sent) expected_[box].push_back(f);
    return sent;
  }
  void Expect(const std::string& box, const ImFields& f) { expected_[box].push_back(f); }

  std::string root = Files();
  RegistryValue installDir{sender::SendingInstallKey, sender::InstallDirValue, &root};
  std::map<std::string, std::vector<ImFields>> expected_;
  bool unordered_ = false;
};

const std::string Ann = Box("a.test\\ann");
constexpr const char16_t* AnnAddress = u"ann@a.test";

// The element as the store receives it, byte for byte; the stamp is the
// local time of the send.
TEST_F(ImStore, TheElementIsStoredByteForByte) {
  WriteAll(Ann + "Last.dat", "0\r\n");
  const Message m;
  ASSERT_TRUE(m.Loaded());
  SYSTEMTIME before{};
  ::GetLocalTime(&before);
  ASSERT_TRUE(Send(m, Ann,
                   {.raw = u"ab",
                    .body = u"a<b&c \u00E9",
                    .from = u"F",
                    .to = AnnAddress,
                    .attributes = {{u"id", u""}, {u"v", std::u16string(300, u'v')}}}));
  const std::string stored = ReadAll(Ann + "Pending.dat");
  EXPECT_EQ(Unstamped(stored), "<message from='F' to='ann@a.test' v='" + std::string(255, 'v') +
                                   "'><body>a&lt;b&amp;c \xC3\xA9</body>ab<x from='F' stamp='S' "
                                   "xmlns='jabber:x:delay'/></message>");
  EXPECT_FALSE(m.Online(AnnAddress));
  // The stamp is the local time.
  const std::size_t at = stored.find("stamp='") + 7;
  SYSTEMTIME stamp{};
  ASSERT_EQ(std::sscanf(stored.c_str() + at, "%4hu%2hu%2huT%2hu:%2hu:%2hu", &stamp.wYear, &stamp.wMonth, &stamp.wDay,
                        &stamp.wHour, &stamp.wMinute, &stamp.wSecond),
            6);
  FILETIME a{}, b{};
  ASSERT_TRUE(::SystemTimeToFileTime(&before, &a) && ::SystemTimeToFileTime(&stamp, &b));
  const auto seconds = [](FILETIME t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000000;
  };
  EXPECT_LE(seconds(a), seconds(b) + 1);
  EXPECT_LE(seconds(b), seconds(a) + 120);
}

// A message whose names or raw text would make the store unreadable is
// refused whole; the getters answer what was set, also after a refusal,
// and Reset keeps the object loaded.
TEST_F(ImStore, RefusalsWriteAndSendNothing) {
  fake::FakeServiceSet fakes("Tolum");
  ASSERT_TRUE(fakes.Add(InstantMessaging())) << fakes.Error();
  WriteAll(Ann + "Last.dat", "17");
  const Message m;
  ASSERT_TRUE(Send(m, Ann, {.to = AnnAddress}));
  ASSERT_TRUE(fakes.WaitForRecords(core::ServerInstantMessaging, 1));
  const std::string stored = ReadAll(Ann + "Pending.dat");
  const ImFields refused[] = {
      {.tag = u"a b", .to = AnnAddress},
      {.raw = u"<a>", .to = AnnAddress},
  };
  for (const ImFields& f : refused)
    EXPECT_FALSE(Send(m, Ann, f)) << Json(f);
  EXPECT_EQ(ReadAll(Ann + "Pending.dat"), stored);
  ::Sleep(500);
  EXPECT_EQ(fakes.Records(core::ServerInstantMessaging).size(), 1u);

  const std::u16string odd(u"a\0b\xD800\U0001F600", 6);
  EXPECT_EQ(m->put_MessageBody(Bstr(odd).get()), S_OK);
  BSTR body = nullptr;
  ASSERT_EQ(m->get_MessageBody(&body), S_OK);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(body), ::SysStringLen(body)), odd);
  ::SysFreeString(body);
  EXPECT_EQ(m->Reset(), S_OK);
  ASSERT_EQ(m->get_MessageBody(&body), S_OK);
  EXPECT_EQ(::SysStringLen(body), 0u);
  ::SysFreeString(body);
  EXPECT_EQ(m->SendMessage(nullptr), E_POINTER);
  EXPECT_TRUE(Send(m, Ann, {.body = u"after Reset", .to = AnnAddress}));
}

// The notice {0x1000, 0x501, number, 0} reaches the Tolum instant-messaging
// service over its pipe while the manager or its window says it runs, as a
// window message where there are no named pipes, and nowhere else.
TEST_F(ImStore, TheServiceIsToldOfOnlineRecipients) {
  const Message m;
  const ImFields hello{.body = u"hello", .to = AnnAddress};
  {
    fake::FakeServiceSet fakes("Tolum");
    ASSERT_TRUE(fakes.Add(InstantMessaging())) << fakes.Error();
    WriteAll(Ann + "Last.dat", "17\r\nmore");
    EXPECT_TRUE(m.Online(AnnAddress));
    ASSERT_TRUE(Send(m, Ann, hello));
    ASSERT_TRUE(fakes.WaitForRecords(core::ServerInstantMessaging, 1));
    const fake::LogRecord notice = fakes.Records(core::ServerInstantMessaging).at(0);
    EXPECT_EQ(notice.kind, 'P');
    EXPECT_EQ(fake::ToHex(notice.bytes), "00100000010500001100000000000000");

    WriteAll(Ann + "Last.dat", "0");  // offline: stored, not told
    EXPECT_FALSE(m.Online(AnnAddress));
    ASSERT_TRUE(Send(m, Ann, hello));
    WriteAll(Ann + "Last.dat", "17");
    {
      // Unreadable: offline, and the message is stored all the same.
      const core::UniqueHandle held(::CreateFileA((Ann + "Last.dat").c_str(), GENERIC_READ, FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held);
      EXPECT_FALSE(m.Online(AnnAddress));
      ASSERT_TRUE(Send(m, Ann, hello));
    }
    // A write that fails after one byte leaves the file as it was, untold.
    const std::string before = ReadAll(Ann + "Pending.dat");
    sender::SetPendingWriteForTesting(&WriteOneByteThenFail);
    EXPECT_FALSE(Send(m, Ann, hello));
    sender::SetPendingWriteForTesting(nullptr);
    EXPECT_EQ(ReadAll(Ann + "Pending.dat"), before);
    // "Pending.dat" that cannot be opened: false, and told all the same.
    const std::string jose = Box("a.test\\jose");
    WriteAll(jose + "Last.dat", "9");
    {
      const core::UniqueHandle held(
          ::CreateFileA((jose + "Pending.dat").c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      ASSERT_TRUE(held);
      EXPECT_FALSE(Send(m, jose, {.to = u"jos\u00E9@a.test"}));
    }
    EXPECT_EQ(ReadAll(jose + "Pending.dat"), "");
    ASSERT_TRUE(fakes.WaitForRecords(core::ServerInstantMessaging, 2));
    ::Sleep(500);
    const auto records = fakes.Records(core::ServerInstantMessaging);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].WParam(), 9u);
  }
  {
    // Stopped in the manager, but its window is up: the pipe is used.
    fake::FakeServiceSet fakes("Tolum");
    ASSERT_TRUE(fakes.Add(InstantMessaging(fake::FakeMode::StoppedService, true))) << fakes.Error();
    ASSERT_TRUE(Send(m, Ann, hello));
    ASSERT_TRUE(fakes.WaitForRecords(core::ServerInstantMessaging, 1));
    EXPECT_EQ(fakes.Records(core::ServerInstantMessaging).at(0).kind, 'P');
  }
  {
    // Another family's service hears nothing; with no service at all the
    // message is stored and the send still answers true.
    fake::FakeServiceSet others("Parlinex");
    ASSERT_TRUE(others.Add(InstantMessaging())) << others.Error();
    ASSERT_TRUE(Send(m, Ann, hello));
    ::Sleep(500);
    EXPECT_TRUE(others.Records(core::ServerInstantMessaging).empty());
  }
  {
    // No named pipes: the window gets message 0x501 with wParam 17.
    core::SetWindowsNTOverride(0);
    fake::FakeServiceSet fakes("Tolum");
    ASSERT_TRUE(fakes.Add(InstantMessaging(fake::FakeMode::Legacy, true))) << fakes.Error();
    const bool sent = Send(m, Ann, hello);
    core::SetWindowsNTOverride(-1);
    ASSERT_TRUE(sent);
    const auto records = fakes.Records(core::ServerInstantMessaging);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 'W');
    EXPECT_EQ(records[0].bytes, fake::Words(0, core::InstantMessageNotice, 17, 0));
  }
}

// Which addresses find a store, and that nothing is written for the others.
TEST_F(ImStore, TheProbeFindsTheStoreOrAnswersFalse) {
  for (const char* name : {"a.test\\ann", "a.test\\team", "a.test\\jose"})
    WriteAll(Box(name) + "Last.dat", "3");
  const Message m;
  struct Row {
    std::u16string address;
    const char* box;  // nullptr: not found
  };
  const Row rows[] = {
      {u"ann@a.test", "a.test\\ann"},
      {u"\"ann:x\"@a.test", "a.test\\ann"},  // quoted: the text before the colon
      {u"\u00C4nne@A.TEST", "a.test\\ann"},  // a Latin-1 alias, through the ANSI code page
      {u"J\u00F6rg@a.test", "a.test\\jose"},
      {u"mary@a.test", "a.test\\team"},  // a member of the group the account lists
      {u"ann:x@a.test", nullptr},
      {u"nobody@a.test", nullptr},
      {u"ann@c.test", nullptr},   // not served
      {u"bob@a.test", nullptr},   // no "~IM\" folder
      {u"carl@b.test", nullptr},  // no "Last.dat"
      {u"long@a.test", nullptr},  // its path is 256 characters long; cut, it would name "Last.da"
      {u"ann\u4E00@a.test", nullptr},
      {std::u16string(u"ann\0@a.test", 11), nullptr},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(m.Online(row.address), row.box != nullptr) << Json(row.address);
    const ImFields f{.body = row.address, .to = row.address};
    EXPECT_EQ(Send(m, row.box != nullptr ? Box(row.box) : std::string(), f), row.box != nullptr) << Json(row.address);
  }
  EXPECT_FALSE(core::FileExists(Box("b.test\\carl") + "Pending.dat"));
  for (const std::string& folder : {Files() + "mail\\a.test\\bob\\", Files() + "mail\\"})
    EXPECT_FALSE(core::FileExists(folder + "Pending.dat"));

  // Without an installation the object is not loaded and touches nothing.
  RegistryValue none(sender::SendingInstallKey, sender::InstallDirValue, nullptr);
  const Message unloaded;
  EXPECT_FALSE(unloaded.Loaded());
  EXPECT_FALSE(unloaded.Online(AnnAddress));
  const std::string before = ReadAll(Ann + "Pending.dat");
  EXPECT_FALSE(Send(unloaded, Ann, {.to = AnnAddress}));
  EXPECT_EQ(ReadAll(Ann + "Pending.dat"), before);
}

// Storage mode 2: the back end stays while any object lives, and goes with
// the last one.
TEST_F(ImStore, TheBackEndGoesWithTheLastObject) {
  root = Mode2();
  RegistryValue mode2(sender::SendingInstallKey, sender::InstallDirValue, &root);
  WriteAll(Mode2Box() + "Last.dat", "5");
  auto first = std::make_unique<Message>();
  ASSERT_TRUE((*first).Loaded());
  ASSERT_TRUE(core::IsDBLoaded());
  const auto control = [&](const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA((root + "DB.dll").c_str()), name));
  };
  ASSERT_EQ(reinterpret_cast<standin::LoadFixtureProc>(control("StandinLoadFixture"))(
                "domain|example.com\naccount|example.com|john.doe;jd;mary|john|pw\n"),
            2);
  EXPECT_TRUE(first->Online(u"jd@example.com"));
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, asked{0};
  std::thread lookups([&] {
    while (!stop.load()) {
      if (!first->Online(u"JD@example.com")) ++wrong;
      ++asked;
    }
  });
  for (int i = 0; i < 5; ++i) {
    const Message second;
    EXPECT_TRUE(second.Online(u"jd@example.com"));
  }
  stop = true;
  lookups.join();
  EXPECT_EQ(wrong.load(), 0) << asked.load();
  ASSERT_TRUE(core::IsDBLoaded());
  // A new address reaches the back end itself.
  EXPECT_TRUE(first->Online(u"john.doe@example.com"));
  char addresses[512] = {};
  reinterpret_cast<standin::CallLogProc>(control("StandinLocalUserAddresses"))(addresses, sizeof addresses);
  EXPECT_NE(std::string(addresses).find("john.doe@example.com"), std::string::npos) << addresses;
  EXPECT_TRUE(Send(*first, Mode2Box(), {.body = u"database", .to = u"mary@example.com"}));
  first.reset();
  EXPECT_FALSE(core::IsDBLoaded());
  const Message again;
  EXPECT_TRUE(core::IsDBLoaded());
}

// Random UTF-16 in every field: each stored element parses, with each value
// its input less what XML forbids, cut (the oracle checks).
TEST_F(ImStore, GeneratedMessagesAllParse) {
  WriteAll(Ann + "Last.dat", "0");
  const std::u16string pieces[] = {u"a",      u"Z",      u"0",      u" ",      u"&",      u"<",      u">",
                                   u"\"",     u"'",      u"\u00E9", u"\u20AC", u"\u0080", u"\u009F", u"\u0085",
                                   u"\t",     u"\r",     u"\n",     u"\r\n",   u"\xD800", u"\xDFFF", u"\U0001F600",
                                   u"\uFFFD", u"\uFFFE", u"\uFFFF", u"]]>",    u"&amp;",  u"\u4E00"};
  std::mt19937 random(20240131);
  const auto text = [&](std::size_t most) {
    std::u16string out;
    const std::size_t length = random() % 4 == 0 ? 300 : random() % (most + 1);
    while (out.size() < length) {
      const unsigned pick = random() % 40;
      out +=
          pick < std::size(pieces) ? pieces[pick] : std::u16string(1, static_cast<char16_t>(pick - std::size(pieces)));
    }
    return out;
  };
  const char16_t* names[] = {u"id", u"xml:lang", u"n-1", u"_k", u"a.b"};
  const char16_t* raws[] = {u"", u"", u"<i a='&amp;'>x\u00E9</i>", u"tail &lt;", u"<!--c--><![CDATA[<&]]><?p d?>"};
  const Message m;
  for (int i = 0; i < 2000; ++i) {
    ImFields f{.tag = i % 3 == 0 ? u"msg" : u"",
               .raw = raws[i % 5],
               .body = text(40),
               .from = text(20),
               .to = AnnAddress,
               .subject = i % 2 == 0 ? text(20) : u"",
               .type = text(8)};
    for (std::size_t a = 0; a < random() % 4; ++a)
      f.attributes.emplace_back(names[a], text(30));
    ASSERT_TRUE(Send(m, Ann, f)) << i;
  }
}

// One object changed on one thread while another sends: every stored
// element is one of the two states, whole.
TEST_F(ImStore, FieldsChangeWhileSending) {
  WriteAll(Ann + "Last.dat", "0");
  const Message m;
  const ImFields one{.body = std::u16string(2000, u'1'), .to = AnnAddress},
      two{.body = std::u16string(3000, u'2'), .to = AnnAddress};
  m.Set(one);
  std::atomic<bool> stop{false};
  std::thread changer([&] {
    for (bool which = false; !stop.load(); which = !which)
      m->put_MessageBody(Bstr(which ? one.body : two.body).get());
  });
  int sent = 0;
  for (int i = 0; i < 200; ++i)
    sent += m.Send() ? 1 : 0;
  stop = true;
  changer.join();
  EXPECT_EQ(sent, 200);
  std::string a, b;
  ASSERT_EQ(sender::BuildPendingMessage(one, "S", a), sender::ImRefusal::None);
  ASSERT_EQ(sender::BuildPendingMessage(two, "S", b), sender::ImRefusal::None);
  std::string rest = Unstamped(ReadAll(Ann + "Pending.dat"));
  std::size_t elements = 0;
  while (!rest.empty() && (rest.starts_with(Unstamped(a)) || rest.starts_with(Unstamped(b)))) {
    rest.erase(0, (rest.starts_with(Unstamped(a)) ? Unstamped(a) : Unstamped(b)).size());
    ++elements;
  }
  EXPECT_EQ(elements, 200u);
  EXPECT_TRUE(rest.empty());
}

// 4 processes of 8 threads, 250 messages each, into one "Pending.dat": every
// message is there once, whole.
constexpr int Processes = 4, Threads = 8, PerThread = 250;

std::u16string WorkerBody(int process, int thread, int n) {
  const std::string id = "id-" + std::to_string(process) + "-" + std::to_string(thread) + "-" + std::to_string(n);
  return std::u16string(id.begin(), id.end()) + u" &<\u00E9";
}

TEST_F(ImStore, FourProcessesAppendEveryMessageOnce) {
  WriteAll(Ann + "Last.dat", "0");
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::vector<core::UniqueHandle> children;
  for (int p = 0; p < Processes; ++p) {
    ::SetEnvironmentVariableA("VM_IM_WORKER", std::to_string(p).c_str());
    std::string command = "\"" + std::string(self) + "\" --gtest_filter=ImWorker.Sends";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(
        ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    ::CloseHandle(info.hThread);
    children.emplace_back(info.hProcess);
  }
  ::SetEnvironmentVariableA("VM_IM_WORKER", nullptr);
  for (const core::UniqueHandle& child : children) {
    ASSERT_EQ(::WaitForSingleObject(child.get(), 600000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(child.get(), &code);
    EXPECT_EQ(code, 0u);
  }
  const std::string stored = ReadAll(Ann + "Pending.dat");
  EXPECT_EQ(Count(stored, "<body>"), static_cast<std::size_t>(Processes * Threads * PerThread));
  std::set<std::string> ids;
  for (std::size_t at = stored.find("<body>id-"); at != std::string::npos; at = stored.find("<body>id-", at + 1))
    ids.insert(stored.substr(at + 6, stored.find(' ', at) - at - 6));
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(Processes * Threads * PerThread));
  unordered_ = true;
  for (int p = 0; p < Processes; ++p)
    for (int t = 0; t < Threads; ++t)
      for (int n = 0; n < PerThread; ++n)
        Expect(Ann, {.body = WorkerBody(p, t, n), .from = u"worker", .to = AnnAddress});
}

// The child processes of the case above (skipped unless started by it).
TEST(ImWorker, Sends) {
  const char* worker = std::getenv("VM_IM_WORKER");
  if (worker == nullptr) GTEST_SKIP() << "started by FourProcessesAppendEveryMessageOnce";
  senderfix::StartSendingLibrary();
  const int process = std::atoi(worker);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t) {
    threads.emplace_back([&, t] {
      const Message m;
      for (int n = 0; n < PerThread; ++n) {
        m.Set({.body = WorkerBody(process, t, n), .from = u"worker", .to = AnnAddress});
        if (!m.Send()) ++failed;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(failed.load(), 0);
}

}  // namespace
