// Generated library files for the whole-export check, each with a model of what its elements
// are and, for the notes whose entries are predictable, of the entries the export must hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
  // entry is over a megabyte. Only the large rounds pay for them.
  bool huge = false;
};

// Seconds since the epoch.
using Seconds = std::int64_t;

struct Expected {
  std::string text;
  Seconds entryDate;
};

// What the generator knows of one element of the library.
struct Element {
  bool isNote = false;
  std::optional<std::string> folder;  // the first value's text
  std::string name;
  std::optional<Seconds> created;  // absent when the value is no readable date
  // Known for predictable notes: their entries, and their date headers (they have no topics).
  std::optional<std::vector<Expected>> entries;
  std::size_t dateHeaders = 0;
};

struct GeneratedLibrary {
  std::string zone;  // the run's time zone
  std::string json;  // the library file's text
  std::vector<Element> elements;
  std::optional<std::string> filter;  // the --folder value, if any
  Seconds now;                        // the run's current time, whole seconds
};

// A library steered by `bytes`, in a zone whose midnights no transition moves.
GeneratedLibrary generateLibrary(ByteSource& bytes, const Limits& limits);

// An instant as the import file writes it ("2024-03-12T08:30:00Z").
std::string utcText(Seconds at);

// A text as a JSON string.
std::string jsonText(std::string_view text);

}  // namespace sheafwright::wholeexport
