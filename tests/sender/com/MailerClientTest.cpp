// A C++ client of the Mailer class on the generated header, the objects
// taken from VelmoraCOM.dll's class factory: properties, lists and Reset;
// every result of SendMail against the peers of run_with_peers.sh (aiosmtpd,
// a closed port, a scripted server that must see no connection); sixteen
// threads with a Mailer each.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "VelmoraCOM.h"
#include "tests/sender/net/PeerPorts.h"
#include "tests/sender/net/PeerReport.h"
#include "tests/support/com_text.h"

namespace {

using testing_support::Bstr;
using testing_support::Take;
using testing_support::Wide;

namespace fs = std::filesystem;
using sender_tests::Ask;
using sender_tests::Deliveries;
using sender_tests::PeerPort;

IClassFactory* g_factory = nullptr;

class Library : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    const std::string path = std::string("Z:") + std::getenv("VM_VELMORA_DLL");
    HMODULE dll = LoadLibraryA(path.c_str());
    ASSERT_NE(dll, nullptr);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    ASSERT_EQ(get(CLSID_Mailer, IID_IClassFactory, reinterpret_cast<void**>(&g_factory)), S_OK);
  }
  void TearDown() override { g_factory->Release(); }
};
const auto* const g_library = ::testing::AddGlobalTestEnvironment(new Library);

// A Mailer with the calls a test needs, each checked for S_OK.
class Mailer {
 public:
  Mailer() { EXPECT_EQ(g_factory->CreateInstance(nullptr, IID_IMailer, reinterpret_cast<void**>(&m_)), S_OK); }
  ~Mailer() { m_->Release(); }
  Mailer(const Mailer&) = delete;
  Mailer& operator=(const Mailer&) = delete;
  IMailer* operator->() { return m_; }

  using Put = HRESULT (STDMETHODCALLTYPE IMailer::*)(BSTR);
  using Get = HRESULT (STDMETHODCALLTYPE IMailer::*)(BSTR*);
  using Pair = HRESULT (STDMETHODCALLTYPE IMailer::*)(BSTR, BSTR);
  Mailer& Set(Put put, const std::wstring& value) {
    Bstr text(value);
    EXPECT_EQ((m_->*put)(text.value), S_OK);
    return *this;
  }
  std::wstring Text(Get get) {
    BSTR value = nullptr;
    EXPECT_EQ((m_->*get)(&value), S_OK);
    return Take(value);
  }
  Mailer& Add(Pair add, const std::wstring& email, const std::wstring& name = L"") {
    Bstr a(email), b(name);
    EXPECT_EQ((m_->*add)(a.value, b.value), S_OK);
    return *this;
  }
  Mailer& Attach(const std::wstring& file) {
    Bstr name(file);
    EXPECT_EQ(m_->AddAttachment(name.value), S_OK);
    return *this;
  }
  // Result, after checking SendMail's answer against it.
  LONG Send() {
    VARIANT_BOOL sent = VARIANT_FALSE;
    EXPECT_EQ(m_->SendMail(&sent), S_OK);
    LONG result = 0;
    EXPECT_EQ(m_->get_Result(&result), S_OK);
    EXPECT_EQ(sent != VARIANT_FALSE, result >= 0);
    return result;
  }

 private:
  IMailer* m_ = nullptr;
};

std::wstring Server(const char* peer, const char* host = "127.0.0.1") {
  return Wide(host) + L":" + std::to_wstring(PeerPort(peer));
}

fs::path Work() {
  const fs::path work = fs::temp_directory_path() / ("mailer-client-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(work);
  return work;
}

TEST(MailerObject, PropertiesListsAndReset) {
  Mailer m;
  EXPECT_EQ(m.Text(&IMailer::get_RemoteHost), L"localhost");
  LONG result = 7;
  VARIANT_BOOL html = VARIANT_TRUE;
  EXPECT_EQ(m->get_Result(&result), S_OK);
  EXPECT_EQ(m->get_IsHTML(&html), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(html, VARIANT_FALSE);

  // Texts come back as they were put (the body unstuffed, line breaks kept).
  const std::pair<Mailer::Put, Mailer::Get> texts[] = {
      {&IMailer::put_RemoteHost, &IMailer::get_RemoteHost},
      {&IMailer::put_FromAddress, &IMailer::get_FromAddress},
      {&IMailer::put_FromName, &IMailer::get_FromName},
      {&IMailer::put_BodyText, &IMailer::get_BodyText},
      {&IMailer::put_Subject, &IMailer::get_Subject},
      {&IMailer::put_Recipients, &IMailer::get_Recipients},
      {&IMailer::put_MailFrom, &IMailer::get_MailFrom},
      {&IMailer::put_Charset, &IMailer::get_Charset},
      {&IMailer::put_Helo, &IMailer::get_Helo},
      {&IMailer::put_ContentTransferEncoding, &IMailer::get_ContentTransferEncoding},
  };
  for (const auto& [put, get] : texts) {
    m.Set(put, L".dot\r\n.line \x00e9");
    EXPECT_EQ(m.Text(get), L".dot\r\n.line \x00e9");
  }
  EXPECT_EQ(m->put_IsHTML(VARIANT_TRUE), S_OK);

  m.Set(&IMailer::put_Recipients, L"");
  m.Add(&IMailer::AddRecipient, L"Bob", L"b@x.test").Add(&IMailer::AddCc, L"c@x.test");
  m.Add(&IMailer::AddBcc, L"", L"d@x.test").Add(&IMailer::AddReplyTo, L"r@x.test", L"R");
  m.Add(&IMailer::AddAddress, L"e@x.test", L"E");
  EXPECT_EQ(m.Text(&IMailer::get_Recipients), L"<b@x.test>;<c@x.test>;<d@x.test>;<e@x.test>;");

  // EncodeHeader: the charset named, or us-ascii; UTF-8 when the charset says so.
  const struct {
    std::wstring charset, text, encoded;
  } words[] = {
      {L"", L"a=b c", L"=?us-ascii?Q?a=3db_c?="},
      {L"UTF-8", L"\x00e9\x20ac", L"=?UTF-8?Q?=c3=a9=e2=82=ac?="},
  };
  for (const auto& row : words) {
    m.Set(&IMailer::put_Charset, row.charset);
    Bstr text(row.text);
    BSTR encoded = nullptr;
    EXPECT_EQ(m->EncodeHeader(text.value, &encoded), S_OK);
    EXPECT_EQ(Take(encoded), row.encoded);
  }

  // A file that cannot be opened adds nothing; one that can is appended as it is.
  const fs::path work = Work();
  std::ofstream(work / "part.txt", std::ios::binary) << ".more\nlines";
  m.Set(&IMailer::put_BodyText, L"body\r\n");
  for (const fs::path& file : {work / "missing.txt", work / "part.txt"}) {
    Bstr name(file.wstring());
    EXPECT_EQ(m->AppendBodyFromFile(name.value), S_OK);
  }
  EXPECT_EQ(m.Text(&IMailer::get_BodyText), L"body\r\n.more\nlines");

  EXPECT_EQ(m->Reset(), S_OK);
  EXPECT_EQ(m.Text(&IMailer::get_RemoteHost), L"localhost");
  for (const auto& [put, get] : texts) {
    if (put != &IMailer::put_RemoteHost) {
      EXPECT_EQ(m.Text(get), L"");
    }
  }
  EXPECT_EQ(m->get_IsHTML(&html), S_OK);
  EXPECT_EQ(html, VARIANT_FALSE);
  EXPECT_EQ(m->SendMail(nullptr), E_POINTER);
  EXPECT_EQ(m->get_Response(nullptr), E_POINTER);
  fs::remove_all(work);
}

TEST(MailerObject, SendResults) {
  const fs::path work = Work();
  std::ofstream(work / "held.bin", std::ios::binary) << "held";
  // Held open without read sharing, so it cannot be read.
  HANDLE held = CreateFileW((work / "held.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::wstring unused = Server("S_UNUSED");
  const std::string line1200 = std::string(1200, 'L');

  const struct Case {
    const char* name;
    std::function<void(Mailer&)> set;
    LONG result;
    std::wstring response;
    int delivered;  // messages aiosmtpd stored from the case's sender
  } cases[] = {
      {"sent", [](Mailer&) {}, 1, L"", 1},
      {"forwarded", [](Mailer& m) { m.Add(&IMailer::AddRecipient, L"fwd@x.test"); }, 1, L"", 1},
      {"refused recipient", [](Mailer& m) { m.Add(&IMailer::AddCc, L"bad@x.test"); }, -3, L"550 no such user", 0},
      {"no recipient", [](Mailer& m) { m.Set(&IMailer::put_Recipients, L""); }, -3, L"501 Syntax: RCPT TO: <address>",
       0},
      {"8bit line of 1200",
       [&](Mailer& m) {
         m.Set(&IMailer::put_ContentTransferEncoding, L"8bit").Set(&IMailer::put_BodyText, Wide(line1200));
       },
       -3, L"500 Line too long (see RFC5321 4.5.3.1.6)", 0},
      {"line of 1200", [&](Mailer& m) { m.Set(&IMailer::put_BodyText, Wide(line1200)); }, 1, L"", 1},
      {"closed port", [](Mailer& m) { m.Set(&IMailer::put_RemoteHost, Server("CLOSED")); }, -2, L"", 0},
      {"unknown host",
       [](Mailer& m) { m.Set(&IMailer::put_RemoteHost, L"no-such.invalid:" + std::to_wstring(PeerPort("SMTP4"))); }, -2,
       L"", 0},
      {"port 65536", [](Mailer& m) { m.Set(&IMailer::put_RemoteHost, L"127.0.0.1:65536"); }, -2, L"", 0},
      {"server text of 300", [](Mailer& m) { m.Set(&IMailer::put_RemoteHost, std::wstring(300, L'h')); }, -2, L"", 0},
      {"sender with CRLF",
       [&](Mailer& m) { m.Set(&IMailer::put_RemoteHost, unused).Set(&IMailer::put_MailFrom, L"s@x\r\nRSET"); }, -1, L"",
       0},
      {"recipients with CRLF",
       [&](Mailer& m) { m.Set(&IMailer::put_RemoteHost, unused).Set(&IMailer::put_Recipients, L"<a@x>\r\nRSET"); }, -1,
       L"", 0},
      {"greeting with CRLF",
       [&](Mailer& m) { m.Set(&IMailer::put_RemoteHost, unused).Set(&IMailer::put_Helo, L"me\r\nRSET"); }, -1, L"", 0},
      {"missing file",
       [&](Mailer& m) { m.Set(&IMailer::put_RemoteHost, unused).Attach((work / "missing.bin").wstring()); }, -1, L"",
       0},
      {"file held", [&](Mailer& m) { m.Set(&IMailer::put_RemoteHost, unused).Attach((work / "held.bin").wstring()); },
       -1, L"", 0},
      {"[::1]", [](Mailer& m) { m.Set(&IMailer::put_RemoteHost, L"[::1]:" + std::to_wstring(PeerPort("SMTP6"))); }, 1,
       L"", 1},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    if (std::string(c.name) == "[::1]" && PeerPort("SMTP6") == 0) continue;  // [::1] cannot be bound here
    const std::string sender = "case" + std::to_string(i) + "@results.test";
    Mailer m;
    m.Set(&IMailer::put_RemoteHost, Server("SMTP4")).Set(&IMailer::put_MailFrom, Wide(sender));
    m.Set(&IMailer::put_FromAddress, Wide(sender)).Add(&IMailer::AddRecipient, L"to@x.test");
    c.set(m);
    EXPECT_EQ(m.Send(), c.result) << c.name;
    EXPECT_EQ(m.Text(&IMailer::get_Response), c.response) << c.name;
    EXPECT_EQ(Deliveries(sender).size(), static_cast<std::size_t>(c.delivered)) << c.name;
    if (c.result == 1) {
      // A second send sends again; Reset forgets the outcome.
      EXPECT_EQ(m.Send(), 1) << c.name;
      EXPECT_EQ(Deliveries(sender).size(), 2u) << c.name;
      EXPECT_EQ(m->Reset(), S_OK);
      LONG result = 7;
      EXPECT_EQ(m->get_Result(&result), S_OK);
      EXPECT_EQ(result, 0);
    }
  }
  // Nothing refused before connecting ever reached the server.
  EXPECT_EQ(Ask("RAW UNUSED\n"), "0\n");
  CloseHandle(held);
  fs::remove_all(work);
}

TEST(MailerObject, SixteenThreadsOfTwentyMessages) {
  constexpr int Threads = 16, Messages = 20;
  const fs::path work = Work();
  std::ofstream(work / "part.bin", std::ios::binary) << "part";
  std::vector<std::thread> threads;
  std::vector<int> results(Threads * Messages, 0);
  for (int t = 0; t < Threads; ++t) {
    threads.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      {
        Mailer m;
        m.Set(&IMailer::put_RemoteHost, Server("SMTP4"));
        m.Set(&IMailer::put_MailFrom, L"thread" + std::to_wstring(t) + L"@load.test");
        m.Attach((work / "part.bin").wstring());
        for (int i = 0; i < Messages; ++i) {
          m.Set(&IMailer::put_Recipients, L"");
          m.Add(&IMailer::AddRecipient, L"t" + std::to_wstring(t) + L"m" + std::to_wstring(i) + L"@x.test");
          results[static_cast<std::size_t>(t * Messages + i)] = m.Send();
        }
      }
      CoUninitialize();
    });
  }
  for (auto& thread : threads)
    thread.join();
  std::set<std::string> boundaries;
  for (int t = 0; t < Threads; ++t) {
    std::set<std::string> recipients;
    for (const auto& [rcpts, content] : Deliveries("thread" + std::to_string(t) + "@load.test")) {
      recipients.insert(rcpts);
      const std::size_t at = content.find("boundary=\"") + 10;
      EXPECT_TRUE(boundaries.insert(content.substr(at, content.find('"', at) - at)).second);
    }
    std::set<std::string> expected;
    for (int i = 0; i < Messages; ++i)
      expected.insert("t" + std::to_string(t) + "m" + std::to_string(i) + "@x.test");
    EXPECT_EQ(recipients, expected) << t;
  }
  EXPECT_EQ(boundaries.size(), std::size_t{Threads * Messages});
  EXPECT_EQ(std::count(results.begin(), results.end(), 1), Threads * Messages);
  fs::remove_all(work);
}

}  // namespace
