// Small helpers shared by the test files.
#pragma once

#include "sheafwright/date.h"
#include "sheafwright/notes_reader.h"
#include "sheafwright/script_runner.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>

#include <unistd.h>

namespace sheafwright {

// An instant written in RFC 3339 that the test knows to be valid.
inline Date at(const char* text) {
  return *parseInternetDate(text);
}

// The hint that ends the description of every failure to read Notes.
inline const std::string kHint =
    ". Make sure Notes is running and automation permission was granted (System Settings \u203A "
    "Privacy & Security \u203A Automation).";

// The description of the failure to open a reading session over `runner`.
inline std::string failureOf(ScriptRunner& runner) {
  try {
    NotesReader::open(runner);
  } catch (const NotesReader::ReaderError& error) {
    return error.description();
  }
  return "(no failure)";
}

// An empty directory of the running test's own (per process and test name), removed with all
// it holds when it goes. Its path is canonical, as the tool reports a working directory:
// macOS's temporary directory lies behind a symbolic link (/var is /private/var).
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    const testing::TestInfo& test = *testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::canonical(std::filesystem::temp_directory_path()) /
            ("sheafwright-" + std::to_string(::getpid()) + "-" + test.test_suite_name() + "-" +
             test.name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// How many entries a directory holds: what a write left behind.
inline std::ptrdiff_t fileCount(const std::filesystem::path& dir) {
  return std::distance(std::filesystem::directory_iterator(dir), {});
}

}  // namespace sheafwright
