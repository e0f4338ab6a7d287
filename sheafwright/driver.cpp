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
#include <utility>

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

// The import file, written as the records are made so that they need not all be held at
// once. A failure is kept rather than thrown: it is reported after every note's line, and the
// notes are still read through. The file is created only when its first piece is ready.
class ExportFile {
 public:
  ExportFile(std::string path, Date exportedAt)
      : path_(std::move(path)),
        writer_(exportedAt, [this](std::string_view piece) { writePiece(piece); }) {}
  ExportFile(const ExportFile&) = delete;
  ExportFile& operator=(const ExportFile&) = delete;

  void add(const ImportRecord& record) {
    if (failure_) {
      return;
    }
    try {
      writer_.add(record);
    } catch (const EncodingError& error) {
      fail(error.what());
    }
  }

  // Completes the file, or gives the reason it could not be written.
  std::optional<std::string> finish() {
    if (failure_) {
      return failure_;
    }
    writer_.finish(ImportDocument::currentVersion);  // a failed last piece is kept as failure_
    if (!failure_) {
      try {
        file().commit();
      } catch (const std::system_error& error) {
        fail(error.what());
      }
    }
    return failure_;
  }

  std::size_t recordCount() const { return writer_.recordCount(); }

 private:
  AtomicFile& file() {
    if (!file_) {
      file_.emplace(path_);
    }
    return *file_;
  }

  void writePiece(std::string_view piece) {
    if (failure_) {
      return;
    }
    try {
      file().write(piece);
    } catch (const std::system_error& error) {
      fail(error.what());
    }
  }

  void fail(const std::string& reason) {
    failure_ = reason;
    file_.reset();  // removes the temporary file; an earlier file at the path stays
  }

  std::string path_;
  std::optional<AtomicFile> file_;
  ImportDocument::Encoder::RecordWriter writer_;
  std::optional<std::string> failure_;
};

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
  std::int64_t unreadable = 0;  // elements Notes could not hand over, in the folder asked for
  try {
    NotesReader::Library library = NotesReader::readAll(environment.runner);
    notes = std::move(library.notes);
    for (const std::optional<std::string>& folder : library.unreadableFolders) {
      if (!folderFilter ||
          (folder && text::equalIgnoringCaseInCurrentLocale(*folder, *folderFilter))) {
        ++unreadable;
      }
    }
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

  const std::string path = absolutePath(outputPath);
  ExportFile exportFile(path, environment.now());
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
    ImportRecord record{std::nullopt, {}, {}, note.created, note.folder, note.name, {}, {}};
    for (ParsedEntry& entry : result.entries) {
      record.id = Uuid::random();
      record.text = std::move(entry.text);
      record.entryDate = entry.date;
      record.topic = std::move(entry.topic);
      record.order = std::move(entry.order);
      exportFile.add(record);
    }
    say(out, "  " + note.folder + " / " + note.name + ": " + std::to_string(result.entries.size()) +
                 " entries, " + std::to_string(result.topicCount) + " topics, " +
                 std::to_string(result.dateCount) + " dates");
  }
  if (skipped > 0) {
    say(out, "Skipped " + std::to_string(skipped) + " empty notes.");
  }
  if (unreadable > 0) {
    say(out, "Could not read " + std::to_string(unreadable) + " notes.");
  }

  if (const auto failure = exportFile.finish()) {
    complain(err, "Could not write output: " + *failure);
    return 1;
  }

  say(out, "Wrote " + std::to_string(exportFile.recordCount()) + " entries to " + path + ".");
  say(out,
      "AirDrop or copy this file to your iPhone or iPad, then use Settings \u203A Import from "
      "file in Jotterby.");
  return 0;
}

}  // namespace sheafwright
