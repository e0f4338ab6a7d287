#include "sheafwright/calendar.h"

#include "sheafwright/date.h"

#include <gtest/gtest.h>

namespace sheafwright {
namespace {

Date at(const char* text) {
  return *parseInternetDate(text);
}

TEST(CalendarTest, StartOfANamedDayIsLocalMidnightOrTheFirstInstantAfterAGap) {
  struct Case {
    const char* zone;
    int year, month, day;
    const char* expected;
  };
  const Case cases[] = {
      {"UTC", 2024, 3, 12, "2024-03-12T00:00:00Z"},
      {"Europe/Berlin", 2024, 3, 4, "2024-03-03T23:00:00Z"},
      {"Asia/Tokyo", 2024, 1, 1, "2023-12-31T15:00:00Z"},
      {"America/Los_Angeles", 2024, 7, 4, "2024-07-04T07:00:00Z"},
      // Midnight did not exist here that day: the clocks went from 00:00 to 01:00.
      {"America/Sao_Paulo", 2018, 11, 4, "2018-11-04T03:00:00Z"},
      {"America/Sao_Paulo", 2018, 11, 5, "2018-11-05T02:00:00Z"},
      // The day of a change that happens later in the night still starts at midnight.
      {"Europe/Berlin", 2024, 3, 31, "2024-03-30T23:00:00Z"},
      {"Europe/Berlin", 2024, 10, 27, "2024-10-26T22:00:00Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.zone << " " << c.year << "-" << c.month << "-" << c.day);
    const Calendar calendar(c.zone);
    const auto start = calendar.startOfDay(c.year, c.month, c.day);
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(formatInternetDate(*start), c.expected);
  }
}

TEST(CalendarTest, StartOfTheDayHoldingAnInstant) {
  struct Case {
    const char* zone;
    const char* instant;
    const char* expected;
  };
  const Case cases[] = {
      // Late evening behind UTC is still that local day.
      {"America/New_York", "2024-03-13T03:30:00Z", "2024-03-12T04:00:00Z"},
      {"Asia/Kolkata", "2024-03-12T20:00:00Z", "2024-03-12T18:30:00Z"},
      {"UTC", "2024-03-12T23:59:59.999999Z", "2024-03-12T00:00:00Z"},
      {"America/Sao_Paulo", "2018-11-04T12:00:00Z", "2018-11-04T03:00:00Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.zone << " " << c.instant);
    EXPECT_EQ(formatInternetDate(Calendar(c.zone).startOfDay(at(c.instant))), c.expected);
  }
}

TEST(CalendarTest, ValidDaysFollowMonthLengthsAndLeapYears) {
  const Calendar calendar("America/Sao_Paulo");
  struct Case {
    std::int64_t year, month, day;
    bool valid;
  };
  const Case cases[] = {
      {2024, 2, 29, true},      {2023, 2, 29, false}, {1900, 2, 29, false}, {2000, 2, 29, true},
      {2024, 4, 31, false},     {2024, 4, 30, true},  {2024, 13, 1, false}, {2024, 0, 5, false},
      {2024, 5, 0, false},      {2024, 1, 45, false}, {2018, 11, 4, true},  {9999, 12, 31, true},
      {1LL << 40, 1, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day);
    EXPECT_EQ(calendar.isValidDate(c.year, c.month, c.day), c.valid);
    EXPECT_EQ(calendar.startOfDay(c.year, c.month, c.day).has_value(), c.valid);
  }
}

// The Gregorian calendar answers from <chrono> after 1582. The Buddhist calendar has the same
// months and days, its years 543 ahead, and is always asked of ICU itself.
TEST(CalendarTest, GregorianValidityAgreesWithIcu) {
  const Calendar gregorian("UTC");
  const Calendar buddhist("UTC", "th_TH@calendar=buddhist");
  for (const std::int64_t year :
       {1582, 1583, 1600, 1700, 1900, 2000, 2023, 2024, 2100, 9999, 32767, 32768, 400000}) {
    for (std::int64_t month = 0; month <= 13; ++month) {
      for (std::int64_t day = 0; day <= 32; ++day) {
        SCOPED_TRACE(testing::Message() << year << "-" << month << "-" << day);
        ASSERT_EQ(gregorian.isValidDate(year, month, day),
                  buddhist.isValidDate(year + 543, month, day));
      }
    }
  }
}

TEST(CalendarTest, YearIsTakenInTheCalendarsZone) {
  EXPECT_EQ(Calendar("UTC").year(at("2024-01-01T02:00:00Z")), 2024);
  EXPECT_EQ(Calendar("America/New_York").year(at("2024-01-01T02:00:00Z")), 2023);
  EXPECT_EQ(Calendar("Asia/Tokyo").year(at("2023-12-31T16:00:00Z")), 2024);
}

}  // namespace
}  // namespace sheafwright
