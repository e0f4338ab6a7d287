// The UTF-8 text helpers, on ICU's character properties, case mappings and break iterator.
#include "sheafwright/unicode_text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>

namespace sheafwright::text {

namespace {

bool succeeded(UErrorCode status) {
  return U_SUCCESS(status) != 0;
}

bool isAscii(unsigned char byte) {
  return byte < 0x80;
}

icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

CodePoint codePointAt(std::string_view text, std::size_t pos) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + pos);
  const auto available = static_cast<int32_t>(std::min<std::size_t>(4, text.size() - pos));
  int32_t i = 0;
  UChar32 c = 0;
  U8_NEXT(bytes, i, available, c);
  if (c < 0) {
    return {0xFFFD, 1};
  }
  return {static_cast<char32_t>(c), static_cast<std::size_t>(i)};
}

CodePoint codePointBefore(std::string_view text, std::size_t end) {
  const std::size_t start = end >= 4 ? end - 4 : 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + start);
  auto i = static_cast<int32_t>(end - start);
  UChar32 c = 0;
  U8_PREV(bytes, 0, i, c);
  if (c < 0) {
    return {0xFFFD, 1};
  }
  return {static_cast<char32_t>(c), end - start - static_cast<std::size_t>(i)};
}

void appendUtf8(std::string& out, char32_t c) {
  uint8_t buffer[4];
  int32_t length = 0;
  UBool error = false;
  U8_APPEND(buffer, length, 4, static_cast<UChar32>(c), error);
  if (error) {
    appendUtf8(out, 0xFFFD);
    return;
  }
  out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

void appendUtf16(std::string& out, std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
    } else if (U16_IS_LEAD(unit) && i + 1 < units.size() && U16_IS_TRAIL(units[i + 1])) {
      appendUtf8(out, static_cast<char32_t>(U16_GET_SUPPLEMENTARY(unit, units[i + 1])));
      ++i;
    } else if (U16_IS_SURROGATE(unit)) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, unit);
    }
  }
}

std::string repairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const CodePoint c = codePointAt(text, pos);
    if (c.value == 0xFFFD && c.length == 1) {
      appendUtf8(out, 0xFFFD);
    } else {
      out.append(text, pos, c.length);
    }
    pos += c.length;
  }
  return out;
}

bool isValidUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int64_t>(text.size());
  for (int64_t i = 0; i < length;) {
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      return false;
    }
  }
  return true;
}

bool isDecimalDigit(char32_t c) {
  if (c < 0x80) {
    return c >= U'0' && c <= U'9';
  }
  return u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER;
}

namespace {

bool isWhiteSpace(char32_t c) {
  if (c < 0x80) {
    return c == U' ' || c == U'\t';
  }
  return u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isWhiteSpaceOrLineBreak(char32_t c) {
  const bool lineBreak = (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
  return lineBreak || isWhiteSpace(c);
}

template <typename Predicate>
std::string_view trimBy(std::string_view text, Predicate inClass) {
  // Most text begins and ends with an ASCII character of neither class.
  const auto keeps = [&](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return isAscii(byte) && !inClass(byte);
  };
  if (text.empty() || (keeps(text.front()) && keeps(text.back()))) {
    return text;
  }
  // ASCII characters are taken as they are; only the others need decoding.
  std::size_t begin = 0;
  while (begin < text.size()) {
    const auto byte = static_cast<unsigned char>(text[begin]);
    const CodePoint c = isAscii(byte) ? CodePoint{byte, 1} : codePointAt(text, begin);
    if (!inClass(c.value)) {
      break;
    }
    begin += c.length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const auto byte = static_cast<unsigned char>(text[end - 1]);
    const CodePoint c = isAscii(byte) ? CodePoint{byte, 1} : codePointBefore(text, end);
    if (!inClass(c.value)) {
      break;
    }
    end -= c.length;
  }
  return text.substr(begin, end - begin);
}

}  // namespace

std::string_view trimWhiteSpace(std::string_view text) {
  return trimBy(text, [](char32_t c) { return isWhiteSpace(c); });
}

std::string_view trimWhiteSpaceAndLineBreaks(std::string_view text) {
  return trimBy(text, [](char32_t c) { return isWhiteSpaceOrLineBreak(c); });
}

std::string lowercase(std::string_view text) {
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return isAscii(static_cast<unsigned char>(c)); })) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') {
        c = static_cast<char>(c - 'A' + 'a');
      }
    }
    return out;
  }
  std::string out;
  toUnicode(text).toLower(icu::Locale::getRoot()).toUTF8String(out);
  return out;
}

bool equalIgnoringCaseInCurrentLocale(std::string_view a, std::string_view b) {
  const char* language = icu::Locale::getDefault().getLanguage();
  const bool turkic = std::strcmp(language, "tr") == 0 || std::strcmp(language, "az") == 0;
  const uint32_t options = turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (!succeeded(status)) {
    return a == b;
  }
  // Canonical caseless matching. Folding comes first as well, so that a Turkic capital dotted
  // I folds to "i" before decomposition would split off its dot.
  const auto key = [&](std::string_view text) {
    icu::UnicodeString folded = toUnicode(text).foldCase(options);
    folded = nfd->normalize(folded, status).foldCase(options);
    return nfd->normalize(folded, status);
  };
  const icu::UnicodeString left = key(a);
  const icu::UnicodeString right = key(b);
  return succeeded(status) && left == right;
}

// ---------------------------------------------------------------------------------------------

// ICU's character break iterator over the text, for the neighbourhoods the shortcuts below
// cannot answer. Cloning a prototype made once per process costs less than making one.
struct GraphemeBoundaries::Impl {
  Impl() {
    static const std::unique_ptr<icu::BreakIterator> prototype = [] {
      UErrorCode status = U_ZERO_ERROR;
      std::unique_ptr<icu::BreakIterator> made(
          icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
      assert(succeeded(status) && made);
      return made;
    }();
    iterator.reset(prototype->clone());
  }

  void setText(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    // The iterator keeps a copy of the UText, which reads the bytes of `text` in place.
    iterator->setText(&utext, status);
    utext_close(&utext);
  }

  std::unique_ptr<icu::BreakIterator> iterator;
};

GraphemeBoundaries::GraphemeBoundaries(std::string_view text) : text_(text) {}

GraphemeBoundaries::~GraphemeBoundaries() = default;

void GraphemeBoundaries::reset(std::string_view text) {
  text_ = text;
  iteratorHasText_ = false;
}

GraphemeBoundaries::Impl& GraphemeBoundaries::impl() {
  if (!impl_) {
    impl_ = std::make_unique<Impl>();
  }
  if (!iteratorHasText_) {
    impl_->setText(text_);
    iteratorHasText_ = true;
  }
  return *impl_;
}

namespace {

int32_t graphemeBreakOf(char32_t c) {
  return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_GRAPHEME_CLUSTER_BREAK);
}

bool isAsciiControl(char32_t c) {
  return c < 0x20 || c == 0x7F;
}

// Characters that attach to the one before them (rules GB9 and GB9a).
bool attachesToPrevious(char32_t c) {
  if (c < 0x80) {
    return false;
  }
  const int32_t kind = graphemeBreakOf(c);
  return kind == U_GCB_EXTEND || kind == U_GCB_ZWJ || kind == U_GCB_SPACING_MARK;
}

// Whether the boundary between `before` and `after` follows from the pair alone: true when
// `before` is a control or a character of no special class, so that no rule but GB3, GB9 and
// GB9a can join it to what follows.
bool pairDecides(char32_t before) {
  if (before < 0x80) {
    return true;
  }
  return graphemeBreakOf(before) == U_GCB_OTHER;
}

bool boundaryBetween(char32_t before, char32_t after) {
  if (before == U'\r') {
    return after != U'\n';
  }
  if (isAsciiControl(before) || (after < 0x80 && isAsciiControl(after))) {
    return true;
  }
  return !attachesToPrevious(after);
}

}  // namespace

bool GraphemeBoundaries::isBoundary(std::size_t pos) {
  if (pos == 0 || pos >= text_.size()) {
    return true;
  }
  const auto before = static_cast<unsigned char>(text_[pos - 1]);
  const auto at = static_cast<unsigned char>(text_[pos]);
  // Between two ASCII characters only CR LF holds together.
  if (isAscii(before) && isAscii(at)) {
    return !(before == '\r' && at == '\n');
  }
  const CodePoint previous = codePointBefore(text_, pos);
  if (pairDecides(previous.value)) {
    return boundaryBetween(previous.value, codePointAt(text_, pos).value);
  }
  return slowIsBoundary(pos);
}

std::size_t GraphemeBoundaries::next(std::size_t pos) {
  if (pos >= text_.size()) {
    return text_.size();
  }
  // An ASCII character followed by another (or by the end) is a cluster of its own, but for
  // CR LF.
  const auto at = static_cast<unsigned char>(text_[pos]);
  if (isAscii(at) &&
      (pos + 1 == text_.size() || (isAscii(static_cast<unsigned char>(text_[pos + 1])) &&
                                   !(at == '\r' && text_[pos + 1] == '\n')))) {
    return pos + 1;
  }
  const CodePoint first = codePointAt(text_, pos);
  const std::size_t end = pos + first.length;
  if (end >= text_.size()) {
    return text_.size();
  }
  if (pairDecides(first.value)) {
    return boundaryBetween(first.value, codePointAt(text_, end).value) ? end : slowNext(pos);
  }
  return slowNext(pos);
}

bool GraphemeBoundaries::isWholeCharacter(std::size_t pos, std::size_t length) {
  // An ASCII character between ASCII neighbours is whole, unless it is half of a CR LF.
  if (length == 1 && pos < text_.size()) {
    const char space = ' ';
    const auto before = static_cast<unsigned char>(pos > 0 ? text_[pos - 1] : space);
    const auto at = static_cast<unsigned char>(text_[pos]);
    const auto after = static_cast<unsigned char>(pos + 1 < text_.size() ? text_[pos + 1] : space);
    if (isAscii(before) && isAscii(at) && isAscii(after)) {
      return !(before == '\r' && at == '\n') && !(at == '\r' && after == '\n');
    }
  }
  return isBoundary(pos) && next(pos) == pos + length;
}

bool GraphemeBoundaries::slowIsBoundary(std::size_t pos) {
  return impl().iterator->isBoundary(static_cast<int32_t>(pos)) != 0;
}

std::size_t GraphemeBoundaries::slowNext(std::size_t pos) {
  const int32_t end = impl().iterator->following(static_cast<int32_t>(pos));
  return end == icu::BreakIterator::DONE ? text_.size() : static_cast<std::size_t>(end);
}

}  // namespace sheafwright::text
