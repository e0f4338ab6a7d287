// The whole run over stand-in libraries: options, printed lines, exit statuses and the file.
#include "sheafwright/driver.h"

#include "sheafwright/import_encoder.h"
#include "sheafwright/standin/standin_runner.h"
#include "testing/import_document_reader.h"
#include "testing/test_support.h"
#include "testing/tool_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace sheafwright {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string out;
  std::string err;
  std::string progress{};  // what a person watching would see
};

const char* const kLibrary = R"([
  ["Journal 2023", "Plans 2024", "<div>12-Mar</div><ul><li>Work<ul><li>Call</li></ul></li></ul>",
   {"date": "2024-03-10T10:00:00Z"}, {"date": "2025-01-01T00:00:00Z"}],
  ["JOURNAL", "Plans 2024", "<div>12-Mar</div><div>one</div><div>two</div>",
   {"date": "2024-03-10T10:00:00Z"}, {"date": "2025-01-01T00:00:00Z"}],
  ["Other", "Empty", "<div><br></div>", {"date": "2024-03-10T10:00:00Z"}, {"date": "2024-03-10T10:00:00Z"}],
  ["Other", "Dates only", "12-Mar", {"date": "2024-03-10T10:00:00Z"}, {"date": "2024-03-10T10:00:00Z"}]
])";

class DriverTest : public testing::Test {
 protected:
  Outcome run(std::vector<std::string> arguments, const std::string& library = kLibrary,
              Date now = currentDate()) {
    arguments.insert(arguments.begin(), "sheafwright");
    const auto runner = makeLibraryTextScriptRunner(library, "lib.json");
    std::ostringstream out;
    std::ostringstream err;
    const int status =
        sheafwright::run(arguments, {.runner = *runner,
                                     .out = out,
                                     .err = err,
                                     .currentCalendar = [] { return Calendar("America/New_York"); },
                                     .now = [now] { return now; }});
    return {status, out.str(), err.str()};
  }

  ImportDocument read(const std::string& name) const {
    return decodeImportDocument(readFile(path(name)));
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  const TemporaryDirectory dir_;
};

const std::string kReading = kReadingLine + "\n";
const std::string kAirDrop = kClosingLine + "\n";

TEST_F(DriverTest, UsageAndUnknownOptionsStopBeforeReading) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out, err;
  };
  const std::vector<Case> cases = {
      {{"--help"}, 0, kUsage, ""},
      {{"-h"}, 0, kUsage, ""},
      {{"--out", "x", "--help"}, 0, kUsage, ""},
      {{"--help", "--bogus"}, 0, kUsage, ""},
      {{"--bogus", "--help"}, 2, "", "Unknown option: --bogus\n"},
      {{"journal"}, 2, "", "Unknown option: journal\n"},
      {{"--folder=x"}, 2, "", "Unknown option: --folder=x\n"},
      {{"--HELP"}, 2, "", "Unknown option: --HELP\n"},
      {{"-hv"}, 2, "", "Unknown option: -hv\n"},
      {{"--version"}, 2, "", "Unknown option: --version\n"},
      {{"--folder", "a", "b"}, 2, "", "Unknown option: b\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    // A library that would fail shows that nothing was read.
    const Outcome outcome = run(c.arguments, R"({"error": {"NSAppleScriptErrorMessage": "read"}})");
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, c.err);
  }
}

TEST_F(DriverTest, ExportsEveryFolderWithSummaryLines) {
  const Outcome outcome = run({"--out", path("all.json")});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out, kReading +
                             "Found 4 notes.\n"
                             "  Journal 2023 / Plans 2024: 1 entries, 1 topics, 1 dates\n"
                             "  JOURNAL / Plans 2024: 2 entries, 0 topics, 1 dates\n"
                             "Skipped 2 empty notes.\n"
                             "Wrote 3 entries to " +
                             path("all.json") + ".\n" + kAirDrop);

  const ImportDocument document = read("all.json");
  ASSERT_EQ(document.records.size(), 3u);
  const ImportRecord& first = document.records[0];
  EXPECT_EQ(first.text, "Call");
  EXPECT_EQ(first.topic, "Work");
  EXPECT_EQ(first.folder, "Journal 2023");
  EXPECT_EQ(first.notebook, "Plans 2024");
  EXPECT_EQ(first.order, "V");
  EXPECT_EQ(first.createdAt, parseInternetDate("2024-03-10T10:00:00Z"));
  // The folder's year wins over the note's; the day starts in the user's zone.
  EXPECT_EQ(formatInternetDate(first.entryDate), "2023-03-12T05:00:00Z");
  // No year in the folder: the note's name gives it.
  EXPECT_EQ(formatInternetDate(document.records[1].entryDate), "2024-03-12T04:00:00Z");
  EXPECT_EQ(document.records[2].order, "k");
  EXPECT_NE(document.records[1].id, document.records[2].id);
}

TEST_F(DriverTest, FolderFilterIgnoresCaseAndEchoesTheFilterAsTyped) {
  const Outcome outcome =
      run({"--folder", "other", "--folder", "journal", "--out", path("j.json")});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, kReading +
                             "Found 1 notes in \"journal\".\n"
                             "  JOURNAL / Plans 2024: 2 entries, 0 topics, 1 dates\n"
                             "Wrote 2 entries to " +
                             path("j.json") + ".\n" + kAirDrop);
}

TEST_F(DriverTest, TrailingOptionsAndLiteralValues) {
  // A trailing --folder clears the filter; a trailing --out keeps the path.
  Outcome outcome = run({"--folder", "nothing", "--out", path("a.json"), "--folder"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.out.find("Found 4 notes.\n"), std::string::npos) << outcome.out;
  EXPECT_TRUE(fs::exists(path("a.json")));
  outcome = run({"--out", path("b.json"), "--out"});
  EXPECT_TRUE(fs::exists(path("b.json")));

  // The value after --folder is taken literally too.
  outcome = run({"--folder", "--out", "--out", path("c.json")});
  EXPECT_EQ(outcome.err.rfind("No folder named \"--out\". Folders: ", 0), 0u) << outcome.err;

  // The value after --out is taken literally, even when it looks like an option.
  outcome = run({"--out", path("--folder")});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(fs::exists(path("--folder")));
}

TEST_F(DriverTest, EachRunTakesItsOwnTime) {
  const Date first = at("2024-03-04T07:15:30.600Z");
  const Date second = at("2024-03-04T07:15:31Z");
  ASSERT_EQ(run({"--out", path("1.json")}, kLibrary, first).status, 0);
  ASSERT_EQ(run({"--out", path("2.json")}, kLibrary, second).status, 0);
  const ImportDocument a = read("1.json");
  const ImportDocument b = read("2.json");
  EXPECT_EQ(formatInternetDate(a.exportedAt), "2024-03-04T07:15:30Z");
  EXPECT_EQ(formatInternetDate(b.exportedAt), "2024-03-04T07:15:31Z");
}

TEST_F(DriverTest, AnEmptyLibraryWritesADocumentWithoutRecords) {
  const Outcome outcome = run({"--out", path("e.json")}, "[]");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out,
            kReading + "Found 0 notes.\nWrote 0 entries to " + path("e.json") + ".\n" + kAirDrop);
}

TEST_F(DriverTest, ReaderFailureEndsWithStatus1AndNoFile) {
  const Outcome outcome =
      run({"--out", path("f.json")}, R"({"error": {"NSAppleScriptErrorNumber": -600}})");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, kReading);
  EXPECT_EQ(outcome.err, "AppleScript failed: {\"NSAppleScriptErrorNumber\":-600}" + kHint + "\n");
  EXPECT_FALSE(fs::exists(path("f.json")));
}

TEST_F(DriverTest, MissingDirectoryIsAWriteFailureNamingThePath) {
  const std::string target = path("missing/out.json");
  const Outcome outcome = run({"--out", target});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "Could not write output: " + target + ": No such file or directory\n");
  EXPECT_EQ(outcome.out.find("Wrote"), std::string::npos);
}

TEST_F(DriverTest, ReplacesAnExistingFileAndLeavesNoTemporaryFiles) {
  const std::string target = path("out.json");
  std::ofstream(target) << "old";
  ASSERT_EQ(run({"--out", target}).status, 0);
  EXPECT_EQ(fileCount(dir_.path()), 1);
  std::ifstream file(target);
  EXPECT_EQ(file.get(), '{');
}

// A new file gets the mode the umask allows; a file replaced keeps its own, so that a private
// export stays private.
TEST_F(DriverTest, ExportedFileModeFollowsTheUmaskOrTheFileReplaced) {
  struct Case {
    mode_t mask;
    std::optional<mode_t> earlier;
    mode_t mode;
  };
  const Case cases[] = {
      {022, std::nullopt, 0644}, {077, std::nullopt, 0600}, {022, 0600, 0600}, {077, 0664, 0664}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mask << " " << c.mode);
    fs::remove(path("mode.json"));
    if (c.earlier) {
      std::ofstream(path("mode.json")) << "earlier";
      ::chmod(path("mode.json").c_str(), *c.earlier);
    }
    const mode_t previous = ::umask(c.mask);
    const Outcome outcome = run({"--out", path("mode.json")});
    ::umask(previous);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(static_cast<mode_t>(fs::status(path("mode.json")).permissions()), c.mode);
  }
}

// A script whose handlers answer from fixed folders, as the Apple adapter would: the folder
// list, then each folder's reply when it is asked for, which may instead fail.
class FolderRunner : public ScriptRunner {
 public:
  struct Folder {
    std::string name;
    std::vector<FakeValue> notes;
    bool fails = false;
  };

  static FakeValue note(const std::string& folder, const std::string& body) {
    return fakeList(
        {fakeText(folder), fakeText("N"), fakeText(body), fakeDate(Date{}), fakeDate(Date{})});
  }

  explicit FolderRunner(std::vector<Folder> folders) : folders_(std::move(folders)) {}

  std::unique_ptr<Script> makeScript(std::string_view) override {
    return std::make_unique<FolderScript>(*this);
  }

  std::vector<std::int64_t> asked;  // the folders whose notes were asked for, 1-based

 private:
  struct Failure : ScriptErrorRecord {
    std::optional<std::string> message() const override { return "Notes got an error."; }
    std::string description() const override { return "(record)"; }
  };
  struct FolderScript : Script {
    explicit FolderScript(FolderRunner& runner) : runner_(runner) {}
    ScriptOutcome call(std::string_view handler, std::span<const std::int64_t> arguments) override {
      auto reply = std::make_unique<FakeValue>();
      if (handler == "folderNames") {
        for (const Folder& folder : runner_.folders_) {
          reply->items.push_back(fakeText(folder.name));
        }
        return {std::move(reply), nullptr};
      }
      runner_.asked.push_back(arguments[0]);
      const Folder& folder = runner_.folders_.at(static_cast<std::size_t>(arguments[0] - 1));
      if (folder.fails) {
        return {nullptr, std::make_unique<Failure>()};
      }
      reply->items = folder.notes;
      return {std::move(reply), nullptr};
    }
    FolderRunner& runner_;
  };

  std::vector<Folder> folders_;
};

Outcome runAgainst(ScriptRunner& runner, std::vector<std::string> arguments,
                   bool terminal = false) {
  arguments.insert(arguments.begin(), "sheafwright");
  std::ostringstream out;
  std::ostringstream err;
  std::ostringstream progress;
  const int status = sheafwright::run(
      arguments,
      {.runner = runner, .out = out, .err = err, .progress = terminal ? &progress : nullptr});
  return {status, out.str(), err.str(), progress.str()};
}

TEST_F(DriverTest, FailuresPartWayLeaveOnlyTheirMessageAndTheEarlierFile) {
  const std::string body = "<div>one</div><div>two</div>";
  FakeValue unreadable = FolderRunner::note("A", body);
  unreadable.items[1].outOfMemory = true;
  struct Case {
    const char* name;
    std::vector<FolderRunner::Folder> folders;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      // A name that is not UTF-8 cannot be written.
      {"encoding",
       {{"Bad \xff", {FolderRunner::note("Bad \xff", body)}}},
       kReading + "Found 1 notes.\n  Bad \uFFFD / N: 2 entries, 0 topics, 0 dates\n",
       "Could not write output: cannot encode field \"folder\" of record 1: invalid UTF-8 byte "
       "0xFF at offset 4\n"},
      {"a later folder fails",
       {{"A", {FolderRunner::note("A", body)}}, {"B", {}, true}},
       kReading,
       "AppleScript failed: Notes got an error" + kHint + "\n"},
      {"out of memory",
       {{"A", {FolderRunner::note("A", body), unreadable}}},
       kReading,
       "Could not write output: out of memory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = path("out.json");
    std::ofstream(target) << "earlier";
    FolderRunner runner(c.folders);
    const Outcome outcome = runAgainst(runner, {"--out", target});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(readFile(target), "earlier");
    EXPECT_EQ(fileCount(dir_.path()), 1);
  }
}

TEST_F(DriverTest, OnlyTheFoldersAskedForAreRead) {
  const auto folders = [] {
    return std::vector<FolderRunner::Folder>{
        {"Journal", {FolderRunner::note("Journal", "<div>x</div>")}},
        {"Other", {FolderRunner::note("Other", "<div>y</div>")}},
        {"JOURNAL", {FolderRunner::note("JOURNAL", "<div>z</div>")}}};
  };
  const struct {
    std::vector<std::string> arguments;
    std::vector<std::int64_t> asked;
    int status;
  } cases[] = {
      {{}, {1, 2, 3}, 0},
      {{"--folder", "journal"}, {1, 3}, 0},
      {{"--folder", "none"}, {}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    FolderRunner runner(folders());
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"--out", path("o.json")});
    EXPECT_EQ(runAgainst(runner, arguments).status, c.status);
    EXPECT_EQ(runner.asked, c.asked);
  }
}

// A library as a Mac's Notes hands it over: an unlocked note that is password protected, a
// locked one, one without a body, one whose body could not be had, a folder that could not be
// opened, and Notes' trash under two languages' names.
const std::string kMacLibrary = R"([
  ["Journal", "Open", "<div>one</div>", null, null, "p1", false],
  ["Journal", "Unlocked", "<div>two</div>", null, null, "p2", true],
  ["Journal", "Locked", "", null, null, "p3", true],
  ["Journal", "Gone", null, null, null, "p4", false],
  ["Journal", "Bell \u0007"],
  ["Travel"],
  ["Recently Deleted", "Old", "<div>three</div>", null, null, "p5"],
  ["Senast raderade", "Gammal", "<div>four</div>", null, null, "p6"],
  ["Recently Deleted", "Locked", "", null, null, "p7", true]
])";

// What is read and what is not, and why; the trash only when asked for; the folder list.
TEST_F(DriverTest, LocksTheTrashAndTheFolderList) {
  const std::string unread =
      "  Journal / Locked (locked)\n"
      "  Journal / Gone (not handed over)\n"
      "  Journal / Bell \\u0007 (not handed over)\n"
      "  Travel (folder could not be opened)\n";
  const struct {
    std::vector<std::string> arguments;
    std::string out;  // after the reading line, up to the Wrote line
    bool writes;
  } cases[] = {
      {{},
       "Found 2 notes.\n  Journal / Open: 1 entries, 0 topics, 0 dates\n"
       "  Journal / Unlocked: 1 entries, 0 topics, 0 dates\nCould not read 4 notes.\n" +
           unread,
       true},
      {{"--include-deleted"},
       "Found 4 notes.\n  Journal / Open: 1 entries, 0 topics, 0 dates\n"
       "  Journal / Unlocked: 1 entries, 0 topics, 0 dates\n"
       "  Recently Deleted / Old: 1 entries, 0 topics, 0 dates\n"
       "  Senast raderade / Gammal: 1 entries, 0 topics, 0 dates\nCould not read 5 notes.\n" +
           unread + "  Recently Deleted / Locked (locked)\n",
       true},
      {{"--folder", "recently deleted", "--include-deleted"},
       "Found 1 notes in \"recently deleted\".\n"
       "  Recently Deleted / Old: 1 entries, 0 topics, 0 dates\nCould not read 1 notes.\n"
       "  Recently Deleted / Locked (locked)\n",
       true},
      {{"--list-folders"}, "Journal (5 notes)\nTravel (1 notes)\n", false},
      {{"--include-deleted", "--list-folders", "--out", "x"},
       "Journal (5 notes)\nTravel (1 notes)\nRecently Deleted (1 notes)\n"
       "Senast raderade (1 notes)\nRecently Deleted (1 notes)\n",
       false},
      {{"--list-folders", "--folder", "TRAVEL"}, "Travel (1 notes)\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"--out", path("mac.json")});
    fs::remove(path("mac.json"));
    const Outcome outcome = run(arguments, kMacLibrary);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    const std::string wrote = c.writes
                                  ? "Wrote " + std::to_string(read("mac.json").records.size()) +
                                        " entries to " + path("mac.json") + ".\n" + kAirDrop
                                  : "";
    EXPECT_EQ(outcome.out, kReading + c.out + wrote);
    EXPECT_EQ(fs::exists(path("mac.json")), c.writes);
  }
}

// A --folder that names no folder to read ends before anything is written, saying which
// folders there are; a folder that is there but holds no notes is a valid, empty export.
TEST_F(DriverTest, AFolderThatIsNotThereLeavesTheEarlierExport) {
  std::vector<FolderRunner::Folder> many;
  for (const char* name : {"A", "B", "A", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L"}) {
    many.push_back({name, {}});
  }
  const struct {
    std::vector<std::string> arguments;
    std::vector<FolderRunner::Folder> folders;  // none: the Mac library
    std::string err;
  } cases[] = {
      {{"--folder", "Jounral"}, {}, "No folder named \"Jounral\". Folders: Journal, Travel."},
      {{"--folder", ""}, {}, "No folder named \"\". Folders: Journal, Travel."},
      {{"--folder", "Jour\nnal\x1b[2J"},
       {},
       "No folder named \"Jour\\u000Anal\\u001B[2J\". Folders: Journal, Travel."},
      {{"--folder", "RECENTLY DELETED"},
       {},
       "No folder named \"RECENTLY DELETED\": Notes' trash is read only with --include-deleted."},
      {{"--folder", "Zuletzt gel\u00F6scht", "--include-deleted"},
       {},
       "No folder named \"Zuletzt gel\u00F6scht\". Folders: Journal, Travel, Recently Deleted, "
       "Senast raderade."},
      {{"--list-folders", "--folder", "Jounral"},
       {},
       "No folder named \"Jounral\". Folders: Journal, Travel."},
      {{"--folder", "x"},
       many,
       "No folder named \"x\". Folders: A, B, C, D, E, F, G, H, I, J, \u2026 (12 in all: "
       "--list-folders shows them)."},
      {{"--folder", "x"},
       {{"", {}}, {"Recently Deleted", {}}},
       "No folder named \"x\". Folders: \"\"."},
      {{"--folder", "x"},
       {{"Recently Deleted", {}}},
       "No folder named \"x\". Notes has no folders."},
  };
  const std::string target = path("out.json");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    std::ofstream(target) << "earlier";
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"--out", target});
    Outcome outcome;
    if (c.folders.empty()) {
      outcome = run(arguments, kMacLibrary);
    } else {
      FolderRunner runner(c.folders);
      outcome = runAgainst(runner, arguments);
      EXPECT_TRUE(runner.asked.empty());
    }
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, kReading);
    EXPECT_EQ(outcome.err, c.err + "\n");
    EXPECT_EQ(readFile(target), "earlier");
    EXPECT_EQ(fileCount(dir_.path()), 1);
  }

  FolderRunner runner({{"Journal", {}}, {"Empty", {}}});
  const Outcome empty = runAgainst(runner, {"--folder", "empty", "--out", target});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, kReading + "Found 0 notes in \"empty\".\nWrote 0 entries to " + target +
                           ".\n" + kAirDrop);
  EXPECT_TRUE(read("out.json").records.empty());
}

// Where a person watches, one line names the folder being read and is cleared at the end; the
// lines on standard output stay the same either way.
TEST_F(DriverTest, ProgressIsShownOnlyWhereSomeoneWatches) {
  const auto folders = [] {
    return std::vector<FolderRunner::Folder>{
        {"Journal",
         {FolderRunner::note("Journal", "<div>x</div>"), FolderRunner::note("Journal", "")}},
        {"Line\nbreak " + std::string(40, 'x'), {}}};
  };
  FolderRunner quiet(folders());
  const Outcome plain = runAgainst(quiet, {"--out", path("p.json")});
  FolderRunner watched(folders());
  const Outcome shown = runAgainst(watched, {"--out", path("p.json")}, true);
  EXPECT_EQ(plain.progress, "");
  EXPECT_EQ(shown.out, plain.out);
  EXPECT_EQ(shown.err, "");
  EXPECT_EQ(shown.progress,
            "\r\x1b[KFolder 1/2, 0 notes: Journal"
            "\r\x1b[KFolder 2/2, 2 notes: Line\\u000Abreak " +
                std::string(24, 'x') +
                "\u2026"
                "\r\x1b[K");
}

// Names from the notes and the command line are printed with their controls shown, in one
// rule for every line: ESC cannot steer the terminal, nor CR or LF forge a line.
TEST_F(DriverTest, ControlsInPrintedNamesAreShownNotObeyed) {
  const std::string folder = "J\x1b[2J\r";
  const std::string name = "N\nWrote 0 entries\x7f\u009b\t";
  const std::string shownFolder = "J\\u001B[2J\\u000D";
  const std::string shownName = "N\\u000AWrote 0 entries\\u007F\\u009B\t";
  const std::string library =
      R"([[")" + folder + R"(", ")" + name + R"(", "x", {"date": "2024-03-10T10:00:00Z"}, null]])";
  // JSON strings take no raw controls: the library writes them escaped.
  std::string escaped;
  for (const char c : library) {
    char unit[8];
    std::snprintf(unit, sizeof unit, "\\u%04x", static_cast<unsigned char>(c));
    escaped += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? unit : std::string(1, c);
  }
  struct Case {
    std::vector<std::string> arguments;
    std::string library;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"--folder", folder, "--out", path("o\x1b.json")},
       escaped,
       kReading + "Found 1 notes in \"" + shownFolder + "\".\n  " + shownFolder + " / " +
           shownName + ": 1 entries, 0 topics, 0 dates\nWrote 1 entries to " +
           path("o\\u001B.json") + ".\n" + kAirDrop,
       ""},
      {{"--out", path("no\u009b/o.json")},
       "[]",
       kReading + "Found 0 notes.\n",
       "Could not write output: " + path("no\\u009B/o.json") + ": No such file or directory\n"},
      {{"--out", path("f.json")},
       R"({"error": {"NSAppleScriptErrorMessage": "Bad\u001b[2J\nthing"}})",
       kReading,
       "AppleScript failed: Bad\\u001B[2J\\u000Athing" + kHint + "\n"},
      {{"--\x1b[2J"}, "[]", "", "Unknown option: --\\u001B[2J\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const Outcome outcome = run(c.arguments, c.library);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, c.err);
  }
}

}  // namespace
}  // namespace sheafwright
