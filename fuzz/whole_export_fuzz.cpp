// Fuzz bytes steer the whole-export check's library generator: every library it makes must
// export whole, whatever the bytes.
#include "testing/whole_export_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

// Never destroyed, so that the exit handler that removes it still has its name.
const std::filesystem::path& outputDirectory() {
  static const std::filesystem::path* const dir = [] {
    const auto* made =
        new std::filesystem::path(std::filesystem::temp_directory_path() /
                                  ("sheafwright-whole-export-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*made);
    std::atexit([] { std::filesystem::remove_all(outputDirectory()); });
    return made;
  }();
  return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sheafwright::wholeexport;
  ByteSource bytes(data, size);
  const Outcome outcome = checkWholeExport(bytes, Limits{}, outputDirectory());
  if (!outcome.failure.empty()) {
    std::fprintf(stderr, "whole export check failed: %s\n", describe(outcome).c_str());
    std::abort();
  }
  return 0;
}
