// UUID text read back by hand, and the tool's own writers for the texts it writes.
#include "testing/readable_forms.h"

#include <cstddef>
#include <cstdint>

namespace sheafwright {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool isHyphenPosition(std::size_t i) {
  return i == 8 || i == 13 || i == 18 || i == 23;
}

}  // namespace

std::string uuidText(const Uuid& id) {
  std::string out(36, '\0');
  id.writeText(out.data());
  return out;
}

std::optional<Uuid> parseUuid(std::string_view text) {
  if (text.size() != 36) {
    return std::nullopt;
  }
  Uuid id;
  std::size_t byte = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (isHyphenPosition(i)) {
      if (text[i] != '-') {
        return std::nullopt;
      }
      ++i;
      continue;
    }
    const int high = hexValue(text[i]);
    const int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    id.bytes[byte++] = static_cast<std::uint8_t>(high << 4 | low);
    i += 2;
  }
  return id;
}

std::string formatInternetDate(Date date) {
  std::string text;
  appendInternetDate(text, date);
  return text;
}

}  // namespace sheafwright
