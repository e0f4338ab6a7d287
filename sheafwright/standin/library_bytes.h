// A library file's bytes, followed by the zeroed padding that its JSON parser may read past
// their end.
#pragma once

#include "sheafwright/or_failure.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace sheafwright::standin {

// Zero bytes after the text; at least what simdjson reads ahead (checked where it is used).
inline constexpr std::size_t kLibraryPadding = 64;

class LibraryBytes {
 public:
  LibraryBytes() = default;
  // A copy of `text`.
  explicit LibraryBytes(std::string_view text);
  LibraryBytes(LibraryBytes&& other) noexcept { *this = std::move(other); }
  LibraryBytes& operator=(LibraryBytes&& other) noexcept;

  std::string_view view() const { return {data_, size_}; }

 private:
  friend OrFailure<LibraryBytes> readLibraryFile(const std::string& path);

  std::unique_ptr<char[]> copy_;
  const char* data_ = "";
  std::size_t size_ = 0;
};

// A library file's bytes, read whole into memory, or why they cannot be: it is no regular file
// (a device such as /dev/zero would be read without end), it is larger than memory can hold,
// or it changed while it was read. Read rather than mapped, so that a file that shrinks later
// cannot take away pages the reply still points into.
OrFailure<LibraryBytes> readLibraryFile(const std::string& path);

}  // namespace sheafwright::standin
