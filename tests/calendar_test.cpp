// Tests of the calendar operations: local days, day validity and years, in pinned zones.
#include "sheafwright/calendar.h"

#include "sheafwright/date.h"
#include "testing/test_support.h"

#include <gtest/gtest.h>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace sheafwright {
namespace {

std::int64_t micros(std::optional<Date> date) {
  return date ? date->time_since_epoch().count() : -1;
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

// Every question moves the ICU calendars inside; what one question leaves behind must not
// change the answer to the next.
TEST(CalendarTest, AnswersDoNotDependOnEarlierQuestions) {
  const char* const zone = "America/Sao_Paulo";
  using Question = std::function<std::int64_t(const Calendar&)>;
  const std::vector<std::pair<const char*, Question>> questions = {
      {"year just before midnight, new year's eve",
       [](const Calendar& c) { return c.year(at("2024-01-01T02:59:59.999Z")); }},
      {"start of a named day without midnight",
       [](const Calendar& c) { return micros(c.startOfDay(2018, 11, 4)); }},
      {"start of the day holding an instant",
       [](const Calendar& c) { return micros(c.startOfDay(at("2018-11-04T12:34:56.789Z"))); }},
      {"a Julian leap day",
       [](const Calendar& c) { return std::int64_t{c.isValidDate(1500, 2, 29)}; }},
      {"start of a Julian day", [](const Calendar& c) { return micros(c.startOfDay(1500, 3, 1)); }},
      {"a day that does not exist",
       [](const Calendar& c) { return std::int64_t{c.isValidDate(2023, 2, 29)}; }},
  };
  std::vector<std::int64_t> expected;
  for (const auto& question : questions) {
    expected.push_back(question.second(Calendar(zone)));
  }
  const Calendar calendar(zone);
  for (int round = 0; round < 2; ++round) {
    for (std::size_t n = 0; n < questions.size(); ++n) {
      // Forward, then backward, so each question follows two different ones.
      const std::size_t i = round == 0 ? n : questions.size() - 1 - n;
      SCOPED_TRACE(questions[i].first);
      EXPECT_EQ(questions[i].second(calendar), expected[i]);
    }
  }
}

// The start of a day as ICU's own lenient calendar resolves it, asked afresh.
std::int64_t icuStartOfDay(const char* zone, int year, int month, int day) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(
      icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)), icu::Locale("en_US"),
      status));
  calendar->setLenient(true);
  calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
  calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
  calendar->clear();
  calendar->set(year, month - 1, day, 0, 0, 0);
  return static_cast<std::int64_t>(calendar->getTime(status)) * 1000;
}

// Days asked one after another are answered from what calendars learned of their zone; each
// must start where ICU, asked afresh, says it starts, across zones whose changes skip or repeat
// midnights, drop a whole day (Samoa, end of 2011) or move by most of a day.
TEST(CalendarTest, DaysAskedInTurnStartWhereIcuSaysTheyStart) {
  const char* const zones[] = {"Europe/Berlin",      "America/Sao_Paulo", "Pacific/Apia",
                               "America/Havana",     "Asia/Gaza",         "America/Juneau",
                               "Australia/Lord_Howe"};
  std::uint32_t seed = 12345;
  const auto below = [&seed](std::uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  for (const char* zone : zones) {
    SCOPED_TRACE(zone);
    const Calendar inTurn(zone);
    int year = 1850 + static_cast<int>(below(200));
    int month = 1 + static_cast<int>(below(12));
    int day = 1 + static_cast<int>(below(28));
    for (int question = 0; question < 300; ++question) {
      // Mostly nearby days, as a diary names them; now and then a jump.
      if (below(10) == 0) {
        year = 1850 + static_cast<int>(below(200));
        month = 1 + static_cast<int>(below(12));
      } else if (below(3) == 0) {
        month = month % 12 + 1;
      }
      day = 1 + static_cast<int>(below(below(4) == 0 ? 31 : 28));
      SCOPED_TRACE(testing::Message() << year << "-" << month << "-" << day);
      if (inTurn.isValidDate(year, month, day)) {
        EXPECT_EQ(micros(inTurn.startOfDay(year, month, day)),
                  icuStartOfDay(zone, year, month, day));
      }
    }
    // The days of a change, asked right after a day on either side of it: Samoa dropped 30
    // December 2011, Havana's clocks went back from 01:00 to 00:00 on 4 November 2018 (its
    // midnight came twice) and Sao Paulo's forward from 00:00 that day.
    const std::tuple<int, int, int> pairs[][2] = {
        {{2011, 12, 25}, {2011, 12, 30}}, {{2012, 1, 5}, {2011, 12, 30}},
        {{2012, 1, 5}, {2011, 12, 31}},   {{2018, 11, 1}, {2018, 11, 4}},
        {{2018, 11, 9}, {2018, 11, 4}},   {{2018, 11, 9}, {2018, 11, 5}}};
    for (const auto& [before, asked] : pairs) {
      const auto [y, m, d] = asked;
      SCOPED_TRACE(testing::Message() << y << "-" << m << "-" << d);
      // What a calendar learns is its own: a new one has learned nothing yet.
      const Calendar warm(zone);
      warm.startOfDay(std::get<0>(before), std::get<1>(before), std::get<2>(before));
      EXPECT_EQ(micros(warm.startOfDay(y, m, d)), icuStartOfDay(zone, y, m, d));
    }
  }
}

// A copy keeps the calendar system and zone of its original, and what it learned, and outlives
// it.
TEST(CalendarTest, CopiesAnswerLikeTheirOriginal) {
  const Date instant = at("2024-01-01T02:00:00Z");
  auto buddhist = std::make_optional<Calendar>("Asia/Bangkok", "th_TH@calendar=buddhist");
  auto newYork = std::make_optional<Calendar>("America/New_York");
  newYork->startOfDay(2023, 12, 1);
  const Calendar copied(*buddhist);
  Calendar assigned("UTC");
  assigned = *newYork;
  buddhist.reset();
  newYork.reset();
  EXPECT_EQ(copied.year(instant), 2567);
  EXPECT_FALSE(copied.isValidDate(2567, 2, 30));
  EXPECT_TRUE(copied.isValidDate(2567, 2, 29));
  EXPECT_EQ(assigned.year(instant), 2023);
  EXPECT_EQ(formatInternetDate(assigned.startOfDay(instant)), "2023-12-31T05:00:00Z");
  EXPECT_EQ(formatInternetDate(*assigned.startOfDay(2023, 12, 5)), "2023-12-05T05:00:00Z");
}

}  // namespace
}  // namespace sheafwright
