#include "sheafwright/calendar.h"

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

namespace sheafwright {

namespace {

bool succeeded(UErrorCode status) {
  return U_SUCCESS(status) != 0;
}

UDate toUDate(Date date) {
  return static_cast<UDate>(date.time_since_epoch().count()) / 1000.0;
}

Date fromUDate(UDate millis) {
  return Date{std::chrono::microseconds{static_cast<std::int64_t>(std::llround(millis * 1000.0))}};
}

bool fitsField(std::int64_t value) {
  return value >= std::numeric_limits<int32_t>::min() / 2 &&
         value <= std::numeric_limits<int32_t>::max() / 2;
}

}  // namespace

struct Calendar::Impl {
  explicit Impl(std::unique_ptr<icu::Calendar> made)
      : calendar(std::move(made)), gregorian(isPlainGregorian(*calendar)) {}

  std::unique_ptr<icu::Calendar> calendar;  // the value, never changed
  // True for the Gregorian calendar with its usual change from the Julian one in October
  // 1582: after that year its days are the proleptic Gregorian days of <chrono>.
  bool gregorian;

  static bool isPlainGregorian(const icu::Calendar& calendar) {
    const auto* gregorian = dynamic_cast<const icu::GregorianCalendar*>(&calendar);
    return gregorian != nullptr && std::strcmp(calendar.getType(), "gregorian") == 0 &&
           gregorian->getGregorianChange() == kUsualGregorianChange;
  }
  // 15 October 1582, 00:00 UTC, in milliseconds.
  static constexpr UDate kUsualGregorianChange = -12219292800000.0;

  std::unique_ptr<icu::Calendar> clone() const {
    return std::unique_ptr<icu::Calendar>(calendar->clone());
  }

  // Clones prepared for each kind of question, made on first use and reset by every use:
  // cloning a calendar for each question cost more than the question itself. The lock keeps
  // the value safe to use from several threads; it guards everything below it.
  std::mutex mutex;
  std::unique_ptr<icu::Calendar> local;
  std::unique_ptr<icu::Calendar> utc;
  std::optional<std::pair<Date, std::int64_t>> lastYear;

  // Local days: lenient, and a midnight inside a skipped hour resolves to the first instant
  // after the gap.
  icu::Calendar& localCalendar() {
    if (!local) {
      local = clone();
      local->setLenient(true);
      local->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
      local->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    }
    return *local;
  }

  // Validity is a question of the calendar's fields, so it is asked in UTC, where no
  // transition can remove a day; a lenient calendar rolls an impossible day over, which the
  // read-back shows.
  icu::Calendar& utcCalendar() {
    if (!utc) {
      utc = clone();
      utc->adoptTimeZone(icu::TimeZone::getGMT()->clone());
      utc->setLenient(true);
    }
    return *utc;
  }
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

Calendar::Calendar(const Calendar& other) : impl_(std::make_unique<Impl>(other.impl_->clone())) {}

Calendar& Calendar::operator=(const Calendar& other) {
  if (this != &other) {
    impl_ = std::make_unique<Impl>(other.impl_->clone());
  }
  return *this;
}

Calendar::Calendar(Calendar&&) noexcept = default;
Calendar& Calendar::operator=(Calendar&&) noexcept = default;
Calendar::~Calendar() = default;

std::int64_t Calendar::year(Date date) const {
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  // A note asks the year of the same instant for each of its headers without one.
  if (impl_->lastYear && impl_->lastYear->first == date) {
    return impl_->lastYear->second;
  }
  icu::Calendar& cal = impl_->localCalendar();
  UErrorCode status = U_ZERO_ERROR;
  cal.setTime(toUDate(date), status);
  const auto year = static_cast<std::int64_t>(cal.get(UCAL_YEAR, status));
  impl_->lastYear.emplace(date, year);
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
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  icu::Calendar& cal = impl_->utcCalendar();
  cal.clear();
  cal.set(static_cast<int32_t>(year), static_cast<int32_t>(month - 1), static_cast<int32_t>(day),
          12, 0, 0);
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
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  icu::Calendar& cal = impl_->localCalendar();
  cal.clear();
  cal.set(static_cast<int32_t>(year), static_cast<int32_t>(month - 1), static_cast<int32_t>(day), 0,
          0, 0);
  UErrorCode status = U_ZERO_ERROR;
  const UDate millis = cal.getTime(status);
  if (!succeeded(status)) {
    return std::nullopt;
  }
  return fromUDate(millis);
}

Date Calendar::startOfDay(Date date) const {
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  icu::Calendar& cal = impl_->localCalendar();
  UErrorCode status = U_ZERO_ERROR;
  // Whole milliseconds toward the past, so an instant never lands in the following day.
  const auto millis = std::chrono::floor<std::chrono::milliseconds>(date);
  cal.setTime(static_cast<UDate>(millis.time_since_epoch().count()), status);
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
