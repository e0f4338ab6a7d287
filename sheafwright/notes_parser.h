// The note parser: lines of a note's plain text classified, then grouped into dated entries.
#pragma once

#include "sheafwright/calendar.h"
#include "sheafwright/date.h"

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

  // What one line of note text (without line breaks) is; absent when it is dropped.
  std::optional<Line> classify(std::string_view line) const;

  // Splits the note's plain text into dated entries with topics and order keys.
  ParseResult parse(std::string_view text) const;
};

}  // namespace sheafwright
