// The user's calendar system and time zone, for the day and year questions of note parsing.
#pragma once

#include "sheafwright/date.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sheafwright {

// A calendar system with its time zone: the user's current one, or a fixed one for tests.
// Copies never share state. Like ICU's own calendars it is not for concurrent use: every
// question, const or not, moves the ICU calendars inside.
class Calendar {
 public:
  // ICU's default calendar for the default locale and time zone (which honour TZ and the
  // locale variables).
  static Calendar current();
  // A calendar of `localeId` ("en_US", "th_TH@calendar=buddhist") in the zone `zoneId`
  // ("America/Sao_Paulo"). An unknown zone is taken as UTC, as ICU does.
  explicit Calendar(const std::string& zoneId, const std::string& localeId = "en_US");

  Calendar(const Calendar& other);
  Calendar& operator=(const Calendar& other);
  Calendar(Calendar&&) noexcept;
  Calendar& operator=(Calendar&&) noexcept;
  ~Calendar();

  // The year number of `date` in this calendar and its time zone (the Gregorian year in UTC
  // for an instant ICU cannot place).
  std::int64_t year(Date date) const;
  // True when the day exists: a month of the calendar, and a day within that month's length
  // in that year. Time-zone transitions play no part.
  bool isValidDate(std::int64_t year, std::int64_t month, std::int64_t day) const;
  // The first instant of the named day in this time zone, also when a transition skips its
  // midnight; absent when the day cannot be formed.
  std::optional<Date> startOfDay(std::int64_t year, std::int64_t month, std::int64_t day) const;
  // The first instant of the local day that holds `date`.
  Date startOfDay(Date date) const;

 private:
  struct Impl;
  explicit Calendar(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace sheafwright
