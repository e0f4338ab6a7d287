// Random bytes on Linux: getrandom takes a whole buffer in one call, where getentropy takes
// 256 bytes; the system calls cost a tenth of a text-only export otherwise.
#include "sheafwright/platform/entropy.h"

#include <cerrno>

#include <sys/random.h>

namespace sheafwright {

bool fillWithEntropy(std::span<std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::getrandom(bytes.data(), bytes.size(), 0);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace sheafwright
