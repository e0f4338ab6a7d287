#include "sheafwright/platform/json_script_runner.h"

#include <cstdlib>

namespace sheafwright {

// Off macOS the Notes application is played by a library file, or by the sample library.
std::unique_ptr<ScriptRunner> makePlatformScriptRunner() {
  const char* path = std::getenv("SHEAFWRIGHT_NOTES_LIBRARY");
  if (path == nullptr || *path == '\0') {
    return makeLibraryTextScriptRunner(std::string(sampleLibraryJson()), "(sample)");
  }
  return makeLibraryFileScriptRunner(path);
}

}  // namespace sheafwright
