// The note parser: lines of a note's plain text classified, then grouped into dated entries.
#pragma once

#include "sheafwright/bullet_glyphs.h"
#include "sheafwright/calendar.h"
#include "sheafwright/date.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sheafwright {

// One dated entry of a note.
struct ParsedEntry {
  std::string text;  // one line, or several joined by line feeds
  Date date;         // the first instant of the entry's day
  std::optional<std::string> topic;
  std::string order;  // ascends in entry order within one note

  bool operator==(const ParsedEntry&) const = default;
};

struct ParseResult {
  std::vector<ParsedEntry> entries;
  std::int64_t dateCount = 0;   // every date line, repeated ones too
  std::int64_t topicCount = 0;  // distinct topic texts
};

// The parser of one note, made from the note. It borrows the run's calendar, which learns the
// zone's offsets as notes are parsed; like it, not for concurrent use.
struct NotesParser {
  std::optional<std::int64_t> referenceYear;
  Date creationDate;
  Date modificationDate;  // the default year's source when there is no reference year
  const Calendar& calendar;

  // A line that names a day: the first instant of that day.
  struct DateLine {
    Date date;
    bool operator==(const DateLine&) const = default;
  };
  struct ItemLine {
    std::int64_t level;  // 1 or more
    std::string text;    // not empty, trimmed
    bool operator==(const ItemLine&) const = default;
  };
  struct PlainLine {
    std::string text;  // not empty, trimmed
    bool operator==(const PlainLine&) const = default;
  };
  using Line = std::variant<DateLine, ItemLine, PlainLine>;

  struct BulletGlyph {
    std::string_view glyph;  // one character
    std::int64_t level;
  };
  static constexpr std::array<BulletGlyph, 7> bulletGlyphs{{{bullets::kLevel1, 1},
                                                            {"\u2023", 1},
                                                            {"\u00B7", 1},
                                                            {bullets::kLevel2, 2},
                                                            {"\u25AA", 3},
                                                            {bullets::kLevel3, 3},
                                                            {"\u2756", 3}}};
  // Bullets that mark an item without saying its level.
  static constexpr std::array<std::string_view, 2> neutralBullets{"-", "*"};

  // What one line of note text (without line breaks) is; absent when it is dropped.
  std::optional<Line> classify(std::string_view line) const;

  // Splits the note's plain text into dated entries with topics and order keys.
  ParseResult parse(std::string_view text) const;

  // The first instant of the day a header line names, or absent when the line is no header.
  // `referenceYear`, else the year of `fallback`, is the year of forms without one.
  static std::optional<Date> parseDateHeader(std::string_view line,
                                             std::optional<std::int64_t> referenceYear,
                                             Date fallback, const Calendar& calendar);

  // 1 to 12 for a three-letter English month abbreviation in any case.
  static std::optional<std::int64_t> monthNumber(std::string_view name);

  // The leftmost year from 1900 to 2099 written in a folder or note name.
  static std::optional<std::int64_t> yearInName(std::string_view name);
};

}  // namespace sheafwright
