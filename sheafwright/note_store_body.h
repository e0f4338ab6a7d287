// A note's body as Notes keeps it in its own database, turned into the HTML Notes hands to a
// script for the same note, so that both sources go through the same converter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

// The HTML body Notes hands to a script for a note whose stored data (ZICNOTEDATA.ZDATA) is
// `data` (gzip of a protobuf); none when the data cannot be read as a note body.
std::optional<std::string> noteStoreBodyHtml(std::string_view data);

}  // namespace sheafwright
