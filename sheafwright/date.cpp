#include "sheafwright/date.h"

#include <cstdint>
#include <cstdio>

namespace sheafwright {

using namespace std::chrono;

Date currentDate() { return time_point_cast<microseconds>(system_clock::now()); }

std::string formatInternetDate(Date date) {
  const auto day = floor<days>(date);
  const year_month_day ymd{day};
  const hh_mm_ss<seconds> time{floor<seconds>(date - day)};
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return buffer;
}

namespace {

// Reads exactly `count` ASCII digits at `pos`, advancing it.
std::optional<int> readDigits(std::string_view text, size_t& pos, size_t count) {
  if (text.size() - pos < count) {
    return std::nullopt;
  }
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  pos += count;
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
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
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
  if (expect(text, pos, 'Z') || expect(text, pos, 'z')) {
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
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
  } else {
    return std::nullopt;
  }
  if (pos != text.size()) {
    return std::nullopt;
  }
  // A leap second has no instant of its own here; it reads as the second after.
  return Date{sys_days{ymd}} + hours{*h} + minutes{*mi} + seconds{*s} + fraction - offset;
}

}  // namespace sheafwright
