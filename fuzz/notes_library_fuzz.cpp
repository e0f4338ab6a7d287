// Arbitrary library files through the stand-in and the reader, checked against a reading of the
// same file by nlohmann that follows the library format's rules value by value: the same
// notes, the same unreadable notes and elements with the same reasons, the same error record,
// and refusal exactly when the file is not valid JSON.
#include "fuzz/fuzz_check.h"
#include "sheafwright/notes_reader.h"
#include "sheafwright/standin/library_tree.h"
#include "sheafwright/standin/standin_runner.h"
#include "sheafwright/unicode_text.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace {

using nlohmann::json;
using sheafwright::Date;

std::optional<std::string> textOf(const json& value) {
  if (value.is_string()) {
    return value.get<std::string>();
  }
  if (value.is_number_unsigned()) {
    return std::to_string(value.get<std::uint64_t>());
  }
  if (value.is_number_integer()) {
    return std::to_string(value.get<std::int64_t>());
  }
  return std::nullopt;
}

std::optional<Date> dateOf(const json& value) {
  if (!value.is_object() || value.size() != 1 || !value.contains("date") ||
      !value["date"].is_string()) {
    return std::nullopt;
  }
  return sheafwright::parseInternetDate(value["date"].get<std::string>());
}

struct TooDeep {};

// The file as nlohmann reads it, or nothing when it is not valid JSON (nlohmann takes a NUL
// byte for the end of its input; the format does not).
std::optional<json> reference(const std::string& text) {
  if (text.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  try {
    return json::parse(text, [](int depth, json::parse_event_t, json&) {
      if (depth > sheafwright::standin::kMaxLibraryDepth) {
        throw TooDeep();
      }
      return true;
    });
  } catch (const TooDeep&) {
  } catch (const json::exception&) {
  }
  return std::nullopt;
}

using Unreadable = sheafwright::NotesReader::Unreadable;

// What the reader made of every folder, in order: the notes, the note elements it could not
// read, and the elements that were no notes.
struct ReadLibrary {
  std::vector<sheafwright::NotesReader::Note> notes;
  std::vector<Unreadable> unreadableNotes;
  std::vector<Unreadable> unreadable;
};

ReadLibrary readEveryFolder(sheafwright::ScriptRunner& runner) {
  auto session = sheafwright::NotesReader::open(runner);
  ReadLibrary read;
  for (std::size_t k = 0; k < session.folders().size(); ++k) {
    const auto folder = session.readFolder(k);
    for (std::size_t i = 0; i < folder.size(); ++i) {
      auto note = folder.note(i);
      if (auto* why = std::get_if<Unreadable>(&note)) {
        FUZZ_CHECK(why->folder == folder.folder(i));
        read.unreadableNotes.push_back(std::move(*why));
        continue;
      }
      read.notes.push_back(std::get<sheafwright::NotesReader::Note>(std::move(note)));
      FUZZ_CHECK(folder.folder(i) == read.notes.back().folder);
      // A folder's elements all name it (a note without a folder's text names "").
      FUZZ_CHECK(session.folders()[k].value_or("") == read.notes.back().folder);
    }
    for (const auto& unreadable : folder.unreadableNotes()) {
      FUZZ_CHECK(unreadable.folder == session.folders()[k]);
      read.unreadable.push_back(unreadable);
    }
    // The count --list-folders shows is, for the stand-in, the folder's elements.
    FUZZ_CHECK(session.noteCount(k) ==
               static_cast<std::int64_t>(folder.size() + folder.unreadableNotes().size()));
    // Consecutive elements of one folder are one folder.
    FUZZ_CHECK(k == 0 || session.folders()[k] != session.folders()[k - 1] || !session.folders()[k]);
  }
  return read;
}

void checkNotes(const json& reply, const ReadLibrary& library) {
  std::size_t note = 0;
  std::size_t unreadableNote = 0;
  std::size_t unreadable = 0;
  std::set<std::string> ids;
  for (const json& element : reply.is_array() ? reply : json::array()) {
    if (!element.is_array() || element.size() < 5) {
      const std::size_t values = element.is_array() ? element.size() : 0;
      const Unreadable expected{values >= 1 ? textOf(element[0]) : std::nullopt,
                                values >= 2 ? textOf(element[1]) : std::nullopt,
                                values == 1 ? "folder could not be opened" : "not handed over"};
      FUZZ_CHECK(unreadable < library.unreadable.size());
      FUZZ_CHECK(library.unreadable[unreadable++] == expected);
      continue;
    }
    if (element.size() >= 6) {
      const std::optional<std::string> id = textOf(element[5]);
      if (id && !id->empty() && !ids.insert(*id).second) {
        continue;  // the same note again
      }
    }
    // No text for a body, or a lock (a JSON true, nothing else) on an empty one: not read.
    const std::optional<std::string> body = textOf(element[2]);
    const bool locked = element.size() >= 7 && element[6].is_boolean() && element[6].get<bool>();
    if (!body || (locked && body->empty())) {
      const Unreadable expected{textOf(element[0]).value_or(""), textOf(element[1]),
                                locked ? "locked" : "not handed over"};
      FUZZ_CHECK(unreadableNote < library.unreadableNotes.size());
      FUZZ_CHECK(library.unreadableNotes[unreadableNote++] == expected);
      continue;
    }
    FUZZ_CHECK(note < library.notes.size());
    const auto& read = library.notes[note++];
    FUZZ_CHECK(read.folder == textOf(element[0]).value_or(""));
    FUZZ_CHECK(read.name == textOf(element[1]).value_or(""));
    FUZZ_CHECK(read.html == *body);
    const std::optional<Date> created = dateOf(element[3]);
    const std::optional<Date> modified = dateOf(element[4]);
    FUZZ_CHECK(!created || read.created == *created);
    FUZZ_CHECK(read.modified == modified.value_or(read.created));
  }
  FUZZ_CHECK(note == library.notes.size());
  FUZZ_CHECK(unreadableNote == library.unreadableNotes.size());
  FUZZ_CHECK(unreadable == library.unreadable.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<json> expected = reference(text);
  const json* errorRecord = expected && expected->is_object() && expected->contains("error")
                                ? &(*expected)["error"]
                                : nullptr;
  const auto runner = sheafwright::makeLibraryTextScriptRunner(text, "fuzz.json");
  try {
    const ReadLibrary library = readEveryFolder(*runner);
    FUZZ_CHECK(expected && !errorRecord);
    checkNotes(*expected, library);
  } catch (const sheafwright::NotesReader::ReaderError& error) {
    const std::string description = error.description();
    FUZZ_CHECK(sheafwright::text::isValidUtf8(description));
    if (!expected) {
      FUZZ_CHECK(description.rfind(
                     "AppleScript failed: Notes library fuzz.json is not valid JSON: ", 0) == 0);
    } else {
      FUZZ_CHECK(errorRecord != nullptr);
      const json* message =
          errorRecord->is_object() && errorRecord->contains("NSAppleScriptErrorMessage")
              ? &(*errorRecord)["NSAppleScriptErrorMessage"]
              : nullptr;
      std::string shown = message && message->is_string()
                              ? message->get<std::string>()
                              : errorRecord->dump(-1, ' ', false, json::error_handler_t::replace);
      if (!shown.empty() && shown.back() == '.') {
        shown.pop_back();
      }
      FUZZ_CHECK(description.rfind("AppleScript failed: " + shown + ". Make sure", 0) == 0);
    }
  }
  return 0;
}
