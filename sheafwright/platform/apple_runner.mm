// The Apple adapter: NSAppleScript, compiled once and its handlers called in-process on the
// calling (main) thread. It only translates between Foundation's objects and the runner
// interface; the reading logic is the shared NotesReader. Built with ARC. Foundation hands out
// copies (each element of a reply is a copy of a whole note), so every call drains its own
// autorelease pool and nothing piles up until exit.
#include "sheafwright/platform/apple_runner.h"

#include "sheafwright/ascii.h"
#include "sheafwright/unicode_text.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace sheafwright {
namespace apple {
namespace {

// NSString to UTF-8 at once, a slice at a time, so that a long body is not held twice more.
// An unpaired surrogate has no UTF-8 form (UTF8String gives NULL): it becomes U+FFFD.
std::string utf8(NSString* string) {
  constexpr NSUInteger kSlice = 4096;
  unichar units[kSlice];
  char16_t slice[kSlice];
  std::string out;
  const NSUInteger length = string.length;
  out.reserve(length);
  for (NSUInteger start = 0; start < length;) {
    NSUInteger count = std::min(kSlice, length - start);
    [string getCharacters:units range:NSMakeRange(start, count)];
    // A slice never ends between the two halves of a surrogate pair.
    if (count > 1 && start + count < length && (units[count - 1] & 0xFC00) == 0xD800) {
      --count;
    }
    for (NSUInteger i = 0; i < count; ++i) {
      slice[i] = static_cast<char16_t>(units[i]);
    }
    text::appendUtf16(out, std::u16string_view(slice, count));
    start += count;
  }
  return out;
}

// Seconds since 1970 as a double; whole microseconds keep the fraction of a second.
std::optional<Date> toDate(NSDate* date) {
  const double seconds = date.timeIntervalSince1970;
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13) {
    return std::nullopt;
  }
  return Date{std::chrono::microseconds{std::llround(seconds * 1e6)}};
}

class AppleDescriptor : public ScriptDescriptor {
 public:
  explicit AppleDescriptor(NSAppleEventDescriptor* descriptor) : descriptor_(descriptor) {
    const DescType type = descriptor.descriptorType;
    if (type == typeAEList) {
      kind_ = Kind::kList;
      count_ = static_cast<std::int64_t>(descriptor.numberOfItems);
    } else if (type == typeType || type == typeEnumerated || type == typeNull ||
               type == kMissingValue) {
      // `missing value` is typeType holding 'msng'. The default coercions would turn it, or
      // any type or constant, into its four-character code: never text of a note.
      kind_ = Kind::kNoValue;
    } else if (type == typeAERecord || descriptor.isRecordDescriptor) {
      kind_ = Kind::kRecord;
    }
  }

  std::int64_t numberOfItems() const override { return count_; }

  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    if (index < 1 || index > count_) {
      return nullptr;
    }
    @autoreleasepool {
      NSAppleEventDescriptor* element =
          [descriptor_ descriptorAtIndex:static_cast<NSInteger>(index)];
      if (element == nil) {
        return nullptr;
      }
      return std::make_unique<AppleDescriptor>(element);
    }
  }

  std::optional<std::string> stringValue() const override {
    if (kind_ != Kind::kValue) {
      return std::nullopt;
    }
    @autoreleasepool {
      NSString* text = descriptor_.stringValue;
      if (text == nil) {
        return std::nullopt;
      }
      return utf8(text);
    }
  }

  std::optional<Date> dateValue() const override {
    if (kind_ != Kind::kValue) {
      return std::nullopt;
    }
    @autoreleasepool {
      NSDate* date = descriptor_.dateValue;
      if (date == nil) {
        return std::nullopt;
      }
      return toDate(date);
    }
  }

  // AppleScript's true and false travel as typeTrue and typeFalse (no data) or as typeBoolean
  // (one byte); only these are booleans, though numbers and text would coerce to one.
  std::optional<bool> booleanValue() const override {
    const DescType type = descriptor_.descriptorType;
    if (type == typeTrue || type == typeFalse) {
      return type == typeTrue;
    }
    if (type != typeBoolean) {
      return std::nullopt;
    }
    return descriptor_.booleanValue != 0;
  }

 private:
  enum class Kind { kValue, kList, kRecord, kNoValue };

  NSAppleEventDescriptor* descriptor_;  // strong
  Kind kind_ = Kind::kValue;
  std::int64_t count_ = 0;  // items of a list; 0 for anything else
};

class AppleErrorRecord : public ScriptErrorRecord {
 public:
  explicit AppleErrorRecord(NSDictionary<NSString*, id>* record) : record_(record) {}

  std::optional<std::string> message() const override {
    @autoreleasepool {
      id entry = record_[NSAppleScriptErrorMessage];
      if (![entry isKindOfClass:[NSString class]]) {
        return std::nullopt;
      }
      return utf8(static_cast<NSString*>(entry));
    }
  }

  // The dictionary's description on one line: it is written across several, indented.
  std::string description() const override {
    std::string text;
    @autoreleasepool {
      text = utf8(record_.description);
    }
    std::string line;
    bool breakPending = false;
    for (const char c : text) {
      if (c == '\n' || c == '\r') {
        breakPending = true;
      } else if (breakPending && (c == ' ' || c == '\t')) {
        continue;
      } else {
        if (breakPending) {
          line += ' ';
          breakPending = false;
        }
        line += c;
      }
    }
    return line;
  }

 private:
  NSDictionary<NSString*, id>* record_;  // strong
};

// A failure that Foundation reported without a word.
class PlainErrorRecord : public ScriptErrorRecord {
 public:
  explicit PlainErrorRecord(std::string text) : text_(std::move(text)) {}
  std::optional<std::string> message() const override { return text_; }
  std::string description() const override { return text_; }

 private:
  std::string text_;
};

// A call of a script's handler is a subroutine event (OpenScripting's kASAppleScriptSuite,
// kASSubroutineEvent and keyASSubroutineName; Foundation imports the Apple Event Manager's
// headers but not OpenScripting's).
constexpr AEEventClass kSubroutineSuite = fourCharCode("ascr");
constexpr AEEventID kSubroutineEvent = fourCharCode("psbr");
constexpr AEKeyword kSubroutineName = fourCharCode("snam");

// AppleScript keeps a handler's name in lower case and matches the event's name as it is.
std::string lowerCase(std::string_view name) {
  std::string lowered(name);
  for (char& c : lowered) {
    c = ascii::toLower(c);
  }
  return lowered;
}

NSAppleEventDescriptor* integerDescriptor(std::int64_t value) {
  if (value >= std::numeric_limits<std::int32_t>::min() &&
      value <= std::numeric_limits<std::int32_t>::max()) {
    return [NSAppleEventDescriptor descriptorWithInt32:static_cast<SInt32>(value)];
  }
  return [NSAppleEventDescriptor descriptorWithDescriptorType:typeSInt64
                                                        bytes:&value
                                                       length:sizeof value];
}

// The event that calls `handler` with positional arguments, or nil. Its target is this process:
// the event never leaves it, executeAppleEvent:error: hands it to the script.
NSAppleEventDescriptor* subroutineEvent(std::string_view handler,
                                        std::span<const std::int64_t> arguments) {
  const std::string lowered = lowerCase(handler);
  NSString* name = [[NSString alloc] initWithBytes:lowered.data()
                                            length:lowered.size()
                                          encoding:NSUTF8StringEncoding];
  if (name == nil) {
    return nil;
  }
  NSAppleEventDescriptor* list = [NSAppleEventDescriptor listDescriptor];
  NSInteger index = 0;
  for (const std::int64_t argument : arguments) {
    NSAppleEventDescriptor* item = integerDescriptor(argument);
    if (item == nil) {
      return nil;
    }
    [list insertDescriptor:item atIndex:++index];
  }
  NSAppleEventDescriptor* event = [NSAppleEventDescriptor
      appleEventWithEventClass:kSubroutineSuite
                       eventID:kSubroutineEvent
              targetDescriptor:[NSAppleEventDescriptor currentProcessDescriptor]
                      returnID:kAutoGenerateReturnID
                 transactionID:kAnyTransactionID];
  [event setParamDescriptor:[NSAppleEventDescriptor descriptorWithString:name]
                 forKeyword:kSubroutineName];
  [event setParamDescriptor:list forKeyword:keyDirectObject];
  return event;
}

// A compiled script. It lives as long as the session: its properties hold what one handler
// leaves for the next (the folders found), and the script lets go of each folder's notes itself.
class AppleScript : public Script {
 public:
  explicit AppleScript(NSAppleScript* script) : script_(script) {}

  ScriptOutcome call(std::string_view handler, std::span<const std::int64_t> arguments) override {
    @autoreleasepool {
      NSAppleEventDescriptor* event = subroutineEvent(handler, arguments);
      if (event == nil) {
        return {nullptr, std::make_unique<PlainErrorRecord>(
                             "the call of handler " + std::string(handler) + " could not be made")};
      }
      NSDictionary<NSString*, id>* error = nil;
      NSAppleEventDescriptor* reply = [script_ executeAppleEvent:event error:&error];
      return outcomeOf(reply, error);
    }
  }

 private:
  NSAppleScript* script_;  // strong
};

class AppleScriptRunner : public ScriptRunner {
 public:
  // Null when the text does not compile: the reader says so, and the script is fixed, so a
  // compile error is the build's fault, caught by osacompile on CI.
  std::unique_ptr<Script> makeScript(std::string_view source) override {
    @autoreleasepool {
      NSString* text = [[NSString alloc] initWithBytes:source.data()
                                                length:source.size()
                                              encoding:NSUTF8StringEncoding];
      if (text == nil) {
        return nullptr;
      }
      NSAppleScript* script = [[NSAppleScript alloc] initWithSource:text];
      NSDictionary<NSString*, id>* error = nil;
      if (script == nil || ![script compileAndReturnError:&error]) {
        return nullptr;
      }
      return std::make_unique<AppleScript>(script);
    }
  }
};

}  // namespace

std::unique_ptr<ScriptDescriptor> wrapDescriptor(NSAppleEventDescriptor* descriptor) {
  return std::make_unique<AppleDescriptor>(descriptor);
}

ScriptOutcome outcomeOf(NSAppleEventDescriptor* reply, NSDictionary<NSString*, id>* error) {
  // executeAppleEvent:error: signals failure by returning nil; its error record may then be
  // empty, or missing altogether.
  if (error != nil && error.count > 0) {
    return {nullptr, std::make_unique<AppleErrorRecord>(error)};
  }
  if (reply == nil) {
    return {nullptr, std::make_unique<PlainErrorRecord>(
                         "the script ended without a reply and without an error message")};
  }
  return {wrapDescriptor(reply), nullptr};
}

std::unique_ptr<ScriptRunner> makeAppleScriptRunner() {
  return std::make_unique<AppleScriptRunner>();
}

}  // namespace apple

}  // namespace sheafwright
