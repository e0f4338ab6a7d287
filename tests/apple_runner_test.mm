// The macOS adapter: hand-built reply descriptors and error records read through the shared
// reader, and short AppleScript calls (the Notes script's own helpers among them) that ask no
// application for anything.
#include "sheafwright/platform/apple_runner.h"

#include "sheafwright/notes_reader.h"
#include "testing/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace sheafwright {
namespace {

using apple::fourCharCode;
using Folders = std::vector<std::optional<std::string>>;
using Unreadable = NotesReader::Unreadable;
using Unreadables = std::vector<Unreadable>;

NotesReader::Note readable(std::variant<NotesReader::Note, Unreadable> read) {
  return std::get<NotesReader::Note>(std::move(read));
}

NSAppleEventDescriptor* textValue(NSString* value) {
  return [NSAppleEventDescriptor descriptorWithString:value];
}

// Text as AppleScript sends it: UTF-16 in native byte order, taken exactly as given.
NSAppleEventDescriptor* utf16(std::u16string_view units) {
  return [NSAppleEventDescriptor descriptorWithDescriptorType:typeUnicodeText
                                                        bytes:units.data()
                                                       length:units.size() * sizeof(char16_t)];
}

NSAppleEventDescriptor* date(const char* text) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(at(text).time_since_epoch()).count();
  return [NSAppleEventDescriptor
      descriptorWithDate:[NSDate dateWithTimeIntervalSince1970:static_cast<double>(seconds)]];
}

NSAppleEventDescriptor* missingValue() {
  return [NSAppleEventDescriptor descriptorWithTypeCode:apple::kMissingValue];
}

NSAppleEventDescriptor* list(std::initializer_list<NSAppleEventDescriptor*> items) {
  NSAppleEventDescriptor* made = [NSAppleEventDescriptor listDescriptor];
  NSInteger index = 0;
  for (NSAppleEventDescriptor* item : items) {
    [made insertDescriptor:item atIndex:++index];
  }
  return made;
}

NSAppleEventDescriptor* note(NSAppleEventDescriptor* folder, NSAppleEventDescriptor* name,
                             NSAppleEventDescriptor* body) {
  return list({folder, name, body, date("2024-03-12T08:30:00Z"), date("2024-03-14T18:00:00Z")});
}

// Answers every call with a fixed reply and error record, as executeAppleEvent:error: would.
class FixedRunner : public ScriptRunner {
 public:
  FixedRunner(NSAppleEventDescriptor* reply, NSDictionary<NSString*, id>* error)
      : reply_(reply), error_(error) {}

  std::unique_ptr<Script> makeScript(std::string_view) override {
    return std::make_unique<FixedScript>(reply_, error_);
  }

 private:
  class FixedScript : public Script {
   public:
    FixedScript(NSAppleEventDescriptor* reply, NSDictionary<NSString*, id>* error)
        : reply_(reply), error_(error) {}
    ScriptOutcome call(std::string_view, std::span<const std::int64_t>) override {
      return apple::outcomeOf(reply_, error_);
    }

   private:
    NSAppleEventDescriptor* reply_;
    NSDictionary<NSString*, id>* error_;
  };

  NSAppleEventDescriptor* reply_;
  NSDictionary<NSString*, id>* error_;
};

NotesReader::FolderNotes read(NSAppleEventDescriptor* reply) {
  return NotesReader::Session().unpack(apple::wrapDescriptor(reply));
}

TEST(AppleScriptRunnerTest, MissingValueAndNullHaveNeitherTextNorDate) {
  for (NSAppleEventDescriptor* none : {missingValue(), [NSAppleEventDescriptor nullDescriptor]}) {
    SCOPED_TRACE(none.description.UTF8String);
    const auto wrapped = apple::wrapDescriptor(none);
    EXPECT_EQ(wrapped->stringValue(), std::nullopt);
    EXPECT_EQ(wrapped->dateValue(), std::nullopt);
    EXPECT_EQ(wrapped->numberOfItems(), 0);

    // A body of `missing value` is none, rather than the four letters "msng"; a missing
    // modification date is the creation date.
    const NotesReader::FolderNotes library = read(list({
        list({textValue(@"Journal"), textValue(@"Gone"), none, date("2024-03-12T08:30:00Z"), none}),
        list({textValue(@"Journal"), textValue(@"Open"), textValue(@""),
              date("2024-03-12T08:30:00Z"), none}),
    }));
    ASSERT_EQ(library.size(), 2u);
    EXPECT_EQ(library.note(0), (std::variant<NotesReader::Note, Unreadable>(
                                   Unreadable{"Journal", "Gone", "not handed over"})));
    EXPECT_EQ(readable(library.note(1)).html, "");
    EXPECT_EQ(readable(library.note(1)).created, at("2024-03-12T08:30:00Z"));
    EXPECT_EQ(readable(library.note(1)).modified, at("2024-03-12T08:30:00Z"));
  }
}

// AppleScript's booleans, however they travel, and nothing else, answer as booleans.
TEST(AppleScriptRunnerTest, BooleansAreBooleansAndNothingElseIs) {
  const struct {
    NSAppleEventDescriptor* descriptor;
    std::optional<bool> value;
  } cases[] = {
      {[NSAppleEventDescriptor descriptorWithBoolean:YES], true},
      {[NSAppleEventDescriptor descriptorWithBoolean:NO], false},
      {[NSAppleEventDescriptor descriptorWithDescriptorType:typeTrue bytes:nullptr length:0], true},
      {[NSAppleEventDescriptor descriptorWithDescriptorType:typeFalse bytes:nullptr length:0],
       false},
      {[NSAppleEventDescriptor descriptorWithInt32:1], std::nullopt},
      {textValue(@"true"), std::nullopt},
      {missingValue(), std::nullopt},
      {[NSAppleEventDescriptor nullDescriptor], std::nullopt},
      {list({[NSAppleEventDescriptor descriptorWithBoolean:YES]}), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.descriptor.description.UTF8String);
    EXPECT_EQ(apple::wrapDescriptor(c.descriptor)->booleanValue(), c.value);
  }
}

TEST(AppleScriptRunnerTest, ShortElementsAreCountedWithTheFolderTheyName) {
  const NotesReader::FolderNotes library = read(list({
      list({textValue(@"Journal")}),
      note(textValue(@"Journal"), textValue(@"March"), textValue(@"<div>x</div>")),
      list({textValue(@"Journal"), textValue(@"Locked")}),
      list({missingValue()}),
      list({}),
      textValue(@"stray"),
      note(textValue(@"Other"), textValue(@"April"), textValue(@"<div>y</div>")),
  }));
  ASSERT_EQ(library.size(), 2u);
  EXPECT_EQ(readable(library.note(0)),
            (NotesReader::Note{"Journal", "March", "<div>x</div>", at("2024-03-12T08:30:00Z"),
                               at("2024-03-14T18:00:00Z")}));
  EXPECT_EQ(readable(library.note(1)).folder, "Other");
  EXPECT_EQ(library.unreadableNotes(), (Unreadables{{"Journal", {}, "folder could not be opened"},
                                                    {"Journal", "Locked", "not handed over"},
                                                    {{}, {}, "folder could not be opened"},
                                                    {{}, {}, "not handed over"},
                                                    {{}, {}, "not handed over"}}));
}

TEST(AppleScriptRunnerTest, NestedListsAreNoText) {
  const NotesReader::FolderNotes library = read(list({
      note(list({textValue(@"Journal")}), textValue(@"N"),
           list({list({textValue(@"<div>x</div>")})})),
      list({note(textValue(@"Journal"), textValue(@"N"), textValue(@"<div>x</div>"))}),
  }));
  ASSERT_EQ(library.size(), 1u);
  // A body that is a list is none: the note is not read.
  EXPECT_EQ(library.note(0),
            (std::variant<NotesReader::Note, Unreadable>(Unreadable{"", "N", "not handed over"})));
  // An element holding a whole note as its one item is a short element with no folder text.
  EXPECT_EQ(library.unreadableNotes(), (Unreadables{{{}, {}, "folder could not be opened"}}));
}

TEST(AppleScriptRunnerTest, RecordsAreNeitherListsNorText) {
  NSAppleEventDescriptor* record = [NSAppleEventDescriptor recordDescriptor];
  for (const FourCharCode key : {fourCharCode("fold"), fourCharCode("name"), fourCharCode("body"),
                                 fourCharCode("crea"), fourCharCode("modi")}) {
    [record setDescriptor:textValue(@"field") forKeyword:key];
  }
  const auto wrapped = apple::wrapDescriptor(record);
  EXPECT_EQ(wrapped->numberOfItems(), 0);
  EXPECT_FALSE(wrapped->item(1));
  EXPECT_EQ(wrapped->stringValue(), std::nullopt);

  const NotesReader::FolderNotes library =
      read(list({record, note(textValue(@"Journal"), textValue(@"N"), record)}));
  ASSERT_EQ(library.size(), 1u);
  EXPECT_EQ(
      library.note(0),
      (std::variant<NotesReader::Note, Unreadable>(Unreadable{"Journal", "N", "not handed over"})));
  EXPECT_EQ(library.unreadableNotes(), (Unreadables{{{}, {}, "not handed over"}}));
}

TEST(AppleScriptRunnerTest, DatesKeepTheirInstant) {
  for (const char* when :
       {"2024-03-12T08:30:00Z", "1999-12-31T23:59:59Z", "2038-07-01T12:00:00Z"}) {
    SCOPED_TRACE(when);
    EXPECT_EQ(apple::wrapDescriptor(date(when))->dateValue(), at(when));
  }
}

TEST(AppleScriptRunnerTest, TextKeepsNulAndReplacesAnUnpairedSurrogate) {
  const std::u16string withNul(u"Jour\0nal", 8);
  const std::u16string loneSurrogate{u'a', char16_t(0xD800), u'b'};
  const NotesReader::FolderNotes library = read(list({
      note(utf16(withNul), utf16(loneSurrogate), utf16(u"<div>\u00E9\U0001F600</div>")),
  }));
  ASSERT_EQ(library.size(), 1u);
  const NotesReader::Note note = readable(library.note(0));
  EXPECT_EQ(note.folder, std::string("Jour\0nal", 8));
  EXPECT_EQ(note.name, "a\uFFFDb");
  EXPECT_EQ(note.html, "<div>\u00E9\U0001F600</div>");
}

TEST(AppleScriptRunnerTest, LongTextKeepsPairsWhereverTheyFall) {
  // The text is converted a slice of a few thousand units at a time.
  for (std::size_t at = 4090; at < 4100; ++at) {
    SCOPED_TRACE(at);
    std::u16string units(10000, u'x');
    units[at] = char16_t(0xD83D);
    units[at + 1] = char16_t(0xDE00);
    EXPECT_EQ(apple::wrapDescriptor(utf16(units))->stringValue(),
              std::string(at, 'x') + "\U0001F600" + std::string(10000 - at - 2, 'x'));
  }
  std::u16string endsHalfway(9000, u'x');
  endsHalfway.back() = char16_t(0xD83D);
  EXPECT_EQ(apple::wrapDescriptor(utf16(endsHalfway))->stringValue(),
            std::string(8999, 'x') + "\uFFFD");
}

TEST(AppleScriptRunnerTest, ErrorRecordsAndRepliesWithoutOne) {
  struct Case {
    const char* name;
    NSAppleEventDescriptor* reply;
    NSDictionary<NSString*, id>* error;
    std::string description;
  };
  const std::string noWord =
      "AppleScript failed: the script ended without a reply and without an error message" + kHint;
  const Case cases[] = {
      {"message", nil, @{
         NSAppleScriptErrorMessage : @"Not authorized to send Apple events to Notes.",
         NSAppleScriptErrorNumber : @(-1743)
       },
       "AppleScript failed: Not authorized to send Apple events to Notes" + kHint},
      {"nil reply, no record", nil, nil, noWord},
      {"nil reply, empty record", nil, @{}, noWord},
      {"a reply, empty record", list({}), @{}, "(no failure)"},
      {"a reply, no record", list({}), nil, "(no failure)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixedRunner runner(c.reply, c.error);
    EXPECT_EQ(failureOf(runner), c.description);
  }

  // Without a message the whole record is shown, on one line.
  FixedRunner runner(
      nil,
      @{NSAppleScriptErrorNumber : @(-600),
        @"other" : @[ @1, @2 ]});
  const std::string description = failureOf(runner);
  EXPECT_EQ(description.rfind("AppleScript failed: {", 0), 0u) << description;
  EXPECT_NE(description.find("NSAppleScriptErrorNumber"), std::string::npos) << description;
  EXPECT_NE(description.find("600"), std::string::npos) << description;
  EXPECT_EQ(description.find('\n'), std::string::npos) << description;
}

// Compiles the given source instead of the reader's script, through the real NSAppleScript.
class SourceRunner : public ScriptRunner {
 public:
  explicit SourceRunner(std::string source) : source_(std::move(source)) {}
  std::unique_ptr<Script> makeScript(std::string_view) override {
    return runner_->makeScript(source_);
  }

 private:
  std::string source_;
  std::unique_ptr<ScriptRunner> runner_ = apple::makeAppleScriptRunner();
};

TEST(AppleScriptRunnerTest, HandlersGetTheirArgumentsAndKeepPropertiesBetweenCalls) {
  const Date before = std::chrono::floor<std::chrono::seconds>(currentDate());
  SourceRunner runner(
      "property kept : {}\n"
      "on folderNames()\n"
      "  set kept to {\"Journal\", \"Other\"}\n"
      "  return {\"Journal\", missing value}\n"
      "end folderNames\n"
      "on folderNotes(k)\n"
      "  set d to current date\n"
      "  if k is 1 then return {{item k of kept, \"Unlocked\", \"\", d, d, \"id-0\", false}, "
      "{item k of kept, \"Locked\", \"\", d, d, \"id-2\", true}, "
      "{item k of kept, \"Open\", \"<div>x</div>\", d, d, \"id-3\", true}, "
      "{item k of kept}, {missing value}}\n"
      "  return {{item k of kept, \"N\", \"<div>x</div>\", d, missing value, \"id-1\"}, "
      "{item k of kept, \"N\", \"<div>x</div>\", d, d, \"id-1\"}}\n"
      "end folderNotes\n"
      "on noteCount(k)\n"
      "  if k is 1 then return 5 * (length of kept)\n"
      "  return missing value\n"
      "end noteCount\n");
  NotesReader::Session session = NotesReader::open(runner);
  EXPECT_EQ(session.folders(), (Folders{"Journal", std::nullopt}));

  // AppleScript's own true and false, as the script hands over `password protected`.
  const NotesReader::FolderNotes first = session.readFolder(0);
  // A date of AppleScript holds whole seconds.
  const Date after = std::chrono::ceil<std::chrono::seconds>(currentDate());
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(readable(first.note(0)).html, "");
  EXPECT_GE(readable(first.note(0)).created, before);
  EXPECT_LE(readable(first.note(0)).created, after);
  EXPECT_EQ(
      first.note(1),
      (std::variant<NotesReader::Note, Unreadable>(Unreadable{"Journal", "Locked", "locked"})));
  EXPECT_EQ(readable(first.note(2)).html, "<div>x</div>");
  EXPECT_EQ(first.unreadableNotes(), (Unreadables{{"Journal", {}, "folder could not be opened"},
                                                  {{}, {}, "folder could not be opened"}}));

  // The second folder's name comes from the property the first call set; the id repeats.
  const NotesReader::FolderNotes second = session.readFolder(1);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(readable(second.note(0)).folder, "Other");
  EXPECT_EQ(readable(second.note(0)).modified, readable(second.note(0)).created);

  // An integer reaches the reader as its text; missing value is no count.
  EXPECT_EQ(session.noteCount(0), 10);
  EXPECT_EQ(session.noteCount(1), std::nullopt);
}

TEST(AppleScriptRunnerTest, FailedCallsAndScriptsThatDoNotCompile) {
  const auto runner = apple::makeAppleScriptRunner();
  EXPECT_FALSE(runner->makeScript("on (")) << "a syntax error";

  const auto script = runner->makeScript("on answer()\n  return 1\nend answer");
  ASSERT_TRUE(script);
  const ScriptOutcome unknown = script->call("noSuchHandler", {});
  EXPECT_FALSE(unknown.reply);
  EXPECT_TRUE(unknown.error);

  SourceRunner failing(
      "on folderNames()\n"
      "  error \"Notes got an error: Can't get folder id \\\"x\\\".\" number -1728\n"
      "end folderNames");
  EXPECT_EQ(failureOf(failing),
            "AppleScript failed: Notes got an error: Can't get folder id \"x\"" + kHint);
}

// The Notes script's helpers that ask Notes for nothing, called on the compiled script itself
// with a probe handler added: how lists pair up, and the shape of each element.
TEST(AppleScriptRunnerTest, TheNotesScriptsOwnHelpers) {
  struct Probe {
    const char* expression;
    const char* answer;
  };
  const Probe probes[] = {
      {"pairsUp({\"p1\", \"p2\"}, {\"p1\", \"p2\"}, {{\"a\", \"b\"}, {1, 2}})", "true"},
      {"pairsUp({}, {}, {{}, {}})", "true"},
      // Reordered, or ids that differ only in case: another folder than the one read.
      {"pairsUp({\"p1\", \"p2\"}, {\"p2\", \"p1\"}, {{\"a\", \"b\"}})", "false"},
      {"pairsUp({\"p1\", \"p2\"}, {\"p1\", \"P2\"}, {{\"a\", \"b\"}})", "false"},
      {"pairsUp({\"p1\"}, {\"p1\", \"p2\"}, {{\"a\"}})", "false"},
      {"pairsUp({\"p1\", \"p2\"}, {\"p1\", \"p2\"}, {{\"a\", \"b\"}, {\"a\"}})", "false"},
      {"length of listOf(\"one\")", "1"},
      {"length of listOf({\"one\", \"two\"})", "2"},
      // No folder was listed: a call for one fails instead of asking Notes.
      {"folderNotes(1)", nullptr},
      {"noteCount(1)", nullptr},
      // ... and fails for want of a folder, not for want of the handler (-1708: a message
      // the script does not understand).
      {"errorNumberOf(1) is not -1708 and errorNumberOf(1) is not 0", "true"},
      {"errorNumberOf(2) is not -1708 and errorNumberOf(2) is not 0", "true"},
      {"errorNumberOf(3)", "-1708"},
      // A reply too large for AppleScript ends a folder's bulk read only; other errors still
      // end the run.
      {"-2707 is in bulkReplyErrors", "true"},
      {"-108 is in bulkReplyErrors and -108 is in fatalErrors", "true"},
      {"-1743 is not in bulkReplyErrors", "true"},
      {"-1728 is in fatalErrors", "false"},
  };
  std::string source(NotesReader::script);
  source += "\non probe(k)\n";
  for (std::size_t i = 0; i < std::size(probes); ++i) {
    source += "  if k is " + std::to_string(i + 1) + " then return (" + probes[i].expression +
              ") as text\n";
  }
  source += "end probe\n"
            "on errorNumberOf(k)\n"
            "  try\n"
            "    if k is 1 then folderNotes(1)\n"
            "    if k is 2 then noteCount(1)\n"
            "    if k is 3 then noSuchHandler(1)\n"
            "  on error number n\n"
            "    return n\n"
            "  end try\n"
            "  return 0\n"
            "end errorNumberOf\n"
            "on shapes()\n"
            "  set d to current date\n"
            "  addNote(\"Journal\", \"Open\", \"<div>x</div>\", d, d, \"id-1\", false)\n"
            "  addNote(\"Journal\", \"Locked\", \"\", d, d, \"id-2\", true)\n"
            "  addNote(\"Journal\", \"No body\", missing value, d, d, \"id-3\", missing value)\n"
            "  addNote(\"Journal\", \"Open again\", \"<div>x</div>\", d, d, \"id-1\", false)\n"
            "  return gathered of pile\n"
            "end shapes";
  const auto script = apple::makeAppleScriptRunner()->makeScript(source);
  ASSERT_TRUE(script);
  for (std::size_t i = 0; i < std::size(probes); ++i) {
    SCOPED_TRACE(probes[i].expression);
    const std::int64_t k[] = {static_cast<std::int64_t>(i + 1)};
    const ScriptOutcome outcome = script->call("probe", k);
    if (probes[i].answer == nullptr) {
      EXPECT_TRUE(outcome.error);
      continue;
    }
    ASSERT_TRUE(outcome.reply) << (outcome.error ? outcome.error->description() : "");
    EXPECT_EQ(outcome.reply->stringValue(), probes[i].answer);
  }

  ScriptOutcome outcome = script->call("shapes", {});
  ASSERT_TRUE(outcome.reply) << (outcome.error ? outcome.error->description() : "");
  NotesReader::Session session;
  const NotesReader::FolderNotes library = session.unpack(std::move(outcome.reply));
  // Every note with its lock, the reader deciding: read, locked, not handed over.
  ASSERT_EQ(library.size(), 3u);
  EXPECT_EQ(readable(library.note(0)).name, "Open");
  EXPECT_EQ(
      library.note(1),
      (std::variant<NotesReader::Note, Unreadable>(Unreadable{"Journal", "Locked", "locked"})));
  EXPECT_EQ(library.note(2), (std::variant<NotesReader::Note, Unreadable>(
                                 Unreadable{"Journal", "No body", "not handed over"})));
  EXPECT_TRUE(library.unreadableNotes().empty());
  // The three ids were read, and differ: the same notes again are all left out.
  outcome = script->call("shapes", {});
  ASSERT_TRUE(outcome.reply) << (outcome.error ? outcome.error->description() : "");
  EXPECT_EQ(session.unpack(std::move(outcome.reply)).size(), 0u);
}

}  // namespace
}  // namespace sheafwright
