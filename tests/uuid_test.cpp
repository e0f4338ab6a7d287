// The generator's version 4 UUIDs and their text.
#include "sheafwright/uuid.h"

#include "testing/readable_forms.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace sheafwright {
namespace {

// More than one block of entropy, so that a refill that repeats or skips bytes shows.
TEST(UuidTest, GeneratedIdsAreVersion4AndDistinct) {
  UuidGenerator ids;
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const Uuid id = ids.next();
    const std::string text = uuidText(id);
    ASSERT_EQ(parseUuid(text), id) << text;
    EXPECT_EQ(text[14], '4') << text;
    EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
    EXPECT_TRUE(seen.insert(text).second) << text;
  }
  // Lower-case hexadecimal, bytes in order.
  EXPECT_EQ(uuidText(*parseUuid("3F2504E0-4F89-41D3-9A0C-0305E82C3301")),
            "3f2504e0-4f89-41d3-9a0c-0305e82c3301");
  EXPECT_FALSE(parseUuid("3f2504e0-4f89-41d3-9a0c+0305e82c3301").has_value());
}

}  // namespace
}  // namespace sheafwright
