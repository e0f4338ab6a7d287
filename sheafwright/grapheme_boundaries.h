// Extended grapheme cluster boundaries of UTF-8 text: a fast path for the common neighbourhoods,
// ICU's break iterator for the rest.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace sheafwright::text {

// Extended grapheme cluster boundaries of one UTF-8 text. Most neighbourhoods are answered
// from the characters on either side; the others by an ICU break iterator of the object's own,
// made on first need and kept across `reset`. The text must outlive its use. Not for
// concurrent use.
class GraphemeBoundaries {
 public:
  explicit GraphemeBoundaries(std::string_view text);
  ~GraphemeBoundaries();
  GraphemeBoundaries(const GraphemeBoundaries&) = delete;
  GraphemeBoundaries& operator=(const GraphemeBoundaries&) = delete;

  // Points the object at another text, keeping ICU's iterator if one was made.
  void reset(std::string_view text);

  // True when a cluster starts (or the text ends) at byte offset `pos`.
  bool isBoundary(std::size_t pos);
  // The byte offset where the cluster starting at the boundary `pos` ends.
  std::size_t next(std::size_t pos);
  // True when [pos, pos + length) is exactly one cluster.
  bool isWholeCharacter(std::size_t pos, std::size_t length);

 private:
  struct Impl;   // ICU's break iterator over the text
  Impl& impl();  // made on first need, and given the current text
  bool slowIsBoundary(std::size_t pos);
  std::size_t slowNext(std::size_t pos);

  std::string_view text_;
  std::unique_ptr<Impl> impl_;
  bool iteratorHasText_ = false;
};

}  // namespace sheafwright::text
