// Small helpers shared by the test files.
#pragma once

#include "sheafwright/date.h"

namespace sheafwright {

// An instant written in RFC 3339 that the test knows to be valid.
inline Date at(const char* text) {
  return *parseInternetDate(text);
}

}  // namespace sheafwright
