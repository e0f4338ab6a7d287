// TZ read into an ICU zone: ICU itself reads only the names of the time zone database from it,
// and takes anything else for the system's zone.
#include "sheafwright/time_zone.h"

#include "sheafwright/ascii.h"
#include "sheafwright/icu_status.h"

#include <unicode/simpletz.h>
#include <unicode/timezone.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace sheafwright {

namespace {

using ascii::isDigit;
using ascii::isLetter;

// A zone's abbreviation: three or more letters, or "<", letters, digits, "+" and "-", ">".
bool readName(std::string_view& s) {
  std::size_t n = 0;
  if (!s.empty() && s.front() == '<') {
    n = 1;
    while (n < s.size() && (isLetter(s[n]) || isDigit(s[n]) || s[n] == '+' || s[n] == '-')) {
      ++n;
    }
    if (n < 4 || n == s.size() || s[n] != '>') {
      return false;
    }
    s.remove_prefix(n + 1);
    return true;
  }
  while (n < s.size() && isLetter(s[n])) {
    ++n;
  }
  s.remove_prefix(n);
  return n >= 3;
}

// A number of at most `maxDigits` digits within [low, high].
std::optional<int> readNumber(std::string_view& s, int low, int high, std::size_t maxDigits = 3) {
  int value = 0;
  std::size_t digits = 0;
  while (digits < s.size() && digits < maxDigits && isDigit(s[digits])) {
    value = value * 10 + (s[digits] - '0');
    ++digits;
  }
  if (digits == 0 || value < low || value > high) {
    return std::nullopt;
  }
  s.remove_prefix(digits);
  return value;
}

// [+|-]hh[:mm[:ss]] in seconds, hours at most `maxHours`.
std::optional<std::int32_t> readTime(std::string_view& s, int maxHours) {
  int sign = 1;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    sign = s.front() == '-' ? -1 : 1;
    s.remove_prefix(1);
  }
  const std::optional<int> hours = readNumber(s, 0, maxHours);
  if (!hours) {
    return std::nullopt;
  }
  std::int32_t seconds = *hours * 3600;
  for (const int scale : {60, 1}) {
    if (s.empty() || s.front() != ':') {
      break;
    }
    s.remove_prefix(1);
    const std::optional<int> part = readNumber(s, 0, 59, 2);
    if (!part) {
      return std::nullopt;
    }
    seconds += *part * scale;
  }
  return sign * seconds;
}

// A change of offset in the form ICU's SimpleTimeZone takes: a month (0-based) and either the
// w-th (-1: last) week day (1 Sunday to 7) of it, or with week day 0 a day of the month.
struct Rule {
  std::int8_t month = 0;
  std::int8_t week = 0;
  std::int8_t weekDay = 0;
  std::int32_t millis = 2 * 3600 * 1000;  // local wall time of the day
};

// Jn (day of a year without February 29) or Mm.w.d, then [/time]. The zero-based day of a year
// that counts February 29 has no form in SimpleTimeZone, nor has a time outside the day.
std::optional<Rule> readRule(std::string_view& s) {
  Rule rule;
  if (!s.empty() && s.front() == 'J') {
    s.remove_prefix(1);
    const std::optional<int> day = readNumber(s, 1, 365);
    if (!day) {
      return std::nullopt;
    }
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    int rest = *day;
    while (rest > kMonthDays[month]) {
      rest -= kMonthDays[month++];
    }
    rule.month = static_cast<std::int8_t>(month);
    rule.week = static_cast<std::int8_t>(rest);
  } else if (!s.empty() && s.front() == 'M') {
    s.remove_prefix(1);
    const std::optional<int> month = readNumber(s, 1, 12);
    std::optional<int> week;
    std::optional<int> weekDay;
    if (month && !s.empty() && s.front() == '.') {
      s.remove_prefix(1);
      week = readNumber(s, 1, 5);
    }
    if (week && !s.empty() && s.front() == '.') {
      s.remove_prefix(1);
      weekDay = readNumber(s, 0, 6);
    }
    if (!weekDay) {
      return std::nullopt;
    }
    rule.month = static_cast<std::int8_t>(*month - 1);
    rule.week = static_cast<std::int8_t>(*week == 5 ? -1 : *week);
    rule.weekDay = static_cast<std::int8_t>(*weekDay + 1);
  } else {
    return std::nullopt;
  }
  if (!s.empty() && s.front() == '/') {
    s.remove_prefix(1);
    const std::optional<std::int32_t> time = readTime(s, 167);
    if (!time || *time < 0 || *time > 24 * 3600) {
      return std::nullopt;
    }
    rule.millis = *time * 1000;
  }
  return rule;
}

// POSIX's std offset [dst [offset] [,start[/time],end[/time]]]. Offsets count west of
// Greenwich; without its own, daylight time is an hour ahead of standard time, and without
// rules it follows the United States' (as the C library does).
std::unique_ptr<icu::TimeZone> posixZone(std::string_view tz) {
  std::string_view s = tz;
  if (!readName(s)) {
    return nullptr;
  }
  const std::optional<std::int32_t> standardWest = readTime(s, 24);
  if (!standardWest) {
    return nullptr;
  }
  const icu::UnicodeString id =
      icu::UnicodeString::fromUTF8(icu::StringPiece(tz.data(), static_cast<int32_t>(tz.size())));
  if (s.empty()) {
    return std::make_unique<icu::SimpleTimeZone>(-*standardWest * 1000, id);
  }
  if (!readName(s)) {
    return nullptr;
  }
  std::int32_t daylightWest = *standardWest - 3600;
  if (!s.empty() && s.front() != ',') {
    const std::optional<std::int32_t> offset = readTime(s, 24);
    if (!offset) {
      return nullptr;
    }
    daylightWest = *offset;
  }
  std::string_view rules = s.empty() ? std::string_view(",M3.2.0,M11.1.0") : s;
  if (rules.front() != ',') {
    return nullptr;
  }
  rules.remove_prefix(1);
  std::optional<Rule> start = readRule(rules);
  if (!start || rules.empty() || rules.front() != ',') {
    return nullptr;
  }
  rules.remove_prefix(1);
  std::optional<Rule> end = readRule(rules);
  if (!end || !rules.empty()) {
    return nullptr;
  }
  std::int32_t standard = -*standardWest;
  std::int32_t saving = *standardWest - daylightWest;
  if (saving == 0) {
    return std::make_unique<icu::SimpleTimeZone>(standard * 1000, id);
  }
  if (saving < 0) {
    // "Daylight" time behind standard time (Ireland's winter): the same changes, told as the
    // later time being standard. Each rule's time stays in the time in force before it.
    standard += saving;
    saving = -saving;
    std::swap(start, end);
  }
  UErrorCode status = U_ZERO_ERROR;
  auto zone = std::make_unique<icu::SimpleTimeZone>(
      standard * 1000, id, start->month, start->week, start->weekDay, start->millis,
      icu::SimpleTimeZone::WALL_TIME, end->month, end->week, end->weekDay, end->millis,
      icu::SimpleTimeZone::WALL_TIME, saving * 1000, status);
  return succeeded(status) ? std::move(zone) : nullptr;
}

// A zone of the time zone database by the name TZ gives it, or by a path into a zoneinfo
// directory (":/etc/localtime" links into one).
std::unique_ptr<icu::TimeZone> namedZone(std::string name) {
  if (!name.empty() && name.front() == '/') {
    if (char* resolved = ::realpath(name.c_str(), nullptr)) {
      name = resolved;
      std::free(resolved);
    }
    const std::size_t at = name.rfind("zoneinfo/");
    if (at == std::string::npos) {
      return nullptr;
    }
    name.erase(0, at + 9);
  }
  for (const std::string_view prefix : {"posix/", "right/"}) {
    if (name.starts_with(prefix)) {
      name.erase(0, prefix.size());
    }
  }
  const icu::UnicodeString id = icu::UnicodeString::fromUTF8(name);
  icu::UnicodeString canonical;
  UBool known = false;
  UErrorCode status = U_ZERO_ERROR;
  icu::TimeZone::getCanonicalID(id, canonical, known, status);
  // Not ICU's own "GMT+5", which POSIX reads the other way round.
  if (!succeeded(status) || !known) {
    return nullptr;
  }
  return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(id));
}

}  // namespace

std::optional<std::string> adoptTimeZone(const char* tz) {
  if (tz == nullptr) {
    return std::nullopt;
  }
  const std::string_view value = tz;
  std::unique_ptr<icu::TimeZone> zone;
  if (value.empty() || value == ":") {
    zone.reset(icu::TimeZone::getGMT()->clone());
  } else if (value.front() == ':') {
    zone = namedZone(std::string(value.substr(1)));
  } else {
    zone = namedZone(std::string(value));
    if (!zone) {
      zone = posixZone(value);
    }
  }
  if (zone) {
    icu::TimeZone::adoptDefault(zone.release());
    return std::nullopt;
  }
  icu::TimeZone::adoptDefault(icu::TimeZone::getGMT()->clone());
  return std::string(value);
}

}  // namespace sheafwright
