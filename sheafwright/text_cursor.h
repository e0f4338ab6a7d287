// A read position in a line of text, for the hand-written readers of dates.
#pragma once

#include "sheafwright/ascii.h"

#include <cassert>
#include <cstddef>
#include <optional>
#include <string_view>

namespace sheafwright {

// Each step consumes what it reads, or nothing when it fails, so optional elements and
// alternatives are plain `||` and `if`.
class TextCursor {
 public:
  explicit TextCursor(std::string_view text) : text_(text) {}

  // The number that `min` to `max` ASCII digits write, read greedily. At most 9 digits, so
  // that it fits; the value is summed while scanning, as every line is offered to the forms.
  std::optional<int> digits(std::size_t min, std::size_t max) {
    assert(min >= 1 && max <= 9);
    int value = 0;
    std::size_t n = 0;
    for (; n < max && pos_ + n < text_.size() && ascii::isDigit(text_[pos_ + n]); ++n) {
      value = value * 10 + (text_[pos_ + n] - '0');
    }
    if (n < min) {
      return std::nullopt;
    }
    pos_ += n;
    return value;
  }
  // Exactly `count` ASCII letters.
  std::optional<std::string_view> letters(std::size_t count) {
    for (std::size_t n = 0; n < count; ++n) {
      if (pos_ + n == text_.size() || !ascii::isLetter(text_[pos_ + n])) {
        return std::nullopt;
      }
    }
    const std::string_view run = text_.substr(pos_, count);
    pos_ += count;
    return run;
  }
  bool one(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool atEnd() const { return pos_ == text_.size(); }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace sheafwright
