// Generated libraries written both as a stand-in library file (each note's body as the HTML a
// script gets from Notes) and as a Notes database (each note's body as Notes stores it), each
// exported in-process, and the two exports compared: the same lines, the same records but for
// their random ids. The stand-in file lists the notes in the order the database path reads them
// (folders as they were made, each folder's notes most recently modified first), so that even
// the order must agree. What the database path leaves out by what the database says (the
// trash, smart folders, rows marked for deletion) is not in the stand-in file at all.
#include "testing/two_source_check.h"

#include "sheafwright/calendar.h"
#include "sheafwright/driver.h"
#include "sheafwright/standin/standin_runner.h"
#include "testing/note_store_body_writer.h"
#include "testing/note_store_writer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

namespace sheafwright::wholeexport {

namespace {

using namespace std::string_view_literals;
using sheafwright::notestore::TestFolder;
using sheafwright::notestore::TestNote;
using sheafwright::notestore::TestNoteStore;
using sheafwright::notestore::TestParagraph;

constexpr std::array kZones = {"UTC"sv, "Europe/Berlin"sv, "America/St_Johns"sv, "Asia/Kathmandu"sv,
                               "Pacific/Chatham"sv};

constexpr std::array kFolderNames = {"Journal"sv,
                                     "Journal 2024"sv,
                                     "WORK"sv,
                                     "work"sv,
                                     ""sv,
                                     " "sv,
                                     "two\nlines"sv,
                                     "nul \0 inside"sv,
                                     "\u65e5\u8a18"sv,
                                     "ctl \x01\x7f"sv,
                                     "caf\u00e9 2023"sv};
constexpr std::array kNoteNames = {
    "March"sv,    ""sv, "Plans 2024"sv, "line\nbreak"sv, "\"quoted\" \\"sv, "emoji \U0001F600"sv,
    "tab\there"sv};
// Paragraph texts: dates of every form, plain words, what looks like markup or an entity,
// attachments, marks that combine with what comes before, controls, typed bullets.
constexpr std::array kTexts = {"2024-03-12"sv,
                               "12-Mar"sv,
                               "Mar. 14:"sv,
                               "3/13/2024"sv,
                               "Feb 30"sv,
                               "alpha"sv,
                               "walk the dog"sv,
                               "a & b <tag> \"q\""sv,
                               "&amp; &#65; &lt;"sv,
                               "<b>not bold</b>"sv,
                               "caf\u00e9 au lait"sv,
                               "\u0301 starts with a mark"sv,
                               "x\uFFFCy"sv,
                               "\uFFFC"sv,
                               ""sv,
                               " "sv,
                               "  two  spaces  "sv,
                               "\u2022 typed bullet"sv,
                               "- dash"sv,
                               "* star"sv,
                               "ctl \x01 \x1f end"sv,
                               "tab\tin"sv,
                               "\U0001F600 emoji \u65e5\u672c"sv,
                               "\u05e9\u05dc\u05d5\u05dd"sv};
constexpr std::array<std::optional<int>, 10> kStyles = {
    std::nullopt, std::nullopt, std::nullopt, 0, 1, 2, 4, 100, 101, 102};

struct Folder {
  TestFolder row;
  std::optional<std::string> served;  // the name it is served under; none: left out
  // What is inside it is left out too: the trash, a folder marked for deletion, or one inside
  // either. A smart folder leaves out only itself (Notes nests nothing in one; a database that
  // does still has its folders read, so that nothing is lost).
  bool hidesInside = false;
};

class Generator {
 public:
  explicit Generator(ByteSource& bytes) : bytes_(bytes) {}

  template <typename Pool>
  std::string pick(const Pool& pool) {
    return std::string(pool[bytes_.below(pool.size())]);
  }

  std::vector<Folder> folders() {
    std::vector<Folder> folders;
    const std::size_t count = 1 + bytes_.below(7);
    for (std::size_t i = 0; i < count; ++i) {
      Folder folder;
      folder.row.identifier = "F" + std::to_string(i);
      folder.row.type = bytes_.chance(2) ? std::optional<std::int64_t>() : 0;
      switch (i == 0 ? 0 : bytes_.below(12)) {
        case 0:
        case 1:
        case 2:
        case 3: {
          const std::string name = pick(kFolderNames);
          folder.row.title = name;
          folder.served = name;
          break;
        }
        case 4:
          folder.row.identifier = "DefaultFolder-CloudKit";
          folder.served = "Notes";
          break;
        case 5: {
          // Nested in an earlier folder: read when that one is.
          const std::size_t parent = bytes_.below(i);
          const std::string name = pick(kFolderNames);
          folder.row.title = name;
          folder.row.parent = parent;
          folder.hidesInside = folders[parent].hidesInside;
          folder.served = folder.hidesInside ? std::nullopt : std::optional<std::string>(name);
          break;
        }
        case 6:
          folder.row.type = 1;
          folder.row.identifier = "TrashFolder-" + std::to_string(i);
          folder.hidesInside = true;
          break;
        case 7:
          folder.row.title = "Bin";
          folder.row.identifier = "TrashFolder-CloudKit";
          folder.hidesInside = true;
          break;
        case 8:
          folder.row.title = "Smart";
          folder.row.type = 2 + static_cast<std::int64_t>(bytes_.below(2));
          break;
        case 9:
          folder.row.title = pick(kFolderNames);
          folder.row.markedForDeletion = true;
          folder.hidesInside = true;
          break;
        case 10:
          // No name of its own, and not the default folder: no name at all.
          folder.served = "";
          break;
        default:
          folder.row.title = "Under";
          folder.row.parent = bytes_.below(i);
          folder.hidesInside = folders[*folder.row.parent].hidesInside;
          folder.served = folder.hidesInside ? std::nullopt : std::optional<std::string>("Under");
          break;
      }
      folders.push_back(std::move(folder));
    }
    return folders;
  }

  std::vector<TestParagraph> paragraphs() {
    std::vector<TestParagraph> paragraphs;
    for (std::size_t count = bytes_.below(10); count > 0; --count) {
      TestParagraph paragraph{.text = pick(kTexts), .style = kStyles[bytes_.below(kStyles.size())]};
      if (paragraph.style && *paragraph.style >= 100) {
        paragraph.indent = static_cast<int>(bytes_.below(4));
        // A list item that starts with a combining mark is a corner where the two ways of
        // writing nested lists part (the mark joins what precedes it differently): left out.
        if (paragraph.text.starts_with("\u0301")) {
          paragraph.text.insert(0, "x");
        }
      }
      paragraphs.push_back(std::move(paragraph));
    }
    return paragraphs;
  }

  // Whole seconds plus a quarter, which a Core Data REAL holds exactly.
  std::int64_t instant() {
    return 1325376000 + static_cast<std::int64_t>(bytes_.below(65536)) * 11003;
  }

 private:
  ByteSource& bytes_;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string rfc3339(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.250Z", &parts);
  return text;
}

struct Exported {
  int status;
  std::string out;
  std::string err;
  nlohmann::json document;
};

Exported exportWith(ScriptRunner& runner, std::vector<std::string> arguments,
                    const std::filesystem::path& outPath, const std::string& zone, Date now) {
  std::filesystem::remove(outPath);
  std::ostringstream out;
  std::ostringstream err;
  arguments.insert(arguments.begin(), {"sheafwright", "--out", outPath.string()});
  Exported exported;
  exported.status = run(arguments, {.runner = runner,
                                    .out = out,
                                    .err = err,
                                    .currentCalendar = [&zone] { return Calendar(zone); },
                                    .now = [now] { return now; }});
  exported.out = out.str();
  exported.err = err.str();
  if (exported.status == 0) {
    exported.document = nlohmann::json::parse(readFile(outPath), nullptr, false);
    if (exported.document.is_object() && exported.document["records"].is_array()) {
      for (nlohmann::json& record : exported.document["records"]) {
        record.erase("id");
      }
    }
  }
  return exported;
}

}  // namespace

// The printed lines with the list of notes that could not be read in sorted order: the sources
// may list them in different orders, as a short element is listed after the folder's notes and
// a note found unreadable when it is read among them.
static std::string unreadableSorted(const std::string& out) {
  const std::size_t start = out.find("\nCould not read ");
  if (start == std::string::npos) {
    return out;
  }
  const std::size_t first = out.find('\n', start + 1) + 1;
  std::size_t end = first;
  std::vector<std::string> lines;
  while (end < out.size() && out.compare(end, 2, "  ") == 0) {
    const std::size_t next = out.find('\n', end) + 1;
    lines.push_back(out.substr(end, next - end));
    end = next;
  }
  std::sort(lines.begin(), lines.end());
  std::string sorted = out.substr(0, first);
  for (const std::string& line : lines) {
    sorted += line;
  }
  return sorted + out.substr(end);
}

TwoSourceOutcome checkTwoSources(ByteSource& bytes, const std::filesystem::path& dir) {
  TwoSourceOutcome outcome;
  Generator generate(bytes);
  outcome.zone = std::string(kZones[bytes.below(kZones.size())]);
  TestNoteStore store;
  store.layout = notestore::kReadableLayouts[bytes.below(std::size(notestore::kReadableLayouts))];
  store.inLog = bytes.chance(4);
  outcome.layout = notestore::layoutName(store.layout);
  const std::vector<Folder> folders = generate.folders();
  for (const Folder& folder : folders) {
    store.folders.push_back(folder.row);
  }

  // Each served folder's elements with their modification dates (none sorts last).
  std::vector<std::vector<std::pair<std::optional<std::int64_t>, nlohmann::json>>> served(
      folders.size());
  const std::size_t noteCount = bytes.below(14);
  for (std::size_t i = 0; i < noteCount; ++i) {
    TestNote note;
    note.folder = bytes.below(folders.size());
    const std::optional<std::string> title =
        bytes.chance(1) ? std::nullopt : std::optional<std::string>(generate.pick(kNoteNames));
    note.title = title;
    const std::int64_t created = generate.instant();
    const std::optional<std::int64_t> modified =
        bytes.chance(1) ? std::nullopt : std::optional<std::int64_t>(generate.instant());
    note.created = notestore::coreDataSeconds(static_cast<double>(created) + 0.25);
    note.modified =
        modified ? notestore::coreDataSeconds(static_cast<double>(*modified) + 0.25) : std::nan("");
    const std::string name = title.value_or("");
    const std::optional<std::string>& folder = folders[note.folder].served;
    const std::string folderName = folder.value_or("");
    nlohmann::json element;
    const nlohmann::json createdValue = {{"date", rfc3339(created)}};
    const nlohmann::json modifiedValue =
        modified ? nlohmann::json{{"date", rfc3339(*modified)}} : nlohmann::json(nullptr);
    switch (bytes.below(16)) {
      case 0:
        note.passwordProtected = true;
        note.data = "\x01\x02 sealed";
        element = {folderName, name, "", createdValue, modifiedValue, "locked-" + std::to_string(i),
                   true};
        break;
      case 1:
        note.data = bytes.chance(4) ? "not gzip" : "";
        element = {folderName, name};
        break;
      case 2:
        note.markedForDeletion = true;
        note.data = notestore::encodeNoteStoreBody(generate.paragraphs());
        break;
      default: {
        const std::vector<TestParagraph> paragraphs = generate.paragraphs();
        note.data = notestore::encodeNoteStoreBody(paragraphs);
        element = {folderName, name, notestore::notesHtml(paragraphs), createdValue, modifiedValue};
        break;
      }
    }
    if (folder && !note.markedForDeletion) {
      served[note.folder].emplace_back(modified, std::move(element));
    }
    store.notes.push_back(std::move(note));
  }
  nlohmann::json library = nlohmann::json::array();
  for (auto& notes : served) {
    std::stable_sort(notes.begin(), notes.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (auto& [modified, element] : notes) {
      library.push_back(std::move(element));
    }
  }
  outcome.library = library.dump();

  std::vector<std::string> arguments;
  switch (bytes.below(8)) {
    case 0:
      // A folder the library file has: it cannot hold an empty one, a database can.
      if (!library.empty() && library[0][0].is_string()) {
        arguments = {"--folder", library[0][0].get<std::string>()};
      }
      break;
    case 1:
      arguments = {"--folder", "No such folder"};
      break;
    default:
      break;
  }
  const Date now{std::chrono::seconds(1767225600)};
  const std::filesystem::path database = dir / "NoteStore.sqlite";
  notestore::writeNoteStore(database.string(), store);
  const auto standIn = makeLibraryTextScriptRunner(outcome.library, "lib.json");
  const Exported fromScript =
      exportWith(*standIn, arguments, dir / "export.json", outcome.zone, now);
  std::vector<std::string> databaseArguments = arguments;
  databaseArguments.insert(databaseArguments.end(), {"--database-file", database.string()});
  const Exported fromDatabase =
      exportWith(*standIn, databaseArguments, dir / "export.json", outcome.zone, now);

  // Both succeed, or both fail alike (a --folder that names no folder). The folders such a
  // message lists may differ: a library file cannot hold an empty folder, a database can.
  const auto reason = [](const std::string& err) {
    return err.substr(0, std::min(err.find(". Folders: "), err.find(". Notes has no folders.")));
  };
  if (fromScript.status != fromDatabase.status ||
      reason(fromScript.err) != reason(fromDatabase.err) ||
      (fromScript.status != 0 && fromScript.status != 1)) {
    outcome.failure = "exit status " + std::to_string(fromScript.status) + " from the file, " +
                      std::to_string(fromDatabase.status) +
                      " from the database: " + fromScript.err + "---\n" + fromDatabase.err;
  } else if (unreadableSorted(fromScript.out) != unreadableSorted(fromDatabase.out)) {
    outcome.failure = "printed lines differ:\n" + fromScript.out + "---\n" + fromDatabase.out;
  } else if (fromScript.document != fromDatabase.document) {
    outcome.failure = "records differ:\n" + fromScript.document.dump(1).substr(0, 4000) +
                      "\n---\n" + fromDatabase.document.dump(1).substr(0, 4000);
  }
  return outcome;
}

}  // namespace sheafwright::wholeexport
