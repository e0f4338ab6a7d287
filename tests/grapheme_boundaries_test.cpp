// Tests of the grapheme cluster boundaries: worked examples, and agreement with ICU's own
// segmentation on random texts.
#include "sheafwright/grapheme_boundaries.h"

#include "sheafwright/unicode_text.h"

#include <gtest/gtest.h>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>

#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sheafwright::text {
namespace {

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

TEST(GraphemeBoundariesTest, ExtendedGraphemeClusters) {
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

// ICU's own cluster boundaries of `text`, one flag per byte offset and one for the end.
std::vector<bool> icuBoundaries(const std::string& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  UText utext = UTEXT_INITIALIZER;
  utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
  iterator->setText(&utext, status);
  EXPECT_TRUE(U_SUCCESS(status));
  std::vector<bool> boundaries(text.size() + 1, false);
  for (int32_t at = iterator->first(); at != icu::BreakIterator::DONE; at = iterator->next()) {
    boundaries[static_cast<std::size_t>(at)] = true;
  }
  utext_close(&utext);
  return boundaries;
}

// Random texts over characters of every kind the shortcuts tell apart: the answers agree with
// ICU's own segmentation at every code point, also when one object is reset to each text.
TEST(GraphemeBoundariesTest, BoundariesAgreeWithIcu) {
  const std::vector<std::string> pieces = {"a",      " ",      "<",          "\r",         "\n",
                                           "\t",     "\u0301", "\u200D",     "\u0903",     "\u0600",
                                           "\u2022", "\u00e9", "\U0001F1E9", "\U0001F469", "\u1100",
                                           "\u1161", "\uAC00", "\u65e5",     "\x01",       "\xff"};
  std::mt19937 random(5);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  GraphemeBoundaries reused{std::string_view()};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int i = 0; i < 8; ++i) {
      text += pieces[pick(random)];
    }
    const std::vector<bool> expected = icuBoundaries(text);
    GraphemeBoundaries fresh(text);
    reused.reset(text);
    GraphemeBoundaries& boundaries = round % 2 == 0 ? fresh : reused;
    for (std::size_t pos = 0; pos < text.size(); pos += codePointAt(text, pos).length) {
      SCOPED_TRACE(testing::Message() << testing::PrintToString(text) << " at " << pos);
      ASSERT_EQ(boundaries.isBoundary(pos), expected[pos]);
      if (expected[pos]) {
        std::size_t end = pos + 1;
        while (!expected[end]) {
          ++end;
        }
        ASSERT_EQ(boundaries.next(pos), end);
      }
    }
  }
}

}  // namespace
}  // namespace sheafwright::text
