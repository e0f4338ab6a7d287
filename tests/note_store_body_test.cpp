// A note body stored in Notes' database must give, through the HTML converter, the lines the
// same note gives when Notes hands its HTML to a script.
#include "sheafwright/note_store_body.h"

#include "sheafwright/html_converter.h"
#include "testing/note_store_body_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

namespace sheafwright {
namespace {

using notestore::bytesField;
using notestore::gzip;
using notestore::TestParagraph;
using notestore::varint;

constexpr int kTitle = 0, kHeading = 1, kSubheading = 2, kMono = 4, kDotted = 100, kDashed = 101,
              kNumbered = 102, kChecklist = 103;

// The converter's lines for a note, expected from the paragraphs alone: attachments gone, ends
// trimmed (the texts here use only spaces, tabs and U+00A0 at their ends), empty lines dropped,
// list paragraphs at indent k indented as level k + 1.
std::string expectedLines(const std::vector<TestParagraph>& paragraphs) {
  std::string out;
  for (const TestParagraph& paragraph : paragraphs) {
    std::string text;
    for (std::size_t i = 0; i < paragraph.text.size(); ++i) {
      if (paragraph.text.compare(i, 3, "\xEF\xBF\xBC") == 0) {
        i += 2;
      } else {
        text += paragraph.text[i];
      }
    }
    for (bool trimmed = false; !trimmed;) {
      trimmed = true;
      for (const std::string_view space : {" ", "\t", "\u00A0"}) {
        if (text.starts_with(space)) {
          text.erase(0, space.size());
          trimmed = false;
        }
        if (text.ends_with(space)) {
          text.erase(text.size() - space.size());
          trimmed = false;
        }
      }
    }
    if (text.empty()) {
      continue;
    }
    const int style = paragraph.style.value_or(-1);
    if (style >= 100 && style <= 103) {
      const int level = paragraph.indent + 1;
      const char* glyph = level == 1 ? "\u2022" : level == 2 ? "\u25E6" : "\u25C6";
      text = std::string(2 * level, ' ') + glyph + " " + text;
    }
    out += (out.empty() ? "" : "\n") + text;
  }
  return out;
}

std::string linesOfStored(const std::vector<TestParagraph>& paragraphs) {
  const std::optional<std::string> html =
      noteStoreBodyHtml(notestore::encodeNoteStoreBody(paragraphs));
  return html ? NotesHTMLConverter::plainText(*html) : "(unreadable)";
}

TEST(NoteStoreBodyTest, StoredNotesGiveTheLinesOfTheirHtml) {
  struct Case {
    std::vector<TestParagraph> paragraphs;
    std::string lines;  // empty: as expectedLines says
  };
  const std::vector<Case> cases = {
      {{}, ""},
      {{{""}}, ""},
      {{{"Monday"}, {""}, {"Went out."}}, ""},
      {{{"Diary", kTitle}, {"2024", kHeading}, {"March", kSubheading}, {"x = 1;", kMono}}, ""},
      {{{"Monday"}, {"Eggs", kDotted}, {"Milk", kDotted}, {"2 litres", kDotted, 1}}, ""},
      // Every kind of list, changes of kind at one level, jumps in and out of deep levels.
      {{{"a", kDashed},
        {"b", kNumbered},
        {"c", kChecklist, 3},
        {"d", kNumbered, 1},
        {"e", kChecklist, 1},
        {"f", kDotted},
        {"", kDotted, 2},
        {"g"},
        {"h", kNumbered, 4}},
       ""},
      // Indented paragraphs outside lists stay at level 0.
      {{{"quoted", std::nullopt, 2}, {"heading", kHeading, 1}}, ""},
      // Markup characters are text, entities typed by the user stay as typed.
      {{{"a < b && c > d"}, {"<div>not a tag</div>", kDotted}, {"&lt; &amp &nbsp; \"q\" 'x'"}}, ""},
      // Astral characters count two UTF-16 units: the runs after them must still line up.
      {{{"😀🎉 party"}, {"𝄞 clef", kDotted}, {"after"}, {"🇩🇪", kNumbered, 1}}, ""},
      {{{"cafe\u0301 and nai\u0308ve", kDotted}, {"Zoe\u0308"}}, ""},
      // Attachments (pictures, tables) leave no text; a paragraph of only one leaves no line.
      {{{"\uFFFC"}, {"before\uFFFCafter", kDotted}, {" \uFFFC ", kDotted}}, ""},
      {{{"  spaced\t"}, {"\u00A0 \t"}, {"\u00A0inner  gap\u00A0", kDashed}}, ""},
      // The converter decodes a numeric entity even when the user typed it, from either source.
      {{{"&#65;"}}, "A"},
  };
  for (const Case& c : cases) {
    const std::string expected = c.lines.empty() ? expectedLines(c.paragraphs) : c.lines;
    EXPECT_EQ(linesOfStored(c.paragraphs), expected);
    EXPECT_EQ(NotesHTMLConverter::plainText(notestore::notesHtml(c.paragraphs)), expected);
  }
}

// Generated notes: pieces of text with markup characters, astral characters and combining
// marks (never at the start of a paragraph, where the converter would join the mark to the
// tag before it), in every style and indent.
TEST(NoteStoreBodyTest, GeneratedNotesAgreeWithTheirHtml) {
  const std::vector<std::string> pieces = {"word", " ",       "&",      "<",  ">", "\"", "😀",
                                           "é",    "e\u0301", "\uFFFC", "\t", "ß", "𝄞",  "x"};
  const std::vector<std::optional<int>> styles = {
      std::nullopt, kTitle, kHeading, kSubheading, kMono, kDotted, kDashed, kNumbered, kChecklist};
  std::mt19937 random(24);
  for (int note = 0; note < 300; ++note) {
    std::vector<TestParagraph> paragraphs(random() % 8);
    for (TestParagraph& paragraph : paragraphs) {
      for (std::size_t n = random() % 12; n > 0; --n) {
        paragraph.text += pieces[random() % pieces.size()];
      }
      if (paragraph.text.starts_with("e\u0301")) {
        paragraph.text.insert(0, "x");
      }
      paragraph.style = styles[random() % styles.size()];
      paragraph.indent = static_cast<int>(random() % 4);
    }
    const std::string expected = expectedLines(paragraphs);
    ASSERT_EQ(linesOfStored(paragraphs), expected) << "note " << note;
    ASSERT_EQ(NotesHTMLConverter::plainText(notestore::notesHtml(paragraphs)), expected);
  }
}

// ---- Stored data that is not a readable note --------------------------------------------------

std::string run(std::uint64_t length, std::string_view paragraphStyle = {}) {
  std::string out = varint(1 << 3) + varint(length);
  return paragraphStyle.empty() ? out : out + bytesField(2, paragraphStyle);
}

// NoteStoreProto -> document -> note of this text and these runs.
std::string storedNote(std::string_view text, const std::vector<std::string>& runs) {
  std::string note = bytesField(2, text);
  for (const std::string& r : runs) {
    note += bytesField(5, r);
  }
  return gzip(bytesField(2, bytesField(3, note)));
}

// A well-formed note of 65 MiB of text in 64 KiB of gzip: more than a note may unpack to.
std::string zipBomb() {
  const std::size_t textSize = std::size_t{65} << 20;
  const std::string note = varint(2 << 3 | 2) + varint(textSize);
  const std::string document = varint(3 << 3 | 2) + varint(note.size() + textSize);
  const std::string head =
      varint(2 << 3 | 2) + varint(document.size() + note.size() + textSize) + document + note;
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_RLE);
  std::string out;
  const std::string chunk(std::size_t{1} << 20, 'a');
  auto feed = [&](std::string_view bytes, int flush) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    do {
      char buffer[1 << 14];
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      deflate(&stream, flush);
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_out == 0);
  };
  feed(head, Z_NO_FLUSH);
  for (std::size_t fed = 0; fed < textSize; fed += chunk.size()) {
    feed(chunk, Z_NO_FLUSH);
  }
  feed({}, Z_FINISH);
  deflateEnd(&stream);
  return out;
}

TEST(NoteStoreBodyTest, RunsShorterThanTheTextLeaveTheRestBodyText) {
  const std::string dotted = varint(1 << 3) + varint(100);
  const auto html = noteStoreBodyHtml(storedNote("a\nb\nc", {run(2, dotted)}));
  ASSERT_TRUE(html);
  EXPECT_EQ(NotesHTMLConverter::plainText(*html), "  \u2022 a\nb\nc");
  // No runs at all: every paragraph is body text.
  EXPECT_EQ(NotesHTMLConverter::plainText(*noteStoreBodyHtml(storedNote("a\nb", {}))), "a\nb");
}

TEST(NoteStoreBodyTest, MalformedDataIsUnreadable) {
  const std::string good = notestore::encodeNoteStoreBody({{"Monday"}, {"Eggs", kDotted}});
  ASSERT_TRUE(noteStoreBodyHtml(good));
  const std::string proto = bytesField(2, bytesField(3, bytesField(2, "ab")));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"not gzip", "plain text"},
      {"zlib without the gzip wrapper",
       [&] {
         std::string out(64, '\0');
         uLongf size = out.size();
         compress(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(proto.data()), proto.size());
         out.resize(size);
         return out;
       }()},
      {"truncated gzip", good.substr(0, good.size() - 5)},
      {"gzip with bytes after it", good + "x"},
      {"damaged CRC",
       [&] {
         std::string out = good;
         out[out.size() - 6] ^= 1;
         return out;
       }()},
      {"no document", gzip(bytesField(1, "x"))},
      {"no note", gzip(bytesField(2, bytesField(1, "x")))},
      {"truncated varint", gzip(bytesField(2, bytesField(3, "\x28\x80")))},
      {"truncated key", gzip(std::string("\x80", 1))},
      {"length past the end", gzip(bytesField(2, bytesField(3,
                                                            "\x12\x05"
                                                            "ab")))},
      {"document of the wrong wire type", gzip(varint(2 << 3) + varint(5))},
      {"group wire type", gzip(bytesField(2, bytesField(3, "\x13")))},
      {"field number 0", gzip(bytesField(2, bytesField(3, std::string("\x02\x00", 2))))},
      {"runs past the text", storedNote("ab\n", {run(2), run(2)})},
      {"a run past the text of astral characters", storedNote("😀", {run(3)})},
      {"a run longer than any text", storedNote("ab", {run(~std::uint64_t{0})})},
      {"malformed run", storedNote("ab", {"\x08"})},
      {"malformed paragraph style", storedNote("ab", {run(2, "\x08")})},
      {"invalid UTF-8 text", storedNote("a\xC3(b", {})},
      {"encoded surrogate in the text", storedNote("\xED\xA0\x80", {})},
      {"zip bomb", zipBomb()},
  };
  for (const auto& [name, data] : cases) {
    EXPECT_FALSE(noteStoreBodyHtml(data)) << name;
  }
}

}  // namespace
}  // namespace sheafwright
