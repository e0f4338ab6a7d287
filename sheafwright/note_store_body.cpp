// Notes keeps a note's body as a gzipped protobuf: the text, and runs of attributes over it
// whose lengths count UTF-16 code units. Only the few fields that decide the lines are read:
//
//   root 2 (document) -> 3 (note) -> 2 (text, UTF-8)
//                                    5 (attribute run, repeated) -> 1 (length)
//                                                                   2 (paragraph style)
//                                                                      -> 1 (style type)
//                                                                      -> 4 (indent)
//
// Style types: 0 title, 1 heading, 2 subheading, 4 monospaced, 100 dotted, 101 dashed,
// 102 numbered, 103 checklist; none is body text. Every other field is skipped by its wire
// type. An attachment (a picture, a drawing, a table) stands in the text as U+FFFC; its content
// lives elsewhere in the database and is left out here.
#include "sheafwright/note_store_body.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <zlib.h>

namespace sheafwright {

namespace {

// A bound on what one note may unpack to, so that a small crafted body (deflate reaches about
// 1000:1) cannot exhaust memory. A diary kept in one note for decades is a few megabytes of
// text; a body above this is reported unreadable rather than read in part.
constexpr std::size_t kMaxUnpackedBytes = std::size_t{64} << 20;
// And on the HTML made from it: list nesting costs markup per paragraph, so a body of short
// paragraphs at alternating deep indents could otherwise grow far beyond its text.
constexpr std::size_t kMaxHtmlBytes = std::size_t{256} << 20;

// Unpacked bytes, in a buffer that is never zero-filled first.
struct Unpacked {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  std::string_view view() const { return {bytes.get(), size}; }
};

std::optional<Unpacked> gunzip(std::string_view data) {
  if (data.size() > UINT32_MAX) {
    return std::nullopt;
  }
  z_stream stream{};
  // 16 + MAX_WBITS: a gzip wrapper (header and CRC-32 checked), not zlib's own.
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
    return std::nullopt;
  }
  // gzip's trailer holds the unpacked size modulo 2^32: a good first guess, never trusted
  // beyond what deflate can reach (1032:1). One byte more, to see the end without a second
  // buffer.
  std::size_t capacity = 4096;
  if (data.size() >= 18) {
    const auto* tail = reinterpret_cast<const unsigned char*>(data.data() + data.size() - 4);
    const std::size_t hint =
        tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<std::size_t>(tail[3]) << 24);
    capacity = std::max(capacity, std::min({hint, data.size() * 1032, kMaxUnpackedBytes}) + 1);
  }
  Unpacked out{std::make_unique_for_overwrite<char[]>(capacity), 0};
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  int status = Z_OK;
  while (status == Z_OK) {
    if (out.size == capacity) {
      if (capacity > kMaxUnpackedBytes) {
        break;
      }
      capacity = std::min(capacity * 2, kMaxUnpackedBytes + 1);
      auto larger = std::make_unique_for_overwrite<char[]>(capacity);
      std::memcpy(larger.get(), out.bytes.get(), out.size);
      out.bytes = std::move(larger);
    }
    stream.next_out = reinterpret_cast<Bytef*>(out.bytes.get() + out.size);
    stream.avail_out = static_cast<uInt>(capacity - out.size);
    status = inflate(&stream, Z_NO_FLUSH);
    out.size = capacity - stream.avail_out;
  }
  // Anything after the gzip member would be a further member or damage: either way the note
  // cannot be read whole, and a truncated body must not pass for the note.
  const bool whole =
      status == Z_STREAM_END && stream.avail_in == 0 && out.size <= kMaxUnpackedBytes;
  inflateEnd(&stream);
  if (!whole) {
    return std::nullopt;
  }
  return out;
}

// ---- Protobuf wire format -------------------------------------------------------------------

struct Field {
  std::uint64_t number = 0;
  int wireType = 0;
  std::uint64_t value = 0;  // wire type 0
  std::string_view bytes;   // wire type 2
};

inline bool readVarint(std::string_view& in, std::uint64_t& value) {
  if (!in.empty() && static_cast<unsigned char>(in.front()) < 0x80) {  // most keys and sizes
    value = static_cast<unsigned char>(in.front());
    in.remove_prefix(1);
    return true;
  }
  value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (in.empty()) {
      return false;
    }
    const auto byte = static_cast<unsigned char>(in.front());
    in.remove_prefix(1);
    value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) {
      return true;
    }
  }
  return false;  // more than ten bytes
}

// The next field of a message; false when the message is malformed there.
[[gnu::always_inline]] inline bool readField(std::string_view& in, Field& field) {
  std::uint64_t key = 0;
  if (!readVarint(in, key)) {
    return false;
  }
  field.number = key >> 3;
  field.wireType = static_cast<int>(key & 7);
  if (field.number == 0) {
    return false;
  }
  switch (field.wireType) {
    case 0:
      return readVarint(in, field.value);
    case 1:
    case 5: {
      const std::size_t size = field.wireType == 1 ? 8 : 4;
      if (in.size() < size) {
        return false;
      }
      in.remove_prefix(size);
      return true;
    }
    case 2: {
      std::uint64_t size = 0;
      if (!readVarint(in, size) || size > in.size()) {
        return false;
      }
      field.bytes = in.substr(0, static_cast<std::size_t>(size));
      in.remove_prefix(static_cast<std::size_t>(size));
      return true;
    }
    default:  // groups (3, 4) are not used by these messages; 6 and 7 do not exist
      return false;
  }
}

// The last occurrence of an embedded message (or string) field; none when absent or malformed.
std::optional<std::string_view> lengthDelimitedField(std::string_view message,
                                                     std::uint64_t number) {
  std::optional<std::string_view> found;
  Field field;
  while (!message.empty()) {
    if (!readField(message, field)) {
      return std::nullopt;
    }
    if (field.number == number) {
      if (field.wireType != 2) {
        return std::nullopt;
      }
      found = field.bytes;
    }
  }
  return found;
}

constexpr int kBodyText = -1;

struct Run {
  std::uint64_t length = 0;  // UTF-16 code units
  int style = kBodyText;
  int indent = 0;
};

// Protobuf int32: a negative value is sent as its 64-bit two's complement.
int int32Value(std::uint64_t value) {
  return static_cast<int>(static_cast<std::int32_t>(value));
}

bool readParagraphStyle(std::string_view message, Run& run) {
  Field field;
  while (!message.empty()) {
    if (!readField(message, field)) {
      return false;
    }
    if (field.number == 1 || field.number == 4) {
      if (field.wireType != 0) {
        return false;
      }
      (field.number == 1 ? run.style : run.indent) = int32Value(field.value);
    }
  }
  return true;
}

bool readRun(std::string_view message, Run& run) {
  Field field;
  while (!message.empty()) {
    if (!readField(message, field)) {
      return false;
    }
    if (field.number == 1) {
      if (field.wireType != 0) {
        return false;
      }
      run.length = field.value;
    } else if (field.number == 2) {
      if (field.wireType != 2 || !readParagraphStyle(field.bytes, run)) {
        return false;
      }
    }
  }
  return true;
}

struct NoteBody {
  std::string_view text;
  std::vector<Run> runs;
};

std::optional<NoteBody> readNote(std::string_view proto) {
  const auto document = lengthDelimitedField(proto, 2);
  if (!document) {
    return std::nullopt;
  }
  const auto note = lengthDelimitedField(*document, 3);
  if (!note) {
    return std::nullopt;
  }
  NoteBody body;
  std::string_view message = *note;
  Field field;
  while (!message.empty()) {
    if (!readField(message, field)) {
      return std::nullopt;
    }
    if (field.number == 2 || field.number == 5) {
      if (field.wireType != 2) {
        return std::nullopt;
      }
      if (field.number == 2) {
        body.text = field.bytes;
      } else if (!readRun(field.bytes, body.runs.emplace_back())) {
        return std::nullopt;
      }
    }
  }
  return body;
}

// ---- Text -----------------------------------------------------------------------------------

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHigh = 0x8080808080808080u;

std::uint64_t load8(const char* bytes) {
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, 8);
  return word;
}

// How many bytes of `flags` (each 0x80 or 0) are set.
std::uint64_t countFlags(std::uint64_t flags) {
  return ((flags >> 7) * kOnes) >> 56;
}

// 0x80 in (at least) the bytes of `word` equal to `byte`; zero when there is none.
std::uint64_t bytesEqual(std::uint64_t word, unsigned char byte) {
  const std::uint64_t x = word ^ (kOnes * byte);
  return (x - kOnes) & ~x & kHigh;
}

// UTF-16 code units of UTF-8 text: one per byte that is not a continuation byte (10xxxxxx),
// one more for each lead of four bytes (11110xxx), counted eight bytes at a time.
std::uint64_t utf16Length(std::string_view text) {
  std::uint64_t units = text.size();
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    const std::uint64_t word = load8(text.data() + i);
    // Bit 7 of each byte, and the bits below it shifted up into its place.
    units -= countFlags(word & ~(word << 1) & kHigh);
    units += countFlags(word & (word << 1) & (word << 2) & (word << 3) & kHigh);
  }
  for (; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    units -= static_cast<std::uint64_t>((byte & 0xc0) == 0x80);
    units += static_cast<std::uint64_t>(byte >= 0xf0);
  }
  return units;
}

bool isList(int style) {
  return style >= 100 && style <= 103;
}

// The bytes that the HTML cannot carry as they are.
constexpr std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> table{};
  table['&'] = table['<'] = table['>'] = true;
  table[0xef] = true;  // the lead byte of U+FFFC
  return table;
}();

bool hasSpecial(std::uint64_t word) {
  return (bytesEqual(word, '&') | bytesEqual(word, '<') | bytesEqual(word, '>') |
          bytesEqual(word, 0xef)) != 0;
}

// Appends a paragraph's text as HTML text: "&", "<" and ">" escaped, so that the converter's
// entity decoding gives back the characters, and attachments (U+FFFC) dropped.
void appendEscaped(std::string& html, std::string_view text) {
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i + 8 <= text.size() && !hasSpecial(load8(text.data() + i))) {
      i += 8;
    }
    const std::size_t limit = std::min(i + 8, text.size());
    while (i < limit && !kSpecial[static_cast<unsigned char>(text[i])]) {
      ++i;
    }
    if (i == limit) {
      continue;
    }
    html.append(text, start, i - start);
    const char c = text[i];
    if (c == '&') {
      html += "&amp;";
    } else if (c == '<') {
      html += "&lt;";
    } else if (c == '>') {
      html += "&gt;";
    } else if (text.substr(i, 3) == "\xEF\xBF\xBC") {
      i += 2;
    } else {
      html += c;
    }
    start = ++i;
  }
  html.append(text, start, std::string_view::npos);
}

class HtmlWriter {
 public:
  explicit HtmlWriter(std::size_t textSize) { html_.reserve(textSize + textSize / 4 + 64); }

  std::string& html() { return html_; }

  // Opens a paragraph of this style and indent; gives the markup that closes it, or none when
  // the HTML would grow past its bound.
  std::optional<std::string_view> open(int style, int indent) {
    if (html_.size() > kMaxHtmlBytes) {
      return std::nullopt;
    }
    if (isList(style)) {
      const auto depth = static_cast<std::size_t>(indent < 0 ? 0 : indent) + 1;
      while (lists_.size() > depth || (lists_.size() == depth && lists_.back() != style)) {
        closeList();
      }
      if (depth - lists_.size() > (kMaxHtmlBytes - html_.size()) / 8) {
        return std::nullopt;
      }
      while (lists_.size() < depth) {
        html_ += style == 102 ? "<ol>" : "<ul>";
        lists_.push_back(style);
      }
      html_ += "<li>";
      return "</li>";
    }
    while (!lists_.empty()) {
      closeList();
    }
    switch (style) {
      case 0:
        html_ += "<div><h1>";
        return "</h1></div>";
      case 1:
        html_ += "<div><h2>";
        return "</h2></div>";
      case 2:
        html_ += "<div><h3>";
        return "</h3></div>";
      case 4:
        html_ += "<div><tt>";
        return "</tt></div>";
      default:
        html_ += "<div>";
        return "</div>";
    }
  }

  std::string finish() {
    while (!lists_.empty()) {
      closeList();
    }
    return std::move(html_);
  }

 private:
  void closeList() {
    html_ += lists_.back() == 102 ? "</ol>" : "</ul>";
    lists_.pop_back();
  }

  std::string html_;
  std::vector<int> lists_;  // the style of each open list, outermost first
};

}  // namespace

std::optional<std::string> noteStoreBodyHtml(std::string_view data) {
  const std::optional<Unpacked> proto = gunzip(data);
  if (!proto) {
    return std::nullopt;
  }
  const std::optional<NoteBody> note = readNote(proto->view());
  if (!note) {
    return std::nullopt;
  }
  // Ill-formed text would reach the export; simdjson's validator is the fastest at hand.
  if (!simdjson::validate_utf8(note->text)) {
    return std::nullopt;
  }
  const std::uint64_t textUnits = utf16Length(note->text);
  std::uint64_t runUnits = 0;
  for (const Run& run : note->runs) {
    if (run.length > textUnits - runUnits) {
      return std::nullopt;  // the runs claim more text than there is
    }
    runUnits += run.length;
  }

  // One paragraph per line of the text, styled by the run over its first code unit (Notes keeps
  // a paragraph's runs in one style). Text beyond the last run is body text. A final line feed
  // ends the last paragraph and does not start an empty one.
  const std::string_view text = note->text;
  const std::vector<Run>& runs = note->runs;
  HtmlWriter writer(text.size());
  std::size_t pos = 0;
  std::uint64_t offset = 0;  // UTF-16 offset of the paragraph
  std::size_t runIndex = 0;  // the run over `offset`, or the end
  std::uint64_t runEnd = runs.empty() ? 0 : runs[0].length;
  const Run bodyText;
  while (pos < text.size()) {
    while (runIndex < runs.size() && runEnd <= offset) {
      if (++runIndex < runs.size()) {
        runEnd += runs[runIndex].length;
      }
    }
    const Run& run = runIndex < runs.size() ? runs[runIndex] : bodyText;
    const std::optional<std::string_view> close = writer.open(run.style, run.indent);
    if (!close) {
      return std::nullopt;
    }
    const std::size_t newline = std::min(text.find('\n', pos), text.size());
    const std::string_view paragraph = text.substr(pos, newline - pos);
    if (paragraph.empty()) {
      writer.html() += "<br>";
    } else {
      appendEscaped(writer.html(), paragraph);
    }
    writer.html() += *close;
    if (runIndex < runs.size()) {  // past the runs, offsets no longer matter
      offset += utf16Length(paragraph) + 1;
    }
    pos = newline + 1;
  }
  return writer.finish();
}

}  // namespace sheafwright
