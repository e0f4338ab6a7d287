// What a step returns when failing is part of its job: its value, or why it failed.
#pragma once

#include <string>
#include <variant>

namespace sheafwright {

// The value first, then the failure: the one-line message the user sees, unless a unit says
// otherwise (an errno value inside the atomic file, an exit status in the driver). Callers look
// with std::get_if on the failure.
template <class Value, class Failure = std::string>
using OrFailure = std::variant<Value, Failure>;

}  // namespace sheafwright
