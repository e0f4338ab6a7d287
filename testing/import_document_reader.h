// Import documents whole, and reading them and their records back, for the tests and fuzz
// targets that check what the tool wrote; the tool itself only writes them, a record at a time.
#pragma once

#include "sheafwright/import_encoder.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace sheafwright {

struct ImportDocument {
  std::int64_t version = ImportEncoder::currentVersion;
  Date exportedAt = currentDate();
  std::vector<ImportRecord> records;
};

struct DecodingError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads a document; throws DecodingError at the first missing key, wrong type or unreadable
// date or UUID.
ImportDocument decodeImportDocument(std::string_view json);

// Reads one record from a JSON object; throws DecodingError.
ImportRecord decodeImportRecord(std::string_view json);

}  // namespace sheafwright
