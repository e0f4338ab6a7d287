// The stand-in script runner: a JSON library file, or the embedded sample, plays Notes' replies.
#pragma once

#include "sheafwright/script_runner.h"

#include <memory>
#include <string>
#include <string_view>

namespace sheafwright {

// Serves the library file at `path` (read when the script runs).
std::unique_ptr<ScriptRunner> makeLibraryFileScriptRunner(std::string path);
// Serves a library given as JSON text; `source` names it in messages.
std::unique_ptr<ScriptRunner> makeLibraryTextScriptRunner(std::string text, std::string source);
// Serves the file named by SHEAFWRIGHT_NOTES_LIBRARY; null when that is unset or empty, where
// the platform's own runner takes over (the sample library, or Notes itself on macOS).
std::unique_ptr<ScriptRunner> makeLibraryScriptRunnerFromEnvironment();

// The reply that the library file at `path` plays (see library_reply.h), or the error record of
// one that cannot be read.
ScriptOutcome libraryFileReply(const std::string& path);

// The embedded sample library, a JSON text.
std::string_view sampleLibraryJson();

}  // namespace sheafwright
