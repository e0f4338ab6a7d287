// Arbitrary JSON through the import document's reading side, and back through its writer.
#include "fuzz/fuzz_check.h"
#include "sheafwright/import_encoder.h"
#include "testing/import_document_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// The bytes of a whole document; every value read from JSON can be written.
std::string encode(const sheafwright::ImportDocument& document) {
  std::string bytes;
  sheafwright::ImportEncoder encoder(document.exportedAt,
                                     [&bytes](std::string_view piece) { bytes.append(piece); });
  for (const auto& record : document.records) {
    encoder.add(record);
  }
  FUZZ_CHECK(!encoder.finish().has_value());
  return bytes;
}

}  // namespace

// Arbitrary JSON through the reading side; whatever reads back encodes and reads back equal,
// except that the writer knows only the current version.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using sheafwright::ImportDocument;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  try {
    const ImportDocument document = sheafwright::decodeImportDocument(input);
    const ImportDocument again = sheafwright::decodeImportDocument(encode(document));
    FUZZ_CHECK(again.version == sheafwright::ImportEncoder::currentVersion);
    FUZZ_CHECK(again.records.size() == document.records.size());
    for (std::size_t i = 0; i < document.records.size(); ++i) {
      // Dates are written in whole seconds; everything else comes back unchanged.
      auto expected = document.records[i];
      expected.entryDate = std::chrono::floor<std::chrono::seconds>(expected.entryDate);
      if (expected.createdAt) {
        expected.createdAt = std::chrono::floor<std::chrono::seconds>(*expected.createdAt);
      }
      FUZZ_CHECK(again.records[i] == expected);
    }
  } catch (const sheafwright::DecodingError&) {
  }
  try {
    (void)sheafwright::decodeImportRecord(input);
  } catch (const sheafwright::DecodingError&) {
  }
  return 0;
}
