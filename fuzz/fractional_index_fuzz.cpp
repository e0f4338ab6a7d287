// Arbitrary bounds through FractionalIndex::between: the result sorts between its bounds.
#include "sheafwright/fractional_index.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"

namespace {

bool isKey(std::string_view key) {
  return !key.empty() && key.back() != '0' &&
         key.find_first_not_of(sheafwright::FractionalIndex::digits) == std::string_view::npos;
}

}  // namespace

// The input is two bounds separated by a NUL byte; an empty side is absent.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using sheafwright::FractionalIndex;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view first = input.substr(0, split);
  const std::string_view second =
      split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
  const std::optional<std::string_view> lower = first.empty() ? std::nullopt : std::optional(first);
  const std::optional<std::string_view> upper =
      second.empty() ? std::nullopt : std::optional(second);

  const std::string key = FractionalIndex::between(lower, upper);
  FUZZ_CHECK(isKey(key));
  if (lower && isKey(*lower)) {
    FUZZ_CHECK(*lower < key);
  }
  if (lower && upper && isKey(*lower) && isKey(*upper) && *lower < *upper) {
    FUZZ_CHECK(key < *upper);
  }
  if (!lower && upper && isKey(*upper)) {
    FUZZ_CHECK(key < *upper);
  }
  return 0;
}
