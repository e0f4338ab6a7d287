// Fuzz bytes steer the whole-export check's library generator: every library it makes must
// export whole, whatever the bytes.
#include "fuzz/fuzz_check.h"
#include "testing/whole_export_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sheafwright::wholeexport;
  ByteSource bytes(data, size);
  const Outcome outcome = checkWholeExport(bytes, Limits{}, fuzzWorkDirectory("whole-export"));
  if (!outcome.failure.empty()) {
    std::fprintf(stderr, "whole export check failed: %s\n", describe(outcome).c_str());
    std::abort();
  }
  return 0;
}
