// The texts tests compare and read back: a UUID's 36 characters, both ways, and an instant in
// RFC 3339. The tool only writes them, inside the import file.
#pragma once

#include "sheafwright/date.h"
#include "sheafwright/uuid.h"

#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

// 36 characters, lower-case hexadecimal, as the import file writes them.
std::string uuidText(const Uuid& id);

// Reads the 8-4-4-4-12 hexadecimal form, in either letter case.
std::optional<Uuid> parseUuid(std::string_view text);

// RFC 3339 in UTC with whole seconds and the letter Z ("2024-03-12T08:30:00Z"), as the import
// file writes instants.
std::string formatInternetDate(Date date);

}  // namespace sheafwright
