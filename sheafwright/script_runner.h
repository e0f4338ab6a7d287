// The operations the notes reader needs of whatever runs its script: on macOS the AppleScript
// runtime, elsewhere a stand-in serving a library file. Adapters only translate.
#pragma once

#include "sheafwright/date.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

// One value of the script's reply: a list, a text, a date, or something else.
class ScriptDescriptor {
 public:
  virtual ~ScriptDescriptor() = default;
  // 0 or less for an empty list or a value that is not a list.
  virtual std::int64_t numberOfItems() const = 0;
  // The item at a 1-based index, or null.
  virtual std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const = 0;
  virtual std::optional<std::string> stringValue() const = 0;
  virtual std::optional<Date> dateValue() const = 0;
};

// What a failed run hands back.
class ScriptErrorRecord {
 public:
  virtual ~ScriptErrorRecord() = default;
  // The record's NSAppleScriptErrorMessage entry when it is present and a string.
  virtual std::optional<std::string> message() const = 0;
  // The text of the whole record.
  virtual std::string description() const = 0;
};

// The outcome of one run: an error record when it failed, otherwise the reply.
struct ScriptOutcome {
  std::unique_ptr<ScriptDescriptor> reply;
  std::unique_ptr<ScriptErrorRecord> error;
};

class Script {
 public:
  virtual ~Script() = default;
  virtual ScriptOutcome execute() = 0;
};

class ScriptRunner {
 public:
  virtual ~ScriptRunner() = default;
  // A script object from source text, or null when none can be made.
  virtual std::unique_ptr<Script> makeScript(std::string_view source) = 0;
};

// The runner of this platform.
std::unique_ptr<ScriptRunner> makePlatformScriptRunner();

}  // namespace sheafwright
