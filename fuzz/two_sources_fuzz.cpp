// Fuzz bytes steer a library written both as a stand-in file and as a Notes database: the two
// exports must agree, whatever the bytes.
#include "testing/two_source_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

// Never destroyed, so that the exit handler that removes it still has its name.
const std::filesystem::path& workDirectory() {
  static const std::filesystem::path* const dir = [] {
    const auto* made =
        new std::filesystem::path(std::filesystem::temp_directory_path() /
                                  ("sheafwright-two-sources-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*made);
    std::atexit([] { std::filesystem::remove_all(workDirectory()); });
    return made;
  }();
  return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sheafwright::wholeexport;
  ByteSource bytes(data, size);
  const TwoSourceOutcome outcome = checkTwoSources(bytes, workDirectory());
  if (!outcome.failure.empty()) {
    std::fprintf(stderr, "the two sources disagree (%s, %s): %s\nlibrary: %s\n",
                 outcome.layout.c_str(), outcome.zone.c_str(), outcome.failure.c_str(),
                 outcome.library.c_str());
    std::abort();
  }
  return 0;
}
