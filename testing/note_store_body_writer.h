// Test support: writes a note's body both as Notes stores it in its database and as the HTML
// Notes hands to a script, independently of the product's reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheafwright::notestore {

struct TestParagraph {
  std::string text;            // UTF-8, no line feed; may hold U+FFFC for an attachment
  std::optional<int> style{};  // 0 title, 1 heading, 2 subheading, 4 monospaced, 100 dotted,
                               // 101 dashed, 102 numbered, 103 checklist; none: body text
  int indent = 0;
};

// The gzipped protobuf Notes stores for a note of these paragraphs.
std::string encodeNoteStoreBody(const std::vector<TestParagraph>& paragraphs);

// The HTML a script gets from Notes for the same note (written independently of the product).
std::string notesHtml(const std::vector<TestParagraph>& paragraphs);

// The pieces, for stored data built by hand: one gzip member of `data`, a protobuf varint, and
// a length-delimited field.
std::string gzip(std::string_view data);
std::string varint(std::uint64_t value);
std::string bytesField(int number, std::string_view bytes);

}  // namespace sheafwright::notestore
