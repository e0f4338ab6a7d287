// The stand-in's script: the handlers of the notes script, played over a library's reply.
#pragma once

#include "sheafwright/script_runner.h"

#include <functional>
#include <memory>

namespace sheafwright::standin {

// A script whose handlers "folderNames", "folderNotes" and "noteCount" answer from the reply
// `serveLibrary` gives, asked for anew at each "folderNames".
std::unique_ptr<Script> makeLibraryScript(std::function<ScriptOutcome()> serveLibrary);

}  // namespace sheafwright::standin
