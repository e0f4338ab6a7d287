// Library files the fast reading refuses, read again by nlohmann, whose messages say where a
// broken file breaks; and the stand-in's error records.
#pragma once

#include "sheafwright/or_failure.h"
#include "sheafwright/script_runner.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace sheafwright::standin {

// The error record of a failed run whose message is `message` (made UTF-8).
ScriptOutcome libraryFailure(std::string_view message);

// A library the fast reading can take: the text, and whether its value was wrapped in a list
// of one item (1) or is the list itself (0). The reply is node 0 or 1 accordingly.
struct RewrittenLibrary {
  std::string text;
  int wrappingLevels = 0;
};

// A library text the fast reading refused, read by nlohmann: rewritten for the fast reading,
// or the outcome to serve as it is (the message of a broken file, or the file's own error
// record). `source` names the file in messages.
OrFailure<RewrittenLibrary, ScriptOutcome> readRefused(std::string_view text,
                                                       const std::string& source);

}  // namespace sheafwright::standin
