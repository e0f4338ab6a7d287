// What the benchmarks that time whole runs of the tool share: a timed child process, a look at
// what the tool wrote, and rounds at each place an output can go, reported as medians.
#pragma once

#include "testing/child_process.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sheafwright::bench {

struct RunResult {
  double seconds;
  long peakKilobytes;
  bool ok;
};

RunResult runTimed(const ChildProcess& child);

// `program` run as a user runs the tool, in Europe/Berlin, with SHEAFWRIGHT_NOTES_LIBRARY set to
// `library` (unset when none); its standard output goes to `printed`.
RunResult runWithLibrary(const char* program, const std::vector<std::string>& arguments,
                         const std::optional<std::filesystem::path>& library,
                         const std::filesystem::path& printed = "/dev/null");

// Runs the registered benchmarks, then removes the files this process left in the temporary
// directory: those whose names begin with `prefix`, the process id and "-". The exit status.
int runBenchmarks(int argc, char** argv, const std::string& prefix);

// Why an export is wrong, or empty: the run failed, the file is not JSON, or it holds another
// number of records than the run's standard output (in `printed`) says it wrote. A speed-up
// that breaks the output must not pass as faster. `records` receives the count.
std::string checkExport(const RunResult& run, const std::filesystem::path& output,
                        const std::filesystem::path& printed, std::size_t* records = nullptr);

// Where an output can go: the temporary directory's disk, whose fsync can hide the tool's own
// work, and a RAM disk where there is one (/dev/shm), where the work stands alone as a fast
// SSD would show it. Each gathers its own times, by what ran.
struct Place {
  std::string prefix;  // of its counters
  std::filesystem::path dir;
  std::vector<std::vector<double>> seconds;
};
std::vector<Place> outputPlaces(std::size_t timed);

// Every iteration of `state` runs `round` at each place, the iteration timed by the first thing
// timed at the last place; false as soon as a round fails (it says why to `state`).
bool runRounds(benchmark::State& state, std::vector<Place>& places,
               const std::function<bool(Place&)>& round);

double median(std::vector<double> values);

// For every place: `<names[i]>_ms` of each thing timed, and `vs_<names[i]>`, the first against
// each other one; all medians.
void reportPlaces(benchmark::State& state, const std::vector<Place>& places,
                  const std::vector<std::string>& names);

}  // namespace sheafwright::bench
