// A library file's bytes, followed by the zeroed padding that its JSON parser may read past
// their end: mapped from a regular file, or copied.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace sheafwright {

// Zero bytes after the text; at least what simdjson reads ahead (checked where it is used).
inline constexpr std::size_t kLibraryPadding = 64;

class LibraryBytes {
 public:
  LibraryBytes() = default;
  // A copy of `text`.
  explicit LibraryBytes(std::string_view text);
  LibraryBytes(LibraryBytes&& other) noexcept { *this = std::move(other); }
  LibraryBytes& operator=(LibraryBytes&& other) noexcept;
  ~LibraryBytes();

  // A regular file of `size` bytes mapped, not copied; absent when mapping fails.
  static std::optional<LibraryBytes> map(int fd, std::size_t size);

  std::string_view view() const { return {data_, size_}; }

 private:
  std::unique_ptr<char[]> copy_;
  void* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  const char* data_ = "";
  std::size_t size_ = 0;
};

// A library file's bytes: mapped when it is a regular file, read otherwise (a pipe); or why it
// cannot be read.
std::variant<LibraryBytes, std::string> readLibraryFile(const std::string& path);

}  // namespace sheafwright
