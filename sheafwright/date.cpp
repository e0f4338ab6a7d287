// RFC 3339 dates written and read by hand: libstdc++ 12 has no chrono parse or format.
#include "sheafwright/date.h"

#include "sheafwright/ascii.h"

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

std::string formatInternetDate(Date date) {
  std::string text;
  appendInternetDate(text, date);
  return text;
}

namespace {

// Reads exactly `count` ASCII digits at `pos`, advancing it.
std::optional<int> readDigits(std::string_view text, size_t& pos, size_t count) {
  if (text.size() - pos < count) {
    return std::nullopt;
  }
  const auto value = ascii::readDecimal<int>(text.substr(pos, count));
  if (value) {
    pos += count;
  }
  return value;
}

bool expect(std::string_view text, size_t& pos, char wanted) {
  if (pos < text.size() && text[pos] == wanted) {
    ++pos;
    return true;
  }
  return false;
}

}  // namespace

std::optional<Date> parseInternetDate(std::string_view text) {
  size_t pos = 0;
  const auto y = readDigits(text, pos, 4);
  if (!y || !expect(text, pos, '-')) {
    return std::nullopt;
  }
  const auto mo = readDigits(text, pos, 2);
  if (!mo || !expect(text, pos, '-')) {
    return std::nullopt;
  }
  const auto d = readDigits(text, pos, 2);
  if (!d || !(expect(text, pos, 'T') || expect(text, pos, 't'))) {
    return std::nullopt;
  }
  const auto h = readDigits(text, pos, 2);
  if (!h || !expect(text, pos, ':')) {
    return std::nullopt;
  }
  const auto mi = readDigits(text, pos, 2);
  if (!mi || !expect(text, pos, ':')) {
    return std::nullopt;
  }
  const auto s = readDigits(text, pos, 2);
  if (!s) {
    return std::nullopt;
  }
  const year_month_day ymd{year{*y}, month{static_cast<unsigned>(*mo)},
                           day{static_cast<unsigned>(*d)}};
  if (!ymd.ok() || *h > 23 || *mi > 59 || *s > 60) {
    return std::nullopt;
  }
  microseconds fraction{0};
  if (expect(text, pos, '.')) {
    std::int64_t scale = 100000;
    size_t digits = 0;
    while (pos < text.size() && ascii::isDigit(text[pos])) {
      fraction += microseconds{(text[pos] - '0') * scale};
      scale /= 10;
      ++pos;
      ++digits;
    }
    if (digits == 0) {
      return std::nullopt;
    }
  }
  minutes offset{0};
  if (!expect(text, pos, 'Z') && !expect(text, pos, 'z')) {
    if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) {
      return std::nullopt;
    }
    const bool negative = text[pos] == '-';
    ++pos;
    const auto oh = readDigits(text, pos, 2);
    if (!oh || !expect(text, pos, ':')) {
      return std::nullopt;
    }
    const auto om = readDigits(text, pos, 2);
    if (!om || *oh > 23 || *om > 59) {
      return std::nullopt;
    }
    offset = hours{*oh} + minutes{*om};
    if (negative) {
      offset = -offset;
    }
  }
  if (pos != text.size()) {
    return std::nullopt;
  }
  // A leap second has no instant of its own here; it reads as the second after.
  return Date{sys_days{ymd}} + hours{*h} + minutes{*mi} + seconds{*s} + fraction - offset;
}

}  // namespace sheafwright
