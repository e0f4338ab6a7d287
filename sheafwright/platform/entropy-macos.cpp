// Random bytes on macOS: arc4random_buf, seeded by the kernel, fills any length without a
// system call each time and never fails.
#include "sheafwright/platform/entropy.h"

#include <stdlib.h>

namespace sheafwright {

bool fillWithEntropy(std::span<std::uint8_t> bytes) {
  ::arc4random_buf(bytes.data(), bytes.size());
  return true;
}

}  // namespace sheafwright
