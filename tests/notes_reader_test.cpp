// The notes reader over fake runners and stand-in libraries: notes, skipped elements, errors.
#include "sheafwright/notes_reader.h"

#include "sheafwright/standin/library_reply.h"
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
#include <variant>
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

NotesReader::FolderNotes unpack(std::unique_ptr<ScriptDescriptor> reply) {
  return NotesReader::Session().unpack(std::move(reply));
}

// One reply of a folder's notes, played by a library text.
NotesReader::FolderNotes readLibrary(const std::string& json) {
  return unpack(standin::libraryReply(standin::LibraryBytes(json), "test.json").reply);
}

// What the reader makes of a reply: its notes, and the notes it could not read with why (those
// of note elements first, then the short elements), each in reply order.
struct Read {
  std::vector<NotesReader::Note> notes;
  std::vector<NotesReader::Unreadable> unreadable;
};

Read readAll(const NotesReader::FolderNotes& library) {
  Read read;
  for (std::size_t i = 0; i < library.size(); ++i) {
    auto note = library.note(i);
    if (auto* why = std::get_if<NotesReader::Unreadable>(&note)) {
      read.unreadable.push_back(std::move(*why));
    } else {
      read.notes.push_back(std::get<NotesReader::Note>(std::move(note)));
    }
  }
  read.unreadable.insert(read.unreadable.end(), library.unreadableNotes().begin(),
                         library.unreadableNotes().end());
  return read;
}

std::vector<NotesReader::Note> allNotes(const NotesReader::FolderNotes& library) {
  return readAll(library).notes;
}

// Each element alone: a note as read, or why it is none. A body without text (`missing value`,
// null, a list, an object, true) is a note Notes did not hand over; a locked note (seventh value
// true, and only a JSON true) with an empty or missing body is locked; an unlocked one that is
// still password protected hands over its body.
TEST(NotesReaderTest, EachElementIsANoteOrSaysWhyItIsNone) {
  using U = NotesReader::Unreadable;
  const std::string d1 = R"({"date": "2024-03-12T08:30:00Z"})";
  const std::string d2 = R"({"date": "2024-03-14T18:00:00Z"})";
  const NotesReader::Note plain{"F", "N", "<div>x</div>", at("2024-03-12T08:30:00Z"),
                                at("2024-03-14T18:00:00Z")};
  struct Case {
    std::string element;
    std::optional<NotesReader::Note> note;
    std::optional<U> unreadable;
  };
  const auto note = [&](std::string html) {
    NotesReader::Note made = plain;
    made.html = std::move(html);
    return made;
  };
  const Case cases[] = {
      {R"(["F", "N", "<div>x</div>", )" + d1 + ", " + d2 + "]", plain, {}},
      {R"(["F", "N", "<div>x</div>", )" + d1 + ", " + d2 + R"(, "id", false, "more"])", plain, {}},
      {R"(["F", "N", "", )" + d1 + ", " + d2 + R"(, "id"])", note(""), {}},
      {R"(["F", "N", 42, )" + d1 + ", " + d2 + "]", note("42"), {}},
      {R"(["F", "N", "<div>x</div>", )" + d1 + ", " + d2 + R"(, "id", true])", plain, {}},
      {R"(["F", "N", "", )" + d1 + ", " + d2 + R"(, "id", false])", note(""), {}},
      {R"(["F", "N", "", )" + d1 + ", " + d2 + R"(, "id", "true"])", note(""), {}},
      {R"(["F", "N", "", )" + d1 + ", " + d2 + R"(, "id", 1])", note(""), {}},
      {R"(["F", "N", "", )" + d1 + ", " + d2 + R"(, "id", true])", {}, U{"F", "N", "locked"}},
      {R"(["F", "N", null, )" + d1 + ", " + d2 + R"(, null, true])", {}, U{"F", "N", "locked"}},
      {R"(["F", null, null, )" + d1 + ", " + d2 + "]", {}, U{"F", {}, "not handed over"}},
      {R"(["F", "N", true, )" + d1 + ", " + d2 + "]", {}, U{"F", "N", "not handed over"}},
      {R"(["F", "N", ["<div>x</div>"], )" + d1 + ", " + d2 + "]",
       {},
       U{"F", "N", "not handed over"}},
      {R"([7, "N", {"a": 1}, )" + d1 + ", " + d2 + "]", {}, U{"7", "N", "not handed over"}},
      {R"([null, "N", 1.5, )" + d1 + ", " + d2 + "]", {}, U{"", "N", "not handed over"}},
      {R"(["F", "N", "x", )" + d1 + "]", {}, U{"F", "N", "not handed over"}},
      // Any value's text for a folder or name; a modified date that is none is the creation's.
      {R"([42, null, "", )" + d1 + R"(, "2024-01-02T00:00:00Z"])",
       NotesReader::Note{"42", "", "", plain.created, plain.created},
       {}},
      {R"([-7, 1.5, "", {"date": "2024-05-01T10:00:00.500+02:00"}, {}])",
       NotesReader::Note{"-7", "", "", at("2024-05-01T08:00:00.5Z"), at("2024-05-01T08:00:00.5Z")},
       {}},
      {R"(["F", null])", {}, U{"F", {}, "not handed over"}},
      {R"(["F"])", {}, U{"F", {}, "folder could not be opened"}},
      {R"([null])", {}, U{{}, {}, "folder could not be opened"}},
      {R"([])", {}, U{{}, {}, "not handed over"}},
      {R"("F")", {}, U{{}, {}, "not handed over"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.element);
    const Read read = readAll(readLibrary("[" + c.element + "]"));
    EXPECT_EQ(read.notes, c.note ? std::vector{*c.note} : std::vector<NotesReader::Note>{});
    EXPECT_EQ(read.unreadable, c.unreadable ? std::vector{*c.unreadable} : std::vector<U>{});
  }
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
    const NotesReader::FolderNotes library = readLibrary(json);
    EXPECT_TRUE(library.size() == 0);
    EXPECT_TRUE(library.unreadableNotes().empty());
  }
}

TEST(NotesReaderTest, ElementsThatAreNoNotesAreCountedWithTheirFolders) {
  const std::string note =
      R"(["F", "N", "x", {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-01T00:00:00Z"}])";
  const Read read =
      readAll(readLibrary("[" + note + R"(, ["A"], )" + note + R"(, ["B", "x"], [], )" + note +
                          R"(, [["Journal"], "N"], 42])"));
  EXPECT_EQ(read.notes.size(), 3u);
  using U = NotesReader::Unreadable;
  EXPECT_EQ(read.unreadable, (std::vector<U>{{"A", {}, "folder could not be opened"},
                                             {"B", "x", "not handed over"},
                                             {{}, {}, "not handed over"},
                                             {{}, "N", "not handed over"},
                                             {{}, {}, "not handed over"}}));
}

// A note whose fields are all text, the dates too.
FakeValue textNote(const char* name = "N") {
  return fakeList({fakeText("F"), fakeText(name), fakeText("x"), fakeText("d"), fakeText("d")});
}

TEST(NotesReaderTest, AbsentElementsAreCountedWithoutAFolder) {
  // The folder field itself absent, then a whole element absent.
  const FakeValue noFolder = fakeList({fakeAbsent(), fakeText("N")});
  const NotesReader::FolderNotes library = unpack(
      std::make_unique<FakeValue>(fakeList({textNote(), fakeAbsent(), noFolder, textNote()})));
  EXPECT_EQ(library.size(), 2u);
  EXPECT_EQ(library.unreadableNotes(),
            (std::vector<NotesReader::Unreadable>{{{}, {}, "not handed over"},
                                                  {{}, "N", "not handed over"}}));
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
  const NotesReader::FolderNotes library =
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
  const auto names = [](const NotesReader::FolderNotes& library) {
    std::string written;
    for (std::size_t i = 0; i < library.size(); ++i) {
      written += std::get<NotesReader::Note>(library.note(i)).name;
    }
    return written;
  };
  NotesReader::Session session;
  const auto first = session.unpack(
      std::make_unique<FakeValue>(fakeList({note("a", "p1"), note("b", "p1"), note("c", ""),
                                            note("d", ""), note("e", nullptr), note("f", "P1")})));
  EXPECT_EQ(names(first), "acdef");
  const auto second =
      session.unpack(std::make_unique<FakeValue>(fakeList({note("g", "P1"), note("h", "p2")})));
  EXPECT_EQ(names(second), "h");
  EXPECT_TRUE(second.unreadableNotes().empty());
}

}  // namespace
}  // namespace sheafwright
