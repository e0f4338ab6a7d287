#include "bench/timed_runs.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include <unistd.h>

namespace sheafwright::bench {

namespace fs = std::filesystem;

namespace {

// The records of an import file, counted as they stream past: an export is several times its
// notes' size, too much to hold as one JSON value. Absent when it is not JSON.
std::optional<std::size_t> recordCount(const fs::path& output) {
  std::ifstream in(output, std::ios::binary);
  std::size_t records = 0;
  try {
    const nlohmann::json document = nlohmann::json::parse(
        in, [&records](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
          if (depth == 2 && event == nlohmann::json::parse_event_t::object_end) {
            ++records;
            return false;  // counted; not kept
          }
          return true;
        });
    if (!document.is_object() || !document.contains("records")) {
      return std::nullopt;
    }
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
  return records;
}

}  // namespace

RunResult runTimed(const ChildProcess& child) {
  const auto start = std::chrono::steady_clock::now();
  const ChildExit exit = runChild(child);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return {elapsed.count(), exit.peakKilobytes, exit.status == 0};
}

RunResult runWithLibrary(const char* program, const std::vector<std::string>& arguments,
                         const std::optional<fs::path>& library, const fs::path& printed) {
  ChildProcess child{.program = program,
                     .arguments = arguments,
                     .environment = {{"TZ", "Europe/Berlin"}},
                     .out = printed};
  child.environment["SHEAFWRIGHT_NOTES_LIBRARY"] =
      library ? std::optional<std::string>(library->string()) : std::nullopt;
  return runTimed(child);
}

int runBenchmarks(int argc, char** argv, const std::string& prefix) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const std::string own = prefix + std::to_string(::getpid()) + "-";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), error)) {
    if (entry.path().filename().string().starts_with(own)) {
      fs::remove(entry.path(), error);
    }
  }
  return 0;
}

std::string checkExport(const RunResult& run, const fs::path& output, const fs::path& printed,
                        std::size_t* records) {
  std::ifstream lines(printed);
  const std::string said((std::istreambuf_iterator<char>(lines)), {});
  const std::size_t wrote = said.rfind("\nWrote ");
  if (!run.ok || wrote == std::string::npos) {
    return "the tool failed";
  }
  const std::optional<std::size_t> count = recordCount(output);
  if (!count) {
    return "the tool's output is not JSON";
  }
  if (records != nullptr) {
    *records = *count;
  }
  if (std::strtoull(said.c_str() + wrote + 7, nullptr, 10) != *count) {
    return "the tool's output has " + std::to_string(*count) + " records, not the number it wrote";
  }
  return {};
}

std::vector<Place> outputPlaces(std::size_t timed) {
  std::vector<Place> places = {{"", fs::temp_directory_path(), {}}};
  if (std::error_code error; fs::is_directory("/dev/shm", error)) {
    places.push_back({"ram_", "/dev/shm", {}});
  }
  for (Place& place : places) {
    place.seconds.resize(timed);
  }
  return places;
}

bool runRounds(benchmark::State& state, std::vector<Place>& places,
               const std::function<bool(Place&)>& round) {
  for (auto _ : state) {
    if (!std::all_of(places.begin(), places.end(), round)) {
      return false;
    }
    state.SetIterationTime(places.back().seconds[0].back());
  }
  return true;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void reportPlaces(benchmark::State& state, const std::vector<Place>& places,
                  const std::vector<std::string>& names) {
  for (const Place& place : places) {
    for (std::size_t i = 0; i < names.size() && i < place.seconds.size(); ++i) {
      if (place.seconds[i].empty()) {
        continue;
      }
      state.counters[place.prefix + names[i] + "_ms"] = median(place.seconds[i]) * 1e3;
      if (i > 0) {
        state.counters[place.prefix + "vs_" + names[i]] =
            median(place.seconds[0]) / median(place.seconds[i]);
      }
    }
  }
}

}  // namespace sheafwright::bench
