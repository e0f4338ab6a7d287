// The tool's text helpers over UTF-8 strings: code points, trimming, case and grapheme
// clusters. ICU stays behind this header.
#pragma once

#include <cstddef>
#include <memory>
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

// Extended grapheme cluster boundaries of one UTF-8 text. Most neighbourhoods are answered
// from the characters on either side; the others by an ICU break iterator of the object's own,
// made on first need and kept across `reset`. The text must outlive its use. Not for
// concurrent use.
class GraphemeBoundaries {
 public:
  explicit GraphemeBoundaries(std::string_view text);
  ~GraphemeBoundaries();
  GraphemeBoundaries(const GraphemeBoundaries&) = delete;
  GraphemeBoundaries& operator=(const GraphemeBoundaries&) = delete;

  // Points the object at another text, keeping ICU's iterator if one was made.
  void reset(std::string_view text);

  // True when a cluster starts (or the text ends) at byte offset `pos`.
  bool isBoundary(std::size_t pos);
  // The byte offset where the cluster starting at the boundary `pos` ends.
  std::size_t next(std::size_t pos);
  // True when [pos, pos + length) is exactly one cluster.
  bool isWholeCharacter(std::size_t pos, std::size_t length);

 private:
  struct Impl;   // ICU's break iterator over the text
  Impl& impl();  // made on first need, and given the current text
  bool slowIsBoundary(std::size_t pos);
  std::size_t slowNext(std::size_t pos);

  std::string_view text_;
  std::unique_ptr<Impl> impl_;
  bool iteratorHasText_ = false;
};

}  // namespace sheafwright::text
