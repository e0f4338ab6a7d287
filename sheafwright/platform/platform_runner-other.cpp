// The script runner off macOS: the library file named by the environment, else the sample.
#include "sheafwright/standin/standin_runner.h"

namespace sheafwright {

std::unique_ptr<ScriptRunner> makePlatformScriptRunner() {
  if (auto runner = makeLibraryScriptRunnerFromEnvironment()) {
    return runner;
  }
  return makeLibraryTextScriptRunner(std::string(sampleLibraryJson()), "(sample)");
}

}  // namespace sheafwright
