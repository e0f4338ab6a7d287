// The tool reading a generated Notes database holding 25 MB of note text, against its physical
// floor (read every note's data with SQLite, gunzip it, write an output of the tool's size,
// fsync, rename), and beside the same notes read from a stand-in library file; one after the
// other in every round, with the output on disk and on a RAM disk (/dev/shm) where there is one.
#include "bench/timed_runs.h"
#include "testing/note_store_body_writer.h"
#include "testing/note_store_writer.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
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
    const auto day = static_cast<unsigned>(1 + random() % 28);
    const auto month = static_cast<unsigned>(random() % 12);
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

RunResult fromDatabase(const Prepared& prepared, const fs::path& output,
                       const fs::path& printed = "/dev/null") {
  return runWithLibrary(SHEAFWRIGHT_BINARY,
                        {"--database-file", prepared.database.string(), "--out", output.string()},
                        std::nullopt, printed);
}

RunResult fromLibrary(const Prepared& prepared, const fs::path& output,
                      const fs::path& printed = "/dev/null") {
  return runWithLibrary(SHEAFWRIGHT_BINARY, {"--out", output.string()}, prepared.library, printed);
}

// One untimed run of each source: the files must be JSON, hold as many records as the tool
// says it wrote, and the two sources as many as each other.
std::string checkOutputs(const Prepared& prepared) {
  std::size_t counts[2] = {0, 0};
  for (int source = 0; source < 2; ++source) {
    const fs::path output = prepared.database.string() + ".out.json";
    const fs::path printed = prepared.database.string() + ".printed";
    const RunResult result = source == 0 ? fromDatabase(prepared, output, printed)
                                         : fromLibrary(prepared, output, printed);
    const std::string problem = checkExport(result, output, printed, &counts[source]);
    fs::remove(output);
    fs::remove(printed);
    if (!problem.empty()) {
      return problem;
    }
  }
  if (counts[0] != counts[1] || counts[0] == 0) {
    return "the database gave " + std::to_string(counts[0]) + " records, the library file " +
           std::to_string(counts[1]);
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

void BM_DatabaseAgainstFloor(benchmark::State& state) {
  const bool mixed = state.range(0) != 0;
  const Prepared& notes = prepared(mixed);
  if (!notes.problem.empty()) {
    state.SkipWithError(notes.problem.c_str());
    return;
  }
  std::vector<Place> places = outputPlaces(3);  // the tool, the floor, the library file
  const std::string id = std::to_string(::getpid());
  const auto round = [&](Place& place) {
    const fs::path output = place.dir / ("sheafwright-output-" + id + ".json");
    const fs::path floorOutput = place.dir / ("sheafwright-floor-" + id + ".json");
    const RunResult tool = fromDatabase(notes, output);
    if (!tool.ok) {
      state.SkipWithError("the tool failed on the database");
      return false;
    }
    const RunResult least = runWithLibrary(
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
    place.seconds[0].push_back(tool.seconds);
    place.seconds[1].push_back(least.seconds);
    place.seconds[2].push_back(file.seconds);
    return true;
  };
  if (!runRounds(state, places, round)) {
    return;
  }
  reportPlaces(state, places, {"tool", "floor", "file"});
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
  return sheafwright::bench::runBenchmarks(argc, argv, "sheafwright-note-store-");
}
