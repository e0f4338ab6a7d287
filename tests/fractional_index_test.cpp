// Tests of order keys: worked values, growth along a note, and order between random bounds.
#include "sheafwright/fractional_index.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

namespace sheafwright {
namespace {

using Bound = std::optional<std::string>;

std::string between(const Bound& a, const Bound& b) {
  return FractionalIndex::between(a ? std::optional<std::string_view>(*a) : std::nullopt,
                                  b ? std::optional<std::string_view>(*b) : std::nullopt);
}

TEST(FractionalIndexTest, WorkedValues) {
  struct Case {
    Bound a, b;
    std::string expected;
  };
  const Case cases[] = {
      {{}, {}, "V"},
      {"V", {}, "k"},
      {"k", {}, "s"},
      {"z", {}, "zV"},
      {"zz", {}, "zzV"},
      {"V", "k", "c"},
      {"V", "W", "VV"},
      {"a0", "a2", "a1"},
      {"a0", "a1", "a0V"},
      {{}, "2", "1"},
      {{}, "1", "0V"},
      {"V", "V", "k"},
      {"k", "V", "s"},
      {"", {}, "V"},
      {{}, "0", "0V"},
      {"zzz", {}, "zzzV"},
      {"a", "b", "aV"},
      {"ab", "b", "an"},
      {"y", "z", "yV"},
      {"0V", "1", "0k"},
      // A character outside the digits counts as 0, in either bound.
      {"!", {}, "V"},
      {"a!", "a2", "a1"},
      {"\u00e9", {}, "V"},
      // A digit joined to a combining mark is one character, and no digit.
      {"e\u0301", {}, "V"},
      {"1e\u0301", "2", "1V"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "a=" << c.a.value_or("(none)") << " b=" << c.b.value_or("(none)"));
    EXPECT_EQ(between(c.a, c.b), c.expected);
  }
}

TEST(FractionalIndexTest, KeysOfANoteGrowOneCharacterEverySixKeys) {
  const std::vector<std::string> expected = {"V",  "k",  "s",  "w",  "y",  "z",  "zV",
                                             "zk", "zs", "zw", "zy", "zz", "zzV"};
  Bound last;
  for (const std::string& key : expected) {
    EXPECT_EQ(between(last, {}), key);
    last = key;
  }
}

// Random keys over the digits that do not end in "0": the result lies strictly between.
TEST(FractionalIndexTest, ResultSortsBetweenItsBounds) {
  std::mt19937 random(20241207);
  const auto randomKey = [&] {
    std::uniform_int_distribution<int> length(1, 6);
    std::uniform_int_distribution<int> digit(0, 61);
    std::string key;
    const int n = length(random);
    for (int i = 0; i < n; ++i) {
      key += FractionalIndex::digits[static_cast<std::size_t>(digit(random))];
    }
    while (!key.empty() && key.back() == '0') {
      key.pop_back();
    }
    return key.empty() ? std::string("1") : key;
  };
  for (int i = 0; i < 3000; ++i) {
    std::string a = randomKey();
    std::string b = randomKey();
    if (a == b) {
      continue;
    }
    if (b < a) {
      std::swap(a, b);
    }
    const std::string r = between(a, b);
    ASSERT_LT(a, r) << a << " " << b;
    ASSERT_LT(r, b) << a << " " << b;
    ASSERT_NE(r.back(), '0');
    ASSERT_LT(between({}, b), b) << b;
    ASSERT_LT(a, between(a, {}));
  }
}

}  // namespace
}  // namespace sheafwright
