// Notes' database as a source: every known layout through the command line, against the same
// notes served by the stand-in; what is left out; files the tool cannot read; the live files
// left as they were.
#include "sheafwright/note_store_runner.h"
#include "sheafwright/notes_reader.h"
#include "testing/child_process.h"
#include "testing/note_store_body_writer.h"
#include "testing/note_store_writer.h"
#include "testing/test_support.h"
#include "testing/two_source_check.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <variant>
#include <vector>

namespace sheafwright {
namespace {

namespace fs = std::filesystem;
using notestore::NoteStoreLayout;
using notestore::TestFolder;
using notestore::TestNote;
using notestore::TestNoteStore;
using notestore::TestParagraph;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

ToolRun runTool(const fs::path& dir, std::vector<std::string> arguments,
                const std::map<std::string, std::optional<std::string>>& environment = {}) {
  ChildProcess child{.program = SHEAFWRIGHT_BINARY,
                     .arguments = std::move(arguments),
                     .environment = environment,
                     .out = dir / "stdout",
                     .err = dir / "stderr"};
  child.environment.insert({{"TZ", "UTC"}, {"LANG", "en_US.UTF-8"}, {"LC_ALL", std::nullopt}});
  ToolRun run;
  run.status = runChild(child).status;
  run.out = readFile(child.out);
  run.err = readFile(child.err);
  return run;
}

// Core Data seconds and the same instant as RFC 3339 text.
struct Instant {
  double coreData;
  std::string text;
};
Instant instant(std::int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.250Z", &parts);
  return {notestore::coreDataSeconds(static_cast<double>(unixSeconds) + 0.25), text};
}

// A library with every kind of folder and note, and the stand-in library of what a script
// would hand over for it, in the order the database is read: folders as they were made, each
// folder's notes most recently modified first.
struct Library {
  TestNoteStore store;
  std::string standIn;
};

Library library(NoteStoreLayout layout) {
  Library library;
  TestNoteStore& store = library.store;
  store.layout = layout;
  store.folders = {
      {.title = std::nullopt, .type = 0, .identifier = "DefaultFolder-CloudKit"},  // 0
      {.title = "Journal 2024", .type = std::nullopt, .identifier = "F1"},         // 1
      {.title = "Trips", .type = 0, .identifier = "F2", .parent = 1},              // 2
      {.title = std::nullopt, .type = 1, .identifier = "TrashFolder-CloudKit"},    // 3
      {.title = "Tagged", .type = 2, .identifier = "F4"},                          // 4
      {.title = "Old", .type = 0, .identifier = "F5", .markedForDeletion = true},  // 5
      {.title = "Deleted folder", .type = 0, .identifier = "F6", .parent = 3},     // 6
      {.title = "Retired", .type = 3, .identifier = "F7"},                         // 7
      {.title = "Under old", .type = 0, .identifier = "F8", .parent = 5},          // 8
  };
  const std::vector<TestParagraph> diary = {
      {.text = "Diary", .style = 0},
      {.text = "2024-03-12"},
      {.text = "walk the dog & <cat>"},
      {.text = ""},
      {.text = "Errands", .style = 100},
      {.text = "milk", .style = 100, .indent = 1},
      {.text = "bread \u00e9\uFFFC", .style = 102, .indent = 1},
      {.text = "13-Mar", .style = 1},
      {.text = "\U0001F600 done", .style = 103},
      {.text = "code()", .style = 4},
  };
  const std::vector<TestParagraph> plain = {{.text = "Mar 14"}, {.text = "alpha"}};
  struct Entry {
    std::size_t folder;
    std::string title;
    std::int64_t created;
    std::int64_t modified;
    enum { kReadable, kLocked, kBroken, kNoData, kDeleted } kind = kReadable;
    const std::vector<TestParagraph>* body = nullptr;
  };
  const std::vector<Entry> entries = {
      {0, "Older", 1709200000, 1709300000, Entry::kReadable, &plain},
      {0, "Diary", 1709290000, 1710300000, Entry::kReadable, &diary},
      {1, "Locked", 1709290000, 1710000000, Entry::kLocked},
      {1, "Broken", 1709290000, 1710100000, Entry::kBroken},
      {1, "Mar", 1709290000, 1709400000, Entry::kReadable, &plain},
      {1, "Gone", 1709290000, 1709400000, Entry::kDeleted, &plain},
      {1, "No data", 1709290000, 1709000000, Entry::kNoData},
      {2, "Lisbon", 1709290000, 1709400000, Entry::kReadable, &diary},
      {3, "In the trash", 1709290000, 1709400000, Entry::kReadable, &plain},
      {4, "In a smart folder", 1709290000, 1709400000, Entry::kReadable, &plain},
      {5, "In a deleted folder", 1709290000, 1709400000, Entry::kReadable, &plain},
      {6, "In a deleted subfolder", 1709290000, 1709400000, Entry::kReadable, &plain},
      {7, "In a retired folder", 1709290000, 1709400000, Entry::kReadable, &plain},
      {8, "Under a deleted folder", 1709290000, 1709400000, Entry::kReadable, &plain},
  };
  // What a script hands over, by folder, in the database's order.
  std::vector<std::pair<std::string, std::vector<std::pair<std::int64_t, nlohmann::json>>>> served =
      {{"Notes", {}}, {"Journal 2024", {}}, {"Trips", {}}};
  for (const Entry& entry : entries) {
    const Instant created = instant(entry.created);
    const Instant modified = instant(entry.modified);
    TestNote note{.folder = entry.folder,
                  .title = entry.title,
                  .created = created.coreData,
                  .modified = modified.coreData};
    switch (entry.kind) {
      case Entry::kReadable:
      case Entry::kDeleted:
        note.data = notestore::encodeNoteStoreBody(*entry.body);
        note.markedForDeletion = entry.kind == Entry::kDeleted;
        break;
      case Entry::kLocked:
        note.passwordProtected = true;
        note.data = std::string("\x8a\x01\x02 encrypted", 13);
        break;
      case Entry::kBroken:
        note.data = "not gzip at all";
        break;
      case Entry::kNoData:
        break;
    }
    store.notes.push_back(note);
    if (entry.folder > 2 || entry.kind == Entry::kDeleted) {
      continue;
    }
    const std::string& folder = served[entry.folder].first;
    nlohmann::json element;
    if (entry.kind == Entry::kReadable) {
      element = {folder,
                 entry.title,
                 notestore::notesHtml(*entry.body),
                 {{"date", created.text}},
                 {{"date", modified.text}}};
    } else if (entry.kind == Entry::kLocked) {
      element = {folder,      entry.title, "", {{"date", created.text}}, {{"date", modified.text}},
                 "locked-id", true};
    } else {
      element = {folder, entry.title};
    }
    served[entry.folder].second.emplace_back(entry.modified, std::move(element));
  }
  nlohmann::json reply = nlohmann::json::array();
  for (auto& [folder, notes] : served) {
    std::stable_sort(notes.begin(), notes.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (auto& [modified, element] : notes) {
      reply.push_back(std::move(element));
    }
  }
  library.standIn = reply.dump();
  return library;
}

// The records without their random ids and the document without its export time.
nlohmann::json recordsOf(const fs::path& file) {
  nlohmann::json document = nlohmann::json::parse(readFile(file));
  nlohmann::json records = document.at("records");
  for (nlohmann::json& record : records) {
    record.erase("id");
  }
  return records;
}

class NoteStoreTest : public ::testing::TestWithParam<std::tuple<NoteStoreLayout, bool>> {
 protected:
  const TemporaryDirectory dir_;
};

// Each layout, with its rows in the file or still in the write-ahead log, exports what the
// script path exports for the same notes: the same lines in the same order and the same
// records. The live files are only read: not a byte of them changes, no -shm appears beside
// them, and the private copy is gone afterwards.
TEST_P(NoteStoreTest, ExportsWhatTheScriptPathExports) {
  const auto [layout, inLog] = GetParam();
  Library notes = library(layout);
  notes.store.inLog = inLog;
  const fs::path database = dir_.path() / "store" / "NoteStore.sqlite";
  fs::create_directories(database.parent_path());
  notestore::writeNoteStore(database.string(), notes.store);
  ASSERT_EQ(fs::exists(database.string() + "-wal"), inLog);
  const std::string databaseBytes = readFile(database);
  const std::string logBytes = inLog ? readFile(database.string() + "-wal") : "";
  const fs::path standIn = dir_.path() / "library.json";
  std::ofstream(standIn) << notes.standIn;
  const fs::path temporary = dir_.path() / "tmp";
  fs::create_directories(temporary);

  const ToolRun fromScript = runTool(dir_.path(), {"--out", (dir_.path() / "script.json").string()},
                                     {{"SHEAFWRIGHT_NOTES_LIBRARY", standIn.string()}});
  const ToolRun fromDatabase = runTool(
      dir_.path(),
      {"--database-file", database.string(), "--out", (dir_.path() / "database.json").string()},
      {{"SHEAFWRIGHT_NOTES_LIBRARY", std::nullopt}, {"TMPDIR", temporary.string()}});
  ASSERT_EQ(fromScript.status, 0) << fromScript.err;
  ASSERT_EQ(fromDatabase.status, 0) << fromDatabase.err;
  const auto withoutPath = [](std::string out) { return out.substr(0, out.find("Wrote ")); };
  EXPECT_EQ(withoutPath(fromDatabase.out), withoutPath(fromScript.out));
  EXPECT_NE(fromDatabase.out.find("Could not read "), std::string::npos) << fromDatabase.out;
  EXPECT_EQ(recordsOf(dir_.path() / "database.json"), recordsOf(dir_.path() / "script.json"));
  EXPECT_GT(recordsOf(dir_.path() / "database.json").size(), 10u);

  EXPECT_EQ(readFile(database), databaseBytes);
  EXPECT_EQ(inLog ? readFile(database.string() + "-wal") : "", logBytes);
  EXPECT_FALSE(fs::exists(database.string() + "-shm"));
  EXPECT_EQ(fileCount(temporary), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, NoteStoreTest,
                         ::testing::Combine(::testing::ValuesIn(notestore::kReadableLayouts),
                                            ::testing::Bool()),
                         [](const auto& test) {
                           return std::string(notestore::layoutName(std::get<0>(test.param))) +
                                  (std::get<1>(test.param) ? "_InLog" : "");
                         });

// The folders served, with and without the trash: nested folders by their own names, the
// default folder and the trash by Notes' names where the database holds none.
TEST(NoteStoreFolders, TheTrashOnlyWhenAsked) {
  const TemporaryDirectory dir;
  const std::string path = (dir.path() / "NoteStore.sqlite").string();
  notestore::writeNoteStore(path, library(NoteStoreLayout::kMacOS13).store);
  const auto folders = [&path](bool includeDeleted) {
    auto opened = openNoteStore(path, includeDeleted);
    auto& runner = *std::get<std::unique_ptr<ScriptRunner>>(opened);
    std::vector<std::string> names;
    NotesReader::Session session = NotesReader::open(runner);
    for (std::size_t i = 0; i < session.folders().size(); ++i) {
      names.push_back(session.folders()[i].value_or("?") + ":" +
                      std::to_string(session.readFolder(i).size()));
    }
    return names;
  };
  EXPECT_EQ(folders(false), (std::vector<std::string>{"Notes:2", "Journal 2024:2", "Trips:1"}));
  EXPECT_EQ(folders(true), (std::vector<std::string>{"Notes:2", "Journal 2024:2", "Trips:1",
                                                     "Recently Deleted:1", "Deleted folder:1"}));
}

// The database tells the trash by what it records: a folder of the user's own named like it is
// exported, the trash itself only with --include-deleted.
TEST(NoteStoreCli, TheTrashByWhatTheDatabaseSays) {
  const TemporaryDirectory dir;
  const std::string path = (dir.path() / "NoteStore.sqlite").string();
  const std::string body = notestore::encodeNoteStoreBody({{.text = "2024-03-12"}, {.text = "x"}});
  notestore::writeNoteStore(
      path, {.layout = NoteStoreLayout::kMacOS13,
             .folders = {{.title = "Recently Deleted", .type = 0, .identifier = "F1"},
                         {.title = std::nullopt, .type = 1, .identifier = "TrashFolder-CloudKit"}},
             .notes = {{.folder = 0, .title = "Mine", .data = body},
                       {.folder = 1, .title = "Deleted", .data = body}}});
  const std::string out = (dir.path() / "export.json").string();
  const ToolRun without = runTool(dir.path(), {"--database-file", path, "--out", out});
  EXPECT_NE(without.out.find("Found 1 notes.\n  Recently Deleted / Mine: 1 entries"),
            std::string::npos)
      << without.out << without.err;
  const ToolRun with =
      runTool(dir.path(), {"--database-file", path, "--include-deleted", "--out", out});
  EXPECT_NE(with.out.find("Found 2 notes."), std::string::npos) << with.out << with.err;
  EXPECT_NE(with.out.find("  Recently Deleted / Deleted: 1 entries"), std::string::npos);
}

// What cannot be read ends the run with one line on standard error and status 1, and the
// output file is not touched.
TEST(NoteStoreCli, UnreadableStoresEndTheRunWithOneLine) {
  const TemporaryDirectory dir;
  const fs::path out = dir.path() / "export.json";
  std::ofstream(out) << "earlier";
  struct Case {
    std::string name;
    std::function<void(const std::string&)> make;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"older layout",
       [](const std::string& path) {
         notestore::writeNoteStore(
             path, {.layout = NoteStoreLayout::kMacOS10_13, .folders = {}, .notes = {}});
       },
       "has a layout this tool does not know: no column ZICCLOUDSYNCINGOBJECT.ZFOLDER."},
      {"no such file", [](const std::string&) {}, ""},
      {"not a database",
       [](const std::string& path) { std::ofstream(path) << std::string(5000, 'x'); },
       ": file is not a database."},
      {"empty database", [](const std::string& path) { std::ofstream(path) << ""; },
       "has a layout this tool does not know: no table Z_PRIMARYKEY."},
  };
  for (const Case& test : cases) {
    const std::string path = (dir.path() / (test.name + ".sqlite")).string();
    test.make(path);
    const ToolRun run = runTool(dir.path(), {"--database-file", path, "--out", out.string()});
    EXPECT_EQ(run.status, 1) << test.name;
    const std::string expected = test.message.empty()
                                     ? "No Notes database at " + path + ".\n"
                                     : "The Notes database " + path + " " + test.message + "\n";
    if (test.message.starts_with(":")) {
      EXPECT_EQ(run.err, "Cannot read the Notes database " + path + test.message + "\n");
    } else {
      EXPECT_EQ(run.err, expected) << test.name;
    }
    EXPECT_EQ(readFile(out), "earlier") << test.name;
  }
}

// Generated libraries, each written both as a stand-in file and as a database of some layout:
// the two exports agree line for line and record for record.
TEST(TwoSources, GeneratedLibrariesAgree) {
  const TemporaryDirectory dir;
  std::mt19937 random(20261208);
  int failures = 0;
  for (int round = 0; round < 150 && failures < 3; ++round) {
    std::vector<std::uint8_t> bytes(500);
    for (std::uint8_t& byte : bytes) {
      byte = static_cast<std::uint8_t>(random());
    }
    wholeexport::ByteSource source(bytes.data(), bytes.size());
    const wholeexport::TwoSourceOutcome outcome = wholeexport::checkTwoSources(source, dir.path());
    if (!outcome.failure.empty()) {
      ++failures;
      ADD_FAILURE() << "round " << round << " (" << outcome.layout << ", " << outcome.zone
                    << "): " << outcome.failure.substr(0, 6000) << "\nlibrary: " << outcome.library;
    }
  }
}

}  // namespace
}  // namespace sheafwright
