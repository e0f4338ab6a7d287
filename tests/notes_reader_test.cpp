// The notes reader over fake runners and stand-in libraries: notes, skipped elements, errors.
#include "sheafwright/notes_reader.h"

#include "sheafwright/standin/standin_runner.h"
#include "testing/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

namespace sheafwright {
namespace {

// A runner that cannot make the script at all, or fails with a fixed record.
class FakeRunner : public ScriptRunner {
 public:
  struct Record : ScriptErrorRecord {
    std::optional<std::string> entry;
    std::string text;
    std::optional<std::string> message() const override { return entry; }
    std::string description() const override { return text; }
  };
  struct FailingScript : Script {
    Record record;
    ScriptOutcome call(std::string_view, std::span<const std::int64_t>) override {
      return {nullptr, std::make_unique<Record>(record)};
    }
  };

  std::unique_ptr<Script> makeScript(std::string_view source) override {
    seenSource = std::string(source);
    if (!failure) {
      return nullptr;
    }
    auto script = std::make_unique<FailingScript>();
    script->record = *failure;
    return script;
  }

  std::optional<Record> failure;
  std::string seenSource;
};

TEST(NotesReaderTest, ScriptIsTheScriptFileWithoutItsLastLineFeed) {
  std::string text = readFile(SHEAFWRIGHT_SCRIPT_FILE);
  ASSERT_TRUE(text.ends_with("\n")) << text;
  text.pop_back();
  EXPECT_FALSE(text.ends_with("\n"));
  EXPECT_EQ(NotesReader::script, text);
}

TEST(NotesReaderTest, FailuresUseTheUserFacingWording) {
  FakeRunner cannotCompile;
  EXPECT_EQ(failureOf(cannotCompile), "AppleScript failed: could not compile script" + kHint);
  EXPECT_EQ(cannotCompile.seenSource, NotesReader::script);

  FakeRunner withMessage;
  withMessage.failure = FakeRunner::Record{};
  withMessage.failure->entry = "Not authorized";
  withMessage.failure->text = "{whole}";
  EXPECT_EQ(failureOf(withMessage), "AppleScript failed: Not authorized" + kHint);

  FakeRunner withoutMessage;
  withoutMessage.failure = FakeRunner::Record{};
  withoutMessage.failure->text = "{NSAppleScriptErrorNumber = -600;}";
  EXPECT_EQ(failureOf(withoutMessage),
            "AppleScript failed: {NSAppleScriptErrorNumber = -600;}" + kHint);
}

TEST(NotesReaderTest, OneClosingFullStopGivesWayToTheHint) {
  struct Case {
    std::string message;
    std::string shown;
  };
  const Case cases[] = {
      {"Not authorized to send Apple events to Notes.",
       "Not authorized to send Apple events to Notes"},
      {"Notes got an error: Can\u2019t get folder id \"x\".",
       "Notes got an error: Can\u2019t get folder id \"x\""},
      {"Two..", "Two."},
      {"No full stop", "No full stop"},
      {"Ends in an ellipsis\u2026", "Ends in an ellipsis\u2026"},
      {"A full stop. Then more", "A full stop. Then more"},
      {".", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FakeRunner runner;
    runner.failure = FakeRunner::Record{};
    runner.failure->entry = c.message;
    EXPECT_EQ(failureOf(runner), "AppleScript failed: " + c.shown + kHint);
  }
}

NotesReader::Library unpack(std::unique_ptr<ScriptDescriptor> reply) {
  std::unordered_set<std::string> seenIds;
  return NotesReader::unpack(std::move(reply), seenIds);
}

// One reply of a folder's notes, played by a library text.
NotesReader::Library readLibrary(const std::string& json) {
  return unpack(libraryReply(json, "test.json").reply);
}

std::vector<NotesReader::Note> allNotes(const NotesReader::Library& library) {
  std::vector<NotesReader::Note> notes;
  for (std::size_t i = 0; i < library.size(); ++i) {
    notes.push_back(library.note(i));
  }
  return notes;
}

TEST(NotesReaderTest, UnpacksRepliesAndCopesWithOddElements) {
  const NotesReader::Library library = readLibrary(R"([
    ["F", "N", "<div>x</div>", {"date": "2024-03-12T08:30:00Z"}, {"date": "2024-03-14T18:00:00Z"}],
    ["four", "fields", "only", {"date": "2024-03-12T08:30:00Z"}],
    "not a list",
    ["G", "six", "", {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-02T00:00:00Z"}, "extra"],
    [42, null, true, {"date": "2024-01-01T00:00:00Z"}, "2024-01-02T00:00:00Z"],
    ["", "", ["nested"], {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-02T00:00:00Z", "x": 1}],
    [-7, 1.5, {"date": 5}, {"date": "2024-05-01T10:00:00.500+02:00"}, {}]
  ])");
  const auto notes = allNotes(library);
  ASSERT_EQ(notes.size(), 5u);
  EXPECT_EQ(library.unreadableNotes(),
            (std::vector<std::optional<std::string>>{"four", std::nullopt}));
  EXPECT_EQ(notes[0], (NotesReader::Note{"F", "N", "<div>x</div>", at("2024-03-12T08:30:00Z"),
                                         at("2024-03-14T18:00:00Z")}));
  EXPECT_EQ(notes[1].name, "six");
  EXPECT_EQ(notes[2].folder, "42");
  EXPECT_EQ(notes[2].name, "");
  EXPECT_EQ(notes[2].modified, notes[2].created);
  EXPECT_EQ(notes[3].html, "");
  EXPECT_EQ(notes[3].modified, at("2024-01-01T00:00:00Z"));
  EXPECT_EQ(notes[4].folder, "-7");
  EXPECT_EQ(notes[4].created, at("2024-05-01T08:00:00.5Z"));
}

TEST(NotesReaderTest, MissingDatesBecomeTheSameCurrentInstant) {
  const Date before = currentDate();
  const auto notes = allNotes(readLibrary(R"([["F", "N", "x", null, null]])"));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_GE(notes[0].created, before);
  EXPECT_LE(notes[0].created, currentDate());
  EXPECT_EQ(notes[0].modified, notes[0].created);
}

TEST(NotesReaderTest, RepliesWithoutElements) {
  for (const char* json : {"[]", "{}", "\"text\"", "42", "null"}) {
    SCOPED_TRACE(json);
    const NotesReader::Library library = readLibrary(json);
    EXPECT_TRUE(library.size() == 0);
    EXPECT_TRUE(library.unreadableNotes().empty());
  }
}

TEST(NotesReaderTest, ElementsThatAreNoNotesAreCountedWithTheirFolders) {
  using Folders = std::vector<std::optional<std::string>>;
  const std::string note =
      R"(["F", "N", "x", {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-01T00:00:00Z"}])";
  struct Case {
    std::string json;
    std::size_t notes;
    Folders folders;
  };
  const Case cases[] = {
      {R"([["Journal"]])", 0, {"Journal"}},
      {R"([["Journal", "March"]])", 0, {"Journal"}},
      {R"([["Journal", "March", "<div>x</div>", {"date": "2024-03-12T08:30:00Z"}]])",
       0,
       {"Journal"}},
      {R"([[""]])", 0, {""}},
      {R"([[42]])", 0, {"42"}},
      {"[[]]", 0, {std::nullopt}},
      {R"([[null, "N"]])", 0, {std::nullopt}},
      {R"([[["Journal"], "N"]])", 0, {std::nullopt}},
      {R"([[{"date": "2024-03-12T08:30:00Z"}]])", 0, {std::nullopt}},
      {R"(["Journal"])", 0, {std::nullopt}},
      {R"([42, null, {"a": 1}])", 0, {std::nullopt, std::nullopt, std::nullopt}},
      {"[" + note + R"(, ["A"], )" + note + R"(, ["B", "x"], [], )" + note + "]",
       3,
       {"A", "B", std::nullopt}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    const NotesReader::Library library = readLibrary(c.json);
    EXPECT_EQ(library.size(), c.notes);
    EXPECT_EQ(library.unreadableNotes(), c.folders);
  }
}

// A note whose fields are all text, the dates too.
FakeValue textNote(const char* name = "N") {
  return fakeList({fakeText("F"), fakeText(name), fakeText("x"), fakeText("d"), fakeText("d")});
}

TEST(NotesReaderTest, AbsentElementsAreCountedWithoutAFolder) {
  // The folder field itself absent, then a whole element absent.
  const FakeValue noFolder = fakeList({fakeAbsent(), fakeText("N")});
  const NotesReader::Library library = unpack(
      std::make_unique<FakeValue>(fakeList({textNote(), fakeAbsent(), noFolder, textNote()})));
  EXPECT_EQ(library.size(), 2u);
  EXPECT_EQ(library.unreadableNotes(),
            (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));
}

// A reply that hands over each element once, as a reply short of memory for a second copy.
class OnceOnlyReply : public ScriptDescriptor {
 public:
  explicit OnceOnlyReply(FakeValue reply) : reply_(std::move(reply)) {}
  std::int64_t numberOfItems() const override { return reply_.numberOfItems(); }
  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    return handedOver_.insert(index).second ? reply_.item(index) : nullptr;
  }
  std::optional<std::string> stringValue() const override { return std::nullopt; }
  std::optional<Date> dateValue() const override { return std::nullopt; }

 private:
  FakeValue reply_;
  mutable std::set<std::int64_t> handedOver_;
};

TEST(NotesReaderTest, ANoteThatCannotBeHadAgainIsAnOutOfMemoryFailure) {
  const NotesReader::Library library =
      unpack(std::make_unique<OnceOnlyReply>(fakeList({textNote()})));
  ASSERT_EQ(library.size(), 1u);
  EXPECT_THROW(library.note(0), std::bad_alloc);
}

// A note shown by two folders (a smart folder lists notes that live elsewhere) is read once:
// the first time its id is seen, in this folder or an earlier one.
TEST(NotesReaderTest, ANoteWhoseIdWasSeenIsLeftOut) {
  const auto note = [](const char* name, const char* id) {
    FakeValue made = textNote(name);
    if (id != nullptr) {
      made.items.push_back(fakeText(id));
    }
    return made;
  };
  const auto names = [](const NotesReader::Library& library) {
    std::string written;
    for (std::size_t i = 0; i < library.size(); ++i) {
      written += library.note(i).name;
    }
    return written;
  };
  std::unordered_set<std::string> seenIds;
  const auto first = NotesReader::unpack(
      std::make_unique<FakeValue>(fakeList({note("a", "p1"), note("b", "p1"), note("c", ""),
                                            note("d", ""), note("e", nullptr), note("f", "P1")})),
      seenIds);
  EXPECT_EQ(names(first), "acdef");
  const auto second = NotesReader::unpack(
      std::make_unique<FakeValue>(fakeList({note("g", "P1"), note("h", "p2")})), seenIds);
  EXPECT_EQ(names(second), "h");
  EXPECT_TRUE(second.unreadableNotes().empty());
}

}  // namespace
}  // namespace sheafwright
