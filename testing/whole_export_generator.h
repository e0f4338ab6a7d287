// Generated library files for the whole-export check, each with a model of what its elements
// are and, for the notes whose entries are predictable, of the entries the export must hold.
#pragma once

#include <array>
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
  bool isNote = false;                    // five values or more
  std::optional<std::string> folder;      // the first value's text ("" for a note without one)
  std::optional<std::string> firstValue;  // the first value's text, by which folders form
  std::optional<std::string> nameText;    // the second value's text
  std::size_t values = 0;                 // of an element that is no note; 0 for no list
  std::string_view unreadable;  // why a note is not read: its body, its lock; empty if read
  std::string name;
  std::optional<Seconds> created;  // absent when the value is no readable date
  // Known for predictable notes: their entries, and their date headers (they have no topics).
  std::optional<std::vector<Expected>> entries;
  std::size_t dateHeaders = 0;
};

// Notes' trash in three languages, as the README's rule has it: a folder of exactly such a name
// is read only with --include-deleted.
inline constexpr std::array<std::string_view, 3> kTrashNames = {
    "Recently Deleted", "Senast raderade", "Zuletzt gel\u00f6scht"};

struct GeneratedLibrary {
  std::string zone;  // the run's time zone
  std::string json;  // the library file's text
  std::vector<Element> elements;
  std::optional<std::string> filter;  // the --folder value, if any
  bool includeDeleted = false;        // --include-deleted
  Seconds now;                        // the run's current time, whole seconds
};

// A library steered by `bytes`, in a zone whose midnights no transition moves.
GeneratedLibrary generateLibrary(ByteSource& bytes, const Limits& limits);

// An instant as the import file writes it ("2024-03-12T08:30:00Z").
std::string utcText(Seconds at);

// A text as a JSON string.
std::string jsonText(std::string_view text);

}  // namespace sheafwright::wholeexport
