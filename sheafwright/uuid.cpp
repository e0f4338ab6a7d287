// UUID text and random UUIDs from the system's entropy source.
#include "sheafwright/uuid.h"

#include "sheafwright/ascii.h"
#include "sheafwright/platform/entropy.h"

#include <cstring>
#include <random>

namespace sheafwright {

char* Uuid::writeText(char* out) const {
  // Two hexadecimal digits per byte, looked up whole.
  static constexpr auto kPairs = [] {
    std::array<char, 512> pairs{};
    for (std::size_t byte = 0; byte < 256; ++byte) {
      pairs[2 * byte] = ascii::kHexDigits[byte >> 4];
      pairs[2 * byte + 1] = ascii::kHexDigits[byte & 0x0F];
    }
    return pairs;
  }();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      *out++ = '-';
    }
    std::memcpy(out, &kPairs[2 * std::size_t{bytes[i]}], 2);
    out += 2;
  }
  return out;
}

Uuid UuidGenerator::next() {
  Uuid id;
  if (used_ + id.bytes.size() > buffer_.size()) {
    refill();
  }
  std::memcpy(id.bytes.data(), buffer_.data() + used_, id.bytes.size());
  used_ += id.bytes.size();
  // Version 4 in the high nibble of byte 6, variant 10 in the top bits of byte 8.
  id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0F) | 0x40);
  id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3F) | 0x80);
  return id;
}

void UuidGenerator::refill() {
  used_ = 0;
  if (!fillWithEntropy(buffer_)) {
    // A kernel without the system call: the standard library finds another source.
    std::random_device device;
    for (std::uint8_t& byte : buffer_) {
      byte = static_cast<std::uint8_t>(device());
    }
  }
}

}  // namespace sheafwright
