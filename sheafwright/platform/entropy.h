// Random bytes from the system's cryptographic source, as many as asked for at once.
#pragma once

#include <cstdint>
#include <span>

namespace sheafwright {

// Fills `bytes`; false when the system has no such source, which is left to the caller.
bool fillWithEntropy(std::span<std::uint8_t> bytes);

}  // namespace sheafwright
