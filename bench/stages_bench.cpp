// Per-stage throughput of the export, in bytes of input per second.
#include "bench/library_generator.h"
#include "sheafwright/atomic_file.h"
#include "sheafwright/html_converter.h"
#include "sheafwright/import_encoder.h"
#include "sheafwright/note_store_body.h"
#include "sheafwright/notes_parser.h"
#include "sheafwright/notes_reader.h"
#include "sheafwright/standin/standin_runner.h"
#include "testing/note_store_body_writer.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

namespace sheafwright::bench {
namespace {

Alphabet alphabetOf(const benchmark::State& state) {
  return state.range(1) == 0 ? Alphabet::kAscii : Alphabet::kMixed;
}

void BM_PlainText(benchmark::State& state) {
  const std::string body =
      diaryBody(static_cast<std::size_t>(state.range(0)), alphabetOf(state), 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(NotesHTMLConverter::plainText(body));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_PlainText)
    ->ArgsProduct({{64 << 10, 1 << 20, 4 << 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// Bodies that a literal reading of the rules would make quadratic.
std::string pathological(int kind, std::size_t bytes) {
  static constexpr const char* kUnits[] = {"&#65;", "&#38;#38;",   "<style>", "<style>x</style>",
                                           "<ul>",  "<b>&#3&#56;;"};
  std::string body;
  if (kind == 4) {
    // Lists opened and never closed: every item one level deeper than the one before.
    while (body.size() < bytes) {
      body += "<ul><li>x</li>";
    }
    return body;
  }
  while (body.size() < bytes) {
    body += kUnits[kind];
  }
  return body;
}

void BM_PlainTextPathological(benchmark::State& state) {
  const std::string body =
      pathological(static_cast<int>(state.range(1)), static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(NotesHTMLConverter::plainText(body));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  static constexpr const char* kNames[] = {"numeric",      "chained",    "unclosed-style",
                                           "closed-style", "open-lists", "formed"};
  state.SetLabel(kNames[state.range(1)]);
}
BENCHMARK(BM_PlainTextPathological)
    ->ArgsProduct({{1 << 20, 2 << 20, 4 << 20}, {0, 1, 2, 3, 4, 5}})
    ->Unit(benchmark::kMillisecond);

// Notes' stored bodies holding 25 MB of diary text: the lines of generated diaries, list lines
// as list paragraphs at their indent, in notes of 2 to 32 KB.
struct StoredBodies {
  std::vector<std::string> data;
  std::size_t textBytes = 0;
};

const StoredBodies& storedBodies() {
  static const StoredBodies bodies = [] {
    StoredBodies out;
    std::uint32_t seed = 1;
    while (out.textBytes < (25u << 20)) {
      const std::string lines = NotesHTMLConverter::plainText(
          diaryBody(2000 + (seed * 7919) % 30000, Alphabet::kMixed, seed));
      ++seed;
      std::vector<notestore::TestParagraph> paragraphs;
      std::size_t start = 0;
      while (start <= lines.size()) {
        const std::size_t end = std::min(lines.find('\n', start), lines.size());
        std::string line = lines.substr(start, end - start);
        const std::size_t spaces = line.find_first_not_of(' ');
        notestore::TestParagraph paragraph;
        if (spaces >= 2 && spaces != std::string::npos) {
          paragraph.style = 100;
          paragraph.indent = static_cast<int>(spaces / 2) - 1;
          line.erase(0, line.find(' ', spaces) + 1);  // the glyph and its space
        }
        out.textBytes += line.size() + 1;
        paragraph.text = std::move(line);
        paragraphs.push_back(std::move(paragraph));
        start = end + 1;
      }
      out.data.push_back(notestore::encodeNoteStoreBody(paragraphs));
    }
    return out;
  }();
  return bodies;
}

// Reading every stored body as HTML, in bytes of note text a second.
void BM_NoteStoreBody(benchmark::State& state) {
  const StoredBodies& bodies = storedBodies();
  for (auto _ : state) {
    for (const std::string& data : bodies.data) {
      benchmark::DoNotOptimize(noteStoreBodyHtml(data));
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bodies.textBytes));
}
BENCHMARK(BM_NoteStoreBody)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Its floor: only gunzip the same bodies, into a buffer kept between notes.
void BM_NoteStoreGunzipOnly(benchmark::State& state) {
  const StoredBodies& bodies = storedBodies();
  std::string out(64u << 20, '\0');
  for (auto _ : state) {
    for (const std::string& data : bodies.data) {
      z_stream stream{};
      inflateInit2(&stream, 16 + MAX_WBITS);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
      stream.avail_in = static_cast<uInt>(data.size());
      stream.next_out = reinterpret_cast<Bytef*>(out.data());
      stream.avail_out = static_cast<uInt>(out.size());
      benchmark::DoNotOptimize(inflate(&stream, Z_FINISH));
      inflateEnd(&stream);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bodies.textBytes));
}
BENCHMARK(BM_NoteStoreGunzipOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

NotesParser parser() {
  static const Calendar berlin("Europe/Berlin");
  return NotesParser{2024, Date{}, Date{}, berlin};
}

void parseRepeatedly(benchmark::State& state, const std::string& text) {
  const NotesParser notesParser = parser();
  for (auto _ : state) {
    benchmark::DoNotOptimize(notesParser.parse(text));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Parse(benchmark::State& state) {
  const std::string text = NotesHTMLConverter::plainText(
      diaryBody(static_cast<std::size_t>(state.range(0)), alphabetOf(state), 5));
  parseRepeatedly(state, text);
}
BENCHMARK(BM_Parse)->ArgsProduct({{64 << 10, 1 << 20}, {0, 1}})->Unit(benchmark::kMillisecond);

// One entry carried on by many deep items; no keys grow here.
void BM_ParseDeepItems(benchmark::State& state) {
  std::string text = "12-Mar\nstart";
  for (int64_t i = 0; i < state.range(0); ++i) {
    text += "\n      \u25C6 more of the same entry";
  }
  parseRepeatedly(state, text);
}
BENCHMARK(BM_ParseDeepItems)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Many entries in one note: the keys grow one character every six entries.
void BM_ParseManyEntries(benchmark::State& state) {
  std::string text = "12-Mar";
  for (int64_t i = 0; i < state.range(0); ++i) {
    text += "\nentry line";
  }
  parseRepeatedly(state, text);
}
BENCHMARK(BM_ParseManyEntries)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// Date headers: a day's first instant in the user's zone, one per header line.
void BM_DateHeader(benchmark::State& state) {
  const NotesParser notesParser = parser();
  const std::string_view lines[] = {"12-Mar", "2024-03-12", "Mar. 12", "12/3/2024", "31-Feb"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(notesParser.classify(lines[i++ % std::size(lines)]));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DateHeader);

void BM_ReadLibrary(benchmark::State& state) {
  const GeneratedLibrary library = generateLibrary(
      {.htmlBytes = static_cast<std::size_t>(state.range(0)), .alphabet = alphabetOf(state)});
  for (auto _ : state) {
    const auto runner = makeLibraryTextScriptRunner(library.json, "bench");
    NotesReader::Session session = NotesReader::open(*runner);
    for (std::size_t k = 0; k < session.folders().size(); ++k) {
      const NotesReader::FolderNotes read = session.readFolder(k);
      for (std::size_t i = 0; i < read.size(); ++i) {
        benchmark::DoNotOptimize(read.note(i));
      }
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * library.json.size()));
}
BENCHMARK(BM_ReadLibrary)->ArgsProduct({{4 << 20}, {0, 1}})->Unit(benchmark::kMillisecond);

std::vector<ImportRecord> records(std::size_t count) {
  std::vector<ImportRecord> out;
  UuidGenerator ids;
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(ImportRecord{.id = ids.next(),
                               .text = "Call Anna about the contract, caf\u00e9 \u65e5\u8a18",
                               .createdAt = Date{},
                               .folder = "Journal 2024",
                               .notebook = "March",
                               .topic = "Work",
                               .order = "zzV"});
  }
  return out;
}

void BM_BuildRecords(benchmark::State& state) {
  const std::string text = NotesHTMLConverter::plainText(diaryBody(1 << 20, Alphabet::kMixed, 9));
  const ParseResult result = parser().parse(text);
  UuidGenerator ids;
  for (auto _ : state) {
    std::vector<ImportRecord> built;
    built.reserve(result.entries.size());
    for (const ParsedEntry& entry : result.entries) {
      built.push_back(ImportRecord{.id = ids.next(),
                                   .text = entry.text,
                                   .entryDate = entry.date,
                                   .createdAt = Date{},
                                   .folder = "Journal 2024",
                                   .notebook = "March",
                                   .topic = entry.topic,
                                   .order = entry.order});
    }
    benchmark::DoNotOptimize(built);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * result.entries.size()));
}
BENCHMARK(BM_BuildRecords)->Unit(benchmark::kMillisecond);

// Encoding alone: the pieces are counted and dropped, as the tool hands them to the file.
void BM_Encode(benchmark::State& state) {
  const std::vector<ImportRecord> made = records(static_cast<std::size_t>(state.range(0)));
  // Once, untimed: a speed-up must still write a JSON document of every record.
  std::string document;
  ImportEncoder check(Date{}, [&document](std::string_view piece) { document.append(piece); });
  for (const ImportRecord& record : made) {
    check.add(record);
  }
  const bool finished = !check.finish().has_value();
  const nlohmann::json read = nlohmann::json::parse(document, nullptr, false);
  if (!finished || !read.is_object() || !read.contains("records") ||
      read["records"].size() != made.size()) {
    state.SkipWithError("the encoder did not write a JSON document of every record");
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    ImportEncoder encoder(Date{}, [&bytes](std::string_view piece) {
      bytes += piece.size();
      benchmark::DoNotOptimize(piece.data());
    });
    for (const ImportRecord& record : made) {
      encoder.add(record);
    }
    benchmark::DoNotOptimize(encoder.finish());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Encode)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Write(benchmark::State& state) {
  const std::string bytes(static_cast<std::size_t>(state.range(0)), 'x');
  const std::string path =
      (std::filesystem::temp_directory_path() / ("sheafwright-bench-" + std::to_string(::getpid())))
          .string();
  for (auto _ : state) {
    AtomicFile file(path);
    file.write(bytes);
    if (file.commit()) {
      state.SkipWithError("the write failed");
      break;
    }
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Write)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sheafwright::bench

BENCHMARK_MAIN();
