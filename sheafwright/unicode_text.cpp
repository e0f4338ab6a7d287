// The UTF-8 text helpers, on ICU's character properties and case mappings.
#include "sheafwright/unicode_text.h"

#include "sheafwright/ascii.h"
#include "sheafwright/icu_status.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace sheafwright::text {

namespace {

using ascii::isAscii;

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

std::string withControlsShown(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const CodePoint c = codePointAt(text, pos);
    const bool control =
        (c.value < 0x20 && c.value != '\t') || (c.value >= 0x7F && c.value <= 0x9F);
    if (control) {
      constexpr std::string_view kHex = "0123456789ABCDEF";
      out += "\\u00";
      out += kHex[c.value >> 4];
      out += kHex[c.value & 0xF];
    } else if (c.value == 0xFFFD && c.length == 1) {
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
  if (ascii::isAsciiText(text)) {
    std::string out(text);
    for (char& c : out) {
      c = ascii::toLower(c);
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

}  // namespace sheafwright::text
