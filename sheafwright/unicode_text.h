// The tool's stateless text helpers over UTF-8 strings: code points, trimming and case. ICU
// stays behind this header.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sheafwright::text {

// One code point decoded from UTF-8; an ill-formed byte reads as U+FFFD of length 1.
struct CodePoint {
  char32_t value;
  std::size_t length;  // in UTF-8 bytes
};
CodePoint codePointAt(std::string_view text, std::size_t pos);
// The code point that ends just before byte offset `end` (which must be above 0).
CodePoint codePointBefore(std::string_view text, std::size_t end);
void appendUtf8(std::string& out, char32_t c);
// UTF-16 code units appended as UTF-8; an unpaired surrogate becomes U+FFFD.
void appendUtf16(std::string& out, std::u16string_view units);
// `text` with every ill-formed byte replaced by U+FFFD.
std::string repairUtf8(std::string_view text);
bool isValidUtf8(std::string_view text);

// `text` as it may be printed on a terminal: every C0 control but tab (U+0000 to U+001F), DEL
// (U+007F) and every C1 control (U+0080 to U+009F) is written as `\u` and four upper-case hex
// digits, and an ill-formed byte as U+FFFD, so that data can neither move the cursor nor forge
// a line; everything else, tabs included, is unchanged.
std::string withControlsShown(std::string_view text);

// Unicode general category Nd, any script.
bool isDecimalDigit(char32_t c);

// `text` without white space (U+0009 and general category Zs) at either end.
std::string_view trimWhiteSpace(std::string_view text);
// `text` without white space or line breaks (U+000A to U+000D, U+0085, U+2028, U+2029) at
// either end.
std::string_view trimWhiteSpaceAndLineBreaks(std::string_view text);

// Unicode default lowercase mapping, independent of the user's locale.
std::string lowercase(std::string_view text);

// Case-insensitive comparison under the user's current locale (Turkic dotted and dotless i in
// Turkish and Azeri); canonically equivalent spellings match, accents and widths still count.
bool equalIgnoringCaseInCurrentLocale(std::string_view a, std::string_view b);

}  // namespace sheafwright::text
