// The texts tests compare and read back: a UUID's 36 characters, both ways, and an instant in
// RFC 3339 ("2024-03-12T08:30:00Z"). The tool only writes them, into the import file.
#pragma once

#include "sheafwright/date.h"
#include "sheafwright/uuid.h"

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

inline std::string uuidText(const Uuid& id) {
  std::string out(36, '\0');
  id.writeText(out.data());
  return out;
}

// Reads the 8-4-4-4-12 hexadecimal form, in either letter case.
inline std::optional<Uuid> parseUuid(std::string_view text) {
  static constexpr std::string_view kShape = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
  Uuid id;
  std::size_t digits = 0;
  for (std::size_t i = 0; i < text.size() && text.size() == kShape.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((kShape[i] == '-') != (c == '-') || (c != '-' && !std::isxdigit(c))) {
      return std::nullopt;
    }
    if (c != '-') {
      const int value = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
      id.bytes[digits / 2] = static_cast<std::uint8_t>(id.bytes[digits / 2] << 4 | value);
      ++digits;
    }
  }
  return digits == 32 ? std::optional<Uuid>(id) : std::nullopt;
}

inline std::string formatInternetDate(Date date) {
  std::string text;
  appendInternetDate(text, date);
  return text;
}

}  // namespace sheafwright
