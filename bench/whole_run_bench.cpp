// The built tool run as a user runs it, on generated libraries of several sizes: MB of note
// HTML per second (library read included), the peak resident memory of the process, and the
// time against the physical floor (reading and parsing the library with simdjson, writing an
// output of the same size, fsync, rename), measured alternately in one run.
#include "bench/library_generator.h"
#include "bench/timed_runs.h"
#include "testing/child_process.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include <unistd.h>

namespace sheafwright::bench {
namespace {

namespace fs = std::filesystem;

struct Prepared {
  fs::path path;
  std::size_t htmlBytes;
  std::size_t fileBytes;
  std::string problem;  // why the tool's output on it is wrong, or empty
};

std::string checkOutput(const fs::path& library);

// Libraries are made once per process and kept for the benchmarks that share them.
const Prepared& libraryFile(std::size_t megabytes, Alphabet alphabet, bool withImages) {
  static std::map<std::tuple<std::size_t, Alphabet, bool>, Prepared> made;
  const auto key = std::make_tuple(megabytes, alphabet, withImages);
  if (auto it = made.find(key); it != made.end()) {
    return it->second;
  }
  const GeneratedLibrary library = generateLibrary(
      {.htmlBytes = megabytes << 20, .alphabet = alphabet, .seed = 11, .withImages = withImages});
  const fs::path path =
      fs::temp_directory_path() /
      ("sheafwright-library-" + std::to_string(::getpid()) + "-" + std::to_string(megabytes) +
       (alphabet == Alphabet::kAscii ? "-ascii" : "-mixed") + (withImages ? "-images" : "") +
       ".json");
  std::ofstream(path, std::ios::binary) << library.json;
  return made[key] = Prepared{path, library.htmlBytes, library.json.size(), checkOutput(path)};
}

RunResult runTool(const fs::path& library, const fs::path& output,
                  const fs::path& printed = "/dev/null") {
  return runWithLibrary(SHEAFWRIGHT_BINARY, {"--out", output.string()}, library, printed);
}

// One untimed run per library: the file must be JSON with as many records as the tool says.
std::string checkOutput(const fs::path& library) {
  const fs::path output = library.string() + ".out.json";
  const fs::path printed = library.string() + ".printed";
  const std::string problem = checkExport(runTool(library, output, printed), output, printed);
  fs::remove(output);
  fs::remove(printed);
  return problem;
}

RunResult runFloor(const fs::path& library, const fs::path& output, std::uintmax_t bytes) {
  return runWithLibrary(SHEAFWRIGHT_FLOOR,
                        {library.string(), output.string(), std::to_string(bytes)}, library);
}

void BM_WholeRun(benchmark::State& state) {
  const auto megabytes = static_cast<std::size_t>(state.range(0));
  const Alphabet alphabet = state.range(1) == 0 ? Alphabet::kAscii : Alphabet::kMixed;
  const bool withImages = state.range(2) != 0;
  const Prepared& library = libraryFile(megabytes, alphabet, withImages);
  if (!library.problem.empty()) {
    state.SkipWithError(library.problem.c_str());
    return;
  }
  const fs::path output =
      fs::temp_directory_path() / ("sheafwright-output-" + std::to_string(::getpid()) + ".json");
  long peak = 0;
  for (auto _ : state) {
    const RunResult result = runTool(library.path, output);
    if (!result.ok) {
      state.SkipWithError("the tool failed");
      break;
    }
    state.SetIterationTime(result.seconds);
    peak = std::max(peak, result.peakKilobytes);
  }
  const auto outputBytes = fs::exists(output) ? fs::file_size(output) : 0;
  fs::remove(output);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * library.htmlBytes));
  state.counters["peak_MiB"] = static_cast<double>(peak) / 1024.0;
  state.counters["library_MiB"] = static_cast<double>(library.fileBytes) / (1 << 20);
  state.counters["output_MiB"] = static_cast<double>(outputBytes) / (1 << 20);
  // The memory target: at most the library file plus six times the output file.
  state.counters["memory_budget_MiB"] =
      static_cast<double>(library.fileBytes + 6 * outputBytes) / (1 << 20);
  state.SetLabel(std::string(alphabet == Alphabet::kAscii ? "ascii" : "mixed") +
                 (withImages ? ", images" : ", text only"));
}
// Text only at every size, and from 25 MB also with the generator's pasted images (one note in
// forty carries one to three megabytes of base64), which are most of such a library's bytes.
BENCHMARK(BM_WholeRun)
    ->ArgsProduct({{5, 25, 100}, {0, 1}, {0}})
    ->ArgsProduct({{25, 100}, {0, 1}, {1}})
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

// The tool and the physical floor, one after the other in every iteration so that both see the
// same machine, on disk and on a RAM disk; each ratio is that of the medians.
void BM_AgainstFloor(benchmark::State& state) {
  const Alphabet alphabet = state.range(0) == 0 ? Alphabet::kAscii : Alphabet::kMixed;
  const bool withImages = state.range(1) != 0;
  const Prepared& library = libraryFile(25, alphabet, withImages);
  if (!library.problem.empty()) {
    state.SkipWithError(library.problem.c_str());
    return;
  }
  std::vector<Place> places = outputPlaces(3);  // the tool, the floor, an earlier build
  const std::string id = std::to_string(::getpid());
  // An earlier build of the tool, when SHEAFWRIGHT_BENCH_BEFORE names one, runs in the same
  // rounds, so that a change is measured against what it changed in one run.
  const char* before = std::getenv("SHEAFWRIGHT_BENCH_BEFORE");
  const auto failed = [&state](const char* what) {
    state.SkipWithError(what);
    return false;
  };
  // One round at one place; false when something failed.
  const auto round = [&](Place& place) {
    const fs::path toolOutput = place.dir / ("sheafwright-output-" + id + ".json");
    const fs::path floorOutput = place.dir / ("sheafwright-floor-" + id + ".json");
    const RunResult run = runTool(library.path, toolOutput);
    if (!run.ok) {
      return failed("the tool failed");
    }
    const RunResult least = runFloor(library.path, floorOutput, fs::file_size(toolOutput));
    fs::remove(floorOutput);
    if (!least.ok) {
      return failed("the floor failed");
    }
    if (before != nullptr && *before != '\0') {
      const RunResult old = runWithLibrary(before, {"--out", toolOutput.string()}, library.path);
      if (!old.ok) {
        return failed("the earlier build failed");
      }
      place.seconds[2].push_back(old.seconds);
    }
    fs::remove(toolOutput);
    place.seconds[0].push_back(run.seconds);
    place.seconds[1].push_back(least.seconds);
    return true;
  };
  if (!runRounds(state, places, round)) {
    return;
  }
  reportPlaces(state, places, {"tool", "floor", "before"});
  for (const Place& place : places) {
    if (!place.seconds[2].empty()) {
      state.counters[place.prefix + "before_vs_floor"] =
          median(place.seconds[2]) / median(place.seconds[1]);
    }
  }
  state.counters["limit"] = withImages ? 1.5 : 1.7;
  state.SetLabel(std::string(alphabet == Alphabet::kAscii ? "ascii" : "mixed") +
                 (withImages ? ", images" : ", text only") +
                 (places.size() > 1 ? "; the limit is for ram_vs_floor" : "; no RAM disk here"));
}
BENCHMARK(BM_AgainstFloor)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 0})
    ->UseManualTime()
    ->Iterations(9)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sheafwright::bench

int main(int argc, char** argv) {
  return sheafwright::bench::runBenchmarks(argc, argv, "sheafwright-library-");
}
