#pragma once

// RFC 4122 UUIDs: random ones (version 4) for import records, and their 36-character text.

#include <array>
#include <cstddef>
#include <cstdint>

namespace sheafwright {

struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // Writes the 36 characters, lower-case hexadecimal, at `out`; the end of what was written.
  char* writeText(char* out) const;

  bool operator==(const Uuid&) const = default;
};

// Random version 4 UUIDs from the system's entropy, fetched a few kilobytes at a time: an
// export makes one per entry, and a system call per UUID cost more than the rest of a record.
// Not for concurrent use.
class UuidGenerator {
 public:
  Uuid next();

 private:
  void refill();

  std::array<std::uint8_t, 4096> buffer_{};
  std::size_t used_ = 4096;
};

}  // namespace sheafwright
