// Generated library files run through the whole export and checked as any reader of JSON sees
// the result, against the generator's model of the library and the tool's documented rules,
// never against the tool's own code: the only things of the tool used are run() and the
// stand-in runner that serves the library text.
#include "testing/whole_export_check.h"

#include "sheafwright/driver.h"
#include "sheafwright/standin/standin_runner.h"
#include "testing/readable_forms.h"
#include "testing/tool_lines.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <utility>

namespace sheafwright::wholeexport {

namespace {

using Json = nlohmann::ordered_json;

// How much of a text a failure quotes.
constexpr std::size_t kQuoted = 200;

struct Failure {
  std::string what;
};

[[noreturn]] void fail(std::string what) {
  throw Failure{std::move(what)};
}

bool asciiEqualIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&lower](char x, char y) { return lower(x) == lower(y); });
}

// A version 4 UUID as the tool writes it: lower-case hexadecimal.
bool isUuidV4(const std::string& text) {
  const std::optional<Uuid> id = parseUuid(text);
  return id && uuidText(*id) == text && id->bytes[6] >> 4 == 4 && id->bytes[8] >> 6 == 2;
}

bool isUtcDate(const std::string& text) {
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  return std::equal(text.begin(), text.end(), kShape.begin(), kShape.end(), [](char c, char shape) {
    return shape == 'd' ? c >= '0' && c <= '9' : c == shape;
  });
}

// Reads the printed lines in order against the expected ones.
class Printed {
 public:
  explicit Printed(std::string text) : text_(std::move(text)) {}
  void line(const std::string& expected) {
    if (text_.compare(at_, expected.size() + 1, expected + '\n') != 0) {
      fail("expected the line " + jsonText(expected) + " at " +
           jsonText(text_.substr(at_, kQuoted)));
    }
    at_ += expected.size() + 1;
  }
  bool startsWith(const std::string& prefix) {
    if (text_.compare(at_, prefix.size(), prefix) != 0) {
      return false;
    }
    at_ += prefix.size();
    return true;
  }
  std::size_t number() {
    std::size_t value = 0;
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      value = value * 10 + static_cast<std::size_t>(text_[at_++] - '0');
    }
    if (at_ == start) {
      fail("expected a number at " + jsonText(text_.substr(at_, kQuoted)));
    }
    return value;
  }
  void text(std::string_view expected) {
    if (!startsWith(std::string(expected))) {
      fail("expected " + jsonText(expected) + " at " + jsonText(text_.substr(at_, kQuoted)));
    }
  }
  bool atEnd() const { return at_ == text_.size(); }

 private:
  std::string text_;
  std::size_t at_ = 0;
};

// The keys of an object, in order, joined by commas.
std::string keysOf(const Json& object) {
  std::string keys;
  for (const auto& item : object.items()) {
    keys += (keys.empty() ? "" : ",") + item.key();
  }
  return keys;
}

// A name as the tool prints it: every control but tab as \u and four hex digits (the generated
// names are UTF-8).
std::string shown(std::string_view text) {
  std::string printed;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    unsigned control = 0x100;
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      control = byte;
    } else if (byte == 0xC2 && at + 1 < text.size() &&
               static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
      control = static_cast<unsigned char>(text[++at]);
    }
    if (control < 0x100) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", control);
      printed += escaped;
    } else {
      printed += text[at];
    }
  }
  return printed;
}

bool isTrash(std::string_view name) {
  return std::find(kTrashNames.begin(), kTrashNames.end(), name) != kTrashNames.end();
}

// A --folder that names no folder to read: one line on standard error, the folders there are,
// and nothing written.
void checkNoFolder(const GeneratedLibrary& library, int status, const std::string& out,
                   const std::string& err, const std::filesystem::path& outPath) {
  const std::string& filter = *library.filter;
  std::string message = "No folder named \"" + shown(filter) + "\"";
  if (!library.includeDeleted &&
      std::any_of(kTrashNames.begin(), kTrashNames.end(),
                  [&](std::string_view trash) { return asciiEqualIgnoringCase(trash, filter); })) {
    message += ": Notes' trash is read only with --include-deleted.";
  } else {
    std::vector<std::string> names;
    for (const Element& element : library.elements) {
      const std::string name = element.firstValue.value_or("");
      if ((library.includeDeleted || !isTrash(name)) &&
          std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(name);
      }
    }
    if (names.empty()) {
      message += ". Notes has no folders.";
    } else {
      message += ". Folders: ";
      for (std::size_t i = 0; i < names.size() && i < 10; ++i) {
        message += (i > 0 ? ", " : "") + (names[i].empty() ? "\"\"" : shown(names[i]));
      }
      message += names.size() > 10 ? ", \u2026 (" + std::to_string(names.size()) +
                                         " in all: --list-folders shows them)."
                                   : ".";
    }
  }
  if (status != 1 || err != message + "\n" || out != kReadingLine + "\n" ||
      std::filesystem::exists(outPath)) {
    fail("expected " + jsonText(message) + " and status 1; status " + std::to_string(status) +
         ", error output " + jsonText(err) + ", output " + jsonText(out.substr(0, kQuoted)));
  }
}

// The notes of the folders read, and the lines naming what was not read.
struct Selection {
  std::vector<const Element*> notes;
  std::vector<std::string> unreadable;
};

// Folders are runs of elements whose first values agree. Of each folder that is read, the notes
// not read are named first, then the elements that were no notes (those without a folder's name
// only when every folder is read).
Selection select(const GeneratedLibrary& library) {
  const std::vector<Element>& elements = library.elements;
  const std::optional<std::string>& filter = library.filter;
  Selection selection;
  for (std::size_t start = 0, end = 0; start < elements.size(); start = end) {
    for (end = start + 1;
         end < elements.size() && elements[end].firstValue == elements[start].firstValue; ++end) {
    }
    const std::string folderRead = elements[start].firstValue.value_or("");
    if ((filter && !asciiEqualIgnoringCase(folderRead, *filter)) ||
        (!library.includeDeleted && isTrash(folderRead))) {
      continue;
    }
    std::vector<std::string> noNotes;
    for (std::size_t at = start; at < end; ++at) {
      const Element& element = elements[at];
      const std::string folder = shown(element.folder.value_or(""));
      const std::string name = shown(element.nameText.value_or(""));
      if (element.isNote && element.unreadable.empty()) {
        selection.notes.push_back(&element);
      } else if (element.isNote) {
        selection.unreadable.push_back("  " + folder + " / " + name + " (" +
                                       std::string(element.unreadable) + ")");
      } else if (element.folder || !filter) {
        noNotes.push_back(element.values == 1
                              ? "  " + folder + " (folder could not be opened)"
                              : "  " + folder + " / " + name + " (not handed over)");
      }
    }
    selection.unreadable.insert(selection.unreadable.end(), noNotes.begin(), noNotes.end());
  }
  return selection;
}

// A note that yielded entries, with the number its line printed.
struct ExportedNote {
  const Element* note;
  std::size_t entries;
};

// The printed lines: one per note that yielded entries, in library order. Returns those notes.
std::vector<ExportedNote> checkPrintedLines(const Selection& selection,
                                            const std::optional<std::string>& filter,
                                            const std::string& out,
                                            const std::filesystem::path& outPath) {
  Printed printed(out);
  printed.line(kReadingLine);
  printed.line("Found " + std::to_string(selection.notes.size()) + " notes" +
               (filter ? " in \"" + shown(*filter) + "\"" : "") + ".");
  std::vector<ExportedNote> exported;
  std::size_t skipped = 0;
  std::size_t entriesPrinted = 0;
  for (const Element* note : selection.notes) {
    if (!printed.startsWith("  " + shown(*note->folder) + " / " + shown(note->name) + ": ")) {
      if (note->entries && !note->entries->empty()) {
        fail("no line for the note " + jsonText(note->name) + " of " + jsonText(*note->folder));
      }
      ++skipped;
      continue;
    }
    const std::size_t count = printed.number();
    printed.text(" entries, ");
    const std::size_t topics = printed.number();
    printed.text(" topics, ");
    const std::size_t dates = printed.number();
    printed.text(" dates\n");
    // A predictable note has no topics, and one date line per header.
    if (note->entries && (topics != 0 || dates != note->dateHeaders)) {
      fail("the note " + jsonText(note->name) + " of " + jsonText(*note->folder) + ": " +
           std::to_string(topics) + " topics and " + std::to_string(dates) +
           " dates printed, expected 0 and " + std::to_string(note->dateHeaders));
    }
    exported.push_back({note, count});
    entriesPrinted += count;
  }
  if (skipped > 0) {
    printed.line("Skipped " + std::to_string(skipped) + " empty notes.");
  }
  if (!selection.unreadable.empty()) {
    printed.line("Could not read " + std::to_string(selection.unreadable.size()) + " notes.");
    for (const std::string& line : selection.unreadable) {
      printed.line(line);
    }
  }
  printed.line("Wrote " + std::to_string(entriesPrinted) + " entries to " +
               shown(outPath.string()) + ".");
  printed.line(kClosingLine);
  if (!printed.atEnd()) {
    fail("more printed lines than expected");
  }
  return exported;
}

// The file as any JSON reader sees it: its keys, version and export time. Returns its records.
Json readDocument(const std::filesystem::path& outPath, Seconds now) {
  std::ifstream file(outPath, std::ios::binary);
  const std::string written(std::istreambuf_iterator<char>(file), {});
  Json document;
  try {
    document = Json::parse(written);
  } catch (const Json::exception& error) {
    fail("the file is not JSON: " + std::string(error.what()) + "; it begins " +
         jsonText(written.substr(0, kQuoted)));
  }
  if (!document.is_object() || keysOf(document) != "exportedAt,records,version") {
    fail("document keys " + document.dump().substr(0, kQuoted));
  }
  if (document["version"] != 1 || document["exportedAt"] != utcText(now) ||
      !document["records"].is_array()) {
    fail("document header " + document["version"].dump() + " " + document["exportedAt"].dump());
  }
  return std::move(document["records"]);
}

// The records, note by note in the order of the printed lines: their keys, names, fresh ids,
// dates and ascending order keys, and for predictable notes their texts and days.
void checkRecords(const Json& records, const std::vector<ExportedNote>& exported) {
  std::size_t entriesPrinted = 0;
  for (const ExportedNote& note : exported) {
    entriesPrinted += note.entries;
  }
  if (records.size() != entriesPrinted) {
    fail(std::to_string(records.size()) + " records, " + std::to_string(entriesPrinted) +
         " entries printed");
  }
  std::set<std::string> ids;
  std::size_t at = 0;
  for (const auto& [note, count] : exported) {
    const std::string where = "note " + jsonText(note->name) + " of " + jsonText(*note->folder);
    if (note->entries && note->entries->size() != count) {
      fail(where + ": " + std::to_string(count) + " entries, expected " +
           std::to_string(note->entries->size()));
    }
    std::string order;
    std::string created;
    for (std::size_t index = 0; index < count; ++index) {
      const Json& record = records[at++];
      const std::string here = where + ", entry " + std::to_string(index + 1);
      if (!record.is_object()) {
        fail(here + ": not an object");
      }
      const std::string keys = keysOf(record);
      if (keys != "createdAt,entryDate,folder,id,notebook,order,text" &&
          keys != "createdAt,entryDate,folder,id,notebook,order,text,topic") {
        fail(here + ": keys " + keys);
      }
      for (const auto& item : record.items()) {
        if (!item.value().is_string()) {
          fail(here + ": " + item.key() + " is not a string");
        }
      }
      if (record["folder"] != *note->folder || record["notebook"] != note->name) {
        fail(here + ": folder " + record["folder"].dump() + ", notebook " +
             record["notebook"].dump());
      }
      const std::string& id = record["id"].get_ref<const std::string&>();
      if (!isUuidV4(id) || !ids.insert(id).second) {
        fail(here + ": id " + id + " is no new version-4 UUID");
      }
      const std::string& entryDate = record["entryDate"].get_ref<const std::string&>();
      const std::string& createdAt = record["createdAt"].get_ref<const std::string&>();
      if (!isUtcDate(entryDate) || !isUtcDate(createdAt)) {
        fail(here + ": dates " + entryDate + " " + createdAt);
      }
      // A note's creation date is its own when readable; the same for all its entries always.
      if (note->created ? createdAt != utcText(*note->created)
                        : index > 0 && createdAt != created) {
        fail(here + ": createdAt " + createdAt);
      }
      created = createdAt;
      const std::string& key = record["order"].get_ref<const std::string&>();
      if (index > 0 && !(order < key)) {
        fail(here + ": order " + jsonText(key) + " after " + jsonText(order));
      }
      order = key;
      if (note->entries) {
        const Expected& expected = (*note->entries)[index];
        if (record["text"] != expected.text || entryDate != utcText(expected.entryDate) ||
            record.contains("topic")) {
          fail(here + ": " + jsonText(record["text"].get<std::string>().substr(0, kQuoted)) +
               " on " + entryDate + ", expected " + jsonText(expected.text.substr(0, kQuoted)) +
               " on " + utcText(expected.entryDate));
        }
      }
    }
  }
}

void check(const GeneratedLibrary& library, int status, const std::string& out,
           const std::string& err, const std::filesystem::path& outPath) {
  const Selection selection = select(library);
  if (library.filter &&
      std::none_of(library.elements.begin(), library.elements.end(), [&](const Element& element) {
        const std::string folder = element.firstValue.value_or("");
        return asciiEqualIgnoringCase(folder, *library.filter) &&
               (library.includeDeleted || !isTrash(folder));
      })) {
    checkNoFolder(library, status, out, err, outPath);
    return;
  }
  if (status != 0) {
    fail("exit status " + std::to_string(status) + ", error output " + jsonText(err));
  }
  const std::vector<ExportedNote> exported =
      checkPrintedLines(selection, library.filter, out, outPath);
  checkRecords(readDocument(outPath, library.now), exported);
}

}  // namespace

Outcome checkWholeExport(ByteSource& bytes, const Limits& limits,
                         const std::filesystem::path& dir) {
  const GeneratedLibrary library = generateLibrary(bytes, limits);
  Outcome outcome;
  outcome.zone = library.zone;
  outcome.library = library.json;
  const std::filesystem::path outPath = dir / "export.json";
  std::filesystem::remove(outPath);
  outcome.arguments = {"sheafwright", "--out", outPath.string()};
  if (library.filter) {
    outcome.arguments.insert(outcome.arguments.end(), {"--folder", *library.filter});
  }
  if (library.includeDeleted) {
    outcome.arguments.push_back("--include-deleted");
  }
  const auto runner = makeLibraryTextScriptRunner(outcome.library, "lib.json");
  std::ostringstream out;
  std::ostringstream err;
  const Seconds now = library.now;
  const int status = run(
      outcome.arguments,
      {.runner = *runner,
       .out = out,
       .err = err,
       .currentCalendar = [&outcome] { return Calendar(outcome.zone); },
       .now = [now] { return Date(std::chrono::seconds(now) + std::chrono::microseconds(999)); }});
  try {
    check(library, status, out.str(), err.str(), outPath);
  } catch (const Failure& failure) {
    outcome.failure = failure.what;
  }
  return outcome;
}

std::string describe(const Outcome& outcome) {
  std::string text = outcome.failure + "\nzone " + outcome.zone + ", arguments";
  for (const std::string& argument : outcome.arguments) {
    text += " " + jsonText(argument);
  }
  return text + "\nlibrary:\n" + outcome.library;
}

}  // namespace sheafwright::wholeexport
