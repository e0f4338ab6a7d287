// Generated library files run through the whole export, and what must hold of every export,
// checked on the written file as any reader of JSON sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sheafwright::wholeexport {

// The bytes that steer the generator: fuzz input, or a seeded generator's output. Once they
// run out every choice is the first one, so every input makes a library.
class ByteSource {
 public:
  ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  // A number below `bound` (at least 1).
  std::size_t below(std::size_t bound);
  bool chance(std::size_t inEight) { return below(8) < inEight; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

struct Limits {
  std::size_t maxElements = 12;
  std::size_t maxLines = 12;  // lines under a date header in a predictable note
  // Extra notes: one with thousands of entries and a body over a megabyte, one whose single
  // entry is over a megabyte. Only a few ctest cases pay for them.
  bool huge = false;
};

struct Outcome {
  std::string failure;  // empty when every check held
  std::string library;  // the JSON text run, to reproduce a failure
  std::vector<std::string> arguments;
  std::string zone;
};

// Generates one library from `bytes`, exports it in-process into `dir` and checks the file
// and the printed lines.
Outcome checkWholeExport(ByteSource& bytes, const Limits& limits, const std::filesystem::path& dir);

// The outcome as text to reproduce it: the failure, zone, arguments and the library.
std::string describe(const Outcome& outcome);

}  // namespace sheafwright::wholeexport
