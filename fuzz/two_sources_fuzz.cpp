// Fuzz bytes steer a library written both as a stand-in file and as a Notes database: the two
// exports must agree, whatever the bytes.
#include "fuzz/fuzz_check.h"
#include "testing/two_source_check.h"

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
  const TwoSourceOutcome outcome = checkTwoSources(bytes, fuzzWorkDirectory("two-sources"));
  if (!outcome.failure.empty()) {
    std::fprintf(stderr, "the two sources disagree (%s, %s): %s\nlibrary: %s\n",
                 outcome.layout.c_str(), outcome.zone.c_str(), outcome.failure.c_str(),
                 outcome.library.c_str());
    std::abort();
  }
  return 0;
}
