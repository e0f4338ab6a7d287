#include "sheafwright/notes_reader.h"
#include "sheafwright/platform/json_script_runner.h"
#include "sheafwright/unicode_text.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"

// Arbitrary library files through the stand-in and the reader: notes or a reader error.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto runner = sheafwright::makeLibraryTextScriptRunner(
      std::string(reinterpret_cast<const char*>(data), size), "fuzz.json");
  try {
    const auto notes = sheafwright::NotesReader::readAll(*runner);
    for (const auto& note : notes) {
      FUZZ_CHECK(sheafwright::text::repairUtf8(note.html) == note.html);
    }
  } catch (const sheafwright::NotesReader::ReaderError& error) {
    const std::string description = error.description();
    FUZZ_CHECK(description.rfind("AppleScript failed: ", 0) == 0);
    FUZZ_CHECK(sheafwright::text::repairUtf8(description) == description);
  }
  return 0;
}
