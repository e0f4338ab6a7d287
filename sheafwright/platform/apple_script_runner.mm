// The script runner of macOS: NSAppleScript, run in-process on the calling (main) thread, or the
// stand-in when SHEAFWRIGHT_NOTES_LIBRARY names a library file. It only translates between
// Foundation's objects and the runner interface; the reading logic is the shared NotesReader.
// Built with ARC. Foundation hands out copies (each element of a reply is a copy of a whole
// note), so every call drains its own autorelease pool and nothing piles up until exit.
#include "sheafwright/platform/apple_descriptors.h"
#include "sheafwright/platform/json_script_runner.h"
#include "sheafwright/unicode_text.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
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

class AppleScript : public Script {
 public:
  explicit AppleScript(NSAppleScript* script) : script_(script) {}

  ScriptOutcome execute() override {
    if (script_ == nil) {
      return {nullptr, std::make_unique<PlainErrorRecord>("the script has already run")};
    }
    @autoreleasepool {
      NSDictionary<NSString*, id>* error = nil;
      NSAppleEventDescriptor* reply = [script_ executeAndReturnError:&error];
      // The reply is a copy of the script's result; the script object holds AppleScript's own
      // values (the whole library once more) until it goes, so let it go now.
      script_ = nil;
      return outcomeOf(reply, error);
    }
  }

 private:
  NSAppleScript* script_;  // strong; nil once run
};

class AppleScriptRunner : public ScriptRunner {
 public:
  std::unique_ptr<Script> makeScript(std::string_view source) override {
    @autoreleasepool {
      NSString* text = [[NSString alloc] initWithBytes:source.data()
                                                length:source.size()
                                              encoding:NSUTF8StringEncoding];
      if (text == nil) {
        return nullptr;
      }
      NSAppleScript* script = [[NSAppleScript alloc] initWithSource:text];
      if (script == nil) {
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
  // executeAndReturnError: signals failure by returning nil; its error record may then be
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

// Notes itself, unless a library file is named (the command-line suite, benchmarks).
std::unique_ptr<ScriptRunner> makePlatformScriptRunner() {
  if (auto runner = makeLibraryScriptRunnerFromEnvironment()) {
    return runner;
  }
  return apple::makeAppleScriptRunner();
}

}  // namespace sheafwright
