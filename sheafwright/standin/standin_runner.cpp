// The stand-in script runner: plays the Notes application's replies from a JSON library file,
// or from the embedded sample, each time the script asks for its folders.
#include "sheafwright/standin/standin_runner.h"

#include "sheafwright/standin/library_bytes.h"
#include "sheafwright/standin/library_reply.h"
#include "sheafwright/standin/library_script.h"
#include "sheafwright/standin/refused_library.h"

#include <cstdlib>
#include <functional>
#include <new>
#include <utility>
#include <variant>

namespace sheafwright {

namespace {

// The stand-in ignores the script's text: it plays the replies that Notes would give.
class LibraryRunner : public ScriptRunner {
 public:
  explicit LibraryRunner(std::function<ScriptOutcome()> serveLibrary)
      : serveLibrary_(std::move(serveLibrary)) {}
  std::unique_ptr<Script> makeScript(std::string_view) override {
    return standin::makeLibraryScript(serveLibrary_);
  }

 private:
  std::function<ScriptOutcome()> serveLibrary_;
};

}  // namespace

ScriptOutcome libraryFileReply(const std::string& path) {
  auto bytes = standin::readLibraryFile(path);
  if (auto* reason = std::get_if<std::string>(&bytes)) {
    return standin::libraryFailure("cannot read Notes library " + path + ": " + *reason);
  }
  const std::size_t size = std::get<standin::LibraryBytes>(bytes).view().size();
  try {
    return standin::libraryReply(std::move(std::get<standin::LibraryBytes>(bytes)), path);
  } catch (const std::bad_alloc&) {
    // The file is read, but what it holds does not fit: still a library too large, not a
    // failure of the export's own.
    return standin::libraryFailure("cannot read Notes library " + path +
                                   ": too large for this machine's memory (" +
                                   std::to_string(size) + " bytes)");
  }
}

std::unique_ptr<ScriptRunner> makeLibraryFileScriptRunner(std::string path) {
  return std::make_unique<LibraryRunner>(
      [path = std::move(path)] { return libraryFileReply(path); });
}

std::unique_ptr<ScriptRunner> makeLibraryScriptRunnerFromEnvironment() {
  const char* path = std::getenv("SHEAFWRIGHT_NOTES_LIBRARY");
  if (path == nullptr || *path == '\0') {
    return nullptr;
  }
  return makeLibraryFileScriptRunner(path);
}

std::unique_ptr<ScriptRunner> makeLibraryTextScriptRunner(std::string text, std::string source) {
  return std::make_unique<LibraryRunner>([text = std::move(text), source = std::move(source)] {
    return standin::libraryReply(standin::LibraryBytes(text), source);
  });
}

}  // namespace sheafwright
