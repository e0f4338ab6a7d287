// Tests of the RFC 3339 dates the tool reads from libraries and writes to import files.
#include "sheafwright/date.h"

#include "testing/readable_forms.h"

#include <gtest/gtest.h>

#include <utility>

namespace sheafwright {
namespace {

TEST(InternetDateTest, ReadsAndWritesRfc3339) {
  const std::pair<const char*, const char*> cases[] = {
      {"2024-03-12T08:30:00Z", "2024-03-12T08:30:00Z"},
      {"2024-03-12T09:30:00.250+01:00", "2024-03-12T08:30:00Z"},
      {"2024-03-12t08:30:00.999999z", "2024-03-12T08:30:00Z"},
      {"2024-01-01T00:30:00+05:30", "2023-12-31T19:00:00Z"},
      {"2024-02-30T00:00:00Z", nullptr},
      {"2024-03-12 08:30:00Z", nullptr},
      {"2024-03-12T08:30:00", nullptr},
      {"2024-03-12T24:00:00Z", nullptr},
      {"2024-03-12T08:30:00.Z", nullptr},
      {"", nullptr},
      {"2024-03-12T08:30:00Zjunk", nullptr},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    const auto date = parseInternetDate(text);
    if (expected == nullptr) {
      EXPECT_FALSE(date.has_value());
    } else {
      ASSERT_TRUE(date.has_value());
      EXPECT_EQ(formatInternetDate(*date), expected);
    }
  }
  // Before 1970 the fraction still rounds toward the past.
  EXPECT_EQ(formatInternetDate(*parseInternetDate("1969-12-31T23:59:59.5Z")),
            "1969-12-31T23:59:59Z");
}

}  // namespace
}  // namespace sheafwright
