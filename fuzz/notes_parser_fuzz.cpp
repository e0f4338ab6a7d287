// Fuzz target of the note parser: entries in key order, headers and names read without fault.
#include "fuzz/fuzz_check.h"
#include "sheafwright/calendar.h"
#include "sheafwright/date_header.h"
#include "sheafwright/notes_parser.h"
#include "sheafwright/unicode_text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using sheafwright::NotesParser;
  const std::string text =
      sheafwright::text::repairUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  static const sheafwright::Calendar saoPaulo("America/Sao_Paulo");
  static const NotesParser parser{std::nullopt, sheafwright::Date{std::chrono::hours(24 * 19000)},
                                  sheafwright::Date{std::chrono::hours(24 * 19500)}, saoPaulo};
  const sheafwright::ParseResult result = parser.parse(text);
  for (std::size_t i = 0; i < result.entries.size(); ++i) {
    const sheafwright::ParsedEntry& entry = result.entries[i];
    FUZZ_CHECK(!entry.text.empty());
    FUZZ_CHECK(!entry.order.empty());
    FUZZ_CHECK(i == 0 || result.entries[i - 1].order < entry.order);
    FUZZ_CHECK(!entry.topic || !entry.topic->empty());
  }
  FUZZ_CHECK(result.topicCount >= 0 && result.dateCount >= 0);

  const std::string_view firstLine = std::string_view(text).substr(0, text.find('\n'));
  (void)sheafwright::parseDateHeader(firstLine, 2024, parser.modificationDate, parser.calendar);
  if (const auto year = sheafwright::yearInName(text)) {
    FUZZ_CHECK(*year >= 1900 && *year <= 2099);
  }
  if (const auto month = sheafwright::monthNumber(firstLine)) {
    FUZZ_CHECK(*month >= 1 && *month <= 12);
  }
  return 0;
}
