// Fractional indexing: the key between two others is the midpoint of their digits.
#include "sheafwright/fractional_index.h"

#include "sheafwright/grapheme_boundaries.h"

#include <algorithm>
#include <array>
#include <vector>

namespace sheafwright {

namespace {

constexpr int kBase = 62;

// The value of each digit byte; -1 for any other byte.
constexpr std::array<signed char, 256> kDigitValues = [] {
  std::array<signed char, 256> table{};
  table.fill(-1);
  for (std::size_t i = 0; i < FractionalIndex::digits.size(); ++i) {
    table[static_cast<unsigned char>(FractionalIndex::digits[i])] = static_cast<signed char>(i);
  }
  return table;
}();

int digitValue(char c) {
  return kDigitValues[static_cast<unsigned char>(c)];
}

bool allDigits(std::string_view key) {
  return std::all_of(key.begin(), key.end(), [](char c) { return digitValue(c) >= 0; });
}

// A bound read as its user-perceived characters.
std::vector<std::string_view> charactersOf(std::string_view key) {
  std::vector<std::string_view> characters;
  characters.reserve(key.size());
  text::GraphemeBoundaries boundaries(key);
  for (std::size_t pos = 0; pos < key.size();) {
    const std::size_t end = boundaries.next(pos);
    characters.push_back(key.substr(pos, end - pos));
    pos = end;
  }
  return characters;
}

// Anything but a single digit is worth 0.
int valueOf(std::string_view character) {
  return character.size() == 1 ? std::max(digitValue(character[0]), 0) : 0;
}

}  // namespace

std::string FractionalIndex::between(std::optional<std::string_view> lower,
                                     std::optional<std::string_view> upper) {
  if (lower && upper && !(*lower < *upper)) {
    upper.reset();
  }
  // The parser's case, a key after the last one, in one pass: keep the leading run of "z"
  // and put the middle of the rest of the range after it.
  if (!upper && (!lower || allDigits(*lower))) {
    const std::string_view a = lower.value_or(std::string_view{});
    const std::size_t run = std::min(a.find_first_not_of('z'), a.size());
    const int lo = run < a.size() ? digitValue(a[run]) : 0;
    std::string result;
    result.reserve(run + 1);
    result.append(run, 'z');
    result += digits[static_cast<std::size_t>((lo + kBase) / 2)];
    return result;
  }
  const std::vector<std::string_view> a =
      lower ? charactersOf(*lower) : std::vector<std::string_view>{};
  const std::vector<std::string_view> b =
      upper ? charactersOf(*upper) : std::vector<std::string_view>{};
  bool bounded = upper.has_value();

  std::string result;
  for (std::size_t i = 0;; ++i) {
    const int lo = i < a.size() ? valueOf(a[i]) : 0;
    int hi = kBase;
    if (bounded) {
      if (i >= b.size()) {
        std::string rest;
        for (std::size_t j = i; j < a.size(); ++j) {
          rest += a[j];
        }
        return result + between(rest, std::nullopt);
      }
      hi = valueOf(b[i]);
    }
    if (hi - lo >= 2) {
      result += digits[static_cast<std::size_t>((lo + hi) / 2)];
      return result;
    }
    result += digits[static_cast<std::size_t>(lo)];
    if (hi == lo + 1) {
      bounded = false;
    }
  }
}

}  // namespace sheafwright
