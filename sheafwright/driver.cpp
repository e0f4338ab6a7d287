// The tool's run: the options, reading the notes, each note's export, every printed line and the
// exit status.
#include "sheafwright/driver.h"

#include "sheafwright/atomic_file.h"
#include "sheafwright/date_header.h"
#include "sheafwright/html_converter.h"
#include "sheafwright/import_encoder.h"
#include "sheafwright/note_store_runner.h"
#include "sheafwright/notes_parser.h"
#include "sheafwright/notes_reader.h"
#include "sheafwright/notes_trash.h"
#include "sheafwright/or_failure.h"
#include "sheafwright/progress_line.h"
#include "sheafwright/unicode_text.h"
#include "sheafwright/uuid.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <new>
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
    "  --out <path>      Output path (default: jotterby-import.json)\n"
    "  --include-deleted Also export Recently Deleted, Notes' trash\n"
    "  --list-folders    List the folders to export and their notes, then stop\n"
    "  --database        Read Notes' own database on this Mac (needs Full Disk Access)\n"
    "  --database-file <path>\n"
    "                    Read this copy of Notes' database (NoteStore.sqlite)\n";

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
  bool listFolders = false;
  std::optional<std::string> folderFilter;
  std::string outputPath = "jotterby-import.json";
  bool includeDeleted = false;
  // Notes' own database instead of the script: the file to read.
  std::optional<std::string> databasePath;
};

// The options, or the exit status when the run ends with the usage text or an unknown option.
OrFailure<Options, int> readOptions(const std::vector<std::string>& arguments, std::ostream& out,
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
    } else if (argument == "--include-deleted") {
      options.includeDeleted = true;
    } else if (argument == "--list-folders") {
      options.listFolders = true;
    } else if (argument == "--database") {
      options.databasePath = defaultNoteStorePath();
    } else if (argument == "--database-file") {
      ++argumentIndex;
      if (argumentIndex < arguments.size()) {
        options.databasePath = arguments[argumentIndex];
      }
    } else if (argument == "--help" || argument == "-h") {
      out << kUsage;
      out.flush();
      if (!out) {
        complain(err, "Could not write the usage text to standard output.");
        return 1;
      }
      return 0;
    } else {
      complain(err, "Unknown option: " + text::withControlsShown(argument));
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
                                      UuidGenerator& ids, ImportEncoder& encoder) {
  // The body is not needed once converted: the moved-out copy goes with this statement, so a
  // large body is not held while the note is parsed.
  const std::string plain = NotesHTMLConverter::plainText(std::exchange(note.html, {}));
  std::optional<std::int64_t> referenceYear = yearInName(note.folder);
  if (!referenceYear) {
    referenceYear = yearInName(note.name);
  }
  const NotesParser parser{referenceYear, note.created, note.modified, calendar};
  ParseResult result = parser.parse(plain);
  if (result.entries.empty()) {
    return std::nullopt;
  }
  ImportRecord record{.createdAt = note.created, .folder = note.folder, .notebook = note.name};
  for (ParsedEntry& entry : result.entries) {
    record.id = ids.next();
    record.text = std::move(entry.text);
    record.entryDate = entry.date;
    record.topic = std::move(entry.topic);
    record.order = std::move(entry.order);
    encoder.add(record);
  }
  return "  " + text::withControlsShown(note.folder) + " / " + text::withControlsShown(note.name) +
         ": " + std::to_string(result.entries.size()) + " entries, " +
         std::to_string(result.topicCount) + " topics, " + std::to_string(result.dateCount) +
         " dates";
}

// What the selected folders held: the records went to the encoder; the rest is counted here.
struct Exported {
  std::int64_t found = 0;
  std::int64_t skipped = 0;
  std::vector<std::string> noteLines;
  std::vector<std::string> unreadableLines;
};

// "  Folder / Note name (why)" for a note Notes did not hand over; a folder it could not open
// has no note name.
std::string unreadableLine(const NotesReader::Unreadable& note) {
  std::string line = "  " + text::withControlsShown(note.folder.value_or(std::string{}));
  if (note.reason != NotesReader::kFolderNotOpened) {
    line += " / " + text::withControlsShown(note.name.value_or(std::string{}));
  }
  return line + " (" + std::string(note.reason) + ")";
}

// The folder filter: every folder, or those whose names equal it but for letter case.
class FolderFilter {
 public:
  explicit FolderFilter(const std::optional<std::string>& filter) : filter_(filter) {}
  bool all() const { return !filter_; }
  bool operator()(const std::string& folder) const {
    return !filter_ || text::equalIgnoringCaseInCurrentLocale(folder, *filter_);
  }

 private:
  const std::optional<std::string>& filter_;
};

// The folders to read, in Notes' order: those `inFolder` selects, Notes' trash only when asked
// for.
std::vector<std::size_t> foldersToRead(const NotesReader::Session& session,
                                       const FolderFilter& inFolder, bool includeDeleted) {
  std::vector<std::size_t> selected;
  for (std::size_t index = 0; index < session.folders().size(); ++index) {
    const std::string name = session.folders()[index].value_or(std::string{});
    if (inFolder(name) && (includeDeleted || !isNotesTrashName(name))) {
      selected.push_back(index);
    }
  }
  return selected;
}

// The message for a --folder that names no folder to read: the folders there are, the first
// few of them when there are many, or what to add when it names the trash.
std::string noFolderMessage(const NotesReader::Session& session, const std::string& filter,
                            bool includeDeleted) {
  std::string message = "No folder named \"" + text::withControlsShown(filter) + "\"";
  if (!includeDeleted && std::ranges::any_of(kNotesTrashNames, [&](std::string_view trash) {
        return text::equalIgnoringCaseInCurrentLocale(trash, filter);
      })) {
    return message + ": Notes' trash is read only with --include-deleted.";
  }
  const std::optional<std::string> noFilter;
  const FolderFilter every(noFilter);
  std::vector<std::string> names;
  for (const std::size_t index : foldersToRead(session, every, includeDeleted)) {
    std::string name = session.folders()[index].value_or(std::string{});
    if (std::ranges::find(names, name) == names.end()) {
      names.push_back(std::move(name));
    }
  }
  if (names.empty()) {
    return message + ". Notes has no folders.";
  }
  constexpr std::size_t kShown = 10;
  message += ". Folders: ";
  for (std::size_t i = 0; i < names.size() && i < kShown; ++i) {
    message += (i > 0 ? ", " : "") +
               (names[i].empty() ? std::string("\"\"") : text::withControlsShown(names[i]));
  }
  if (names.size() > kShown) {
    return message + ", \u2026 (" + std::to_string(names.size()) +
           " in all: --list-folders shows them).";
  }
  return message + ".";
}

// Reads the `selected` folders one at a time and exports their notes, letting each folder's
// reply go before the next is asked for. Throws ReaderError.
Exported exportFolders(NotesReader::Session& session, const std::vector<std::size_t>& selected,
                       const FolderFilter& inFolder, const RunEnvironment& environment,
                       ImportEncoder& encoder) {
  Exported exported;
  ProgressLine progress(environment.progress);
  UuidGenerator ids;
  const Calendar calendar = environment.currentCalendar();
  for (std::size_t k = 0; k < selected.size(); ++k) {
    const std::optional<std::string>& name = session.folders()[selected[k]];
    progress.show(k + 1, selected.size(), exported.found, name.value_or(std::string{}));
    const NotesReader::FolderNotes library = session.readFolder(selected[k]);
    for (std::size_t index = 0; index < library.size(); ++index) {
      if (!inFolder(library.folder(index))) {
        continue;
      }
      std::variant<NotesReader::Note, NotesReader::Unreadable> note = library.note(index);
      if (const auto* unreadable = std::get_if<NotesReader::Unreadable>(&note)) {
        exported.unreadableLines.push_back(unreadableLine(*unreadable));
        continue;
      }
      ++exported.found;
      std::optional<std::string> line =
          exportNote(std::get<NotesReader::Note>(std::move(note)), calendar, ids, encoder);
      if (line) {
        exported.noteLines.push_back(std::move(*line));
      } else {
        ++exported.skipped;
      }
    }
    // Elements that Notes could not hand over count where their folder is known to match.
    for (const NotesReader::Unreadable& unreadable : library.unreadableNotes()) {
      if (unreadable.folder ? inFolder(*unreadable.folder) : inFolder.all()) {
        exported.unreadableLines.push_back(unreadableLine(unreadable));
      }
    }
  }
  return exported;
}

// Each folder the export would read and the number of notes Notes shows there; the exit status.
// Throws ReaderError.
int listFolders(NotesReader::Session& session, const std::vector<std::size_t>& selected,
                std::ostream& out, std::ostream& err) {
  for (const std::size_t index : selected) {
    std::string line = text::withControlsShown(session.folders()[index].value_or(std::string{}));
    if (const std::optional<std::int64_t> count = session.noteCount(index)) {
      line += " (" + std::to_string(*count) + " notes)";
    }
    say(out, line);
  }
  // The list is all this run delivers.
  if (!out) {
    complain(err, "Could not write the folder list to standard output.");
    return 1;
  }
  return 0;
}

// The export from reading to the written file, and its lines; the exit status.
int exportLibrary(const Options& options, const RunEnvironment& environment, ScriptRunner& runner) {
  std::ostream& out = environment.out;
  std::ostream& err = environment.err;
  // Notes' database has no automation permission to hint at.
  const auto readerFailure = [&](const NotesReader::ReaderError& error) {
    complain(err, options.databasePath ? "Cannot read the Notes database " +
                                             text::withControlsShown(*options.databasePath) + ": " +
                                             text::withControlsShown(error.message())
                                       : text::withControlsShown(error.description()));
    return 1;
  };
  const FolderFilter inFolder(options.folderFilter);
  std::optional<NotesReader::Session> session;
  std::vector<std::size_t> selected;
  try {
    session.emplace(NotesReader::open(runner));
    // The database source leaves the trash out by what the database says, so a folder of the
    // user's own that bears one of the trash's names is read there.
    selected = foldersToRead(*session, inFolder,
                             options.includeDeleted || options.databasePath.has_value());
    // Decided before the file is begun: a mistyped name leaves an earlier export as it was.
    if (options.folderFilter && selected.empty()) {
      complain(err, noFolderMessage(*session, *options.folderFilter, options.includeDeleted));
      return 1;
    }
    if (options.listFolders) {
      return listFolders(*session, selected, out, err);
    }
  } catch (const NotesReader::ReaderError& error) {
    return readerFailure(error);
  }

  const std::string path = absolutePath(options.outputPath);
  AtomicFile file(path);
  ImportEncoder encoder(environment.now(), [&file](std::string_view piece) { file.write(piece); });
  Exported exported;
  try {
    exported = exportFolders(*session, selected, inFolder, environment, encoder);
  } catch (const NotesReader::ReaderError& error) {
    return readerFailure(error);
  }

  std::string found = "Found " + std::to_string(exported.found) + " notes";
  if (options.folderFilter) {
    found += " in \"" + text::withControlsShown(*options.folderFilter) + "\"";
  }
  say(out, found + ".");
  for (const std::string& line : exported.noteLines) {
    say(out, line);
  }
  if (exported.skipped > 0) {
    say(out, "Skipped " + std::to_string(exported.skipped) + " empty notes.");
  }
  if (!exported.unreadableLines.empty()) {
    say(out, "Could not read " + std::to_string(exported.unreadableLines.size()) + " notes.");
    for (const std::string& line : exported.unreadableLines) {
      say(out, line);
    }
  }

  std::optional<std::string> failure = encoder.finish();
  if (!failure) {
    failure = file.commit();
  }
  if (failure) {
    complain(err, "Could not write output: " + text::withControlsShown(*failure));
    return 1;
  }
  say(out, "Wrote " + std::to_string(encoder.recordCount()) + " entries to " +
               text::withControlsShown(path) + ".");
  say(out,
      "AirDrop or copy this file to your iPhone or iPad, then use Settings \u203A Import from "
      "file in Jotterby.");
  return 0;
}

}  // namespace

int run(const std::vector<std::string>& arguments, const RunEnvironment& environment) {
  const OrFailure<Options, int> read = readOptions(arguments, environment.out, environment.err);
  if (const int* status = std::get_if<int>(&read)) {
    return *status;
  }
  if (environment.unknownTimeZone) {
    complain(environment.err, "Unknown time zone \"" +
                                  text::withControlsShown(*environment.unknownTimeZone) +
                                  "\"; dates are taken in UTC");
  }
  say(environment.out, "Reading Apple Notes\u2026 (grant automation permission if prompted)");
  try {
    const Options& options = std::get<Options>(read);
    if (options.databasePath) {
      auto opened = openNoteStore(*options.databasePath, options.includeDeleted);
      if (const std::string* message = std::get_if<std::string>(&opened)) {
        complain(environment.err, *message);
        return 1;
      }
      return exportLibrary(options, environment, *std::get<std::unique_ptr<ScriptRunner>>(opened));
    }
    return exportLibrary(options, environment, environment.runner);
  } catch (const std::bad_alloc&) {
    // A library too large for this machine; the temporary file is gone by now and an earlier
    // export is untouched.
    complain(environment.err, "Could not write output: out of memory");
    return 1;
  }
}

}  // namespace sheafwright
