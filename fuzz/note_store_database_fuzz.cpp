// Fuzz bytes as a whole Notes database file: the export either succeeds with a readable file or
// ends with one line and status 1; it never crashes or hangs. Seeds are small databases of each
// layout written by the test writer.
#include "fuzz/fuzz_check.h"
#include "sheafwright/driver.h"
#include "sheafwright/standin/standin_runner.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path database = fuzzWorkDirectory("note-store") / "NoteStore.sqlite";
  const std::filesystem::path output = fuzzWorkDirectory("note-store") / "export.json";
  std::filesystem::remove(output);
  std::ofstream(database, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  const auto runner = sheafwright::makeLibraryTextScriptRunner("[]", "unused");
  std::ostringstream out;
  std::ostringstream err;
  const int status = sheafwright::run(
      {"sheafwright", "--database-file", database.string(), "--out", output.string()},
      {.runner = *runner, .out = out, .err = err});
  FUZZ_CHECK(status == 0 || status == 1);
  if (status == 0) {
    std::ifstream in(output, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), {}};
    FUZZ_CHECK(nlohmann::json::accept(written));
    FUZZ_CHECK(err.str().empty());
  } else {
    // One line, and no file.
    const std::string message = err.str();
    FUZZ_CHECK(!message.empty() && message.find('\n') == message.size() - 1);
    FUZZ_CHECK(!std::filesystem::exists(output));
  }
  return 0;
}
