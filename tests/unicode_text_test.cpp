// Tests of the UTF-8 text helpers: conversion, trimming, case mapping and matching.
#include "sheafwright/unicode_text.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <string>
#include <string_view>
#include <utility>

namespace sheafwright::text {
namespace {

// Makes `localeId` ICU's default locale for the life of the object.
class DefaultLocale {
 public:
  explicit DefaultLocale(const char* localeId) : saved_(icu::Locale::getDefault()) {
    set(icu::Locale(localeId));
  }
  ~DefaultLocale() { set(saved_); }
  DefaultLocale(const DefaultLocale&) = delete;
  DefaultLocale& operator=(const DefaultLocale&) = delete;

 private:
  static void set(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(locale, status);
    ASSERT_TRUE(U_SUCCESS(status));
  }
  icu::Locale saved_;
};

TEST(UnicodeTextTest, ControlsAreShownAndNothingElseChanges) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"Journal 2024", "Journal 2024"},
      {"tab\tstays", "tab\tstays"},
      {"\x1b[2Jclear", "\\u001B[2Jclear"},
      {"a\rWrote 0 entries\n", "a\\u000DWrote 0 entries\\u000A"},
      {std::string_view("nul\0!", 5), "nul\\u0000!"},
      {"del\x7f", "del\\u007F"},
      {"c1\xc2\x85\xc2\x9b", "c1\\u0085\\u009B"},
      {"\xc2\xa0nbsp \xc3\xa9 \xe2\x80\xa8", "\xc2\xa0nbsp \xc3\xa9 \xe2\x80\xa8"},
      {"bad\xff", "bad\xef\xbf\xbd"},
      {"back\\slash", "back\\slash"},
  };
  for (const auto& [name, shown] : cases) {
    EXPECT_EQ(withControlsShown(name), shown) << name;
  }
}

TEST(UnicodeTextTest, Utf16BecomesUtf8WithUnpairedSurrogatesReplaced) {
  struct Case {
    std::u16string units;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"plain", "plain"},
      {u"caf\u00E9 \u20AC", "caf\u00E9 \u20AC"},
      {u"\U0001F600!", "\U0001F600!"},
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {std::u16string{u'a', char16_t(0xD800), u'b'}, "a\uFFFDb"},
      {std::u16string{u'a', char16_t(0xDC00)}, "a\uFFFD"},
      {std::u16string{char16_t(0xD83D)}, "\uFFFD"},
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\uFFFD\uFFFD"},
      {std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}, "\uFFFD\U0001F600"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    std::string out = "<";
    appendUtf16(out, c.units);
    EXPECT_EQ(out, "<" + c.utf8);
  }
}

TEST(UnicodeTextTest, TrimmingByClass) {
  struct Case {
    std::string text, whiteSpace, whiteSpaceAndLineBreaks;
  };
  const Case cases[] = {
      {"", "", ""},
      {" \t a b \t ", "a b", "a b"},
      {"\u00A0\u2003\u3000x\u202F", "x", "x"},
      {"\n x \r\n", "\n x \r\n", "x"},
      {"\u0085\u2028x\u2029\v\f", "\u0085\u2028x\u2029\v\f", "x"},
      // Not space separators: zero-width space and the byte-order mark stay.
      {"\u200Bx\uFEFF", "\u200Bx\uFEFF", "\u200Bx\uFEFF"},
      {"\xff x \xfe", "\xff x \xfe", "\xff x \xfe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(trimWhiteSpace(c.text), c.whiteSpace);
    EXPECT_EQ(trimWhiteSpaceAndLineBreaks(c.text), c.whiteSpaceAndLineBreaks);
  }
}

// Under a Turkish default locale, where ICU's own lowercase of "I" is a dotless i.
TEST(UnicodeTextTest, LowercaseIsLocaleIndependent) {
  const DefaultLocale turkish("tr_TR");
  const std::pair<const char*, const char*> cases[] = {
      {"\u0130", "i\u0307"},
      {"\u00C9TI", "\u00e9ti"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(lowercase(text), expected);
  }
}

TEST(UnicodeTextTest, CaseInsensitiveEqualityFollowsTheCurrentLocale) {
  struct Case {
    const char* a;
    const char* b;
    bool english, turkish;
  };
  const Case cases[] = {
      {"Journal", "JOURNAL", true, true},
      {"Stra\u00DFe", "STRASSE", true, true},
      {"Caf\u00e9", "CAFE\u0301", true, true},
      {"", "", true, true},
      // Accents, widths and spaces still count.
      {"Cafe", "Caf\u00e9", false, false},
      {"Journal", "\uFF2Aournal", false, false},
      {"Journal", "Journal ", false, false},
      // Turkish pairs dotted capital I with i, and I with dotless i.
      {"ISTANBUL", "istanbul", true, false},
      {"\u0130stanbul", "istanbul", false, true},
      {"KIRMIZI", "k\u0131rm\u0131z\u0131", false, true},
  };
  for (const char* localeId : {"en_US", "tr_TR", "az_AZ"}) {
    const DefaultLocale locale(localeId);
    const bool turkic = std::string_view(localeId) != "en_US";
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << localeId << ": " << c.a << " / " << c.b);
      EXPECT_EQ(equalIgnoringCaseInCurrentLocale(c.a, c.b), turkic ? c.turkish : c.english);
    }
  }
}

}  // namespace
}  // namespace sheafwright::text
