// The conversion of a note's HTML body to the plain text lines the note parser reads.
#pragma once

#include <string>
#include <string_view>

namespace sheafwright {

// Turns a note's HTML body into plain text lines. A character scanner, not an HTML parser: it
// knows a fixed set of tags, ignores attributes and nesting errors, and never fails.
struct NotesHTMLConverter {
  NotesHTMLConverter() = delete;

  // One output line per block; list items as two spaces per level, a bullet glyph and a space.
  static std::string plainText(std::string_view html);

  // The seven named entities (and the four that Notes writes without their semicolon), then
  // decimal numeric entities, searched again from the start after each replacement.
  static std::string decodeEntities(std::string_view text);
};

}  // namespace sheafwright
