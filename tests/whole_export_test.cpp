// Seeded libraries of every kind the whole-export check generates, exported in-process and read
// back as any JSON reader sees them; in the large rounds, more, and a few carry notes over a
// megabyte.
#include "testing/test_support.h"
#include "testing/whole_export_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace sheafwright::wholeexport {
namespace {

namespace fs = std::filesystem;

TEST(WholeExportTest, GeneratedLibrariesExportWhole) {
  const TemporaryDirectory dir;
  std::mt19937 random(20240312);
  int failures = 0;
  const int rounds = largeRounds() ? 300 : 60;
  for (int round = 0; round < rounds && failures < 3; ++round) {
    std::vector<std::uint8_t> bytes(600);
    for (std::uint8_t& byte : bytes) {
      byte = static_cast<std::uint8_t>(random());
    }
    const Limits limits{.maxElements = 16,
                        .maxLines = round % 20 == 3 ? 300u : 12u,
                        .huge = largeRounds() && round % 100 == 50};
    ByteSource source(bytes.data(), bytes.size());
    const Outcome outcome = checkWholeExport(source, limits, dir.path());
    if (!outcome.failure.empty()) {
      ++failures;
      // The library is kept to reproduce the finding with SHEAFWRIGHT_NOTES_LIBRARY.
      const fs::path saved = fs::temp_directory_path() /
                             ("sheafwright-whole-export-round-" + std::to_string(round) + ".json");
      std::ofstream(saved, std::ios::binary) << outcome.library;
      ADD_FAILURE() << "round " << round << ", library saved in " << saved << ": "
                    << describe(outcome).substr(0, 6000);
    }
  }
}

}  // namespace
}  // namespace sheafwright::wholeexport
