// Small helpers shared by the test files.
#pragma once

#include "sheafwright/date.h"
#include "sheafwright/notes_reader.h"
#include "sheafwright/script_runner.h"
#include "testing/readable_forms.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <unistd.h>

namespace sheafwright {

// True where the large rounds of the slowest tests run: SHEAFWRIGHT_LARGE_TESTS set and not
// "0". tools/dev.sh test sets it; the everyday suite stays quick without it.
inline bool largeRounds() {
  const char* value = std::getenv("SHEAFWRIGHT_LARGE_TESTS");
  return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

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

// A reply, or an item of one, made by hand and held by value.
class FakeValue : public ScriptDescriptor {
 public:
  std::vector<FakeValue> items;
  std::optional<std::string> text;
  std::optional<Date> date;
  std::optional<bool> boolean;
  bool absent = false;       // as an item, handed out as none at all
  bool outOfMemory = false;  // its text cannot be had

  std::int64_t numberOfItems() const override { return static_cast<std::int64_t>(items.size()); }
  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    if (index < 1 || index > numberOfItems() || items[static_cast<std::size_t>(index - 1)].absent) {
      return nullptr;
    }
    return std::make_unique<FakeValue>(items[static_cast<std::size_t>(index - 1)]);
  }
  std::optional<std::string> stringValue() const override {
    if (outOfMemory) {
      throw std::bad_alloc();
    }
    return text;
  }
  std::optional<Date> dateValue() const override { return date; }
  std::optional<bool> booleanValue() const override { return boolean; }
};

inline FakeValue fakeText(std::string text) {
  FakeValue value;
  value.text = std::move(text);
  return value;
}

inline FakeValue fakeDate(Date date) {
  FakeValue value;
  value.date = date;
  return value;
}

inline FakeValue fakeList(std::vector<FakeValue> items) {
  FakeValue value;
  value.items = std::move(items);
  return value;
}

inline FakeValue fakeAbsent() {
  FakeValue value;
  value.absent = true;
  return value;
}

// An empty directory of the running test's own (per process and test name), removed with all
// it holds when it goes. Its path is canonical, as the tool reports a working directory:
// macOS's temporary directory lies behind a symbolic link (/var is /private/var).
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
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

// The bytes of a file, none when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// How many entries a directory holds: what a write left behind.
inline std::ptrdiff_t fileCount(const std::filesystem::path& dir) {
  return std::distance(std::filesystem::directory_iterator(dir), {});
}

}  // namespace sheafwright
