#include "core/texts/MessageTexts.h"

#include <array>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "core/util/Text.h"

namespace core {
namespace {

struct DefaultText {
  const char* key;  // nullptr: the text cannot be replaced
  const char* text;
};

// Kept byte for byte: the leading blanks, the doubled "the" and the missing
// blank after "%s" in 8 and 10 are what the services that read these expect.
// One text a line, as written.
// clang-format off
constexpr DefaultText MainDefaults[MainTextCount] = {
    {nullptr, "250-ENHANCEDSTATUSCODES\r\n250-SIZE\r\n250-EXPN\r\n250-ETRN\r\n250-ATRN\r\n250-DSN\r\n250-CHUNKING\r\n250-CHECKPOINT\r\n250-8BITMIME\r\n"},  // 0
    {nullptr, "!CHUNKING"},  // 1
    {nullptr, ""},  // 2
    {nullptr, ""},  // 3
    {nullptr, ""},  // 4
    {"stApprovalRequest", "Approval request for list: %s from user: %s"},  // 5
    {"stDeliveryID", "(id %s) "},  // 6
    {"stDeliveryNotification", "Delivery notification (success)"},  // 7
    {"stDeliveryTo", "Your message %swas successfully delivered to:"},  // 8
    {"stRelayed", "Delivery notification (mail relayed)"},  // 9
    {"stRelayedTo", "Your message %swas successfully relayed to %s. The message was addressed to:"},  // 10
    {"stRelayedText", "Unfortunately, the remote mail system does not support confirmation of actual delivery. Unless the delivery fails, this will be the only delivery status notification sent."},  // 11
    {"stSystemWarning", "Warning: system report"},  // 12
    {"stDiskSpace", "System Monitor has detected low free disk space on drive %s: %s MB"},  // 13
    {"stCPUUsage", "System Monitor has detected a %s%% CPU utilization for the last %s minutes"},  // 14
    {"stMemoryUsage", "System Monitor has detected low physical available memory on your system %s kB"},  // 15
    {nullptr, "[Challenge Response] Confirm your email by visiting this URL %s"},  // 16
    {nullptr, "To prove your message was sent by a human and not a computer, visit the URL below and type in the alphanumeric text you will see in the image. You will only be asked to do this once for this email address.\r\n%s\r\n"},  // 17
    {"stRemoteServerMonitorSubject", "Remote Server Watchdog: server %s unreachable"},  // 18
    {"stRemoteServerMonitorSubjectBack", "Remote Server Watchdog: server %s back online"},  // 19
    {"stRemoteServerDown", "Remote Server Watchdog finds the server %s:%s unreachable"},  // 20
    {"stRemoteServerDownBack", "Remote Server Watchdog finds the server %s:%s back online"},  // 21
    {"stRemoteServerDownSince", "The server seems to be down since %s"},  // 22
    {"stRemoteServerDownSinceBack", "The server seems to be back online since %s and the down time was %s"},  // 23
    {"stReportURL", "URL Change Notification: %s changed"},  // 24
    {"stReportURLLastUpdate", "Last-Modified: "},  // 25
    {"stReportURLSize", "Size: "},  // 26
    {"stCatalogMessage", "Catalog server response"},  // 27
    {"stCatalogFile", "Enclosed item %s [%s] from the catalog %s"},  // 28
    {"stCatalogDir", "The %s catalog contains the following files:"},  // 29
    {"stCatalogDirItem", "%s, %s, %s bytes, %s"},  // 30
    {"stCatalogNoPass", "Incorrect password"},  // 31
    {"stCatalogNoItem", "Catalog or item %s not found"},  // 32
    {"stCatalogNoFile", "File %s not found"},  // 33
    {"stCatalogNoRights", "Insufficient rights"},  // 34
    {"stDeliveryProblems", "Delivery unsuccessful: "},  // 35
    {"stUnknownUser", "Unknown recipient "},  // 36
    {"stMaxList", "The message is too long"},  // 37
    {"stWarningSpace", "Warning: mailbox close to limit/quota"},  // 38
    {"stWarningSpaceText", "Your mailbox is close to its limit/quota. Please empty your mailbox or you will not be able to receive new messages."},  // 39
    {"stReturnedMail", "Returned mail: "},  // 40
    {"stResponseError", "response error"},  // 41
    {"stServerDisconnected", "permanent problems with the remote server"},  // 42
    {"stCouldNotSend", "Warning: could not send message for past %s hours"},  // 43
    {"stInfoMess", "Unknown recipient: %s from: %s"},  // 44
    {"stMailRejected", "Mail has been rejected or forwarded"},  // 45
    {"stFollowingAddress", "  ----- The following addresses had permanent fatal errors -----"},  // 46
    {"stFollowingAddressTransient", "  ----- The following addresses had transient non-fatal errors -----"},  // 47
    {"stOriginalMessage", "The original message was received at "},  // 48
    {"stTranscript", "  ----- Transcript of session follows -----"},  // 49
    {"stWhileTalking", ".... while talking to "},  // 50
    {"stConnectionError", ".... connection error: connection reset by peer/timeout"},  // 51
    {"stWhileMX", ".... while issuing MX query to "},  // 52
    {"stCouldNotConnect", "could not connect and send the mail to "},  // 53
    {"stCouldNotConnectToDNS", "could not connect to DNS "},  // 54
    {"stTooManyHops", "too many hops"},  // 55
    {"stWarningOnlyA", "Warning: message still undelivered after %s hours"},  // 56
    {"stWarningOnlyB", "Will keep trying until message is %s days old"},  // 57
    {"stWarnLine", "    **********************************************"},  // 58
    {"stWarnLineA", "    **      THIS IS A WARNING MESSAGE ONLY      **"},  // 59
    {"stWarnLineB", "    **  YOU DO NOT NEED TO RESEND YOUR MESSAGE  **"},  // 60
    {"stVirusAlert", "===================================================================="},  // 61
    {"stVirusError", "Warning: antivirus system report"},  // 62
    {"stVirusSystem", "The following message has been detected by the antivirus system"},  // 63
    {"stVirusResponse", "The antivirus module has responded with the following error code: "},  // 64
    {"stVirusName", "The virus found was: "},  // 65
    {"stSenderVirus", "The message was sent from: "},  // 66
    {"stRecipientVirus", "The message was sent to: "},  // 67
    {"stVirusRemoved", "There was a file infected with a virus in this message.\r\nThe file %s was removed by the antivirus system.\r\n"},  // 68
    {"stVirusUpdateProblem", "Warning: antivirus update problem"},  // 69
    {"stVirusUpdateProblemBody", "The antivirus engine was unable to complete the update process.\r\nPlease, check the following URL for more information.\r\n\r\n%s"},  // 70
    {"stMailBoxSize", "The size of this mailbox has exceeded the mailbox limit"},  // 71
    {"stMailListSize", "The size of the message exceeded the message size limit"},  // 72
    {"stRRA", "A message which requested delivery confirmation recently arrived at this server."},  // 73
    {"stRRB", "Note: This Return Receipt only acknowledges that the message was received by the server. There is no guarantee that the content has been read or understood."},  // 74
    {"stRRC", "Message Recipient: %s"},  // 75
};

constexpr DefaultText ListServerDefaults[ListServerTextCount] = {
    {"cLSError", "Unknown list server command: "},
    {"cLSListError", "List server command error: "},
    {"cLSChangedMode", "User %s has been successfully changed in the the mailing list: "},
    {"cLSNoSuchMailingList", "No such mailing list: "},
    {"cLSJoin", "User %s has been successfully subscribed to the mailing list: "},
    {"cLSConfirm", "User %s [%s] has been added for the confirmation to the mailing list: "},
    {"cLSConfirmA", "Please, reply to this message so the user can be subscribed to the mailing list."},
    {"cLSLeave", "User %s has been successfully unsubscribed from the mailing list: "},
    {"cLSNoLeave", "User %s was not found in the mailing list: "},
    {"cLSAlready", "User %s is already subscribed to the mailing list: "},
    {"cLSRights", "You do not have the sufficient rights to perform the command: "},
    {"cLSPassword", "Incorrect password"},
    {"cLSNotAllowed", "User %s is not an allowed subscriber for the mailing list: "},
    {"cLSListServer", "List server report: "},
    {"lsAddress", "Recipient: "},
    {"lsAllRecipients", "All members of the mailing list: "},
    {"lsAllRecipientsTotal", "Members total: "},
    {"lsAllLists", "All public mailing lists served by this list server: "},
    {"lsAllWhich", "List of all subscribed mailing lists for: "},
    {"clsMessageList", "Message list: "},
    {"clsMessages", "Messages: "},
    {"clsMessageDelimiter", "----------------------------"},
    {"stDigestList", "Digest list: "},
};
// clang-format on

constexpr int SlotCount = MainTextCount + ListServerTextCount;
using Table = std::array<std::string, SlotCount>;

const DefaultText& DefaultOf(int slot) {
  return slot < MainTextCount ? MainDefaults[slot] : ListServerDefaults[slot - MainTextCount];
}

std::shared_ptr<const Table> MakeDefaults() {
  auto table = std::make_shared<Table>();
  for (int slot = 0; slot < SlotCount; ++slot)
    (*table)[static_cast<std::size_t>(slot)] = DefaultOf(slot).text;
  return table;
}

// Readers lock only to copy the pointer; loads are serialised by their own
// lock so each one starts from the table the previous one left.
struct State {
  std::mutex tableMutex;
  std::mutex loadMutex;
  std::shared_ptr<const Table> table = MakeDefaults();
};

State& TheState() {
  static State state;
  return state;
}

std::shared_ptr<const Table> Current() {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.tableMutex);
  return state.table;
}

std::string SlotText(int slot) { return (*Current())[static_cast<std::size_t>(slot)]; }

const std::unordered_map<std::string, int>& SlotsByKey() {
  static const std::unordered_map<std::string, int> slots = [] {
    std::unordered_map<std::string, int> map;
    for (int slot = 0; slot < SlotCount; ++slot)
      if (DefaultOf(slot).key != nullptr) map.emplace(LowerCase(DefaultOf(slot).key), slot);
    return map;
  }();
  return slots;
}

// lower is a buffer the caller keeps, so a load's look-ups allocate nothing.
int SlotOfKey(std::string_view key, std::string& lower) {
  lower.assign(key);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const auto& slots = SlotsByKey();
  const auto found = slots.find(lower);
  return found == slots.end() ? -1 : found->second;
}

int SlotOfKey(std::string_view key) {
  std::string lower;
  return SlotOfKey(key, lower);
}

// Trimmed, with every run of blanks made one blank; copied into buffer only
// when there is a run to collapse.
std::string_view TrimCollapsed(std::string_view text, std::string& buffer) {
  text = TrimView(text);
  if (text.find("  ") == std::string_view::npos) return text;
  buffer.clear();
  for (const char c : text)
    if (c != ' ' || buffer.empty() || buffer.back() != ' ') buffer.push_back(c);
  return buffer;
}

// The key and the raw value of a line (views into the line or the buffers);
// false when either is empty.
struct LineSplitter {
  std::string keyBuffer, valueBuffer;
  std::string_view key, value;

  bool Split(std::string_view line) {
    line = TrimView(line);
    const std::size_t first = line.find('=');
    if (first == std::string_view::npos) return false;  // no value
    const std::string_view rest = line.substr(first + 1);
    key = TrimCollapsed(line.substr(0, first), keyBuffer);
    value = TrimCollapsed(rest.substr(0, rest.find('=')), valueBuffer);
    return !key.empty() && !value.empty();
  }
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void DecodeQuotedLiteral(std::string_view value, std::string& result) {
  result.clear();
  std::size_t runStart = 0;
  bool inside = false;
  std::size_t i = 0;
  while (i < value.size()) {
    const char c = value[i];
    if (c == '\'') {
      if (inside)
        result.append(value.substr(runStart, i - runStart));
      else
        runStart = i + 1;
      inside = !inside;
      ++i;
    } else if (!inside && c == '#') {
      // Any number of digits: the code is kept modulo 256 as they are read.
      unsigned code = 0;
      bool nonZero = false;
      for (++i; i < value.size() && IsDigit(value[i]); ++i) {
        const unsigned digit = static_cast<unsigned>(value[i] - '0');
        code = (code * 10 + digit) % 256;
        nonZero = nonZero || digit != 0;
      }
      if (nonZero) result.push_back(static_cast<char>(code));
    } else {
      ++i;
    }
  }
}

// Calls line(view) for every line of bytes: CR, LF and CR LF end a line.
template <typename Line>
void ForEachLine(std::string_view bytes, Line&& line) {
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = start;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
      ++end;
    line(bytes.substr(start, end - start));
    if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

// One load: lines are applied to a copy of the current table, which is
// swapped in at the end; a load that replaces nothing swaps nothing.
class TableLoad {
 public:
  TableLoad() : guard_(TheState().loadMutex) {}
  TableLoad(const TableLoad&) = delete;
  TableLoad& operator=(const TableLoad&) = delete;

  void Set(std::string_view key, std::string_view text) {
    std::string& target = Target(key);
    if (&target != &unused_) target.assign(text);
  }
  // Decodes only for keys that name a text.
  void Line(std::string_view line) {
    if (!splitter_.Split(line)) return;
    std::string& target = Target(splitter_.key);
    if (&target != &unused_) DecodeQuotedLiteral(splitter_.value, target);
  }
  void Commit() {
    if (!next_) return;
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.tableMutex);
    state.table = std::move(next_);
  }

 private:
  std::string& Target(std::string_view key) {
    const int slot = SlotOfKey(key, lower_);
    if (slot < 0) return unused_;
    if (!next_) next_ = std::make_shared<Table>(*Current());
    return (*next_)[static_cast<std::size_t>(slot)];
  }

  std::lock_guard<std::mutex> guard_;
  std::shared_ptr<Table> next_;
  LineSplitter splitter_;
  std::string lower_, unused_;
};

}  // namespace

std::string ParseQuotedLiteral(std::string_view value) {
  std::string result;
  DecodeQuotedLiteral(value, result);
  return result;
}

bool ParseStringsLine(std::string_view line, StringsEntry& entry) {
  LineSplitter splitter;
  if (!splitter.Split(line)) return false;
  entry.key.assign(splitter.key);
  DecodeQuotedLiteral(splitter.value, entry.text);
  return true;
}

std::vector<StringsEntry> ParseStringsText(std::string_view bytes) {
  std::vector<StringsEntry> entries;
  StringsEntry entry;
  ForEachLine(bytes, [&](std::string_view line) {
    if (ParseStringsLine(line, entry)) entries.push_back(std::move(entry));
  });
  return entries;
}

void ApplyStringsEntries(const std::vector<StringsEntry>& entries) {
  TableLoad load;
  for (const StringsEntry& entry : entries)
    load.Set(entry.key, entry.text);
  load.Commit();
}

void ApplyStringsText(std::string_view bytes) {
  TableLoad load;
  ForEachLine(bytes, [&load](std::string_view line) { load.Line(line); });
  load.Commit();
}

std::string MessageText(int index) { return index >= 0 && index < MainTextCount ? SlotText(index) : std::string(); }

std::string ListServerText(int index) {
  return index >= 0 && index < ListServerTextCount ? SlotText(MainTextCount + index) : std::string();
}

std::string ListServerText(std::string_view key) {
  const int slot = SlotOfKey(key);
  return slot >= MainTextCount ? SlotText(slot) : std::string();
}

std::string_view MessageTextKey(int index) {
  if (index < 0 || index >= MainTextCount || MainDefaults[index].key == nullptr) return {};
  return MainDefaults[index].key;
}

std::string_view ListServerTextKey(int index) {
  return index >= 0 && index < ListServerTextCount ? ListServerDefaults[index].key : std::string_view();
}

void ResetMessageTexts() {
  State& state = TheState();
  std::lock_guard<std::mutex> load(state.loadMutex);
  auto defaults = MakeDefaults();
  std::lock_guard<std::mutex> guard(state.tableMutex);
  state.table = std::move(defaults);
}

}  // namespace core
