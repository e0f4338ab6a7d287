// The reply a library file plays: descriptors over the nodes of its parsed text.
#pragma once

#include "sheafwright/script_runner.h"
#include "sheafwright/standin/library_bytes.h"

#include <string>

namespace sheafwright::standin {

// The reply that a library plays, read by simdjson, or else as nlohmann rewrites it; or the
// error record of a broken one. `source` names it in messages.
ScriptOutcome libraryReply(LibraryBytes bytes, const std::string& source);

}  // namespace sheafwright::standin
