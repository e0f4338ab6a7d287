// Tests of line classification and of grouping a note's lines into dated entries.
#include "sheafwright/notes_parser.h"

#include "sheafwright/date.h"
#include "testing/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sheafwright {
namespace {

using Line = NotesParser::Line;
using Item = NotesParser::ItemLine;
using Plain = NotesParser::PlainLine;
using DateLine = NotesParser::DateLine;

NotesParser parserIn(const Calendar& calendar, std::optional<std::int64_t> year = 2024) {
  return NotesParser{year, at("2024-03-10T21:30:00Z"), at("2023-07-01T12:00:00Z"), calendar};
}

TEST(NotesParserTest, ClassifiesLines) {
  const Calendar utc("UTC");
  const NotesParser parser = parserIn(utc);
  const Date march12 = at("2024-03-12T00:00:00Z");
  struct Case {
    const char* line;
    std::optional<Line> expected;
  };
  const Case cases[] = {
      {"", {}},
      {" \t  ", {}},
      {"\u00A0\u2003", {}},
      {"\u2022", {}},
      {"\u2022   ", {}},
      {"  \u25E6   ", {}},
      {"-", {}},
      {"- ", {}},
      {"*  \t", {}},
      {"\u2022 Milk", Item{1, "Milk"}},
      {"\u2022Milk", Item{1, "Milk"}},
      {"- Milk", Item{1, "Milk"}},
      {"* Milk", Item{1, "Milk"}},
      {"-Milk", Plain{"-Milk"}},
      {"-\tMilk", Plain{"-\tMilk"}},
      {"+ Milk", Plain{"+ Milk"}},
      {"1. Milk", Plain{"1. Milk"}},
      {"-5 degrees", Plain{"-5 degrees"}},
      {"-- Milk", Plain{"-- Milk"}},
      {"    - Milk", Item{2, "Milk"}},
      {"   - Milk", Item{1, "Milk"}},
      {"\t- Milk", Item{1, "Milk"}},
      {"\t\t- Milk", Item{2, "Milk"}},
      {"\u25C6 Deep", Item{3, "Deep"}},
      {"\u25AA Deep", Item{3, "Deep"}},
      {"\u2756 Deep", Item{3, "Deep"}},
      {"\u2023 One", Item{1, "One"}},
      {"\u00B7 One", Item{1, "One"}},
      {"  \u2022 Work", Item{1, "Work"}},
      {"    \u25E6 Call", Item{2, "Call"}},
      {"        \u25C6 Deep", Item{4, "Deep"}},
      {"            \u2022 x", Item{6, "x"}},
      {"  Milk", Item{1, "Milk"}},
      {" Milk", Plain{"Milk"}},
      {"\tMilk", Item{1, "Milk"}},
      {"  12-Mar", Item{1, "12-Mar"}},
      {" 12-Mar", DateLine{march12}},
      {"12-Mar", DateLine{march12}},
      {"12-Mar:", DateLine{march12}},
      {"Mar 12 ", DateLine{march12}},
      // A no-break space is trimmed, but it stops the indentation and is the lead character.
      {"\u00A0\u2022 x", Plain{"\u2022 x"}},
      // A glyph or neutral bullet joined to a combining mark is no bullet.
      {"\u2022\u0301 x", Plain{"\u2022\u0301 x"}},
      {"-\u0301 x", Plain{"-\u0301 x"}},
      // A space joined to a combining mark is no indentation.
      {"  \u0301x", Plain{"\u0301x"}},
      {"- \u0301x", Plain{"- \u0301x"}},
      {"\u2022 Caf\u00e9 \u2615 ", Item{1, "Caf\u00e9 \u2615"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(parser.classify(c.line), c.expected);
  }
}

struct Expected {
  const char* text;
  const char* date;
  std::optional<std::string> topic;
  const char* order;
};

void expectEntries(const ParseResult& result, const std::vector<Expected>& expected) {
  ASSERT_EQ(result.entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(result.entries[i].text, expected[i].text);
    EXPECT_EQ(formatInternetDate(result.entries[i].date), expected[i].date);
    EXPECT_EQ(result.entries[i].topic, expected[i].topic);
    EXPECT_EQ(result.entries[i].order, expected[i].order);
  }
}

const char* const kWorkedExample =
    "Trip notes\n12-Mar\n  \u2022 Work\n    \u25E6 Call Anna\n      \u25C6 about the contract\n"
    "    \u25E6 Send report\n  \u2022 Buy milk\n13-Mar\nSlept well";

TEST(NotesParserTest, LinesBecomeDatedEntriesWithTopicsAndAscendingKeys) {
  // Created 10 March, 21:30 UTC: in New York that is still 10 March.
  const ParseResult result = parserIn(Calendar("America/New_York")).parse(kWorkedExample);
  expectEntries(result, {
                            {"Trip notes", "2024-03-10T05:00:00Z", {}, "V"},
                            {"Call Anna\nabout the contract", "2024-03-12T04:00:00Z", "Work", "k"},
                            {"Send report", "2024-03-12T04:00:00Z", "Work", "s"},
                            {"Buy milk", "2024-03-12T04:00:00Z", {}, "w"},
                            {"Slept well", "2024-03-13T04:00:00Z", {}, "y"},
                        });
  EXPECT_EQ(result.dateCount, 2);
  EXPECT_EQ(result.topicCount, 1);
}

TEST(NotesParserTest, EveryLineBreakCharacterSplitsLikeALineFeed) {
  const Calendar tokyo("Asia/Tokyo");
  const NotesParser parser = parserIn(tokyo);
  const ParseResult expected = parser.parse(kWorkedExample);
  for (const char* separator : {"\r\n", "\r", "\u2028", "\u2029", "\u0085", "\v", "\f", "\n\n"}) {
    SCOPED_TRACE(testing::PrintToString(separator));
    std::string text = kWorkedExample;
    for (std::size_t at = text.find('\n'); at != std::string::npos;
         at = text.find('\n', at + std::string_view(separator).size())) {
      text.replace(at, 1, separator);
    }
    const ParseResult result = parser.parse(text);
    EXPECT_EQ(result.entries, expected.entries);
    EXPECT_EQ(result.dateCount, expected.dateCount);
    EXPECT_EQ(result.topicCount, expected.topicCount);
  }
}

TEST(NotesParserTest, EntriesDatesAndTopicsFollowTheLineArrangement) {
  const Calendar utc("UTC");
  const NotesParser parser = parserIn(utc);
  const char* c10 = "2024-03-10T00:00:00Z";
  const char* m12 = "2024-03-12T00:00:00Z";
  struct Case {
    const char* name;
    const char* text;
    std::vector<Expected> entries;
    std::int64_t dates, topics;
  };
  const std::vector<Case> cases = {
      {"empty text", "", {}, 0, 0},
      {"only blank lines and bare bullets", "\n  \n\u2022\n- \n", {}, 0, 0},
      {"date lines only, repeated", "12-Mar\n12-Mar\n13-Mar", {}, 3, 0},
      {"same date twice", "12-Mar\na\n12-Mar\nb", {{"a", m12, {}, "V"}, {"b", m12, {}, "k"}}, 2, 0},
      {"level-1 item last", "12-Mar\n- a", {{"a", m12, {}, "V"}}, 1, 0},
      {"level-1 items in a row", "- a\n- b", {{"a", c10, {}, "V"}, {"b", c10, {}, "k"}}, 0, 0},
      {"level-1 before a plain line", "- a\nb", {{"a", c10, {}, "V"}, {"b", c10, {}, "k"}}, 0, 0},
      {"level-1 before a date line",
       "- a\n12-Mar\n    - b",
       {{"a", c10, {}, "V"}, {"b", m12, {}, "k"}},
       1,
       0},
      {"topic over a level-3 item", "- T\n      - deep", {{"deep", c10, "T", "V"}}, 0, 1},
      {"blank lines do not break the look-ahead", "- T\n\n\n    - x", {{"x", c10, "T", "V"}}, 0, 1},
      {"a plain line ends the topic",
       "- T\n    - x\nplain\n    - y",
       {{"x", c10, "T", "V"}, {"plain", c10, {}, "k"}, {"y", c10, {}, "s"}},
       0,
       1},
      {"a date line ends the topic",
       "- T\n    - x\n12-Mar\n    - y",
       {{"x", c10, "T", "V"}, {"y", m12, {}, "k"}},
       1,
       1},
      {"a level-1 entry has no topic",
       "- T\n    - x\n- e\n- f",
       {{"x", c10, "T", "V"}, {"e", c10, {}, "k"}, {"f", c10, {}, "s"}},
       0,
       1},
      {"level-2 without topic", "    - x", {{"x", c10, {}, "V"}}, 0, 0},
      {"level-3 after a date line starts an entry",
       "12-Mar\n      - d",
       {{"d", m12, {}, "V"}},
       1,
       0},
      {"level-3 carries on a plain line",
       "p\n      - d\n        - e",
       {{"p\nd\ne", c10, {}, "V"}},
       0,
       0},
      {"level-3 glyph items carry on one entry",
       "p\n      \u25C6 x\n      \u25C6 y\n      \u25C6 z",
       {{"p\nx\ny\nz", c10, {}, "V"}},
       0,
       0},
      {"level-3 after a topic line starts an entry, then carries it on",
       "- T\n      - d\n      - e",
       {{"d\ne", c10, "T", "V"}},
       0,
       1},
      {"repeated topic counts once",
       "- T\n    - a\n- T\n    - b\n- U\n    - c",
       {{"a", c10, "T", "V"}, {"b", c10, "T", "k"}, {"c", c10, "U", "s"}},
       0,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult result = parser.parse(c.text);
    expectEntries(result, c.entries);
    EXPECT_EQ(result.dateCount, c.dates);
    EXPECT_EQ(result.topicCount, c.topics);
  }
}

// The year of headers without one is asked anew for each parse, of that parse's own parser:
// nothing is remembered in a parser.
TEST(NotesParserTest, EachParseTakesTheDefaultYearOfItsOwnParser) {
  const Calendar utc("UTC");
  NotesParser parser = parserIn(utc, std::nullopt);
  const auto firstDate = [](const NotesParser& p) {
    const ParseResult result = p.parse("12-Mar\nx");
    return result.entries.empty() ? std::string() : formatInternetDate(result.entries[0].date);
  };
  EXPECT_EQ(firstDate(parser), "2023-03-12T00:00:00Z");
  parser.modificationDate = at("2021-07-01T12:00:00Z");
  EXPECT_EQ(firstDate(parser), "2021-03-12T00:00:00Z");
  const NotesParser other{std::nullopt, parser.creationDate, at("2019-07-01T12:00:00Z"),
                          parser.calendar};
  EXPECT_EQ(firstDate(other), "2019-03-12T00:00:00Z");
  EXPECT_EQ(firstDate(parser), "2021-03-12T00:00:00Z");
  parser.referenceYear = 2020;
  EXPECT_EQ(firstDate(parser), "2020-03-12T00:00:00Z");
}

}  // namespace
}  // namespace sheafwright
