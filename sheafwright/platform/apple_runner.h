// The macOS adapter's translations from Foundation's objects, open to its own tests: a reply
// descriptor as the reader sees it, and a call's outcome from what executeAppleEvent:error:
// handed back. Objective-C++ only; nothing else includes it.
#pragma once

#ifndef __OBJC__
#error "apple_runner.h is for Objective-C++ files"
#endif

#include "sheafwright/script_runner.h"

#include <memory>

#import <Foundation/Foundation.h>

namespace sheafwright::apple {

// A four-character code as the Apple Event Manager packs it, without multi-character literals.
constexpr FourCharCode fourCharCode(const char (&code)[5]) {
  return (FourCharCode{static_cast<unsigned char>(code[0])} << 24) |
         (FourCharCode{static_cast<unsigned char>(code[1])} << 16) |
         (FourCharCode{static_cast<unsigned char>(code[2])} << 8) |
         FourCharCode{static_cast<unsigned char>(code[3])};
}

// AppleScript's `missing value` travels as a typeType descriptor holding this code
// (cMissingValue, declared in OpenScripting's ASRegistry.h, which Foundation does not import).
inline constexpr DescType kMissingValue = fourCharCode("msng");

// A list has items and nothing else; a record has no items (as in the stand-in); typeNull and
// `missing value`, and any other type or constant, have neither a text nor a date value.
std::unique_ptr<ScriptDescriptor> wrapDescriptor(NSAppleEventDescriptor* descriptor);

// An error record with at least one entry is a failure; so is a nil reply without one.
ScriptOutcome outcomeOf(NSAppleEventDescriptor* reply, NSDictionary<NSString*, id>* error);

// NSAppleScript itself, whatever the environment says.
std::unique_ptr<ScriptRunner> makeAppleScriptRunner();

}  // namespace sheafwright::apple
