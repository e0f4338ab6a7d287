// The stand-in's reading of library files: strict JSON, where a broken file breaks, and how
// each JSON value answers the reader.
#include "sheafwright/standin/standin_runner.h"

#include "sheafwright/notes_reader.h"
#include "sheafwright/standin/library_reply.h"
#include "testing/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright {
namespace {

// The reply of one run over `json`, or its error record's message.
struct Served {
  std::unique_ptr<ScriptDescriptor> reply;
  std::optional<std::string> error;
};

Served serveOutcome(ScriptOutcome outcome) {
  if (outcome.error) {
    return {nullptr, outcome.error->message().value_or(outcome.error->description())};
  }
  return {std::move(outcome.reply), std::nullopt};
}

Served serve(const std::string& json) {
  return serveOutcome(standin::libraryReply(standin::LibraryBytes(json), "lib.json"));
}

TEST(StandInTest, OnlyWhiteSpaceMayFollowTheValue) {
  const struct {
    std::string json;
    const char* error;  // the message after "Notes library lib.json is not valid JSON: ", or null
  } cases[] = {
      {"[] \t\r\n", nullptr},
      {"\xEF\xBB\xBF[]", nullptr},
      {std::string("[]\0xyz", 6),
       "parse error at line 1, column 3: syntax error while parsing value - unexpected NUL byte; "
       "expected end of input"},
      {std::string("[\n[\"a\"]\n]\n\0", 11),
       "parse error at line 4, column 1: syntax error while parsing value - unexpected NUL byte; "
       "expected end of input"},
      {std::string("[]\0", 3),
       "parse error at line 1, column 3: syntax error while parsing value - unexpected NUL byte; "
       "expected end of input"},
      {"[] x", "parse error at line 1, column 4: "},
      {"[] []", "parse error at line 1, column 4: "},
      {"[1,]", "parse error at line 1, column 4: "},
      {"", "parse error at line 1, column 1: "},
      {"[1e400]", "number overflow parsing '1e400'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    const Served served = serve(c.json);
    if (c.error == nullptr) {
      EXPECT_FALSE(served.error.has_value()) << *served.error;
      continue;
    }
    ASSERT_TRUE(served.error.has_value());
    const std::string prefix = "Notes library lib.json is not valid JSON: ";
    EXPECT_EQ(served.error->rfind(prefix + c.error, 0), 0u) << *served.error;
  }
}

TEST(StandInTest, NestingUpTo512LevelsIsRead) {
  const auto nested = [](int levels, const std::string& open, const std::string& close) {
    std::string json;
    for (int i = 0; i < levels; ++i) {
      json += open;
    }
    json += "1";
    for (int i = 0; i < levels; ++i) {
      json += close;
    }
    return json;
  };
  for (const auto& [open, close] : {std::pair{"[", "]"}, std::pair{"{\"a\":", "}"}}) {
    SCOPED_TRACE(open);
    EXPECT_FALSE(serve(nested(512, open, close)).error.has_value());
    EXPECT_EQ(serve(nested(513, open, close)).error,
              "Notes library lib.json is not valid JSON: nested deeper than 512 levels");
  }
}

// Integers have their decimal text, as numbers coerce to text on macOS; integers beyond 64
// bits are read as fractions, which have none. Only true and false are booleans (the seventh
// value of a note, `password protected`).
TEST(StandInTest, ValuesAnswerAsTheirJsonKind) {
  const struct {
    std::string json;
    std::optional<std::string> text;
    std::optional<std::string> date;  // in the writer's form
    std::int64_t items = 0;
    std::optional<bool> boolean{};
  } cases[] = {
      {R"("caf\u00e9 \"x\"")", "caf\u00e9 \"x\"", std::nullopt},
      {R"("")", "", std::nullopt},
      {"42", "42", std::nullopt},
      {"-0", "0", std::nullopt},
      {"-9223372036854775808", "-9223372036854775808", std::nullopt},
      {"18446744073709551615", "18446744073709551615", std::nullopt},
      {"18446744073709551616", std::nullopt, std::nullopt},
      {"-9223372036854775809", std::nullopt, std::nullopt},
      {"1.0", std::nullopt, std::nullopt},
      {"1e2", std::nullopt, std::nullopt},
      {"0", "0", std::nullopt},
      {"true", std::nullopt, std::nullopt, 0, true},
      {"false", std::nullopt, std::nullopt, 0, false},
      {"\"true\"", "true", std::nullopt},
      {"null", std::nullopt, std::nullopt},
      {"[true]", std::nullopt, std::nullopt, 1},
      {"[1, [2, 3], {}]", std::nullopt, std::nullopt, 3},
      {R"({"date": "2024-03-12T09:30:00.250+01:00"})", std::nullopt, "2024-03-12T08:30:00Z"},
      {R"({"date": "bad", "date": "2024-03-12T08:30:00Z"})", std::nullopt, "2024-03-12T08:30:00Z"},
      {R"({"d\u0061te": "2024-03-12T08:30:00Z"})", std::nullopt, "2024-03-12T08:30:00Z"},
      {R"({"date": "2024-03-12T08:30:00Z", "x": 1})", std::nullopt, std::nullopt},
      {R"({"date": "2024-03-12"})", std::nullopt, std::nullopt},
      {R"({"date": 5})", std::nullopt, std::nullopt},
      {R"({"date": true})", std::nullopt, std::nullopt},
      {R"({})", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    // Each value is served as the one item of a list, as the first item read the slow way (a
    // number beyond 64 bits follows it), and as a whole reply.
    const Served list = serve("[" + c.json + "]");
    const Served slow = serve("[" + c.json + ", 18446744073709551616]");
    ASSERT_FALSE(list.error.has_value()) << *list.error;
    ASSERT_FALSE(slow.error.has_value()) << *slow.error;
    ASSERT_EQ(list.reply->numberOfItems(), 1);
    for (const auto& value : {list.reply->item(1), slow.reply->item(1), serve(c.json).reply}) {
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(value->stringValue(), c.text);
      const auto date = value->dateValue();
      EXPECT_EQ(date ? std::optional(formatInternetDate(*date)) : std::nullopt, c.date);
      EXPECT_EQ(value->numberOfItems(), c.items);
      EXPECT_EQ(value->booleanValue(), c.boolean);
    }
  }
}

TEST(StandInTest, ItemsInAnyOrderAndOutOfRange) {
  const Served served = serve(R"([["a"], "b", 3, [], "e"])");
  ASSERT_FALSE(served.error.has_value());
  const auto& reply = *served.reply;
  EXPECT_EQ(reply.numberOfItems(), 5);
  EXPECT_EQ(reply.item(5)->stringValue(), "e");
  EXPECT_EQ(reply.item(2)->stringValue(), "b");
  EXPECT_EQ(reply.item(1)->item(1)->stringValue(), "a");
  EXPECT_EQ(reply.item(3)->stringValue(), "3");
  EXPECT_EQ(reply.item(4)->numberOfItems(), 0);
  EXPECT_EQ(reply.item(0), nullptr);
  EXPECT_EQ(reply.item(6), nullptr);
  EXPECT_EQ(reply.item(-1), nullptr);
  EXPECT_EQ(reply.item(2)->stringValue(), "b");
}

TEST(StandInTest, ErrorRecordsAreTheLastErrorMember) {
  const Served served = serve(
      R"({"error": {"NSAppleScriptErrorMessage": "first"},
          "error": {"NSAppleScriptErrorNumber": -1.5e3, "b": [1, "x"]}})");
  EXPECT_EQ(served.error, R"({"NSAppleScriptErrorNumber":-1500.0,"b":[1,"x"]})");
  EXPECT_EQ(serve(R"({"errors": 1})").reply->numberOfItems(), 0);
}

// The folders the stand-in's handlers serve, written out: each folder's name ("-" for none)
// and its elements' second values ("#" and the count for an element without one).
std::string folders(const std::string& json) {
  const auto runner = makeLibraryTextScriptRunner(json, "lib.json");
  const auto script = runner->makeScript("");
  const ScriptOutcome names = script->call("folderNames", {});
  if (names.error) {
    return "error: " + names.error->message().value_or("");
  }
  std::string written;
  for (std::int64_t k = 1; k <= names.reply->numberOfItems(); ++k) {
    written += (k > 1 ? " " : "") + names.reply->item(k)->stringValue().value_or("-") + ":";
    const std::int64_t position[] = {k};
    const ScriptOutcome notes = script->call("folderNotes", position);
    for (std::int64_t i = 1; i <= notes.reply->numberOfItems(); ++i) {
      const auto element = notes.reply->item(i);
      const auto name = element->item(2);
      written +=
          " " + (name && name->stringValue() ? *name->stringValue()
                                             : "#" + std::to_string(element->numberOfItems()));
    }
    written += " |";
  }
  return written;
}

TEST(StandInTest, EachRunOfOneFolderIsServedAsAFolderAndRepeatedNotesOnce) {
  const std::string dates = R"({"date": "2024-03-12T08:30:00Z"}, {"date": "2024-03-12T08:30:00Z"})";
  const auto note = [&](const char* folder, const char* name, const char* id = nullptr) {
    return std::string("[") + folder + ", \"" + name + "\", \"\", " + dates +
           (id ? std::string(", ") + id : "") + "]";
  };
  const struct {
    std::string json;
    const char* folders;
  } cases[] = {
      {"[]", ""},
      {"{}", ""},
      {"[" + note("\"A\"", "1") + ", [\"A\"], " + note("\"B\"", "2") + ", " + note("\"A\"", "3") +
           "]",
       "A: 1 #1 | B: 2 | A: 3 |"},
      // Folders without a name: no list, an empty list, a number is a name.
      {"[5, [], [null], " + note("7", "1") + ", " + note("null", "2") + "]",
       "-: #0 #0 #1 | 7: 1 | -: 2 |"},
      // The second showing of a note is dropped, even from its own folder, and even when that
      // empties a folder; ids compare exactly, and an empty id or a non-text is no id.
      {"[" + note("\"A\"", "1", "\"x\"") + ", " + note("\"Tag\"", "2", "\"x\"") + ", " +
           note("\"A\"", "3", "\"X\"") + ", " + note("\"A\"", "4", "\"\"") + ", " +
           note("\"A\"", "5", "\"\"") + ", " + note("\"A\"", "6", "null") + ", " +
           note("\"A\"", "7", "null") + ", " + note("\"A\"", "8", "\"X\"") + ", " +
           note("\"A\"", "9", "42") + ", " + note("\"A\"", "10", "\"42\"") + "]",
       "A: 1 3 4 5 6 7 9 |"},
      {R"({"error": {"NSAppleScriptErrorMessage": "no"}})", "error: no"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(folders(c.json), c.folders);
  }
}

// A mapped file has no zero tail inside its own pages when its size is a whole number of
// pages: the value that ends at the last byte must still be read whole.
TEST(StandInTest, FilesOfWholePagesAreReadToTheLastByte) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::string note =
      R"(["Journal", "March", "<div>12-Mar</div>", {"date": "2024-03-12T08:30:00Z"}, 7])";
  const TemporaryDirectory dir;
  const std::filesystem::path path = dir / "library.json";
  for (const std::size_t size : {page, 2 * page}) {
    // Padding inside the value, so that its last character is the file's last byte.
    const struct {
      std::string json;
      std::optional<std::string> text;
      std::int64_t items;
    } cases[] = {
        {"[" + std::string(size - note.size() - 2, ' ') + note + "]", std::nullopt, 1},
        {std::string(size - 2, ' ') + "42", "42", 0},
        {"\"" + std::string(size - 2, 'x') + "\"", std::string(size - 2, 'x'), 0},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << size << " bytes ending " << c.json.substr(size - 8));
      ASSERT_EQ(c.json.size(), size);
      std::ofstream(path, std::ios::binary) << c.json;
      const Served served = serveOutcome(libraryFileReply(path.string()));
      ASSERT_FALSE(served.error.has_value()) << *served.error;
      EXPECT_EQ(served.reply->stringValue(), c.text);
      ASSERT_EQ(served.reply->numberOfItems(), c.items);
      if (c.items > 0) {
        EXPECT_EQ(served.reply->item(1)->item(5)->stringValue(), "7");
      }
    }
  }
}

// Through the reader: what a broken or missing library file makes the user read.
TEST(StandInTest, LibraryFailuresBecomeErrorRecords) {
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

// Only a regular file is read as a library: a device such as /dev/zero would be read without
// end, and a named pipe waits for a writer.
TEST(StandInTest, UnreadableLibraryFileNamesPathAndReason) {
  const TemporaryDirectory dir;
  const std::string fifo = (dir / "library.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {"/nonexistent/library.json", "No such file or directory"},
      {"/", "Not a regular file (a directory)"},
      {"/dev/zero", "Not a regular file (a character device)"},
      {fifo, "Not a regular file (a named pipe)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto runner = makeLibraryFileScriptRunner(c.path);
    EXPECT_EQ(failureOf(*runner),
              "AppleScript failed: cannot read Notes library " + c.path + ": " + c.reason + kHint);
  }
}

TEST(StandInTest, SampleLibraryIsAValidLibraryWithNotes) {
  const NotesReader::FolderNotes library = NotesReader::Session().unpack(
      standin::libraryReply(standin::LibraryBytes(sampleLibraryJson()), "(sample)").reply);
  EXPECT_EQ(library.size(), 4u);
  EXPECT_TRUE(library.unreadableNotes().empty());
}

}  // namespace
}  // namespace sheafwright
