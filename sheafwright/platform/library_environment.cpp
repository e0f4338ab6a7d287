// Which library file the stand-in serves, on every platform: SHEAFWRIGHT_NOTES_LIBRARY.
#include "sheafwright/platform/json_script_runner.h"

#include <cstdlib>

namespace sheafwright {

std::unique_ptr<ScriptRunner> makeLibraryScriptRunnerFromEnvironment() {
  const char* path = std::getenv("SHEAFWRIGHT_NOTES_LIBRARY");
  if (path == nullptr || *path == '\0') {
    return nullptr;
  }
  return makeLibraryFileScriptRunner(path);
}

}  // namespace sheafwright
