#include "core/variables/DateTimeFormat.h"

#include <algorithm>
#include <vector>

#include "core/mime/MailDate.h"

namespace core {
namespace {

enum class Token {
  Literal,  // text: the characters of the format itself
  Day,
  Day2,
  DayShort,
  DayLong,
  ShortDate,
  LongDate,
  Month,
  Month2,
  MonthShort,
  MonthLong,
  Year2,
  Year4,
  Hour,
  Hour2,
  Minute,
  Minute2,
  Second,
  Second2,
  Milli,
  Milli3,
  ShortTime,
  LongTime,
  AmPmWritten,  // text: the "am/pm" or "a/p" as written
  AmPmLocale,
  DateSeparator,
  TimeSeparator,
  DateAndTime,
};

struct Piece {
  Token token;
  std::string_view text;
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithFolded(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (std::size_t i = 0; i < lowerPrefix.size(); ++i)
    if (Lower(text[i]) != lowerPrefix[i]) return false;
  return true;
}

// Length of the run of the letter (either case) at the start of text.
std::size_t RunOf(std::string_view text, char lower) {
  std::size_t n = 0;
  while (n < text.size() && Lower(text[n]) == lower)
    ++n;
  return n;
}

// Splits the format into tokens, the longest first at each position.
std::vector<Piece> Tokenize(std::string_view format) {
  std::vector<Piece> pieces;
  std::size_t i = 0;
  const auto take = [&](Token token, std::size_t length) {
    pieces.push_back({token, format.substr(i, length)});
    i += length;
  };
  while (i < format.size()) {
    const std::string_view rest = format.substr(i);
    const char c = Lower(rest[0]);
    if (c == '"' || c == '\'') {
      const std::size_t close = rest.find(rest[0], 1);
      const std::size_t length = close == std::string_view::npos ? rest.size() : close + 1;
      pieces.push_back({Token::Literal, rest.substr(1, (close == std::string_view::npos ? rest.size() : close) - 1)});
      i += length;
      continue;
    }
    const std::size_t run = RunOf(rest, c);
    switch (c) {
      case 'd': {
        static constexpr Token days[] = {Token::Day,     Token::Day2,      Token::DayShort,
                                         Token::DayLong, Token::ShortDate, Token::LongDate};
        const std::size_t n = std::min<std::size_t>(run, 6);
        take(days[n - 1], n);
        break;
      }
      case 'm': {
        static constexpr Token months[] = {Token::Month, Token::Month2, Token::MonthShort, Token::MonthLong};
        const std::size_t n = std::min<std::size_t>(run, 4);
        take(months[n - 1], n);
        break;
      }
      case 'y':
        if (run >= 4) {
          take(Token::Year4, 4);
        } else if (run >= 2) {
          take(Token::Year2, 2);
        } else {
          take(Token::Literal, 1);
        }
        break;
      case 'h':
        run >= 2 ? take(Token::Hour2, 2) : take(Token::Hour, 1);
        break;
      case 'n':
        run >= 2 ? take(Token::Minute2, 2) : take(Token::Minute, 1);
        break;
      case 's':
        run >= 2 ? take(Token::Second2, 2) : take(Token::Second, 1);
        break;
      case 'z':
        run >= 3 ? take(Token::Milli3, 3) : take(Token::Milli, 1);
        break;
      case 't':
        run >= 2 ? take(Token::LongTime, 2) : take(Token::ShortTime, 1);
        break;
      case 'c':
        take(Token::DateAndTime, 1);
        break;
      case 'a':
        if (StartsWithFolded(rest, "am/pm")) {
          take(Token::AmPmWritten, 5);
        } else if (StartsWithFolded(rest, "ampm")) {
          take(Token::AmPmLocale, 4);
        } else if (StartsWithFolded(rest, "a/p")) {
          take(Token::AmPmWritten, 3);
        } else {
          take(Token::Literal, 1);
        }
        break;
      case '/':
        take(Token::DateSeparator, 1);
        break;
      case ':':
        take(Token::TimeSeparator, 1);
        break;
      default:
        take(Token::Literal, 1);
        break;
    }
  }
  return pieces;
}

std::string Digits(int value, int width) {
  std::string text = std::to_string(value < 0 ? -value : value);
  if (text.size() < static_cast<std::size_t>(width)) text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
  return value < 0 ? "-" + text : text;
}

bool IsText(Token token) {
  return token == Token::Literal || token == Token::DateSeparator || token == Token::TimeSeparator;
}

}  // namespace

std::string FormatDateTime(std::string_view format, const LocalTime& time, DateLocale& locale) {
  const std::vector<Piece> pieces = Tokenize(format);
  const bool twelveHour = std::any_of(pieces.begin(), pieces.end(), [](const Piece& p) {
    return p.token == Token::AmPmWritten || p.token == Token::AmPmLocale;
  });
  const bool afternoon = time.hour >= 12;
  const int hour = twelveHour ? (time.hour % 12 == 0 ? 12 : time.hour % 12) : time.hour;

  std::string out;
  Token last = Token::Literal;  // the last token that is not text
  for (const Piece& piece : pieces) {
    Token token = piece.token;
    const bool afterHour = last == Token::Hour || last == Token::Hour2;
    if (afterHour && token == Token::Month) token = Token::Minute;
    if (afterHour && token == Token::Month2) token = Token::Minute2;
    if (!IsText(piece.token)) last = piece.token;
    switch (token) {
      case Token::Literal:
        out += piece.text;
        break;
      case Token::Day:
        out += Digits(time.day, 1);
        break;
      case Token::Day2:
        out += Digits(time.day, 2);
        break;
      case Token::DayShort:
      case Token::DayLong:
        out += locale.DayName(DayOfWeek(time.year, time.month, time.day), token == Token::DayLong);
        break;
      case Token::ShortDate:
        out += locale.Format(DateLocale::Pattern::ShortDate, time);
        break;
      case Token::LongDate:
        out += locale.Format(DateLocale::Pattern::LongDate, time);
        break;
      case Token::Month:
        out += Digits(time.month, 1);
        break;
      case Token::Month2:
        out += Digits(time.month, 2);
        break;
      case Token::MonthShort:
      case Token::MonthLong:
        out += locale.MonthName(time.month, token == Token::MonthLong);
        break;
      case Token::Year2:
        out += Digits(time.year % 100, 2);
        break;
      case Token::Year4:
        out += Digits(time.year, 4);
        break;
      case Token::Hour:
        out += Digits(hour, 1);
        break;
      case Token::Hour2:
        out += Digits(hour, 2);
        break;
      case Token::Minute:
        out += Digits(time.minute, 1);
        break;
      case Token::Minute2:
        out += Digits(time.minute, 2);
        break;
      case Token::Second:
        out += Digits(time.second, 1);
        break;
      case Token::Second2:
        out += Digits(time.second, 2);
        break;
      case Token::Milli:
        out += Digits(time.millisecond, 1);
        break;
      case Token::Milli3:
        out += Digits(time.millisecond, 3);
        break;
      case Token::ShortTime:
        out += locale.Format(DateLocale::Pattern::ShortTime, time);
        break;
      case Token::LongTime:
        out += locale.Format(DateLocale::Pattern::LongTime, time);
        break;
      case Token::AmPmWritten: {
        // "am/pm": the first two or the last two letters; "a/p": one of them.
        const std::size_t half = piece.text.size() == 5 ? 2 : 1;
        out += afternoon ? piece.text.substr(piece.text.size() - half) : piece.text.substr(0, half);
        break;
      }
      case Token::AmPmLocale:
        out += locale.Designator(afternoon);
        break;
      case Token::DateSeparator:
        out += locale.DateSeparator();
        break;
      case Token::TimeSeparator:
        out += locale.TimeSeparator();
        break;
      case Token::DateAndTime:
        out += locale.Format(DateLocale::Pattern::ShortDate, time);
        if (time.hour != 0 || time.minute != 0 || time.second != 0 || time.millisecond != 0)
          out += " " + locale.Format(DateLocale::Pattern::LongTime, time);
        break;
    }
  }
  return out;
}

}  // namespace core
