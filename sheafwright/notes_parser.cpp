// The note parser: bullets and indentation measured in grapheme clusters, entries grouped in
// one walk over the lines.
#include "sheafwright/notes_parser.h"

#include "sheafwright/bullet_glyphs.h"
#include "sheafwright/byte_words.h"
#include "sheafwright/date_header.h"
#include "sheafwright/fractional_index.h"
#include "sheafwright/grapheme_boundaries.h"
#include "sheafwright/unicode_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_set>

namespace sheafwright {

namespace {

struct BulletGlyph {
  std::string_view glyph;  // one character
  std::int64_t level;
};
constexpr std::array<BulletGlyph, 7> kBulletGlyphs{{{bullets::kLevel1, 1},
                                                    {"\u2023", 1},
                                                    {"\u00B7", 1},
                                                    {bullets::kLevel2, 2},
                                                    {"\u25AA", 3},
                                                    {bullets::kLevel3, 3},
                                                    {"\u2756", 3}}};
// Bullets that mark an item without saying its level.
constexpr std::array<std::string_view, 2> kNeutralBullets{"-", "*"};

DefaultYear defaultYearOf(const NotesParser& parser) {
  return DefaultYear(parser.referenceYear, parser.modificationDate, parser.calendar);
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

// Where the character at `lead` ends. A bullet glyph followed by ASCII or by the end of the line
// is a character of its own, which saves asking for the boundary: no bullet is a prepended
// mark, and no ASCII character extends the one before it.
std::size_t leadCharacterEnd(std::string_view line, std::size_t lead,
                             text::GraphemeBoundaries& boundaries) {
  const std::string_view rest = line.substr(lead);
  for (const BulletGlyph& bullet : kBulletGlyphs) {
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

  for (const BulletGlyph& bullet : kBulletGlyphs) {
    if (leadCharacter == bullet.glyph) {
      const std::string_view itemText = textAfter(line, leadEnd);
      if (itemText.empty()) {
        return std::nullopt;
      }
      return NotesParser::ItemLine{std::max(bullet.level, width / 2), std::string(itemText)};
    }
  }

  if (std::find(kNeutralBullets.begin(), kNeutralBullets.end(), leadCharacter) !=
      kNeutralBullets.end()) {
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
      : parser_(parser), text_(text), defaultYear_(defaultYearOf(parser)) {}

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
  DefaultYear defaultYear = defaultYearOf(*this);
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
