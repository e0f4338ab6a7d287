// Fractional indexing: the order keys that keep a note's entries in order.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

// Base-62 fractional order keys that sort by plain string comparison.
struct FractionalIndex {
  FractionalIndex() = delete;

  static constexpr std::string_view digits =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

  // A key after `lower` and, where one exists, before `upper`; an absent bound leaves that side
  // open, and an upper bound not above the lower one is ignored.
  static std::string between(std::optional<std::string_view> lower,
                             std::optional<std::string_view> upper);
};

}  // namespace sheafwright
