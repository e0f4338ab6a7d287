// UUID text read back by hand; the tool's own writers for the texts it writes.
#include "testing/readable_forms.h"

#include <cctype>
#include <cstddef>
#include <cstdint>

namespace sheafwright {

std::string uuidText(const Uuid& id) {
  std::string out(36, '\0');
  id.writeText(out.data());
  return out;
}

std::optional<Uuid> parseUuid(std::string_view text) {
  static constexpr std::string_view kShape = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
  std::string digits;
  for (std::size_t i = 0; i < text.size() && text.size() == kShape.size(); ++i) {
    if ((kShape[i] == '-') != (text[i] == '-') ||
        (text[i] != '-' && !std::isxdigit(static_cast<unsigned char>(text[i])))) {
      return std::nullopt;
    }
    digits += text[i] == '-' ? "" : std::string(1, text[i]);
  }
  if (digits.size() != 32) {
    return std::nullopt;
  }
  Uuid id;
  for (std::size_t byte = 0; byte < id.bytes.size(); ++byte) {
    id.bytes[byte] = static_cast<std::uint8_t>(std::stoi(digits.substr(2 * byte, 2), nullptr, 16));
  }
  return id;
}

std::string formatInternetDate(Date date) {
  std::string text;
  appendInternetDate(text, date);
  return text;
}

}  // namespace sheafwright
