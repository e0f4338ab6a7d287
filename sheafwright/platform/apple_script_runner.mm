// The script runner of macOS: NSAppleScript, run in-process on the calling (main) thread.
// It only translates between Foundation's objects and the runner interface; the reading
// logic is the shared NotesReader. Built with ARC.
#include "sheafwright/script_runner.h"

#include <cmath>
#include <memory>
#include <optional>
#include <string>

#import <Foundation/Foundation.h>

namespace sheafwright {
namespace {

// NSString to UTF-8 at once. A string holding an unpaired surrogate has no UTF-8 form
// (UTF8String gives NULL), so convert lossily rather than lose the whole text.
std::string utf8(NSString* text) {
  NSData* bytes = [text dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
  if (bytes == nil) {
    return {};
  }
  return std::string(static_cast<const char*>(bytes.bytes), bytes.length);
}

// Seconds since 1970 as a double; whole microseconds keep the fraction of a second.
Date toDate(NSDate* date) {
  const double seconds = date.timeIntervalSince1970;
  return Date{std::chrono::microseconds{std::llround(seconds * 1e6)}};
}

class AppleDescriptor : public ScriptDescriptor {
 public:
  explicit AppleDescriptor(NSAppleEventDescriptor* descriptor) : descriptor_(descriptor) {}

  std::int64_t numberOfItems() const override {
    return static_cast<std::int64_t>(descriptor_.numberOfItems);
  }

  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    if (index < 1 || index > static_cast<std::int64_t>(descriptor_.numberOfItems)) {
      return nullptr;
    }
    NSAppleEventDescriptor* element = [descriptor_ descriptorAtIndex:static_cast<NSInteger>(index)];
    if (element == nil) {
      return nullptr;
    }
    return std::make_unique<AppleDescriptor>(element);
  }

  std::optional<std::string> stringValue() const override {
    @autoreleasepool {
      NSString* text = descriptor_.stringValue;
      if (text == nil) {
        return std::nullopt;
      }
      return utf8(text);
    }
  }

  std::optional<Date> dateValue() const override {
    @autoreleasepool {
      NSDate* date = descriptor_.dateValue;
      if (date == nil) {
        return std::nullopt;
      }
      return toDate(date);
    }
  }

 private:
  NSAppleEventDescriptor* descriptor_;  // strong
};

class AppleErrorRecord : public ScriptErrorRecord {
 public:
  explicit AppleErrorRecord(NSDictionary<NSString*, id>* record) : record_(record) {}

  std::optional<std::string> message() const override {
    id message = record_[NSAppleScriptErrorMessage];
    if (![message isKindOfClass:[NSString class]]) {
      return std::nullopt;
    }
    return utf8(static_cast<NSString*>(message));
  }

  std::string description() const override {
    @autoreleasepool {
      return utf8(record_.description);
    }
  }

 private:
  NSDictionary<NSString*, id>* record_;  // strong
};

class AppleScript : public Script {
 public:
  explicit AppleScript(NSAppleScript* script) : script_(script) {}

  ScriptOutcome execute() override {
    @autoreleasepool {
      NSDictionary<NSString*, id>* error = nil;
      NSAppleEventDescriptor* reply = [script_ executeAndReturnError:&error];
      if (error != nil) {
        return {nullptr, std::make_unique<AppleErrorRecord>(error)};
      }
      if (reply == nil) {
        return {};
      }
      return {std::make_unique<AppleDescriptor>(reply), nullptr};
    }
  }

 private:
  NSAppleScript* script_;  // strong
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

std::unique_ptr<ScriptRunner> makePlatformScriptRunner() {
  return std::make_unique<AppleScriptRunner>();
}

}  // namespace sheafwright
