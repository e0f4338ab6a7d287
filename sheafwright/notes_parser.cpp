// The note parser: header forms matched by hand, bullets and indentation measured in grapheme
// clusters, entries grouped in one walk over the lines.
#include "sheafwright/notes_parser.h"

#include "sheafwright/ascii.h"
#include "sheafwright/byte_words.h"
#include "sheafwright/fractional_index.h"
#include "sheafwright/grapheme_boundaries.h"
#include "sheafwright/text_cursor.h"
#include "sheafwright/unicode_text.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_set>

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
      if (const auto month = NotesParser::monthNumber(*name)) {
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
      if (const auto month = NotesParser::monthNumber(*name)) {
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

// The year of header forms that name none: the reference year, else the year of the
// modification date. A note asks it for each such header, and the calendar once per parse.
class DefaultYear {
 public:
  DefaultYear(std::optional<std::int64_t> referenceYear, Date modificationDate,
              const Calendar& calendar)
      : referenceYear_(referenceYear), modificationDate_(modificationDate), calendar_(calendar) {}
  explicit DefaultYear(const NotesParser& parser)
      : DefaultYear(parser.referenceYear, parser.modificationDate, parser.calendar) {}

  std::int64_t operator()() {
    if (!year_) {
      year_ = referenceYear_ ? *referenceYear_ : calendar_.year(modificationDate_);
    }
    return *year_;
  }

 private:
  std::optional<std::int64_t> referenceYear_;
  Date modificationDate_;
  const Calendar& calendar_;
  std::optional<std::int64_t> year_;
};

// The first instant of the day a header line names. `defaultYear()` gives the year of the
// forms without one; it is called only for those.
template <typename YearSource>
std::optional<Date> headerDate(std::string_view line, const Calendar& calendar,
                               YearSource&& defaultYear) {
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

// The rest of `line` after byte offset `pos`, trimmed.
std::string_view textAfter(std::string_view line, std::size_t pos) {
  return text::trimWhiteSpace(line.substr(pos));
}

// The length of the line break at `pos`, or 0: U+000A to U+000D, U+0085 (C2 85), U+2028 and
// U+2029 (E2 80 A8 and A9). Their bytes are compared directly, which is what decoding at
// `pos` would find.
std::size_t lineBreakAt(std::string_view text, std::size_t pos) {
  const auto byte = static_cast<unsigned char>(text[pos]);
  if (byte >= 0x0A && byte <= 0x0D) {
    return 1;
  }
  const std::size_t left = text.size() - pos;
  if (byte == 0xC2) {
    return left >= 2 && static_cast<unsigned char>(text[pos + 1]) == 0x85 ? 2 : 0;
  }
  if (byte == 0xE2 && left >= 3 && static_cast<unsigned char>(text[pos + 1]) == 0x80) {
    const auto last = static_cast<unsigned char>(text[pos + 2]);
    return last == 0xA8 || last == 0xA9 ? 3 : 0;
  }
  return 0;
}

// The first offset from `pos` on, in steps of eight bytes, where a byte below U+0020 or beyond
// ASCII could stand: no line break starts before it.
std::size_t skipPrintableAscii(std::string_view text, std::size_t pos) {
  for (; pos + 8 <= text.size(); pos += 8) {
    const std::uint64_t word = words::load(text.data() + pos);
    if (((words::bytesBelow(word, 0x20) | word) & words::kHighs) != 0) {
      break;
    }
  }
  return pos;
}

}  // namespace

std::optional<std::int64_t> NotesParser::monthNumber(std::string_view name) {
  static constexpr std::array<std::string_view, 12> kMonths{
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  const std::string lower = text::lowercase(name);
  const auto it = std::find(kMonths.begin(), kMonths.end(), lower);
  if (it == kMonths.end()) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(it - kMonths.begin()) + 1;
}

std::optional<Date> NotesParser::parseDateHeader(std::string_view line,
                                                 std::optional<std::int64_t> referenceYear,
                                                 Date fallback, const Calendar& calendar) {
  DefaultYear defaultYear(referenceYear, fallback, calendar);
  return headerDate(line, calendar, defaultYear);
}

std::optional<std::int64_t> NotesParser::yearInName(std::string_view name) {
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where;
    std::unique_ptr<icu::RegexPattern> made(
        icu::RegexPattern::compile(icu::UnicodeString(u"(19|20)\\d\\d"), 0, where, status));
    assert(U_SUCCESS(status) && made);
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
  if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) {
    return std::nullopt;
  }
  std::string match;
  matcher->group(status).toUTF8String(match);
  if (U_FAILURE(status) || match.size() != 4 ||
      !std::all_of(match.begin(), match.end(), ascii::isDigit)) {
    return std::nullopt;
  }
  return readNumber(match);
}

namespace {

// Where the character at `lead` ends. A bullet glyph followed by ASCII or by the end of the line
// is a character of its own, which saves asking for the boundary: no bullet is a prepended
// mark, and no ASCII character extends the one before it.
std::size_t leadCharacterEnd(std::string_view line, std::size_t lead,
                             text::GraphemeBoundaries& boundaries) {
  const std::string_view rest = line.substr(lead);
  for (const NotesParser::BulletGlyph& bullet : NotesParser::bulletGlyphs) {
    if (rest.starts_with(bullet.glyph) &&
        (rest.size() == bullet.glyph.size() ||
         static_cast<unsigned char>(rest[bullet.glyph.size()]) < 0x80)) {
      return lead + bullet.glyph.size();
    }
  }
  return boundaries.next(lead);
}

std::optional<NotesParser::Line> classifyLine(const NotesParser& parser, std::string_view line,
                                              text::GraphemeBoundaries& boundaries,
                                              DefaultYear& defaultYear) {
  const std::string_view trimmed = text::trimWhiteSpace(line);
  if (trimmed.empty()) {
    return std::nullopt;
  }

  boundaries.reset(line);
  std::int64_t width = 0;
  std::size_t lead = 0;
  while ((line[lead] == ' ' || line[lead] == '\t') && boundaries.next(lead) == lead + 1) {
    width += line[lead] == '\t' ? 2 : 1;
    ++lead;
  }
  const std::size_t leadEnd = leadCharacterEnd(line, lead, boundaries);
  const std::string_view leadCharacter = line.substr(lead, leadEnd - lead);

  for (const NotesParser::BulletGlyph& bullet : NotesParser::bulletGlyphs) {
    if (leadCharacter == bullet.glyph) {
      const std::string_view itemText = textAfter(line, leadEnd);
      if (itemText.empty()) {
        return std::nullopt;
      }
      return NotesParser::ItemLine{std::max(bullet.level, width / 2), std::string(itemText)};
    }
  }

  if (std::find(NotesParser::neutralBullets.begin(), NotesParser::neutralBullets.end(),
                leadCharacter) != NotesParser::neutralBullets.end()) {
    const bool lastCharacter = leadEnd == line.size();
    const bool spaceFollows =
        !lastCharacter && line[leadEnd] == ' ' && boundaries.next(leadEnd) == leadEnd + 1;
    if (lastCharacter || spaceFollows) {
      const std::string_view itemText = textAfter(line, leadEnd);
      if (itemText.empty()) {
        return std::nullopt;
      }
      return NotesParser::ItemLine{width >= 2 ? width / 2 : 1, std::string(itemText)};
    }
  }

  if (width >= 2) {
    return NotesParser::ItemLine{width / 2, std::string(trimmed)};
  }
  if (const auto date = headerDate(trimmed, parser.calendar, defaultYear)) {
    return NotesParser::DateLine{*date};
  }
  return NotesParser::PlainLine{std::string(trimmed)};
}

// The kept lines of a text, classified one at a time as the walk asks for them.
class LineReader {
 public:
  LineReader(const NotesParser& parser, std::string_view text)
      : parser_(parser), text_(text), defaultYear_(parser) {}

  std::optional<NotesParser::Line> next() {
    while (!done_) {
      std::size_t breakLength = 0;
      std::size_t end = start_;
      while ((end = skipPrintableAscii(text_, end)) < text_.size() &&
             (breakLength = lineBreakAt(text_, end)) == 0) {
        ++end;
      }
      auto line =
          classifyLine(parser_, text_.substr(start_, end - start_), boundaries_, defaultYear_);
      if (end >= text_.size()) {
        done_ = true;
      } else {
        start_ = end + breakLength;
      }
      if (line) {
        return line;
      }
    }
    return std::nullopt;
  }

 private:
  const NotesParser& parser_;
  std::string_view text_;
  text::GraphemeBoundaries boundaries_{std::string_view()};  // of the current line
  DefaultYear defaultYear_;
  std::size_t start_ = 0;
  bool done_ = false;
};

}  // namespace

std::optional<NotesParser::Line> NotesParser::classify(std::string_view line) const {
  text::GraphemeBoundaries boundaries(line);
  DefaultYear defaultYear(*this);
  return classifyLine(*this, line, boundaries, defaultYear);
}

ParseResult NotesParser::parse(std::string_view text) const {
  ParseResult result;
  std::optional<Date> headerDay;    // named by the last date line
  std::optional<Date> creationDay;  // computed on first need
  std::optional<std::string> currentTopic;
  std::unordered_set<std::string> topics;
  bool entryOpen = false;

  const auto makeEntry = [&](std::string entryText, std::optional<std::string> topic) {
    std::optional<std::string_view> lastKey;
    if (!result.entries.empty()) {
      lastKey = result.entries.back().order;
    }
    std::string key = FractionalIndex::between(lastKey, std::nullopt);
    if (!headerDay && !creationDay) {
      creationDay = calendar.startOfDay(creationDate);
    }
    result.entries.push_back(ParsedEntry{std::move(entryText),
                                         headerDay ? *headerDay : *creationDay, std::move(topic),
                                         std::move(key)});
    entryOpen = true;
  };

  // One walk over the kept lines with a look-ahead of exactly one.
  LineReader reader(*this, text);
  std::optional<Line> line = reader.next();
  while (line) {
    std::optional<Line> next = reader.next();
    if (const auto* date = std::get_if<DateLine>(&*line)) {
      headerDay = date->date;
      ++result.dateCount;
      currentTopic.reset();
      entryOpen = false;
    } else if (auto* plain = std::get_if<PlainLine>(&*line)) {
      makeEntry(std::move(plain->text), std::nullopt);
      currentTopic.reset();
    } else {
      auto& item = std::get<ItemLine>(*line);
      if (item.level == 1) {
        const auto* following = next ? std::get_if<ItemLine>(&*next) : nullptr;
        if (following && following->level >= 2) {
          topics.insert(item.text);
          currentTopic = std::move(item.text);
          entryOpen = false;
        } else {
          makeEntry(std::move(item.text), std::nullopt);
          currentTopic.reset();
        }
      } else if (item.level >= 3 && entryOpen) {
        std::string& open = result.entries.back().text;
        open += '\n';
        open += item.text;
      } else {
        makeEntry(std::move(item.text), currentTopic);
      }
    }
    line = std::move(next);
  }
  result.topicCount = static_cast<std::int64_t>(topics.size());
  return result;
}

}  // namespace sheafwright
