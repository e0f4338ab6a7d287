// Grapheme cluster boundaries: pairs of characters that decide alone are answered from their
// properties, everything else by ICU's character break iterator.
#include "sheafwright/grapheme_boundaries.h"

#include "sheafwright/ascii.h"
#include "sheafwright/icu_status.h"
#include "sheafwright/unicode_text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

#include <cassert>
#include <cstdint>

namespace sheafwright::text {

namespace {

using ascii::isAscii;

}  // namespace

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
