// The script runner on macOS: Notes itself, unless a library file is named (the command-line
// suite, the benchmarks and the fuzz corpora run on the stand-in there too).
#include "sheafwright/platform/apple_runner.h"
#include "sheafwright/standin/standin_runner.h"

namespace sheafwright {

std::unique_ptr<ScriptRunner> makePlatformScriptRunner() {
  if (auto runner = makeLibraryScriptRunnerFromEnvironment()) {
    return runner;
  }
  return apple::makeAppleScriptRunner();
}

}  // namespace sheafwright
