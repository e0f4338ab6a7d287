#include "sheafwright/notes_reader.h"

#include "sheafwright/platform/json_script_runner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sheafwright {
namespace {

Date at(const char* text) {
  return *parseInternetDate(text);
}

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
    ScriptOutcome execute() override { return {nullptr, std::make_unique<Record>(record)}; }
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

std::string failureOf(ScriptRunner& runner) {
  try {
    NotesReader::readAll(runner);
  } catch (const NotesReader::ReaderError& error) {
    return error.description();
  }
  return "(no failure)";
}

const std::string kHint =
    ". Make sure Notes is running and automation permission was granted (System Settings \u203A "
    "Privacy & Security \u203A Automation).";

TEST(NotesReaderTest, ScriptTextIsFixed) {
  EXPECT_EQ(
      NotesReader::script,
      "tell application \"Notes\"\n"
      "    set out to {}\n"
      "    repeat with f in folders\n"
      "        set folderName to name of f\n"
      "        repeat with n in notes of f\n"
      "            try\n"
      "                set end of out to {folderName, name of n, body of n, creation date of n, "
      "modification date of n}\n"
      "            on error\n"
      "                set end of out to {folderName, \"\", \"\", missing value, missing value}\n"
      "            end try\n"
      "        end repeat\n"
      "    end repeat\n"
      "    return out\n"
      "end tell");
  EXPECT_EQ(kHint.size(), 123u);
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

std::vector<NotesReader::Note> readLibrary(const std::string& json) {
  const auto runner = makeLibraryTextScriptRunner(json, "test.json");
  return NotesReader::readAll(*runner);
}

TEST(NotesReaderTest, UnpacksRepliesAndCopesWithOddElements) {
  const auto notes = readLibrary(R"([
    ["F", "N", "<div>x</div>", {"date": "2024-03-12T08:30:00Z"}, {"date": "2024-03-14T18:00:00Z"}],
    ["four", "fields", "only", {"date": "2024-03-12T08:30:00Z"}],
    "not a list",
    ["G", "six", "", {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-02T00:00:00Z"}, "extra"],
    [42, null, true, {"date": "2024-01-01T00:00:00Z"}, "2024-01-02T00:00:00Z"],
    ["", "", ["nested"], {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-02T00:00:00Z", "x": 1}],
    [-7, 1.5, {"date": 5}, {"date": "2024-05-01T10:00:00.500+02:00"}, {}]
  ])");
  ASSERT_EQ(notes.size(), 5u);
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
  const auto notes = readLibrary(R"([["F", "N", "x", null, null]])");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_GE(notes[0].created, before);
  EXPECT_LE(notes[0].created, currentDate());
  EXPECT_EQ(notes[0].modified, notes[0].created);
}

TEST(NotesReaderTest, RepliesWithoutNotes) {
  for (const char* json : {"[]", "{}", "\"text\"", "42", "null", "[[]]"}) {
    SCOPED_TRACE(json);
    EXPECT_TRUE(readLibrary(json).empty());
  }
}

TEST(NotesReaderTest, LibraryFailuresBecomeErrorRecords) {
  struct Case {
    std::string json;
    std::string message;
  };
  const Case cases[] = {
      {R"({"error": {"NSAppleScriptErrorMessage": "Not authorized to send Apple events to Notes.", "NSAppleScriptErrorNumber": -1743}})",
       "Not authorized to send Apple events to Notes."},
      {R"({"error": {"NSAppleScriptErrorNumber": -600}})", "{\"NSAppleScriptErrorNumber\":-600}"},
      {R"({"error": {"b": 1, "a": [true, "\u00e9"], "NSAppleScriptErrorMessage": 5}})",
       "{\"NSAppleScriptErrorMessage\":5,\"a\":[true,\"\u00e9\"],\"b\":1}"},
      {R"({"error": "plain"})", "\"plain\""},
      {"[1, 2", "Notes library test.json is not valid JSON: "},
      {"[\"\xff\"]", "Notes library test.json is not valid JSON: "},
      {std::string(600, '[') + std::string(600, ']'),
       "Notes library test.json is not valid JSON: nested deeper than 512 levels"},
      {R"({"error": )" + std::string(600, '[') + std::string(600, ']') + "}",
       "Notes library test.json is not valid JSON: nested deeper than 512 levels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json.substr(0, 80));
    const auto runner = makeLibraryTextScriptRunner(c.json, "test.json");
    const std::string description = failureOf(*runner);
    EXPECT_EQ(description.rfind("AppleScript failed: " + c.message, 0), 0u) << description;
  }
}

TEST(NotesReaderTest, UnreadableLibraryFileNamesPathAndReason) {
  const auto missing = makeLibraryFileScriptRunner("/nonexistent/library.json");
  EXPECT_EQ(failureOf(*missing),
            "AppleScript failed: cannot read Notes library "
            "/nonexistent/library.json: No such file or directory" +
                kHint);
  const auto directory = makeLibraryFileScriptRunner("/");
  EXPECT_EQ(failureOf(*directory),
            "AppleScript failed: cannot read Notes library /: Is a directory" + kHint);
}

TEST(NotesReaderTest, SampleLibraryIsAValidLibraryWithNotes) {
  EXPECT_GE(readLibrary(std::string(sampleLibraryJson())).size(), 3u);
}

}  // namespace
}  // namespace sheafwright
