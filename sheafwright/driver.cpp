#include "sheafwright/driver.h"

#include "sheafwright/atomic_file.h"
#include "sheafwright/html_converter.h"
#include "sheafwright/import_document.h"
#include "sheafwright/notes_parser.h"
#include "sheafwright/notes_reader.h"
#include "sheafwright/unicode_text.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <system_error>

namespace sheafwright {

namespace {

constexpr std::string_view kUsage =
    "sheafwright \u2014 export Apple Notes to a Jotterby import file\n"
    "\n"
    "Options:\n"
    "  --folder <name>   Only export notes in this Apple Notes folder\n"
    "  --out <path>      Output path (default: jotterby-import.json)\n";

// A line on standard output, written out at once so progress shows as it happens.
void say(std::ostream& out, const std::string& line) {
  out << line << '\n';
  out.flush();
}

// A message on standard error, built whole and written in one piece.
void complain(std::ostream& err, const std::string& message) {
  const std::string block = message + '\n';
  err.write(block.data(), static_cast<std::streamsize>(block.size()));
  err.flush();
}

}  // namespace

int run(const std::vector<std::string>& arguments, const RunEnvironment& environment) {
  std::ostream& out = environment.out;
  std::ostream& err = environment.err;

  std::optional<std::string> folderFilter;
  std::string outputPath = "jotterby-import.json";
  for (std::size_t argumentIndex = 1; argumentIndex < arguments.size(); ++argumentIndex) {
    const std::string& argument = arguments[argumentIndex];
    if (argument == "--folder") {
      ++argumentIndex;
      if (argumentIndex < arguments.size()) {
        folderFilter = arguments[argumentIndex];
      } else {
        folderFilter.reset();
      }
    } else if (argument == "--out") {
      ++argumentIndex;
      if (argumentIndex < arguments.size()) {
        outputPath = arguments[argumentIndex];
      }
    } else if (argument == "--help" || argument == "-h") {
      out << kUsage;
      out.flush();
      return 0;
    } else {
      complain(err, "Unknown option: " + argument);
      return 2;
    }
  }

  say(out, "Reading Apple Notes\u2026 (grant automation permission if prompted)");
  std::vector<NotesReader::Note> notes;
  try {
    notes = NotesReader::readAll(environment.runner);
  } catch (const NotesReader::ReaderError& error) {
    complain(err, error.description());
    return 1;
  }

  std::vector<NotesReader::Note> selected;
  if (!folderFilter) {
    selected = std::move(notes);
  } else {
    for (NotesReader::Note& note : notes) {
      if (text::equalIgnoringCaseInCurrentLocale(note.folder, *folderFilter)) {
        selected.push_back(std::move(note));
      }
    }
  }
  notes = {};

  std::string found = "Found " + std::to_string(selected.size()) + " notes";
  if (folderFilter) {
    found += " in \"" + *folderFilter + "\"";
  }
  say(out, found + ".");

  ImportDocument document;
  document.exportedAt = environment.now();
  std::int64_t skipped = 0;
  for (NotesReader::Note& note : selected) {
    const std::string plain = NotesHTMLConverter::plainText(note.html);
    note.html = {};  // the body is not needed again; let large ones go early
    std::optional<std::int64_t> referenceYear = NotesParser::yearInName(note.folder);
    if (!referenceYear) {
      referenceYear = NotesParser::yearInName(note.name);
    }
    const NotesParser parser{referenceYear, note.created, note.modified,
                             environment.currentCalendar()};
    ParseResult result = parser.parse(plain);
    if (result.entries.empty()) {
      ++skipped;
      continue;
    }
    const std::size_t entryCount = result.entries.size();
    for (ParsedEntry& entry : result.entries) {
      document.records.push_back(ImportRecord{Uuid::random(), std::move(entry.text), entry.date,
                                              note.created, note.folder, note.name,
                                              std::move(entry.topic), std::move(entry.order)});
    }
    say(out, "  " + note.folder + " / " + note.name + ": " + std::to_string(entryCount) +
                 " entries, " + std::to_string(result.topicCount) + " topics, " +
                 std::to_string(result.dateCount) + " dates");
  }
  if (skipped > 0) {
    say(out, "Skipped " + std::to_string(skipped) + " empty notes.");
  }

  const std::string path = absolutePath(outputPath);
  try {
    // The encoder hands its bytes over in pieces, straight into the temporary file.
    AtomicFile file(path);
    ImportDocument::encoder().encode(document,
                                     [&file](std::string_view piece) { file.write(piece); });
    file.commit();
  } catch (const EncodingError& error) {
    complain(err, std::string("Could not write output: ") + error.what());
    return 1;
  } catch (const std::system_error& error) {
    complain(err, std::string("Could not write output: ") + error.what());
    return 1;
  }

  say(out, "Wrote " + std::to_string(document.records.size()) + " entries to " + path + ".");
  say(out,
      "AirDrop or copy this file to your iPhone or iPad, then use Settings \u203A Import from "
      "file in Jotterby.");
  return 0;
}

}  // namespace sheafwright
