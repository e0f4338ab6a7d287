// Byte classes tested eight bytes at a time in one 64-bit word, for scanning text quickly.
#pragma once

#include <cstdint>
#include <cstring>

namespace sheafwright::words {

inline constexpr std::uint64_t kOnes = 0x0101010101010101;
inline constexpr std::uint64_t kHighs = 0x8080808080808080;

inline std::uint64_t load(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, 8);
  return word;
}

// The high bit of every byte of `word` below `limit` (at most 0x80) is set in the result, and
// now and then that of the byte after one; `& kHighs` reads it.
constexpr std::uint64_t bytesBelow(std::uint64_t word, unsigned char limit) {
  return (word - kOnes * limit) & ~word;
}

// The same for the bytes equal to `c`.
constexpr std::uint64_t bytesEqual(std::uint64_t word, char c) {
  return bytesBelow(word ^ (kOnes * static_cast<unsigned char>(c)), 1);
}

}  // namespace sheafwright::words
