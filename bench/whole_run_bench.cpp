// The built tool run as a user runs it, on generated libraries of several sizes: MB of note
// HTML per second (library read included) and the peak resident memory of the process.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>

#include "bench/library_generator.h"
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sheafwright::bench {
namespace {

namespace fs = std::filesystem;

struct Prepared {
  fs::path path;
  std::size_t htmlBytes;
  std::size_t fileBytes;
};

// Libraries are made once per process and kept for the benchmarks that share them.
const Prepared& libraryFile(std::size_t megabytes, Script script, bool withImages) {
  static std::map<std::tuple<std::size_t, Script, bool>, Prepared> made;
  const auto key = std::make_tuple(megabytes, script, withImages);
  if (auto it = made.find(key); it != made.end()) {
    return it->second;
  }
  const GeneratedLibrary library = generateLibrary(
      {.htmlBytes = megabytes << 20, .script = script, .seed = 11, .withImages = withImages});
  const fs::path path =
      fs::temp_directory_path() /
      ("sheafwright-library-" + std::to_string(::getpid()) + "-" + std::to_string(megabytes) +
       (script == Script::kAscii ? "-ascii" : "-mixed") + (withImages ? "-images" : "") + ".json");
  std::ofstream(path, std::ios::binary) << library.json;
  return made[key] = Prepared{path, library.htmlBytes, library.json.size()};
}

struct RunResult {
  double seconds;
  long peakKilobytes;
  bool ok;
};

RunResult runTool(const fs::path& library, const fs::path& output) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::setenv("SHEAFWRIGHT_NOTES_LIBRARY", library.c_str(), 1);
    ::setenv("TZ", "Europe/Berlin", 1);
    ::execl(SHEAFWRIGHT_BINARY, SHEAFWRIGHT_BINARY, "--out", output.c_str(), nullptr);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return {elapsed.count(), usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

void BM_WholeRun(benchmark::State& state) {
  const auto megabytes = static_cast<std::size_t>(state.range(0));
  const Script script = state.range(1) == 0 ? Script::kAscii : Script::kMixed;
  const bool withImages = state.range(2) != 0;
  const Prepared& library = libraryFile(megabytes, script, withImages);
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
  state.SetLabel(std::string(script == Script::kAscii ? "ascii" : "mixed") +
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

}  // namespace
}  // namespace sheafwright::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("sheafwright-library-" + std::to_string(::getpid()) + "-", 0) == 0) {
      std::filesystem::remove(entry.path());
    }
  }
  return 0;
}
