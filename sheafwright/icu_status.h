// ICU's error codes read as a plain bool, for the units that call ICU.
#pragma once

#include <unicode/utypes.h>

namespace sheafwright {

inline bool succeeded(UErrorCode status) {
  return U_SUCCESS(status) != 0;
}

}  // namespace sheafwright
