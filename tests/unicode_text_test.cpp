#include "sheafwright/unicode_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace sheafwright::text {
namespace {

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

std::vector<std::string> clusters(std::string_view text) {
  GraphemeBoundaries boundaries(text);
  std::vector<std::string> out;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = boundaries.next(pos);
    out.emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

TEST(UnicodeTextTest, ExtendedGraphemeClusters) {
  using V = std::vector<std::string>;
  EXPECT_EQ(clusters("ab"), (V{"a", "b"}));
  EXPECT_EQ(clusters("a\r\nb"), (V{"a", "\r\n", "b"}));
  EXPECT_EQ(clusters("<\u0301>"), (V{"<\u0301", ">"}));
  EXPECT_EQ(clusters("\u0600<"), (V{"\u0600<"}));
  EXPECT_EQ(clusters("\U0001F1E9\U0001F1EA!"), (V{"\U0001F1E9\U0001F1EA", "!"}));
  EXPECT_EQ(clusters("\U0001F469\u200D\U0001F4BB x"), (V{"\U0001F469\u200D\U0001F4BB", " ", "x"}));

  const std::string text = "a<\u0301b\u0600<c<";
  GraphemeBoundaries boundaries(text);
  EXPECT_FALSE(boundaries.isWholeCharacter(1, 1));
  EXPECT_FALSE(boundaries.isWholeCharacter(text.find("\u0600<") + 2, 1));
  EXPECT_TRUE(boundaries.isWholeCharacter(text.size() - 1, 1));
}

// The shortcuts for common characters agree with ICU's own segmentation.
TEST(UnicodeTextTest, BoundaryShortcutsAgreeWithIcu) {
  const std::vector<std::string> pieces = {"a",      " ",      "<",          "\r",         "\n",
                                           "\t",     "\u0301", "\u200D",     "\u0903",     "\u0600",
                                           "\u2022", "\u00e9", "\U0001F1E9", "\U0001F469", "\u1100",
                                           "\u1161", "\uAC00", "\u65e5",     "\x01",       "\xff"};
  std::mt19937 random(5);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    for (int i = 0; i < 8; ++i) {
      text += pieces[pick(random)];
    }
    GraphemeBoundaries fast(text);
    GraphemeBoundaries icu(text, true);
    for (std::size_t pos = 0; pos < text.size(); pos += codePointAt(text, pos).length) {
      ASSERT_EQ(fast.isBoundary(pos), icu.isBoundary(pos))
          << testing::PrintToString(text) << " " << pos;
      if (icu.isBoundary(pos)) {
        ASSERT_EQ(fast.next(pos), icu.next(pos)) << testing::PrintToString(text) << " " << pos;
      }
    }
  }
}

TEST(UnicodeTextTest, LowercaseIsLocaleIndependent) {
  EXPECT_EQ(lowercase("DIV"), "div");
  EXPECT_EQ(lowercase("\u212A"), "k");
  EXPECT_EQ(lowercase("\u0130"), "i\u0307");
  EXPECT_EQ(lowercase("\u00C9T\u00C9"), "\u00e9t\u00e9");
}

TEST(UnicodeTextTest, CaseInsensitiveEqualityKeepsAccentsWidthsAndSpaces) {
  // The default locale of the test process is not Turkish (LANG is not set to it here).
  EXPECT_TRUE(equalIgnoringCaseInCurrentLocale("Journal", "JOURNAL"));
  EXPECT_TRUE(equalIgnoringCaseInCurrentLocale("Stra\u00DFe", "STRASSE"));
  EXPECT_TRUE(equalIgnoringCaseInCurrentLocale("Caf\u00e9", "CAFE\u0301"));
  EXPECT_FALSE(equalIgnoringCaseInCurrentLocale("Cafe", "Caf\u00e9"));
  EXPECT_FALSE(equalIgnoringCaseInCurrentLocale("Journal", "\uFF2Aournal"));
  EXPECT_FALSE(equalIgnoringCaseInCurrentLocale("Journal", "Journal "));
  EXPECT_TRUE(equalIgnoringCaseInCurrentLocale("", ""));
}

}  // namespace
}  // namespace sheafwright::text
