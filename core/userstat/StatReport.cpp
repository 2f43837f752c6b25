#include "core/userstat/StatReport.h"

#include <bit>
#include <cstdio>

#include "core/config/DateCodec.h"
#include "core/util/LittleEndian.h"
#include "core/util/Text.h"

namespace core {
namespace {

// Files are read in slices of whole records, so a damaged file of any size
// costs bounded memory.
constexpr std::size_t DaysPerRead = 32'768;

// Where each report column's counter lies in a day record.
constexpr std::size_t CounterOffsets[6] = {8, 20, 12, 24, 16, 28};

double LoadDouble(const std::uint8_t* bytes) { return std::bit_cast<double>(LoadLE<std::uint64_t>(bytes)); }

// The whole day of a stored date after rounding to the millisecond, as the
// date codec splits it; false for values it cannot decode.
bool WholeDay(double value, double& day) {
  int year = 0, month = 0, date = 0;
  return DecodeDate(value, year, month, date) && EncodeDate(year, month, date, day);
}

// The domain or alias text with CR and LF as blanks: one account, one line.
void AppendField(std::string& line, std::string_view text) {
  for (const char c : text)
    line += c == '\r' || c == '\n' ? ' ' : c;
  line += ',';
}

bool Emit(UserStatSink& sink, std::string_view text) {
  try {
    return sink.Write(text);
  } catch (...) {
    return false;
  }
}

// Closes the open walk however the domain ends.
class WalkGuard {
 public:
  explicit WalkGuard(UserStatSource& source) : source_(source) {}
  ~WalkGuard() {
    try {
      source_.DoneUsers();
    } catch (...) {
    }
  }
  WalkGuard(const WalkGuard&) = delete;
  WalkGuard& operator=(const WalkGuard&) = delete;

 private:
  UserStatSource& source_;
};

void AddTo(UserStatValues& totals, const UserStatValues& line) {
  for (std::size_t i = 0; i < totals.sums.size(); ++i)
    totals.sums[i] += line.sums[i];
  totals.messagesSize += line.messagesSize;
  totals.messagesCount += line.messagesCount;
}

enum class DomainEnd { Done, SinkFailed };

// The lines of one domain's admitted accounts, added to the totals.
DomainEnd WriteDomain(const std::string& domain, const StatFilter& filter, double from, double to,
                      UserStatSource& source, UserStatSink& sink, UserStatValues& totals) {
  if (!source.InitUsers(domain)) return DomainEnd::Done;
  const WalkGuard guard(source);
  AccountRecordBytes record{};
  while (source.NextUser(record)) {
    if (record[account::Kind.offset] != 0) continue;
    const std::string aliases = FieldText(record.data(), account::AliasList);
    if (!MatchStatFilter(filter, domain, aliases)) continue;
    const std::string path = FieldText(record.data(), account::MailboxPath);
    // Without a path of its own the account has no statistics: the mail
    // folder's files are the server's, not its.
    const UserStatValues values =
        Trim(path).empty() ? UserStatValues{} : ReadUserStatFiles(source, source.StatFolder(path), from, to);
    if (!WriteUserStatLine(sink, domain, aliases, values)) return DomainEnd::SinkFailed;
    AddTo(totals, values);
  }
  return DomainEnd::Done;
}

}  // namespace

bool SumUserStatDays(std::string_view image, double from, double to, std::array<std::uint64_t, 6>& sums) {
  bool counted = false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data());
  for (std::size_t at = 0; image.size() - at >= UserStatDaySize; at += UserStatDaySize) {
    const std::uint8_t* record = bytes + at;
    double day = 0.0;
    if (!WholeDay(LoadDouble(record), day) || day < from || day > to) continue;
    counted = true;
    for (std::size_t i = 0; i < sums.size(); ++i)
      sums[i] += LoadLE<std::uint32_t>(record + CounterOffsets[i]);
  }
  return counted;
}

std::array<double, 3> UserAccessTimes(std::string_view image) {
  std::array<double, 3> times{};
  if (image.size() < UserAccessSize) return times;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data());
  for (std::size_t i = 0; i < times.size(); ++i)
    times[i] = LoadDouble(bytes + 8 * i);
  return times;
}

std::string FormatStatTime(double value) {
  if (!(value > 0.0)) return {};
  int hour = 0, minute = 0, second = 0, msec = 0;
  // Date and time come from the same rounding, so the carry of the last
  // half millisecond moves both.
  const std::string date = FormatStatDate(false, value);
  if (date.empty() || !DecodeTime(value, hour, minute, second, msec)) return {};
  char time[16];
  std::snprintf(time, sizeof time, " %02d:%02d:%02d", hour, minute, second);
  return date + time;
}

std::string UserStatLineText(std::string_view domain, std::string_view alias, const UserStatValues& values) {
  std::string line;
  line.reserve(domain.size() + alias.size() + 200);
  AppendField(line, domain);
  AppendField(line, alias);
  for (const std::uint64_t sum : values.sums)
    line += std::to_string(sum) + ',';
  for (const double time : values.times)
    line += FormatStatTime(time) + ',';
  line += std::to_string(values.messagesSize) + ',' + std::to_string(values.messagesCount) + "\r\n";
  return line;
}

StatFilter::StatFilter(std::string_view filter, UserStatSource& source) {
  const std::string whole = Trim(filter);
  if (whole.empty() || whole == "*") return;
  none_ = false;
  std::size_t start = 0;
  while (start <= whole.size()) {
    std::size_t end = whole.find(';', start);
    if (end == std::string::npos) end = whole.size();
    std::string item = Trim(std::string_view(whole).substr(start, end - start));
    start = end + 1;
    if (!item.empty() && item.front() == '@') item = Trim(std::string_view(item).substr(1));
    if (item.empty()) continue;
    if (item.find('@') == std::string::npos) {
      items_.push_back({LowerCase(item), std::nullopt});
      continue;
    }
    std::string alias, domain;
    source.SplitAddress(item, alias, domain);
    items_.push_back({LowerCase(Trim(domain)), ListMatcher(alias, source.GroupTest())});
  }
}

bool MatchStatFilter(const StatFilter& filter, std::string_view domain, std::string_view aliases) {
  if (filter.none_) return true;
  const std::string name = LowerCase(domain);
  for (const StatFilter::Item& item : filter.items_) {
    if (item.domain != name) continue;
    if (!item.alias || aliases.empty() || item.alias->Matches(aliases)) return true;
  }
  return false;
}

UserStatValues ReadUserStatFiles(UserStatSource& source, const std::string& folder, double from, double to) {
  UserStatValues values;
  bool counted = false;
  if (from <= to) {
    const std::string name = folder + std::string(UserStatFileName);
    constexpr std::size_t slice = DaysPerRead * UserStatDaySize;
    std::string image;
    for (std::uint64_t offset = 0; source.ReadFile(name, offset, slice, image); offset += slice) {
      counted = SumUserStatDays(image, from, to, values.sums) || counted;
      if (image.size() < slice) break;
    }
  }
  // One walk for the whole range: the message files do not change with the day.
  if (counted) source.MailboxSize(folder, values.messagesSize, values.messagesCount);
  std::string access;
  if (source.ReadFile(folder + std::string(UserAccessFileName), 0, UserAccessSize, access))
    values.times = UserAccessTimes(access);
  return values;
}

bool WriteUserStatLine(UserStatSink& sink, std::string_view domain, std::string_view alias,
                       const UserStatValues& values) {
  return Emit(sink, UserStatLineText(domain, alias, values));
}

bool WriteUserStatReport(std::string_view fromDate, std::string_view toDate, std::string_view filter,
                         UserStatSource& source, UserStatSink& sink) {
  const double from = ParseStatDate(fromDate);
  const double to = ParseStatDate(toDate);
  const StatFilter admitted(filter, source);
  if (!Emit(sink, std::string(UserStatHeader) + "\r\n")) return false;
  UserStatValues totals;
  const int count = static_cast<int>(source.CountDomains());
  for (int index = 0; index < count; ++index) {
    // Whatever goes wrong inside a domain ends that domain only.
    try {
      const std::string domain = source.DomainName(index);
      if (domain.empty() || !MatchStatFilter(admitted, domain, {})) continue;
      if (WriteDomain(domain, admitted, from, to, source, sink, totals) == DomainEnd::SinkFailed) return false;
    } catch (...) {
    }
  }
  if (admitted.IsEmpty() &&
      !WriteUserStatLine(sink, "-", "-", ReadUserStatFiles(source, source.StatFolder({}), from, to)))
    return false;
  // The totals line has no times of its own.
  return WriteUserStatLine(sink, "*", "*", totals);
}

}  // namespace core
