// Tests of date header lines, month names and the year found in a folder or note name.
#include "sheafwright/date_header.h"

#include "sheafwright/calendar.h"
#include "sheafwright/date.h"
#include "testing/test_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace sheafwright {
namespace {

// Header lines with reference year 2024 in UTC; "" means no header.
TEST(DateHeaderTest, FormsAndTheirRefusals) {
  const Calendar utc("UTC");
  struct Case {
    const char* line;
    const char* expected;
  };
  const Case cases[] = {
      {"12-Mar", "2024-03-12"},
      {"12-mar", "2024-03-12"},
      {"12-MAR", "2024-03-12"},
      {"07-Mar", "2024-03-07"},
      {"7-Mar", "2024-03-07"},
      {"12-Mar:", "2024-03-12"},
      {"12-Mar :", "2024-03-12"},
      {" \t12-Mar \t: \t", "2024-03-12"},
      {"12-Mar::", ""},
      {"12 Mar", ""},
      {"12-March", ""},
      {"12-Mar-2024", ""},
      {"Tue 12-Mar", ""},
      {"12-Mar lunch", ""},
      {"123-Mar", ""},
      {"Mar 12", "2024-03-12"},
      {"Mar. 12", "2024-03-12"},
      {"mar 12", "2024-03-12"},
      {"Mar.12", ""},
      {"Mar  12", ""},
      {"March 12", ""},
      {"Mar 123", ""},
      {"Mar\t12", ""},
      {"2024-3-7", "2024-03-07"},
      {"2024-03-07", "2024-03-07"},
      {"2019-12-31", "2019-12-31"},
      {"24-03-07", ""},
      {"2024/03/07", ""},
      {"2024-13-01", ""},
      {"7/3/2024", "2024-03-07"},
      {"13/3/2024", "2024-03-13"},
      {"3/13/2024", "2024-03-13"},
      {"12/31/2024", "2024-12-31"},
      {"13/13/2024", ""},
      {"31/4/2024", ""},
      {"0/5/2024", ""},
      {"29-Feb", "2024-02-29"},
      {"5-Foo", ""},
      {"Foo 5", ""},
      {"Sept 5", ""},
      {"", ""},
      {":", ""},
      {"\u0661\u0662-Mar", ""},
      {"\uFF11\uFF12-Mar", ""},
      {"2024-0\u0663-07", ""},
      {"12-Mar\n", ""},
      {"\u00A012-Mar\u3000", "2024-03-12"},
      {"31-Apr", ""},
      {"0-Mar", ""},
      {"12-M\u0430r", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto date = parseDateHeader(c.line, 2024, at("2020-06-01T00:00:00Z"), utc);
    if (*c.expected == '\0') {
      EXPECT_FALSE(date.has_value());
    } else {
      ASSERT_TRUE(date.has_value());
      EXPECT_EQ(formatInternetDate(*date), std::string(c.expected) + "T00:00:00Z");
    }
  }
}

TEST(DateHeaderTest, DefaultYearComesFromTheReferenceYearElseTheFallbackInTheCalendarsZone) {
  const Calendar tokyo("Asia/Tokyo");
  const Calendar newYork("America/New_York");
  // 31 December 2023, 20:00 in New York, is already 2024 in Tokyo.
  const Date fallback = at("2024-01-01T01:00:00Z");
  EXPECT_EQ(formatInternetDate(*parseDateHeader("5-Jan", std::nullopt, fallback, newYork)),
            "2023-01-05T05:00:00Z");
  EXPECT_EQ(formatInternetDate(*parseDateHeader("5-Jan", std::nullopt, fallback, tokyo)),
            "2024-01-04T15:00:00Z");
  EXPECT_EQ(formatInternetDate(*parseDateHeader("Jan 5", 1999, fallback, tokyo)),
            "1999-01-04T15:00:00Z");
  // The reference year is used unchanged: no other year is tried for 29 February.
  EXPECT_FALSE(parseDateHeader("29-Feb", 2023, fallback, tokyo).has_value());
  // Forms with their own year ignore both.
  EXPECT_EQ(formatInternetDate(*parseDateHeader("2020-02-29", 2023, fallback, tokyo)),
            "2020-02-28T15:00:00Z");
}

TEST(DateHeaderTest, MonthsAreThreeLetterEnglishAbbreviationsInAnyCase) {
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"Jan", 1}, {"JAN", 1},   {"jan", 1},      {"Sep", 9}, {"DEC", 12},
      {"may", 5}, {"sept", {}}, {"January", {}}, {"", {}},   {"m\u0430y", {}},
  };
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(monthNumber(name), expected);
  }
}

TEST(ReferenceYearTest, LeftmostYearFrom1900To2099) {
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"Journal 2024", 2024},
      {"2023-2024", 2023},
      {"Trip 1999", 1999},
      {"1899", {}},
      {"2100", {}},
      {"1899 2024", 2024},
      {"FY24", {}},
      {"24", {}},
      {"FY2025", 2025},
      {"2000s", 2000},
      {"Plan2019", 2019},
      {"120245", 2024},
      {"190000", 1900},
      {"Notes", {}},
      {"", {}},
      // The first match has digits of another script: no year, and no later match is tried.
      {"20\u0661\u0662 2023", {}},
      {"\u0662\u0660\u0662\u0663", {}},
      {"\uFF12\uFF10\uFF12\uFF13", {}},
      {"\u00e9t\u00e9 2021", 2021},
  };
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(yearInName(name), expected);
  }
}

}  // namespace
}  // namespace sheafwright
