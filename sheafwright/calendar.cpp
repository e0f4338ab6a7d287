// The calendar operations of note parsing, answered by ICU and, for Gregorian days, <chrono>.
#include "sheafwright/calendar.h"

#include "sheafwright/icu_status.h"

#include <unicode/basictz.h>
#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/tztrans.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace sheafwright {

namespace {

// Whole milliseconds toward the past, so an instant never lands in the following day.
UDate toUDate(Date date) {
  return static_cast<UDate>(
      std::chrono::floor<std::chrono::milliseconds>(date).time_since_epoch().count());
}

Date fromUDate(UDate millis) {
  return Date{std::chrono::microseconds{static_cast<std::int64_t>(std::llround(millis * 1000.0))}};
}

// Sets the fields of `cal` to `hour`:00 of the named day (month 1-based), and no others.
void setDay(icu::Calendar& cal, std::int64_t year, std::int64_t month, std::int64_t day,
            int32_t hour) {
  cal.clear();
  cal.set(static_cast<int32_t>(year), static_cast<int32_t>(month - 1), static_cast<int32_t>(day),
          hour, 0, 0);
}

bool fitsField(std::int64_t value) {
  return value >= std::numeric_limits<int32_t>::min() / 2 &&
         value <= std::numeric_limits<int32_t>::max() / 2;
}

}  // namespace

struct Calendar::Impl {
  explicit Impl(std::unique_ptr<icu::Calendar> made)
      : local(std::move(made)), gregorian(isPlainGregorian(*local)) {
    local->setLenient(true);
    local->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    local->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    utc.reset(local->clone());
    utc->adoptTimeZone(icu::TimeZone::getGMT()->clone());
  }
  Impl(const Impl& other)
      : local(other.local->clone()),
        utc(other.utc->clone()),
        gregorian(other.gregorian),
        spans(other.spans) {}

  // A span of instants, found by ICU, over which the zone's offset from UTC does not change.
  struct SteadyOffset {
    UDate from;
    UDate to;
    double offset;  // milliseconds ahead of UTC
  };

  // The start of a Gregorian day by arithmetic, when its midnight lies inside a span learned
  // and two days from either end: no change of offset, which is always under two days, can
  // then skip or repeat that midnight. Asking ICU for each day named in a note would cost a
  // tenth of a text-only export.
  std::optional<UDate> steadyStartOfDay(const std::chrono::year_month_day& day) const {
    constexpr double kTwoDays = 2 * 86400000.0;
    const double localMidnight =
        static_cast<double>(std::chrono::sys_days(day).time_since_epoch().count()) * 86400000.0;
    for (const SteadyOffset& span : spans) {
      const UDate start = localMidnight - span.offset;
      if (start - kTwoDays >= span.from && start + kTwoDays < span.to) {
        return start;
      }
    }
    return std::nullopt;
  }

  // Learns the span around `instant` from the zone's transitions.
  void learnOffsetAround(UDate instant) {
    const auto* zone = dynamic_cast<const icu::BasicTimeZone*>(&local->getTimeZone());
    if (zone == nullptr) {
      return;
    }
    int32_t raw = 0;
    int32_t dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone->getOffset(instant, false, raw, dst, status);
    if (!succeeded(status)) {
      return;
    }
    SteadyOffset span{-std::numeric_limits<double>::infinity(),
                      std::numeric_limits<double>::infinity(), static_cast<double>(raw) + dst};
    icu::TimeZoneTransition transition;
    if (zone->getPreviousTransition(instant, true, transition)) {
      span.from = transition.getTime();
    }
    if (zone->getNextTransition(instant, false, transition)) {
      span.to = transition.getTime();
    }
    // Days near a change miss every span and are asked again; their span is kept once, so the
    // list stays one span per offset period however many such days a diary names.
    const bool known = std::any_of(spans.begin(), spans.end(), [&span](const SteadyOffset& s) {
      return s.from == span.from && s.to == span.to;
    });
    if (!known) {
      spans.push_back(span);
    }
  }

  // Local days: lenient, and a midnight inside a skipped hour resolves to the first instant
  // after the gap.
  std::unique_ptr<icu::Calendar> local;
  // Validity is a question of the calendar's fields, so it is asked in UTC, where no
  // transition can remove a day; a lenient calendar rolls an impossible day over, which the
  // read-back shows.
  std::unique_ptr<icu::Calendar> utc;
  // True for the Gregorian calendar with its usual change from the Julian one in October
  // 1582: after that year its days are the proleptic Gregorian days of <chrono>.
  bool gregorian;
  // The spans of the zone learned so far, copied with the calendar. A zone's rules do not
  // change while the tool runs, so one calendar asked about every note of a run learns each
  // span once.
  std::vector<SteadyOffset> spans;

  static bool isPlainGregorian(const icu::Calendar& calendar) {
    const auto* gregorian = dynamic_cast<const icu::GregorianCalendar*>(&calendar);
    return gregorian != nullptr && std::strcmp(calendar.getType(), "gregorian") == 0 &&
           gregorian->getGregorianChange() == kUsualGregorianChange;
  }
  // 15 October 1582, 00:00 UTC, in milliseconds.
  static constexpr UDate kUsualGregorianChange = -12219292800000.0;
};

Calendar::Calendar(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Calendar Calendar::current() {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Calendar> made(icu::Calendar::createInstance(status));
  if (!succeeded(status) || !made) {
    return Calendar("UTC");
  }
  return Calendar(std::make_unique<Impl>(std::move(made)));
}

Calendar::Calendar(const std::string& zoneId, const std::string& localeId) {
  UErrorCode status = U_ZERO_ERROR;
  icu::TimeZone* zone = icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId));
  std::unique_ptr<icu::Calendar> made(
      icu::Calendar::createInstance(zone, icu::Locale(localeId.c_str()), status));
  if (!succeeded(status) || !made) {
    status = U_ZERO_ERROR;
    made.reset(icu::Calendar::createInstance(icu::TimeZone::getGMT()->clone(),
                                             icu::Locale::getRoot(), status));
  }
  assert(made);
  impl_ = std::make_unique<Impl>(std::move(made));
}

Calendar::Calendar(const Calendar& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}

Calendar& Calendar::operator=(const Calendar& other) {
  if (this != &other) {
    impl_ = std::make_unique<Impl>(*other.impl_);
  }
  return *this;
}

Calendar::Calendar(Calendar&&) noexcept = default;
Calendar& Calendar::operator=(Calendar&&) noexcept = default;
Calendar::~Calendar() = default;

std::int64_t Calendar::year(Date date) const {
  icu::Calendar& cal = *impl_->local;
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(toUDate(date), status);
  const std::int64_t year = cal.get(UCAL_YEAR, status);
  if (!succeeded(status)) {
    // An instant ICU cannot place: its Gregorian year in UTC, rather than a field left unset.
    return static_cast<int>(
        std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(date)).year());
  }
  return year;
}

bool Calendar::isValidDate(std::int64_t year, std::int64_t month, std::int64_t day) const {
  if (!fitsField(year) || month < 1 || month > 1000 || day < 1 || day > 1000) {
    return false;
  }
  if (impl_->gregorian && year > 1582 && year <= 32767) {
    // Within the range of std::chrono::year, which holds the values exactly.
    return std::chrono::year_month_day{std::chrono::year{static_cast<int>(year)},
                                       std::chrono::month{static_cast<unsigned>(month)},
                                       std::chrono::day{static_cast<unsigned>(day)}}
        .ok();
  }
  icu::Calendar& cal = *impl_->utc;
  setDay(cal, year, month, day, 12);
  UErrorCode status = U_ZERO_ERROR;
  cal.getTime(status);
  if (!succeeded(status)) {
    return false;
  }
  return cal.get(UCAL_YEAR, status) == year && cal.get(UCAL_MONTH, status) == month - 1 &&
         cal.get(UCAL_DATE, status) == day && succeeded(status);
}

std::optional<Date> Calendar::startOfDay(std::int64_t year, std::int64_t month,
                                         std::int64_t day) const {
  if (!isValidDate(year, month, day)) {
    return std::nullopt;
  }
  const bool gregorianDay = impl_->gregorian && year > 1582 && year <= 32767;
  if (gregorianDay) {
    const std::chrono::year_month_day civil{std::chrono::year{static_cast<int>(year)},
                                            std::chrono::month{static_cast<unsigned>(month)},
                                            std::chrono::day{static_cast<unsigned>(day)}};
    if (const std::optional<UDate> start = impl_->steadyStartOfDay(civil)) {
      return fromUDate(*start);
    }
  }
  icu::Calendar& cal = *impl_->local;
  setDay(cal, year, month, day, 0);
  UErrorCode status = U_ZERO_ERROR;
  const UDate millis = cal.getTime(status);
  if (!succeeded(status)) {
    return std::nullopt;
  }
  if (gregorianDay) {
    impl_->learnOffsetAround(millis);
  }
  return fromUDate(millis);
}

Date Calendar::startOfDay(Date date) const {
  icu::Calendar& cal = *impl_->local;
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(toUDate(date), status);
  cal.set(UCAL_HOUR_OF_DAY, 0);
  cal.set(UCAL_MINUTE, 0);
  cal.set(UCAL_SECOND, 0);
  cal.set(UCAL_MILLISECOND, 0);
  const UDate start = cal.getTime(status);
  if (!succeeded(status)) {
    return date;
  }
  return fromUDate(start);
}

}  // namespace sheafwright
