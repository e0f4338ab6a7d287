// RFC 3339 dates written and read by hand: libstdc++ 12 has no chrono parse or format.
#include "sheafwright/date.h"

#include "sheafwright/text_cursor.h"

#include <cstdint>

namespace sheafwright {

using namespace std::chrono;

Date currentDate() {
  return time_point_cast<microseconds>(system_clock::now());
}

namespace {

// Writes `value` as exactly `width` digits (the year may take more) at `out`.
char* putNumber(char* out, long long value, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n < width) {
    digits[n++] = '0';
  }
  while (n > 0) {
    *out++ = digits[--n];
  }
  return out;
}

}  // namespace

void appendInternetDate(std::string& output, Date date) {
  const auto day = floor<days>(date);
  const year_month_day ymd{day};
  const hh_mm_ss<seconds> time{floor<seconds>(date - day)};
  char buffer[40];
  char* out = buffer;
  int year = static_cast<int>(ymd.year());
  if (year < 0) {
    *out++ = '-';
    year = -year;
  }
  out = putNumber(out, year, 4);
  *out++ = '-';
  out = putNumber(out, static_cast<unsigned>(ymd.month()), 2);
  *out++ = '-';
  out = putNumber(out, static_cast<unsigned>(ymd.day()), 2);
  *out++ = 'T';
  out = putNumber(out, time.hours().count(), 2);
  *out++ = ':';
  out = putNumber(out, time.minutes().count(), 2);
  *out++ = ':';
  out = putNumber(out, time.seconds().count(), 2);
  *out++ = 'Z';
  output.append(buffer, out);
}

std::optional<Date> parseInternetDate(std::string_view text) {
  TextCursor c(text);
  const auto y = c.digits(4, 4);
  const auto mo = y && c.one('-') ? c.digits(2, 2) : std::nullopt;
  const auto d = mo && c.one('-') ? c.digits(2, 2) : std::nullopt;
  const auto h = d && (c.one('T') || c.one('t')) ? c.digits(2, 2) : std::nullopt;
  const auto mi = h && c.one(':') ? c.digits(2, 2) : std::nullopt;
  const auto s = mi && c.one(':') ? c.digits(2, 2) : std::nullopt;
  if (!s) {
    return std::nullopt;
  }
  const year_month_day ymd{year{*y}, month{static_cast<unsigned>(*mo)},
                           day{static_cast<unsigned>(*d)}};
  if (!ymd.ok() || *h > 23 || *mi > 59 || *s > 60) {
    return std::nullopt;
  }
  microseconds fraction{0};
  if (c.one('.')) {
    auto digit = c.digits(1, 1);
    if (!digit) {
      return std::nullopt;
    }
    // Digits past the microsecond are read and dropped.
    for (std::int64_t scale = 100000; digit; digit = c.digits(1, 1), scale /= 10) {
      fraction += microseconds{*digit * scale};
    }
  }
  minutes offset{0};
  if (!c.one('Z') && !c.one('z')) {
    const bool negative = c.one('-');
    if (!negative && !c.one('+')) {
      return std::nullopt;
    }
    const auto oh = c.digits(2, 2);
    const auto om = oh && c.one(':') ? c.digits(2, 2) : std::nullopt;
    if (!om || *oh > 23 || *om > 59) {
      return std::nullopt;
    }
    offset = hours{*oh} + minutes{*om};
    if (negative) {
      offset = -offset;
    }
  }
  if (!c.atEnd()) {
    return std::nullopt;
  }
  // A leap second has no instant of its own here; it reads as the second after.
  return Date{sys_days{ymd}} + hours{*h} + minutes{*mi} + seconds{*s} + fraction - offset;
}

}  // namespace sheafwright
