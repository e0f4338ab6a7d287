// The tool reading a generated Notes database holding 25 MB of note text, against its physical
// floor (read every note's data with SQLite, gunzip it, write an output of the tool's size,
// fsync, rename), and beside the same notes read from a stand-in library file; one after the
// other in every round, with the output on disk and on a RAM disk (/dev/shm) where there is one.
#include "testing/child_process.h"
#include "testing/note_store_body_writer.h"
#include "testing/note_store_writer.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace sheafwright::bench {
namespace {

namespace fs = std::filesystem;
using notestore::TestParagraph;

constexpr const char* kAsciiWords[] = {"walked", "the",  "dog",   "along", "river", "met",
                                       "Anna",   "for",  "lunch", "wrote", "notes", "about",
                                       "work",   "rain", "again", "quiet", "day",   "train"};
constexpr const char* kMixedWords[] = {"walked",
                                       "caf\u00e9",
                                       "\u0434\u043e\u043c",
                                       "\u65e5\u8a18",
                                       "\u03bb\u03cc\u03b3\u03bf\u03c2",
                                       "\u0645\u0631\u062d\u0628\u0627",
                                       "river",
                                       "\U0001F600",
                                       "\u0928\u092e\u0938\u094d\u0924\u0947",
                                       "work"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A diary note of about `bytes` bytes of text: date lines of several forms, plain paragraphs,
// topics with items under them, numbered and check lists, now and then an attachment.
std::vector<TestParagraph> diaryNote(std::size_t bytes, bool mixed, std::mt19937& random,
                                     std::size_t& textBytes) {
  const auto word = [&] {
    return mixed ? std::string(kMixedWords[random() % std::size(kMixedWords)])
                 : std::string(kAsciiWords[random() % std::size(kAsciiWords)]);
  };
  const auto sentence = [&](std::size_t words) {
    std::string text = word();
    for (std::size_t i = 1; i < words; ++i) {
      text += " " + word();
    }
    return text;
  };
  std::vector<TestParagraph> note{{.text = "Diary " + sentence(2), .style = 0}};
  std::size_t size = note.back().text.size();
  const auto add = [&](TestParagraph paragraph) {
    size += paragraph.text.size() + 1;
    note.push_back(std::move(paragraph));
  };
  while (size < bytes) {
    const unsigned day = 1 + random() % 28;
    const unsigned month = random() % 12;
    switch (random() % 3) {
      case 0:
        add({.text = "2024-" + std::to_string(100 + month + 1).substr(1) + "-" +
                     std::to_string(100 + day).substr(1)});
        break;
      case 1:
        add({.text = std::to_string(day) + "-" + kMonths[month]});
        break;
      default:
        add({.text = std::string(kMonths[month]) + " " + std::to_string(day), .style = 1});
        break;
    }
    for (std::size_t i = 2 + random() % 4; i > 0; --i) {
      add({.text = sentence(6 + random() % 24) + (random() % 16 == 0 ? " \uFFFC" : "")});
    }
    add({.text = sentence(2), .style = 100});
    for (std::size_t i = 1 + random() % 3; i > 0; --i) {
      add({.text = sentence(3 + random() % 8), .style = 100, .indent = 1});
    }
    if (random() % 3 == 0) {
      for (std::size_t i = 1 + random() % 3; i > 0; --i) {
        add({.text = sentence(4), .style = random() % 2 == 0 ? 102 : 103});
      }
    }
  }
  textBytes += size;
  return note;
}

struct Prepared {
  fs::path database;
  fs::path library;
  std::size_t textBytes = 0;
  std::size_t notes = 0;
  std::string problem;
};

struct RunResult {
  double seconds;
  bool ok;
};

RunResult runProcess(const char* program, const std::vector<std::string>& arguments,
                     const std::optional<fs::path>& library,
                     const fs::path& printed = "/dev/null") {
  ChildProcess child{.program = program,
                     .arguments = arguments,
                     .environment = {{"TZ", "Europe/Berlin"}},
                     .out = printed};
  child.environment["SHEAFWRIGHT_NOTES_LIBRARY"] =
      library ? std::optional<std::string>(library->string()) : std::nullopt;
  const auto start = std::chrono::steady_clock::now();
  const ChildExit exit = runChild(child);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return {elapsed.count(), exit.status == 0};
}

RunResult fromDatabase(const Prepared& prepared, const fs::path& output,
                       const fs::path& printed = "/dev/null") {
  return runProcess(SHEAFWRIGHT_BINARY,
                    {"--database-file", prepared.database.string(), "--out", output.string()},
                    std::nullopt, printed);
}

RunResult fromLibrary(const Prepared& prepared, const fs::path& output,
                      const fs::path& printed = "/dev/null") {
  return runProcess(SHEAFWRIGHT_BINARY, {"--out", output.string()}, prepared.library, printed);
}

// The records of an import file, counted as they stream past; absent when it is not JSON.
std::optional<std::size_t> recordCount(const fs::path& output) {
  std::ifstream in(output, std::ios::binary);
  std::size_t records = 0;
  try {
    const nlohmann::json document = nlohmann::json::parse(
        in, [&records](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
          if (depth == 2 && event == nlohmann::json::parse_event_t::object_end) {
            ++records;
            return false;
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

// One untimed run of each source: the files must be JSON, hold as many records as the tool
// says it wrote, and the two sources as many as each other.
std::string checkOutputs(const Prepared& prepared) {
  std::optional<std::size_t> counts[2];
  for (int source = 0; source < 2; ++source) {
    const fs::path output = prepared.database.string() + ".out.json";
    const fs::path printed = prepared.database.string() + ".printed";
    const RunResult result = source == 0 ? fromDatabase(prepared, output, printed)
                                         : fromLibrary(prepared, output, printed);
    std::ifstream lines(printed);
    const std::string said((std::istreambuf_iterator<char>(lines)), {});
    const std::size_t wrote = said.rfind("\nWrote ");
    counts[source] = recordCount(output);
    fs::remove(output);
    fs::remove(printed);
    if (!result.ok || wrote == std::string::npos) {
      return "the tool failed";
    }
    if (!counts[source]) {
      return "the tool's output is not JSON";
    }
    if (std::strtoull(said.c_str() + wrote + 7, nullptr, 10) != *counts[source]) {
      return "the output has " + std::to_string(*counts[source]) +
             " records, not the number the tool wrote";
    }
  }
  if (counts[0] != counts[1] || *counts[0] == 0) {
    return "the database gave " + std::to_string(*counts[0]) + " records, the library file " +
           std::to_string(*counts[1]);
  }
  return {};
}

const Prepared& prepared(bool mixed) {
  static std::optional<Prepared> made[2];
  if (made[mixed]) {
    return *made[mixed];
  }
  Prepared& ready = made[mixed].emplace();
  const std::string stem =
      (fs::temp_directory_path() /
       ("sheafwright-note-store-" + std::to_string(::getpid()) + (mixed ? "-mixed" : "-ascii")))
          .string();
  ready.database = stem + ".sqlite";
  ready.library = stem + ".json";
  notestore::TestNoteStore store{
      .layout = notestore::NoteStoreLayout::kMacOS13, .folders = {}, .notes = {}};
  for (int year = 2018; year <= 2025; ++year) {
    store.folders.push_back({.title = "Journal " + std::to_string(year),
                             .type = 0,
                             .identifier = "F" + std::to_string(year)});
  }
  std::mt19937 random(11);
  nlohmann::json library = nlohmann::json::array();
  // Notes of each folder in the order the database path reads them, most recently modified
  // first, so that the two runs see the same notes in the same order.
  std::vector<std::vector<nlohmann::json>> byFolder(store.folders.size());
  const double base = 600000000;  // 2020 in Core Data seconds
  while (ready.textBytes < (std::size_t{25} << 20)) {
    const std::size_t folder = ready.notes % store.folders.size();
    const std::vector<TestParagraph> note =
        diaryNote(4000 + random() % 40000, mixed, random, ready.textBytes);
    const double modified = base - static_cast<double>(ready.notes) * 3600;
    store.notes.push_back({.folder = folder,
                           .title = "Week " + std::to_string(ready.notes),
                           .created = modified - 86400,
                           .modified = modified,
                           .data = notestore::encodeNoteStoreBody(note)});
    const auto date = [](double coreData) {
      const std::time_t time = static_cast<std::time_t>(coreData + 978307200);
      std::tm parts{};
      ::gmtime_r(&time, &parts);
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
      return nlohmann::json{{"date", text}};
    };
    byFolder[folder].push_back({store.folders[folder].title.value_or(""),
                                "Week " + std::to_string(ready.notes), notestore::notesHtml(note),
                                date(modified - 86400), date(modified)});
    ++ready.notes;
  }
  for (std::vector<nlohmann::json>& notes : byFolder) {
    for (nlohmann::json& element : notes) {
      library.push_back(std::move(element));
    }
  }
  notestore::writeNoteStore(ready.database.string(), store);
  std::ofstream(ready.library, std::ios::binary) << library.dump();
  ready.problem = checkOutputs(ready);
  return ready;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Place {
  const char* name;
  fs::path dir;
  std::vector<double> tool;
  std::vector<double> floor;
  std::vector<double> library;
};

void BM_DatabaseAgainstFloor(benchmark::State& state) {
  const bool mixed = state.range(0) != 0;
  const Prepared& notes = prepared(mixed);
  if (!notes.problem.empty()) {
    state.SkipWithError(notes.problem.c_str());
    return;
  }
  std::vector<Place> places = {{"", fs::temp_directory_path(), {}, {}, {}}};
  if (std::error_code error; fs::is_directory("/dev/shm", error)) {
    places.push_back({"ram_", "/dev/shm", {}, {}, {}});
  }
  const std::string id = std::to_string(::getpid());
  const auto round = [&](Place& place) {
    const fs::path output = place.dir / ("sheafwright-output-" + id + ".json");
    const fs::path floorOutput = place.dir / ("sheafwright-floor-" + id + ".json");
    const RunResult tool = fromDatabase(notes, output);
    if (!tool.ok) {
      state.SkipWithError("the tool failed on the database");
      return false;
    }
    const RunResult least = runProcess(
        SHEAFWRIGHT_NOTE_STORE_FLOOR,
        {notes.database.string(), floorOutput.string(), std::to_string(fs::file_size(output))},
        std::nullopt);
    fs::remove(floorOutput);
    const RunResult file = fromLibrary(notes, output);
    fs::remove(output);
    if (!least.ok || !file.ok) {
      state.SkipWithError(least.ok ? "the tool failed on the library file" : "the floor failed");
      return false;
    }
    place.tool.push_back(tool.seconds);
    place.floor.push_back(least.seconds);
    place.library.push_back(file.seconds);
    return true;
  };
  for (auto _ : state) {
    if (!std::all_of(places.begin(), places.end(), round)) {
      return;
    }
    state.SetIterationTime(places.back().tool.back());
  }
  for (const Place& place : places) {
    const std::string name = place.name;
    state.counters[name + "tool_ms"] = median(place.tool) * 1e3;
    state.counters[name + "floor_ms"] = median(place.floor) * 1e3;
    state.counters[name + "vs_floor"] = median(place.tool) / median(place.floor);
    state.counters[name + "file_ms"] = median(place.library) * 1e3;
    state.counters[name + "vs_file"] = median(place.tool) / median(place.library);
  }
  state.counters["text_MB"] = static_cast<double>(notes.textBytes) / (1 << 20);
  state.counters["notes"] = static_cast<double>(notes.notes);
  state.counters["limit"] = 1.5;
  state.SetLabel(std::string(mixed ? "mixed" : "ascii") +
                 (places.size() > 1 ? "; the limit is for ram_vs_floor" : "; no RAM disk here"));
}
BENCHMARK(BM_DatabaseAgainstFloor)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(9)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sheafwright::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const char* mixed : {"-ascii", "-mixed"}) {
    const std::string stem = (std::filesystem::temp_directory_path() /
                              ("sheafwright-note-store-" + std::to_string(::getpid()) + mixed))
                                 .string();
    std::filesystem::remove(stem + ".sqlite");
    std::filesystem::remove(stem + ".json");
  }
  return 0;
}
