// The operations the notes reader needs of whatever runs its script: on macOS the AppleScript
// runtime, elsewhere a stand-in serving a library file. Adapters only translate.
#pragma once

#include "sheafwright/date.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sheafwright {

// One value of the script's reply: a list, a text, a date, or something else. An item of the
// stand-in's reply refers into that reply and must not outlive it; the Apple adapter's items
// own their values.
class ScriptDescriptor {
 public:
  virtual ~ScriptDescriptor() = default;
  // 0 or less for an empty list or a value that is not a list.
  virtual std::int64_t numberOfItems() const = 0;
  // The item at a 1-based index, or null.
  virtual std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const = 0;
  virtual std::optional<std::string> stringValue() const = 0;
  virtual std::optional<Date> dateValue() const = 0;
  // The value of a boolean; none for anything else.
  virtual std::optional<bool> booleanValue() const { return std::nullopt; }
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

// The outcome of one run: an error record when it failed (and no reply), otherwise the reply,
// null when the run answered no value. Runners report every failed run this way, never by
// throwing.
struct ScriptOutcome {
  std::unique_ptr<ScriptDescriptor> reply;
  std::unique_ptr<ScriptErrorRecord> error;
};

// A compiled script whose handlers are called one at a time; its properties keep their values
// from one call to the next, so a later call can use what an earlier one found.
class Script {
 public:
  virtual ~Script() = default;
  // Calls the handler named `handler` (as written in the script) with integer arguments.
  virtual ScriptOutcome call(std::string_view handler, std::span<const std::int64_t> arguments) = 0;
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
