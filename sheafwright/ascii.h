// ASCII character tests, lowering, hexadecimal digits and decimal numbers, for the byte-level
// fast paths that leave Unicode to unicode_text.h.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace sheafwright::ascii {

constexpr bool isAscii(unsigned char byte) {
  return byte < 0x80;
}
constexpr bool isAscii(char c) {
  return isAscii(static_cast<unsigned char>(c));
}
constexpr bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr char toLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool isAsciiText(std::string_view text) {
  for (const char c : text) {
    if (!isAscii(c)) {
      return false;
    }
  }
  return true;
}

// True when `text` lowered is `lowerName`.
constexpr bool equalsIgnoringCase(std::string_view text, std::string_view lowerName) {
  if (text.size() != lowerName.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (toLower(text[i]) != lowerName[i]) {
      return false;
    }
  }
  return true;
}

inline constexpr char kHexDigits[] = "0123456789abcdef";

// The number a run of ASCII digits writes, or absent when the run is empty, holds anything
// else or does not fit in `Number`.
template <typename Number>
std::optional<Number> readDecimal(std::string_view digits) {
  Number value{};
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || error != std::errc{} || stop != end || !isDigit(digits.front())) {
    return std::nullopt;
  }
  return value;
}

}  // namespace sheafwright::ascii
