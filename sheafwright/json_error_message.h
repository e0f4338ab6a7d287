// nlohmann's exception text without its prefix, for messages a user reads.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace sheafwright {

// nlohmann prefixes its messages with "[json.exception.<kind>.<id>] "; the user needs the rest.
inline std::string jsonErrorMessage(const std::exception& error) {
  const std::string_view what = error.what();
  const auto end = what.find("] ");
  return std::string(end == std::string_view::npos ? what : what.substr(end + 2));
}

}  // namespace sheafwright
