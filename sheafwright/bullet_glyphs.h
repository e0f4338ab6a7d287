// The bullet glyphs the HTML converter writes for list levels 1 to 3, which the note parser
// reads back as those levels.
#pragma once

#include <string_view>

namespace sheafwright::bullets {

inline constexpr std::string_view kLevel1 = "\u2022";  // bullet
inline constexpr std::string_view kLevel2 = "\u25E6";  // white bullet
inline constexpr std::string_view kLevel3 = "\u25C6";  // black diamond

}  // namespace sheafwright::bullets
