// Fuzz target of the HTML converter and the entity decoder: any text converts to valid text.
#include "sheafwright/html_converter.h"
#include "sheafwright/unicode_text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input =
      sheafwright::text::repairUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string text = sheafwright::NotesHTMLConverter::plainText(input);
  // Valid text in, valid text out, with no line break at either end. (Line feeds inside the
  // text of one block survive, so empty lines can stand inside.)
  FUZZ_CHECK(sheafwright::text::isValidUtf8(text));
  FUZZ_CHECK(text.empty() || (text.front() != '\n' && text.back() != '\n'));
  const std::string decoded = sheafwright::NotesHTMLConverter::decodeEntities(input);
  FUZZ_CHECK(sheafwright::text::isValidUtf8(decoded));
  // Decoding never lengthens the text.
  FUZZ_CHECK(decoded.size() <= input.size());
  return 0;
}
