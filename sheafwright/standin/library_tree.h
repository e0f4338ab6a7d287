// A library file read into a flat list of nodes by simdjson, whose strings stay where they lie
// in the file's bytes.
#pragma once

#include "sheafwright/standin/library_bytes.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace sheafwright::standin {

// Deeper nesting is refused as a broken library, so nothing later recurses without bound.
inline constexpr int kMaxLibraryDepth = 512;

// The reply as the reader sees it: one node per JSON value in document order, an array's items
// following it. Strings are read in place in the library's bytes, or where simdjson unescapes
// them; object members are validated but kept only as far as a date needs them.
struct LibraryNode {
  enum class Kind : std::uint8_t { kArray, kString, kInteger, kDate, kTrue, kFalse, kOther };
  const char* data = nullptr;  // the text of strings, integers and dates
  std::uint32_t length = 0;    // bytes of that text, or an array's number of items
  std::uint32_t end = 0;       // for an array, the index one past its last item's nodes
  Kind kind = Kind::kOther;

  std::string_view text() const { return {data, length}; }
};

// A library as simdjson reads it: its bytes, the parser that holds unescaped strings, and the
// nodes.
class LibraryTree {
 public:
  explicit LibraryTree(LibraryBytes bytes);
  ~LibraryTree();
  LibraryTree(const LibraryTree&) = delete;
  LibraryTree& operator=(const LibraryTree&) = delete;

  // Reads the bytes into nodes; false when the fast reading leaves the library to the slow
  // path: anything but a list read whole, valid or not. `wrappingLevels`: lists put around the
  // library's own value, which do not count toward the nesting limit.
  bool parse(int wrappingLevels = 0);

  std::string_view text() const { return bytes_.view(); }
  const std::vector<LibraryNode>& nodes() const { return nodes_; }

 private:
  struct Parser;
  LibraryBytes bytes_;
  std::unique_ptr<Parser> parser_;
  std::vector<LibraryNode> nodes_;
};

}  // namespace sheafwright::standin
