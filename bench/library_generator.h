// Generated diary libraries for the benchmarks: note bodies and whole library files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sheafwright::bench {

// The words a generated diary is written in: ASCII only, or mixed scripts.
enum class Alphabet { kAscii, kMixed };

struct LibraryShape {
  std::size_t htmlBytes;  // note HTML to produce, about
  Alphabet alphabet = Alphabet::kAscii;
  std::uint32_t seed = 1;
  bool withImages = true;  // now and then a note carries a pasted image as base64
};

// One diary-like note body of about `bytes` bytes: date headers of every form, plain lines,
// topics with nested items, deep items, entities.
std::string diaryBody(std::size_t bytes, Alphabet alphabet, std::uint32_t seed);

// A library file for the stand-in runner: notes in several folders.
struct GeneratedLibrary {
  std::string json;
  std::size_t htmlBytes = 0;
  std::size_t notes = 0;
};
GeneratedLibrary generateLibrary(const LibraryShape& shape);

}  // namespace sheafwright::bench
