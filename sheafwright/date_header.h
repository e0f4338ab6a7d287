// Date headers: the lines of a note that name a day, and the year a folder or note name gives.
#pragma once

#include "sheafwright/calendar.h"
#include "sheafwright/date.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace sheafwright {

// 1 to 12 for a three-letter English month abbreviation in any case.
std::optional<std::int64_t> monthNumber(std::string_view name);

// The leftmost year from 1900 to 2099 written in a folder or note name.
std::optional<std::int64_t> yearInName(std::string_view name);

// The year of header forms that name none: the reference year, else the year of the
// modification date. A note asks it for each such header, and the calendar once per parse.
class DefaultYear {
 public:
  DefaultYear(std::optional<std::int64_t> referenceYear, Date modificationDate,
              const Calendar& calendar);
  std::int64_t operator()();

 private:
  std::optional<std::int64_t> referenceYear_;
  Date modificationDate_;
  const Calendar& calendar_;
  std::optional<std::int64_t> year_;
};

// The first instant of the day a header line names, or absent when the line is no header.
// `defaultYear` gives the year of the forms without one; it is asked only for those.
std::optional<Date> headerDate(std::string_view line, const Calendar& calendar,
                               DefaultYear& defaultYear);

// The same, the year of forms without one being `referenceYear`, else the year of `fallback`.
std::optional<Date> parseDateHeader(std::string_view line,
                                    std::optional<std::int64_t> referenceYear, Date fallback,
                                    const Calendar& calendar);

}  // namespace sheafwright
