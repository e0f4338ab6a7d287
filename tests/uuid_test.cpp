// UUID text both ways, and the generator's version 4 UUIDs.
#include "sheafwright/uuid.h"

#include "testing/readable_forms.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace sheafwright {
namespace {

TEST(UuidTest, TextReadsBackInEitherCaseAndOddFormsAreRefused) {
  const struct {
    const char* text;
    const char* canonical;  // null when the text is no UUID
  } cases[] = {
      {"3F2504E0-4F89-41D3-9A0C-0305E82C3301", "3f2504e0-4f89-41d3-9a0c-0305e82c3301"},
      {"00000000-0000-0000-0000-000000000000", "00000000-0000-0000-0000-000000000000"},
      {"ffffffff-ffff-ffff-ffff-ffffffffffff", "ffffffff-ffff-ffff-ffff-ffffffffffff"},
      {"3f2504e0-4f89-41d3-9a0c-0305e82c330", nullptr},
      {"3f2504e0-4f89-41d3-9a0c-0305e82c33011", nullptr},
      {"3f2504e04f89-41d3-9a0c-0305e82c33011", nullptr},
      {"3f2504e0-4f89-41d3-9a0c+0305e82c3301", nullptr},
      {"3g2504e0-4f89-41d3-9a0c-0305e82c3301", nullptr},
      {"{3f2504e0-4f89-41d3-9a0c-0305e82c33}", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto id = parseUuid(c.text);
    if (c.canonical == nullptr) {
      EXPECT_FALSE(id.has_value());
      continue;
    }
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(uuidText(*id), c.canonical);
    EXPECT_EQ(parseUuid(uuidText(*id)), id);
  }
}

// More than one block of entropy, so that a refill that repeats or skips bytes shows.
TEST(UuidTest, GeneratedIdsAreVersion4AndDistinct) {
  UuidGenerator ids;
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string text = uuidText(ids.next());
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4') << text;
    EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
    EXPECT_TRUE(seen.insert(text).second) << text;
  }
}

}  // namespace
}  // namespace sheafwright
