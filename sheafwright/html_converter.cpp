// A one-pass scanner over the HTML body: known tags end lines or change the list depth, the
// text between them is decoded and trimmed.
#include "sheafwright/html_converter.h"

#include "sheafwright/ascii.h"
#include "sheafwright/bullet_glyphs.h"
#include "sheafwright/grapheme_boundaries.h"
#include "sheafwright/unicode_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace sheafwright {

namespace {

// ---- Entities -------------------------------------------------------------------------------

struct NamedEntity {
  std::string_view entity;
  char replacement;
};

// Longest first, so the longest entity starting at an "&" wins. The four forms without a
// semicolon are how Notes itself writes "&", "<", ">" and the double quote.
constexpr std::array<NamedEntity, 11> kNamedEntities{{
    {"&nbsp;", ' '},
    {"&quot;", '"'},
    {"&apos;", '\''},
    {"&amp;", '&'},
    {"&#39;", '\''},
    {"&quot", '"'},
    {"&lt;", '<'},
    {"&gt;", '>'},
    {"&amp", '&'},
    {"&lt", '<'},
    {"&gt", '>'},
}};

// One left-to-right pass into `out`; what a replacement produces is not looked at again.
void decodeNamed(std::string_view text, std::string& out) {
  out.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) {
      out.append(text, pos, std::string_view::npos);
      break;
    }
    out.append(text, pos, amp - pos);
    pos = amp + 1;
    out += '&';
    for (const NamedEntity& named : kNamedEntities) {
      if (text.substr(amp, named.entity.size()) == named.entity) {
        out.back() = named.replacement;
        pos = amp + named.entity.size();
        break;
      }
    }
  }
}

// Decoding numeric entities by "find the leftmost match, replace it, search again from the
// start" is quadratic when done literally. Matches of "&#\d+;" cannot overlap, so the leftmost
// match is the one that ends first: feed the characters one by one onto the output, and each
// time a ";" lands, see whether the output now ends in a match. A replacement character is fed
// again, since it can complete a match with the text before or after it. The text before a
// match never holds one, so the result is the same as the literal loop's.
class NumericEntityDecoder {
 public:
  // Writes into `out`, which it empties first.
  explicit NumericEntityDecoder(std::string& out) : out_(out) { out_.clear(); }

  void feed(char32_t c) {
    for (;;) {
      text::appendUtf8(out_, c);
      if (c != U';') {
        return;
      }
      const auto replacement = replaceMatchAtEnd();
      if (!replacement || *replacement == kRemoved) {
        return;
      }
      c = *replacement;
    }
  }

  void feedBytes(std::string_view bytes) { out_.append(bytes); }

 private:
  static constexpr char32_t kRemoved = 0xFFFFFFFF;

  // When the output ends in "&#" digits ";", removes it and says what stands in its place.
  std::optional<char32_t> replaceMatchAtEnd() {
    std::size_t digitsBegin = out_.size() - 1;
    while (digitsBegin > 0) {
      const text::CodePoint c = text::codePointBefore(out_, digitsBegin);
      if (!text::isDecimalDigit(c.value)) {
        break;
      }
      digitsBegin -= c.length;
    }
    const std::size_t digitsEnd = out_.size() - 1;
    if (digitsBegin == digitsEnd || digitsBegin < 2 || out_[digitsBegin - 1] != '#' ||
        out_[digitsBegin - 2] != '&') {
      return std::nullopt;
    }
    // Absent when a digit is not ASCII or the number does not fit in 32 bits.
    const auto number = ascii::readDecimal<std::uint32_t>(
        std::string_view(out_).substr(digitsBegin, digitsEnd - digitsBegin));
    out_.resize(digitsBegin - 2);
    if (!number || (*number >= 0xD800 && *number <= 0xDFFF) || *number >= 0x110000) {
      return kRemoved;
    }
    return static_cast<char32_t>(*number);
  }

  std::string& out_;
};

// `text` with its numeric entities decoded: `text` itself when it has none, else `out`.
std::string_view decodeNumeric(std::string_view text, std::string& out) {
  if (text.find("&#") == std::string_view::npos) {
    return text;
  }
  NumericEntityDecoder decoder(out);
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Runs without ";" cannot end a match: copy them whole.
    const std::size_t semicolon = text.find(';', pos);
    if (semicolon == std::string_view::npos) {
      decoder.feedBytes(text.substr(pos));
      break;
    }
    decoder.feedBytes(text.substr(pos, semicolon - pos));
    decoder.feed(U';');
    pos = semicolon + 1;
  }
  return out;
}

// The entities of `text` decoded, named ones first and then numeric ones in what that left,
// in the two buffers given, which a caller keeps to spare an allocation a line.
std::string_view decodeEntitiesInto(std::string_view text, std::string& named,
                                    std::string& numeric) {
  if (text.find('&') == std::string_view::npos) {
    return text;
  }
  decodeNamed(text, named);
  return decodeNumeric(named, numeric);
}

// ---- Scanner --------------------------------------------------------------------------------

enum class TagAction { kNone, kOpenList, kCloseList, kBlock, kSkip };

struct KnownTag {
  std::string_view name;
  TagAction action;
};

constexpr std::array<KnownTag, 23> kTags{{
    {"ul", TagAction::kOpenList},   {"ol", TagAction::kOpenList}, {"/ul", TagAction::kCloseList},
    {"/ol", TagAction::kCloseList}, {"li", TagAction::kBlock},    {"/li", TagAction::kBlock},
    {"div", TagAction::kBlock},     {"/div", TagAction::kBlock},  {"p", TagAction::kBlock},
    {"/p", TagAction::kBlock},      {"br", TagAction::kBlock},    {"br/", TagAction::kBlock},
    {"h1", TagAction::kBlock},      {"h2", TagAction::kBlock},    {"h3", TagAction::kBlock},
    {"/h1", TagAction::kBlock},     {"/h2", TagAction::kBlock},   {"/h3", TagAction::kBlock},
    {"tr", TagAction::kBlock},      {"/tr", TagAction::kBlock},   {"style", TagAction::kSkip},
    {"script", TagAction::kSkip},   {"head", TagAction::kSkip},
}};

constexpr std::int64_t kMaxRenderedLevel = 16;

// Longer names can still lowercase to a known one (the Kelvin sign becomes "k"), but never
// from this many bytes.
constexpr std::size_t kLongestNameBytes = 32;

// A name of up to seven bytes, ASCII letters lowered, and its length in one number: compared
// without memcmp.
constexpr std::uint64_t packedName(std::string_view name) {
  std::uint64_t packed = name.size();
  for (const char c : name) {
    packed = (packed << 8) | static_cast<unsigned char>(ascii::toLower(c));
  }
  return packed;
}

constexpr std::size_t kLongestKnownName = 7;
static_assert(std::all_of(kTags.begin(), kTags.end(), [](const KnownTag& tag) {
  return tag.name.size() <= kLongestKnownName;
}));

constexpr auto kPackedTags = [] {
  std::array<std::uint64_t, kTags.size()> packed{};
  for (std::size_t i = 0; i < kTags.size(); ++i) {
    packed[i] = packedName(kTags[i].name);
  }
  return packed;
}();

// The known tag that the tag text names, or null. The name is the tag text lowercased,
// trimmed of white space, up to its first space.
const KnownTag* knownTag(std::string_view tagText) {
  const std::string_view trimmed = text::trimWhiteSpace(tagText);
  const std::string_view raw = trimmed.substr(0, trimmed.find(' '));
  if (raw.size() > kLongestNameBytes) {
    return nullptr;
  }
  std::string lowered;  // only names with non-ASCII letters need the Unicode mapping
  std::string_view name = raw;
  if (!ascii::isAsciiText(raw)) {
    lowered = text::lowercase(raw);
    name = lowered;
  }
  if (name.size() > kLongestKnownName) {
    return nullptr;
  }
  const std::uint64_t packed = packedName(name);
  for (std::size_t i = 0; i < kTags.size(); ++i) {
    if (kPackedTags[i] == packed) {
      return &kTags[i];
    }
  }
  return nullptr;
}

class Scanner {
 public:
  explicit Scanner(std::string_view body) : body_(body), boundaries_(body) {
    // The text is rarely longer than its markup: one allocation instead of repeated growth.
    out_.reserve(body.size());
  }

  std::string run() {
    std::size_t pos = 0;
    while (pos < body_.size()) {
      if (body_[pos] == '<' && boundaries_.isWholeCharacter(pos, 1)) {
        const auto close = findDelimiter('>', pos + 1);
        if (!close) {
          break;  // an unclosed "<" ends the scan
        }
        pos = actOnTag(body_.substr(pos + 1, *close - pos - 1), *close);
        continue;
      }
      // Text up to the next "<" that could be a delimiter goes in unchanged.
      const std::size_t next = std::min(body_.find('<', pos + 1), body_.size());
      addText(body_.substr(pos, next - pos));
      pos = next;
    }
    flush();
    return std::move(out_);
  }

 private:
  // The first `delimiter` at or after `from` that is a character of its own.
  std::optional<std::size_t> findDelimiter(char delimiter, std::size_t from) {
    for (std::size_t at = body_.find(delimiter, from); at != std::string_view::npos;
         at = body_.find(delimiter, at + 1)) {
      if (boundaries_.isWholeCharacter(at, 1)) {
        return at;
      }
    }
    return std::nullopt;
  }

  // Acts on a tag whose ">" is at `close`; returns where scanning goes on.
  std::size_t actOnTag(std::string_view tagText, std::size_t close) {
    const KnownTag* tag = knownTag(tagText);
    switch (tag ? tag->action : TagAction::kNone) {
      case TagAction::kOpenList:
        flush();
        ++depth_;
        break;
      case TagAction::kCloseList:
        flush();
        depth_ = depth_ > 0 ? depth_ - 1 : 0;
        break;
      case TagAction::kBlock:
        flush();
        currentLevel_ = depth_;
        break;
      case TagAction::kSkip:
        return skipElement(*tag, close + 1);
      case TagAction::kNone:
        break;
    }
    return close + 1;
  }

  // Skips to past the element's closing tag, if there is one after `from`.
  std::size_t skipElement(const KnownTag& tag, std::size_t from) {
    const std::string_view name = tag.name;
    const auto occurrence = findClosingTag(tag, from);
    if (!occurrence) {
      return from;
    }
    const std::size_t end = *occurrence + 2 + name.size();
    const auto close = findDelimiter('>', end);
    return close ? *close + 1 : end;
  }

  // The first "</name" at or after `from`, in any letter case. Searching afresh for every
  // unclosed opening tag would be quadratic; scanning only moves forward, so the last answer
  // for each tag still holds while it lies ahead.
  std::optional<std::size_t> findClosingTag(const KnownTag& tag, std::size_t from) {
    const std::string_view name = tag.name;
    ClosingSearch& search = closingSearches_[static_cast<std::size_t>(&tag - kTags.data())];
    if (search.searched && from >= search.from && (!search.found || *search.found >= from)) {
      return search.found;
    }
    search.searched = true;
    search.from = from;
    search.found.reset();
    for (std::size_t at = body_.find("</", from); at != std::string_view::npos;
         at = body_.find("</", at + 1)) {
      const std::size_t end = at + 2 + name.size();
      if (end <= body_.size() &&
          ascii::equalsIgnoringCase(body_.substr(at + 2, name.size()), name) &&
          boundaries_.isBoundary(at) && boundaries_.isBoundary(end)) {
        search.found = at;
        break;
      }
    }
    return search.found;
  }

  // Most lines are one run of text between two tags: those are read in place, and only a line
  // of several runs is gathered into a string of its own.
  void addText(std::string_view run) {
    if (pending_.empty()) {
      currentLevel_ = depth_;
      pending_ = run;
      return;
    }
    if (pending_.data() != current_.data()) {
      current_.assign(pending_);
    }
    current_.append(run);
    pending_ = current_;
  }

  void flush() {
    if (pending_.empty()) {
      return;
    }
    const std::string_view trimmed = text::trimWhiteSpaceAndLineBreaks(
        decodeEntitiesInto(pending_, namedDecoded_, numericDecoded_));
    if (!trimmed.empty()) {
      appendLine(currentLevel_, trimmed);
    }
    pending_ = {};
    current_.clear();
  }

  void appendLine(std::int64_t level, std::string_view text) {
    if (!out_.empty()) {
      out_ += '\n';
    }
    if (level >= 1) {
      // Two spaces a level, up to a limit: without one, a body of a few hundred thousand
      // unclosed lists would render to gigabytes of spaces. Every level from 3 on reads back
      // the same to the note parser, so the limit changes no entry.
      const std::int64_t shown = std::min(level, kMaxRenderedLevel);
      out_.append(static_cast<std::size_t>(shown) * 2, ' ');
      out_ += level == 1 ? bullets::kLevel1 : level == 2 ? bullets::kLevel2 : bullets::kLevel3;
      out_ += ' ';
    }
    out_ += text;
  }

  struct ClosingSearch {
    bool searched = false;
    std::size_t from = 0;
    std::optional<std::size_t> found;
  };

  std::string_view body_;
  text::GraphemeBoundaries boundaries_;
  std::string out_;
  std::string_view pending_;  // the current line's text: in the body, or in current_
  std::string current_;
  std::string namedDecoded_;  // buffers of the line being decoded, kept for the next
  std::string numericDecoded_;
  std::int64_t currentLevel_ = 0;
  std::int64_t depth_ = 0;
  std::array<ClosingSearch, kTags.size()> closingSearches_{};  // one for each known tag
};

}  // namespace

std::string NotesHTMLConverter::decodeEntities(std::string_view text) {
  std::string named;
  std::string numeric;
  return std::string(decodeEntitiesInto(text, named, numeric));
}

std::string NotesHTMLConverter::plainText(std::string_view html) {
  return Scanner(html).run();
}

}  // namespace sheafwright
