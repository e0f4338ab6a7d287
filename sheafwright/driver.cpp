// The tool's run: the options, reading the notes, each note's export, every printed line and the
// exit status.
#include "sheafwright/driver.h"

#include "sheafwright/atomic_file.h"
#include "sheafwright/html_converter.h"
#include "sheafwright/import_document.h"
#include "sheafwright/notes_parser.h"
#include "sheafwright/notes_reader.h"
#include "sheafwright/unicode_text.h"
#include "sheafwright/uuid.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <system_error>
#include <utility>
#include <variant>

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

struct Options {
  std::optional<std::string> folderFilter;
  std::string outputPath = "jotterby-import.json";
};

// The options, or the exit status when the run ends with the usage text or an unknown option.
std::variant<Options, int> readOptions(const std::vector<std::string>& arguments, std::ostream& out,
                                       std::ostream& err) {
  Options options;
  for (std::size_t argumentIndex = 1; argumentIndex < arguments.size(); ++argumentIndex) {
    const std::string& argument = arguments[argumentIndex];
    if (argument == "--folder") {
      ++argumentIndex;
      if (argumentIndex < arguments.size()) {
        options.folderFilter = arguments[argumentIndex];
      } else {
        options.folderFilter.reset();
      }
    } else if (argument == "--out") {
      ++argumentIndex;
      if (argumentIndex < arguments.size()) {
        options.outputPath = arguments[argumentIndex];
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
  return options;
}

// `path` made absolute against the working directory, without "." components.
std::string absolutePath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) {
    absolute = path;
  }
  std::filesystem::path cleaned;
  for (const auto& part : absolute) {
    if (part != ".") {
      cleaned /= part;
    }
  }
  return cleaned.string();
}

// One note's entries as records; the note's summary line, or absent when it yielded none.
std::optional<std::string> exportNote(NotesReader::Note note, const Calendar& calendar,
                                      UuidGenerator& ids, ImportDocument::Encoder& encoder) {
  const std::string plain = NotesHTMLConverter::plainText(note.html);
  note.html = {};  // the body is not needed again; let large ones go early
  std::optional<std::int64_t> referenceYear = NotesParser::yearInName(note.folder);
  if (!referenceYear) {
    referenceYear = NotesParser::yearInName(note.name);
  }
  const NotesParser parser{referenceYear, note.created, note.modified, calendar};
  ParseResult result = parser.parse(plain);
  if (result.entries.empty()) {
    return std::nullopt;
  }
  ImportRecord record{std::nullopt, {}, {}, note.created, note.folder, note.name, {}, {}};
  for (ParsedEntry& entry : result.entries) {
    record.id = ids.next();
    record.text = std::move(entry.text);
    record.entryDate = entry.date;
    record.topic = std::move(entry.topic);
    record.order = std::move(entry.order);
    encoder.add(record);
  }
  return "  " + note.folder + " / " + note.name + ": " + std::to_string(result.entries.size()) +
         " entries, " + std::to_string(result.topicCount) + " topics, " +
         std::to_string(result.dateCount) + " dates";
}

}  // namespace

int run(const std::vector<std::string>& arguments, const RunEnvironment& environment) {
  std::ostream& out = environment.out;
  std::ostream& err = environment.err;

  const std::variant<Options, int> read = readOptions(arguments, out, err);
  if (const int* status = std::get_if<int>(&read)) {
    return *status;
  }
  const Options& options = std::get<Options>(read);

  say(out, "Reading Apple Notes\u2026 (grant automation permission if prompted)");
  std::optional<NotesReader::Library> library;
  try {
    library = NotesReader::readAll(environment.runner);
  } catch (const NotesReader::ReaderError& error) {
    complain(err, error.description());
    return 1;
  }

  const auto inFolder = [&options](const std::string& folder) {
    return !options.folderFilter ||
           text::equalIgnoringCaseInCurrentLocale(folder, *options.folderFilter);
  };
  std::vector<std::size_t> selected;
  for (std::size_t index = 0; index < library->size(); ++index) {
    if (inFolder(library->folder(index))) {
      selected.push_back(index);
    }
  }
  // Elements that Notes could not hand over count where their folder is known to match.
  std::int64_t unreadable = 0;
  for (const std::optional<std::string>& folder : library->unreadableFolders()) {
    if (folder ? inFolder(*folder) : !options.folderFilter) {
      ++unreadable;
    }
  }

  std::string found = "Found " + std::to_string(selected.size()) + " notes";
  if (options.folderFilter) {
    found += " in \"" + *options.folderFilter + "\"";
  }
  say(out, found + ".");

  const std::string path = absolutePath(options.outputPath);
  AtomicFile file(path);
  ImportDocument::Encoder encoder(environment.now(),
                                  [&file](std::string_view piece) { file.write(piece); });
  UuidGenerator ids;
  std::int64_t skipped = 0;
  for (const std::size_t index : selected) {
    const std::optional<std::string> line =
        exportNote(library->note(index), environment.currentCalendar(), ids, encoder);
    if (line) {
      say(out, *line);
    } else {
      ++skipped;
    }
  }
  if (skipped > 0) {
    say(out, "Skipped " + std::to_string(skipped) + " empty notes.");
  }
  if (unreadable > 0) {
    say(out, "Could not read " + std::to_string(unreadable) + " notes.");
  }

  std::optional<std::string> failure = encoder.finish();
  if (!failure) {
    failure = file.commit();
  }
  if (failure) {
    complain(err, "Could not write output: " + *failure);
    return 1;
  }
  say(out, "Wrote " + std::to_string(encoder.recordCount()) + " entries to " + path + ".");
  say(out,
      "AirDrop or copy this file to your iPhone or iPad, then use Settings \u203A Import from "
      "file in Jotterby.");
  return 0;
}

}  // namespace sheafwright
