#pragma once
// The user statistics report: per account and per day the services count
// the messages and bytes received, sent and sent out ("userstat.dat") and
// keep the last sending, receiving and login times ("useraccess.dat"); the
// report sums the days of a date range into comma-separated lines. Pure:
// files, the account walk and the mailbox walk come through a source, the
// text goes to a sink, so the same code builds natively and under Wine.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/accounts/AccountRecord.h"
#include "core/util/ListMatch.h"

namespace core {

inline constexpr std::string_view UserStatFileName = "userstat.dat";
inline constexpr std::string_view UserAccessFileName = "useraccess.dat";
// "userstat.dat": one record a day, a float64 day at 0, then 32-bit received,
// sent and sent-out messages at 8, 12, 16 and their bytes at 20, 24, 28.
inline constexpr std::size_t UserStatDaySize = 32;
// "useraccess.dat": float64 last sent, last received and last login.
inline constexpr std::size_t UserAccessSize = 24;

inline constexpr std::string_view UserStatHeader =
    "[Domain],[Alias],[Received Messages],[Received Bytes],[Sent Messages],[Sent Bytes],[Sent Out Messages],"
    "[Sent Out Bytes],[Last Sent],[Last Received],[Last Login],[Messages Size],[Messages Count]";

// The values of one report line, in the report's column order (which is not
// the file's): received messages, received bytes, sent messages, sent bytes,
// sent-out messages, sent-out bytes; last sent, last received, last login.
struct UserStatValues {
  std::array<std::uint64_t, 6> sums{};
  std::array<double, 3> times{};
  std::uint64_t messagesSize = 0;
  std::uint64_t messagesCount = 0;
};

// Adds the counters of every whole record of a "userstat.dat" image whose
// day lies in [from, to] to sums (column order); a partial tail is ignored.
// A day counts by its whole day after rounding to the millisecond; NaN,
// infinite and out-of-range days never count. True when some record counted.
bool SumUserStatDays(std::string_view image, double from, double to, std::array<std::uint64_t, 6>& sums);

// The three times of a "useraccess.dat" image; all 0 when it is shorter
// than one record.
std::array<double, 3> UserAccessTimes(std::string_view image);

// "yyyy/mm/dd hh:mm:ss" of a date-time rounded to the millisecond (so
// 23:59:59.9996 is the next day's 00:00:00); empty for 0, negative, NaN,
// infinite and anything past 9999-12-31.
std::string FormatStatTime(double value);

// One report line: 13 fields separated by ",", no quoting, ended by CR LF.
// CR and LF inside the domain or alias text become blanks.
std::string UserStatLineText(std::string_view domain, std::string_view alias, const UserStatValues& values);

// Where the report reads the installation. Every call may raise; the report
// contains that within the domain being written.
class UserStatSource {
 public:
  virtual ~UserStatSource() = default;
  virtual std::uint32_t CountDomains() = 0;
  virtual std::string DomainName(int index) = 0;
  // One walk at a time over a domain's accounts: Init false when it cannot
  // be opened; Next false at the end; Done after every successful Init.
  virtual bool InitUsers(const std::string& domain) = 0;
  virtual bool NextUser(AccountRecordBytes& record) = 0;
  virtual void DoneUsers() = 0;
  // The statistics folder of a mailbox path, ending in "\"; the mail folder
  // itself for an empty path.
  virtual std::string StatFolder(std::string_view mailboxPath) = 0;
  // Up to maxBytes of the file from offset on; false when it is missing or
  // cannot be read.
  virtual bool ReadFile(const std::string& name, std::uint64_t offset, std::size_t maxBytes, std::string& out) = 0;
  // Sets size and count to the size and number of the message files under
  // the folder.
  virtual void MailboxSize(const std::string& folder, std::uint64_t& size, std::uint64_t& count) = 0;
  // An address split at "@" into alias and domain.
  virtual void SplitAddress(std::string_view address, std::string& alias, std::string& domain) = 0;
  virtual GroupMemberTest GroupTest() = 0;
};

// Receives the report text; false when the text could not be written.
class UserStatSink {
 public:
  virtual ~UserStatSink() = default;
  virtual bool Write(std::string_view text) = 0;
};

// The filter of a report: ";"-separated items, each trimmed (empty ones
// skipped) with one leading "@" removed. A domain item admits the whole
// domain; "alias@domain" admits that domain and, inside it, the accounts
// whose alias list holds the alias or a group that contains it. The whole
// text counts, however long; "" and "*" (trimmed) mean no filter.
class StatFilter {
 public:
  StatFilter(std::string_view filter, UserStatSource& source);
  bool IsEmpty() const { return none_; }

 private:
  friend bool MatchStatFilter(const StatFilter& filter, std::string_view domain, std::string_view aliases);
  struct Item {
    std::string domain;                // lower case
    std::optional<ListMatcher> alias;  // none for a domain item
  };
  bool none_ = true;
  std::vector<Item> items_;
};

// Whether the filter admits the account with this alias list in the domain;
// an empty alias list asks for the domain itself.
bool MatchStatFilter(const StatFilter& filter, std::string_view domain, std::string_view aliases);

// The line values of one statistics folder: the days of [from, to] summed,
// the message files walked once and only when some day counted, the times.
UserStatValues ReadUserStatFiles(UserStatSource& source, const std::string& folder, double from, double to);

// Writes one line; false when the sink failed.
bool WriteUserStatLine(UserStatSink& sink, std::string_view domain, std::string_view alias,
                       const UserStatValues& values);

// The report over the source into the sink: the header, a line per admitted
// account of kind 0, without a filter the "-" line of the server-wide files,
// and the "*" line of the account lines' totals. A domain that raises ends
// there and the next one follows; what raises outside the domains leaves
// the report unfinished. False when the sink failed.
bool WriteUserStatReport(std::string_view fromDate, std::string_view toDate, std::string_view filter,
                         UserStatSource& source, UserStatSink& sink);

}  // namespace core
