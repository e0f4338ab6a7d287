// Date headers matched by hand, form by form; the year in a name found by an ICU pattern.
#include "sheafwright/date_header.h"

#include "sheafwright/ascii.h"
#include "sheafwright/icu_status.h"
#include "sheafwright/text_cursor.h"
#include "sheafwright/unicode_text.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <memory>
#include <string>

namespace sheafwright {

namespace {

// Reads a run of 1 to 4 ASCII digits, which always fits.
std::int64_t readNumber(std::string_view digits) {
  return *ascii::readDecimal<std::int64_t>(digits);
}

struct HeaderFields {
  std::optional<std::int64_t> year;  // absent for the forms that name none
  std::int64_t month;
  std::int64_t day;
};

// The four forms, tried in order. Only ASCII digits and letters can match: a run of other
// decimal digits could not be read as a number, so such a form would not apply either.
std::optional<HeaderFields> matchHeader(std::string_view line) {
  {  // 12-Mar
    TextCursor c(line);
    const auto day = c.digits(1, 2);
    const auto name = day && c.one('-') ? c.letters(3) : std::nullopt;
    if (name && c.atEnd()) {
      if (const auto month = monthNumber(*name)) {
        return HeaderFields{std::nullopt, *month, *day};
      }
    }
  }
  {  // 2024-03-12
    TextCursor c(line);
    const auto year = c.digits(4, 4);
    const auto month = year && c.one('-') ? c.digits(1, 2) : std::nullopt;
    const auto day = month && c.one('-') ? c.digits(1, 2) : std::nullopt;
    if (day && c.atEnd()) {
      return HeaderFields{*year, *month, *day};
    }
  }
  {  // Mar 12, Mar. 12
    TextCursor c(line);
    const auto name = c.letters(3);
    const bool gap = name && (c.one(' ') || (c.one('.') && c.one(' ')));
    const auto day = gap ? c.digits(1, 2) : std::nullopt;
    if (day && c.atEnd()) {
      if (const auto month = monthNumber(*name)) {
        return HeaderFields{std::nullopt, *month, *day};
      }
    }
  }
  {  // 12/3/2024: day first unless that cannot be
    TextCursor c(line);
    const auto first = c.digits(1, 2);
    const auto second = first && c.one('/') ? c.digits(1, 2) : std::nullopt;
    const auto year = second && c.one('/') ? c.digits(4, 4) : std::nullopt;
    if (year && c.atEnd() && (*first <= 12 || *second <= 12)) {
      const bool dayFirst = *first > 12 || *second <= 12;
      return dayFirst ? HeaderFields{*year, *second, *first} : HeaderFields{*year, *first, *second};
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> monthNumber(std::string_view name) {
  static constexpr std::array<std::string_view, 12> kMonths{
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  const std::string lower = text::lowercase(name);
  const auto it = std::find(kMonths.begin(), kMonths.end(), lower);
  if (it == kMonths.end()) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(it - kMonths.begin()) + 1;
}

std::optional<std::int64_t> yearInName(std::string_view name) {
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where;
    std::unique_ptr<icu::RegexPattern> made(
        icu::RegexPattern::compile(icu::UnicodeString(u"(19|20)\\d\\d"), 0, where, status));
    assert(succeeded(status) && made);
    return made;
  }();
  // Names hold no year far more often than one: skip the matcher when no "19" or "20" is there.
  if (name.find("19") == std::string_view::npos && name.find("20") == std::string_view::npos) {
    return std::nullopt;
  }
  const icu::UnicodeString subject = icu::UnicodeString::fromUTF8(
      icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(subject, status));
  if (!succeeded(status) || !matcher->find(status) || !succeeded(status)) {
    return std::nullopt;
  }
  std::string match;
  matcher->group(status).toUTF8String(match);
  if (!succeeded(status) || match.size() != 4 ||
      !std::all_of(match.begin(), match.end(), ascii::isDigit)) {
    return std::nullopt;
  }
  return readNumber(match);
}

DefaultYear::DefaultYear(std::optional<std::int64_t> referenceYear, Date modificationDate,
                         const Calendar& calendar)
    : referenceYear_(referenceYear), modificationDate_(modificationDate), calendar_(calendar) {}

std::int64_t DefaultYear::operator()() {
  if (!year_) {
    year_ = referenceYear_ ? *referenceYear_ : calendar_.year(modificationDate_);
  }
  return *year_;
}

std::optional<Date> headerDate(std::string_view line, const Calendar& calendar,
                               DefaultYear& defaultYear) {
  std::string_view normalised = text::trimWhiteSpace(line);
  if (!normalised.empty() && normalised.back() == ':') {
    normalised = text::trimWhiteSpace(normalised.substr(0, normalised.size() - 1));
  }
  const auto fields = matchHeader(normalised);
  if (!fields) {
    return std::nullopt;
  }
  const std::int64_t year = fields->year ? *fields->year : defaultYear();
  return calendar.startOfDay(year, fields->month, fields->day);
}

std::optional<Date> parseDateHeader(std::string_view line,
                                    std::optional<std::int64_t> referenceYear, Date fallback,
                                    const Calendar& calendar) {
  DefaultYear defaultYear(referenceYear, fallback, calendar);
  return headerDate(line, calendar, defaultYear);
}

}  // namespace sheafwright
