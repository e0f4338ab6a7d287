// Runs the built binary as a user would: its streams, exit status and written file.
#include "sheafwright/date.h"
#include "sheafwright/import_encoder.h"
#include "testing/child_process.h"
#include "testing/import_document_reader.h"
#include "testing/note_store_body_writer.h"
#include "testing/note_store_writer.h"
#include "testing/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sheafwright {
namespace {

namespace fs = std::filesystem;

// The entries the embedded sample library gives.
constexpr std::size_t kSampleRecords = 16;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Whether a process held to `limit` bytes of address space fails to allocate twice that.
bool addressSpaceLimitHolds(rlim_t limit) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit bounds{limit, limit};
    ::setrlimit(RLIMIT_AS, &bounds);
    // mmap rather than malloc, which a compiler may assume to succeed.
    void* block = ::mmap(nullptr, static_cast<std::size_t>(limit) * 2, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANON, -1, 0);
    ::_exit(block == MAP_FAILED ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class CliTest : public testing::Test {
 protected:
  void SetUp() override { fs::create_directories(work()); }

  // Runs the tool in dir_/work with the given environment additions (nullopt unsets). The
  // library is the sample's file unless a test names another, so that no test asks the real
  // Notes where there is one. `fileSizeLimit` caps the size of files it may write, to make a
  // write fail even for root.
  Result tool(const std::vector<std::string>& arguments,
              const std::map<std::string, std::optional<std::string>>& environment = {},
              rlim_t fileSizeLimit = RLIM_INFINITY, rlim_t addressSpaceLimit = RLIM_INFINITY) {
    // Standard error on a terminal of its own, as where a person runs the tool.
    const int terminal = errorOnTerminal_ ? ::posix_openpt(O_RDWR | O_NOCTTY) : -1;
    if (errorOnTerminal_ && (terminal < 0 || ::grantpt(terminal) != 0 ||
                             ::unlockpt(terminal) != 0 || ::ptsname(terminal) == nullptr)) {
      ADD_FAILURE() << "no pseudo-terminal";
      return {};
    }
    ChildProcess child{.program = SHEAFWRIGHT_BINARY,
                       .arguments = arguments,
                       .environment = environment,
                       .out = dir_ / "stdout",
                       .err = terminal >= 0 ? fs::path(::ptsname(terminal)) : dir_ / "stderr",
                       .prepare = [&] {
                         if (::chdir(work().c_str()) != 0) {
                           ::_exit(127);
                         }
                         // As a shell starts it, whatever this process ignores.
                         ::signal(SIGXFSZ, SIG_DFL);
                         ::signal(SIGPIPE, SIG_DFL);
                         if (outputClosed_) {
                           // A pipe whose reader is gone, as after "| head -n3".
                           int ends[2];
                           if (::pipe(ends) != 0) {
                             ::_exit(127);
                           }
                           ::close(ends[0]);
                           ::dup2(ends[1], STDOUT_FILENO);
                         }
                         if (fileSizeLimit != RLIM_INFINITY) {
                           const rlimit limit{fileSizeLimit, fileSizeLimit};
                           ::setrlimit(RLIMIT_FSIZE, &limit);
                         }
                         if (addressSpaceLimit != RLIM_INFINITY) {
                           const rlimit limit{addressSpaceLimit, addressSpaceLimit};
                           ::setrlimit(RLIMIT_AS, &limit);
                         }
                       }};
    // Where the test names none of these.
    child.environment.insert({{"SHEAFWRIGHT_NOTES_LIBRARY", SHEAFWRIGHT_SAMPLE_LIBRARY},
                              {"TZ", "UTC"},
                              {"LANG", "en_US.UTF-8"},
                              {"LC_ALL", std::nullopt}});
    Result result;
    const pid_t pid = startChild(child);
    if (terminal >= 0 && whileRunning_) {
      // Once `waitFor_` shows, the run acts; until it is read further, a run that writes more
      // than the terminal holds waits where it is.
      readTerminal(terminal, result.err, waitFor_);
      whileRunning_(pid);
      readTerminal(terminal, result.err, std::nullopt);
    }
    result.status = waitChild(pid).status;
    result.out = readFile(child.out);
    if (terminal < 0) {
      result.err = readFile(child.err);
      return result;
    }
    // What the terminal holds; the writer is gone, so reading ends when it is all read.
    ::fcntl(terminal, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
      result.err.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(terminal);
    return result;
  }

  std::string library(const std::string& json) {
    const fs::path path = dir_ / "library.json";
    std::ofstream(path) << json;
    return path.string();
  }

  fs::path work() const { return dir_ / "work"; }

  // Reads what the terminal shows until `marker` appears, or without one until the run is gone.
  static void readTerminal(int terminal, std::string& shown,
                           const std::optional<std::string>& marker) {
    char buffer[4096];
    while (!marker || shown.find(*marker) == std::string::npos) {
      pollfd ready{terminal, POLLIN, 0};
      if (::poll(&ready, 1, 60000) <= 0) {
        ADD_FAILURE() << "the terminal stayed silent; it shows " << shown.substr(0, 200);
        return;
      }
      const ssize_t n = ::read(terminal, buffer, sizeof buffer);
      if (n <= 0) {
        return;
      }
      shown.append(buffer, static_cast<std::size_t>(n));
    }
  }

  const TemporaryDirectory dir_;
  bool errorOnTerminal_ = false;
  bool outputClosed_ = false;
  // With standard error on a terminal: what the test does to the run once the terminal shows
  // `waitFor_`.
  std::function<void(pid_t)> whileRunning_;
  std::string waitFor_;
};

// Without a library file (the variable unset or empty) the stand-in serves the embedded
// sample, to the default file.
TEST_F(CliTest, WithoutALibraryTheSampleExportsToTheDefaultFile) {
  if (SHEAFWRIGHT_READS_NOTES_APP) {
    GTEST_SKIP() << "here no library file means the Notes application itself";
  }
  const std::string expectedPath = (work() / "jotterby-import.json").string();
  for (const std::optional<std::string>& variable : {std::optional<std::string>(), {""}}) {
    SCOPED_TRACE(variable ? "empty" : "unset");
    const Result result = tool({}, {{"SHEAFWRIGHT_NOTES_LIBRARY", variable}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("Wrote " + std::to_string(kSampleRecords) + " entries to " +
                              expectedPath + ".\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(decodeImportDocument(readFile(expectedPath)).records.size(), kSampleRecords);
  }
}

// A person at a terminal sees which folder is being read, on one line that is cleared at the
// end; the lines on standard output are the same as anywhere else.
TEST_F(CliTest, ProgressShowsOnATerminalOnly) {
  const std::string path = library(R"([
    ["Journal 2024", "March", "<div>12-Mar</div><div>one</div>", {"date": "2024-03-10T10:00:00Z"},
     {"date": "2024-03-10T10:00:00Z"}],
    ["Travel", "Lisbon", "<div>x</div>", {"date": "2024-03-10T10:00:00Z"},
     {"date": "2024-03-10T10:00:00Z"}]
  ])");
  const Result plain = tool({}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}});
  errorOnTerminal_ = true;
  const Result watched = tool({}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}});
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(watched.status, 0);
  EXPECT_EQ(watched.out, plain.out);
  EXPECT_EQ(watched.err,
            "\r\x1b[KFolder 1/2, 0 notes: Journal 2024\r\x1b[KFolder 2/2, 1 notes: Travel\r\x1b[K");
}

TEST_F(CliTest, RelativeOutputPathIsReportedAbsolute) {
  fs::create_directories(work() / "sub");
  const Result result = tool({"--out", "./sub/../sub/x.json"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find(" entries to " + (work() / "sub/../sub/x.json").string() + ".\n"),
            std::string::npos)
      << result.out;
  EXPECT_TRUE(fs::exists(work() / "sub/x.json"));
}

TEST_F(CliTest, LibraryFileFailuresExitWith1) {
  struct Case {
    std::string libraryPath;
    std::string err;
  };
  const std::string broken = library("[[\"F\", \"N\"");
  const Case cases[] = {
      {(dir_ / "absent.json").string(), "AppleScript failed: cannot read Notes library " +
                                            (dir_ / "absent.json").string() +
                                            ": No such file or directory"},
      {broken, "AppleScript failed: Notes library " + broken + " is not valid JSON: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.libraryPath);
    const Result result = tool({}, {{"SHEAFWRIGHT_NOTES_LIBRARY", c.libraryPath}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind(c.err, 0), 0u) << result.err;
    EXPECT_EQ(result.err.back(), '\n');
    EXPECT_FALSE(fs::exists(work() / "jotterby-import.json"));
  }
}

TEST_F(CliTest, EachRunStampsItsOwnTimeAndFreshIds) {
  const std::string path = library(
      R"([["F", "N", "one", {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-01T00:00:00Z"}]])");
  const Date before = std::chrono::floor<std::chrono::seconds>(currentDate());
  ASSERT_EQ(tool({"--out", "a.json"}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}}).status, 0);
  ASSERT_EQ(tool({"--out", "b.json"}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}}).status, 0);
  const Date after = currentDate();
  const ImportDocument a = decodeImportDocument(readFile(work() / "a.json"));
  const ImportDocument b = decodeImportDocument(readFile(work() / "b.json"));
  ASSERT_EQ(a.records.size(), 1u);
  ASSERT_EQ(b.records.size(), 1u);
  EXPECT_NE(a.records[0].id, b.records[0].id);
  for (const ImportDocument* document : {&a, &b}) {
    EXPECT_GE(document->exportedAt, before);
    EXPECT_LE(document->exportedAt, after);
  }
}

// Records reach the file as each note is parsed: a write that fails after a megabyte has been
// written ends after every note's line, with the earlier file as it was.
TEST_F(CliTest, FailedWriteLeavesTheEarlierFileAndNoTemporaryFile) {
  std::string body;
  for (int i = 0; i < 4000; ++i) {
    body += "<div>entry " + std::to_string(i) + "</div>";
  }
  const std::string note = R"(", "N", ")" + body + R"(", null, null])";
  const std::string path = library(R"([["A)" + note + R"(, ["B)" + note + R"(, ["C)" + note + "]");
  // The standard output file falls under the limit too, but holds a few short lines.
  std::ofstream(work() / "out.json") << "earlier";
  const Result result =
      tool({"--out", "out.json"}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}}, rlim_t{1536} << 10);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "Could not write output: " + (work() / "out.json").string() + ": File too large\n");
  EXPECT_NE(result.out.find("  C / N: 4000 entries"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("Wrote"), std::string::npos);
  EXPECT_EQ(readFile(work() / "out.json"), "earlier");
  EXPECT_EQ(fileCount(work()), 1);
}

TEST_F(CliTest, RunningOutOfMemoryIsAFailureWithAMessage) {
  if (!largeRounds()) {
    GTEST_SKIP() << "a large round: set SHEAFWRIGHT_LARGE_TESTS=1";
  }
  // Order keys grow one character every six entries, so one note of 200,000 one-word lines
  // asks for gigabytes of keys.
  std::string body;
  for (int i = 0; i < 200000; ++i) {
    body += "a\\n";
  }
  const std::string path = library(R"([["F", "N", ")" + body + R"(", null, null]])");
  constexpr rlim_t kLimit = rlim_t{128} << 20;
  if (!addressSpaceLimitHolds(kLimit)) {
    GTEST_SKIP() << "this system does not hold a process to an address-space limit (macOS)";
  }
  if (tool({"--help"}, {}, RLIM_INFINITY, kLimit).status != 0) {
    GTEST_SKIP() << "the binary cannot start with a limited address space (a sanitizer build)";
  }
  std::ofstream(work() / "out.json") << "earlier";
  const Result result =
      tool({"--out", "out.json"}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}}, RLIM_INFINITY, kLimit);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Could not write output: out of memory\n");
  EXPECT_EQ(readFile(work() / "out.json"), "earlier");
}

// Many one-note folders: the progress line is rewritten for each, far more than a terminal
// holds, so a run whose terminal is not read waits part way through the folders.
std::string manyFolders(int count) {
  std::string json = "[";
  for (int folder = 0; folder < count; ++folder) {
    json += std::string(folder == 0 ? "" : ",") + R"(["F)" + std::to_string(folder) +
            R"(", "N", "<div>x</div>", {"date": "2024-03-12T08:30:00Z"}, null])";
  }
  return json + "]";
}

// Stopped part way, a run leaves nothing behind and says so on one line, over a cleared progress
// line; a library cut short meanwhile does not matter, as it was read whole.
TEST_F(CliTest, WhatHappensToARunPartWay) {
  constexpr int kFolders = 20000;
  const std::string path = library(manyFolders(kFolders));
  struct Case {
    const char* name;
    std::function<void(pid_t)> act;
    int status;
    std::string errEnd;  // the terminal ends lines in CR LF
    bool written;
  };
  const std::string interrupted =
      "\r\x1b[KInterrupted: nothing was written; the earlier file is unchanged.\r\n";
  const Case cases[] = {
      {"SIGINT", [](pid_t pid) { ::kill(pid, SIGINT); }, 1, interrupted, false},
      {"SIGTERM", [](pid_t pid) { ::kill(pid, SIGTERM); }, 1, interrupted, false},
      {"SIGHUP", [](pid_t pid) { ::kill(pid, SIGHUP); }, 1, interrupted, false},
      {"library truncated", [&path](pid_t) { ASSERT_EQ(::truncate(path.c_str(), 0), 0); }, 0,
       "\r\x1b[K", true},
  };
  errorOnTerminal_ = true;
  waitFor_ = "Folder 2/";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(path) << manyFolders(kFolders);
    std::ofstream(work() / "out.json") << "earlier";
    whileRunning_ = c.act;
    const Result result = tool({"--out", "out.json"}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}});
    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(result.err.ends_with(c.errEnd))
        << result.err.substr(result.err.size() - std::min<std::size_t>(result.err.size(), 200));
    EXPECT_EQ(fileCount(work()), 1);
    if (c.written) {
      EXPECT_EQ(decodeImportDocument(readFile(work() / "out.json")).records.size(),
                std::size_t{kFolders});
    } else {
      EXPECT_EQ(readFile(work() / "out.json"), "earlier");
    }
  }
}

// Stopped while it reads Notes' database, a run also removes its private copy of the notes.
TEST_F(CliTest, AStoppedDatabaseRunLeavesNoCopyBehind) {
  constexpr std::size_t kFolders = 20000;
  notestore::TestNoteStore store;
  for (std::size_t folder = 0; folder < kFolders; ++folder) {
    store.folders.push_back({.title = "F" + std::to_string(folder),
                             .type = 0,
                             .identifier = "F" + std::to_string(folder)});
    store.notes.push_back({.folder = folder,
                           .title = "N",
                           .created = 0,
                           .modified = 0,
                           .data = notestore::encodeNoteStoreBody({{.text = "x"}})});
  }
  const fs::path database = work() / "NoteStore.sqlite";
  notestore::writeNoteStore(database.string(), store);
  const fs::path temporary = work() / "tmp";
  fs::create_directory(temporary);
  errorOnTerminal_ = true;
  waitFor_ = "Folder 2/";
  whileRunning_ = [](pid_t pid) { ::kill(pid, SIGTERM); };
  const Result result = tool({"--database-file", database.string(), "--out", "out.json"},
                             {{"TMPDIR", temporary.string()}});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.err.ends_with("Interrupted: nothing was written.\r\n")) << result.err;
  EXPECT_EQ(fileCount(temporary), 0);
}

// Standard output closed early (as by "| head -n3") loses only the lines it would have carried:
// an export is still written and succeeds; the usage text or the folder list, which is all
// such a run delivers, fails.
TEST_F(CliTest, AClosedStandardOutputFailsOnlyWhatItCarries) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{"--out", "x.json"}, 0, ""},
      {{"--help"}, 1, "Could not write the usage text to standard output.\n"},
      {{"--list-folders"}, 1, "Could not write the folder list to standard output.\n"},
  };
  outputClosed_ = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    const Result result = tool(c.arguments);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
  }
  EXPECT_EQ(decodeImportDocument(readFile(work() / "x.json")).records.size(), kSampleRecords);
}

// A library that memory cannot hold is refused as a library, not as a write that failed.
TEST_F(CliTest, ALibraryLargerThanMemoryIsRefused) {
  constexpr rlim_t kLimit = rlim_t{256} << 20;
  if (!addressSpaceLimitHolds(kLimit)) {
    GTEST_SKIP() << "this system does not hold a process to an address-space limit (macOS)";
  }
  if (tool({"--help"}, {}, RLIM_INFINITY, kLimit).status != 0) {
    GTEST_SKIP() << "the binary cannot start with a limited address space (a sanitizer build)";
  }
  // A gigabyte of white space and nothing else, sparse on disk.
  const std::string path = library("");
  ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 30), 0);
  const Result result =
      tool({"--out", "out.json"}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}}, RLIM_INFINITY, kLimit);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "AppleScript failed: cannot read Notes library " + path +
                            ": too large for this machine's memory (1073741824 bytes)" + kHint +
                            "\n");
  EXPECT_FALSE(fs::exists(work() / "out.json"));
}

// TZ as the C library reads it: POSIX rules give the same days as the zone they describe; a
// setting that cannot be read is named before the export, and the days are taken in UTC.
TEST_F(CliTest, TimeZoneRulesAreReadOrNamed) {
  // A note a day through 2024, created at hours where the local day differs from UTC's.
  std::string json = "[";
  for (int day = 0; day < 366; ++day) {
    const Date created = at("2024-01-01T02:30:00Z") + std::chrono::hours(24 * day + day % 20);
    const std::string date = R"({"date": ")" + formatInternetDate(created) + R"("})";
    json += std::string(day == 0 ? "" : ",") + R"(["F", "N", "x", )" + date + ", " + date + "]";
  }
  const std::string path = library(json + "]");
  const auto entryDays = [&](const std::string& tz, std::string& err) {
    const Result result =
        tool({"--out", "d.json"}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}, {"TZ", tz}});
    EXPECT_EQ(result.status, 0);
    err = result.err;
    std::vector<std::string> days;
    for (const ImportRecord& record : decodeImportDocument(readFile(work() / "d.json")).records) {
      days.push_back(formatInternetDate(record.entryDate));
    }
    return days;
  };
  struct Case {
    std::string tz;
    std::string sameAs;
    std::string err;
  };
  const Case cases[] = {
      {"EST5EDT,M3.2.0,M11.1.0", "America/New_York", ""},
      {"<+0545>-5:45", "Asia/Kathmandu", ""},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", "Australia/Sydney", ""},
      {"IST-1GMT0,M10.5.0,M3.5.0/1", "Europe/Dublin", ""},
      {"<-03>3", "America/Sao_Paulo", ""},
      {"GMT+5", "Etc/GMT+5", ""},
      {":Asia/Tokyo", "Asia/Tokyo", ""},
      {"Mars/Olympus", "UTC", "Unknown time zone \"Mars/Olympus\"; dates are taken in UTC\n"},
      {"EST5EDT,M3.2.0/-1,M11.1.0", "UTC",
       "Unknown time zone \"EST5EDT,M3.2.0/-1,M11.1.0\"; dates are taken in UTC\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    std::string err;
    std::string ignored;
    EXPECT_EQ(entryDays(c.tz, err), entryDays(c.sameAs, ignored));
    EXPECT_EQ(err, c.err);
  }
}

TEST_F(CliTest, FolderFilterFollowsTheLocalesCaseRules) {
  const std::string path = library(R"([
    ["Istanbul", "a", "x", {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-01T00:00:00Z"}],
    ["\u0130stanbul", "b", "y", {"date": "2024-01-01T00:00:00Z"}, {"date": "2024-01-01T00:00:00Z"}]
  ])");
  Result result = tool({"--folder", "istanbul"},
                       {{"SHEAFWRIGHT_NOTES_LIBRARY", path}, {"LANG", "en_US.UTF-8"}});
  EXPECT_NE(result.out.find("Found 1 notes in \"istanbul\".\n  Istanbul / a"), std::string::npos)
      << result.out;
  result = tool({"--folder", "istanbul"},
                {{"SHEAFWRIGHT_NOTES_LIBRARY", path}, {"LANG", "tr_TR.UTF-8"}});
  EXPECT_NE(result.out.find("Found 1 notes in \"istanbul\".\n  \u0130stanbul / b"),
            std::string::npos)
      << result.out;
}

TEST_F(CliTest, EntryDaysFollowTheUsersTimeZone) {
  const std::string path = library(
      R"([["F", "N", "one", {"date": "2024-03-10T02:00:00Z"}, {"date": "2024-03-10T02:00:00Z"}]])");
  ASSERT_EQ(tool({}, {{"SHEAFWRIGHT_NOTES_LIBRARY", path}, {"TZ", "America/Los_Angeles"}}).status,
            0);
  const ImportDocument document = decodeImportDocument(readFile(work() / "jotterby-import.json"));
  ASSERT_EQ(document.records.size(), 1u);
  EXPECT_EQ(formatInternetDate(document.records[0].entryDate), "2024-03-09T08:00:00Z");
}

}  // namespace
}  // namespace sheafwright
