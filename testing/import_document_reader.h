// Reading import documents and records back, for the tests and fuzz targets that check what
// the tool wrote; the tool itself only writes them.
#pragma once

#include "sheafwright/import_document.h"

#include <stdexcept>
#include <string_view>

namespace sheafwright {

struct DecodingError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads a document; throws DecodingError at the first missing key, wrong type or unreadable
// date or UUID.
ImportDocument decodeImportDocument(std::string_view json);

// Reads one record from a JSON object; throws DecodingError.
ImportRecord decodeImportRecord(std::string_view json);

}  // namespace sheafwright
