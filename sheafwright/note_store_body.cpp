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

#include "sheafwright/unicode_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <zlib.h>

namespace sheafwright {

namespace {

// A bound on what one note may unpack to, so that a small crafted body (deflate reaches about
// 1000:1) cannot exhaust memory. Notes' largest real bodies are a few megabytes of text; a
// diary kept in one note for decades stays far below this.
constexpr std::size_t kMaxUnpackedBytes = std::size_t{64} << 20;
// And on the HTML made from it: list nesting costs markup per paragraph, so a body of short
// paragraphs at alternating deep indents could otherwise grow far beyond its text.
constexpr std::size_t kMaxHtmlBytes = std::size_t{256} << 20;

std::optional<std::string> gunzip(std::string_view data) {
  z_stream stream{};
  // 16 + MAX_WBITS: a gzip wrapper (header and CRC-32 checked), not zlib's own.
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
    return std::nullopt;
  }
  std::string out;
  // gzip's trailer holds the unpacked size modulo 2^32: a good first guess, never trusted
  // beyond what deflate can reach (1032:1).
  if (data.size() >= 18 && data.size() <= kMaxUnpackedBytes) {
    const auto* tail = reinterpret_cast<const unsigned char*>(data.data() + data.size() - 4);
    const std::size_t hint =
        tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<std::size_t>(tail[3]) << 24);
    out.resize(std::min({hint, data.size() * 1032, kMaxUnpackedBytes}) + 1);
  }
  if (out.size() < 4096) {
    out.resize(4096);
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(std::min<std::size_t>(data.size(), UINT32_MAX));
  if (data.size() > UINT32_MAX) {
    inflateEnd(&stream);
    return std::nullopt;
  }
  std::size_t produced = 0;
  int status = Z_OK;
  while (status == Z_OK) {
    if (produced == out.size()) {
      if (out.size() > kMaxUnpackedBytes) {
        break;
      }
      out.resize(std::min(out.size() * 2, kMaxUnpackedBytes + 1));
    }
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    stream.avail_out = static_cast<uInt>(out.size() - produced);
    status = inflate(&stream, Z_NO_FLUSH);
    produced = out.size() - stream.avail_out;
  }
  // Anything after the gzip member would be a further member or damage: either way the note
  // cannot be read whole, and a truncated body must not pass for the note.
  const bool whole =
      status == Z_STREAM_END && stream.avail_in == 0 && produced <= kMaxUnpackedBytes;
  inflateEnd(&stream);
  if (!whole) {
    return std::nullopt;
  }
  out.resize(produced);
  return out;
}

// ---- Protobuf wire format -------------------------------------------------------------------

struct Field {
  std::uint64_t number = 0;
  int wireType = 0;
  std::uint64_t value = 0;  // wire type 0
  std::string_view bytes;   // wire type 2
};

bool readVarint(std::string_view& in, std::uint64_t& value) {
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
bool readField(std::string_view& in, Field& field) {
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

// UTF-16 code units of valid UTF-8: one per code point, two for those above U+FFFF.
std::uint64_t utf16Length(std::string_view text) {
  std::uint64_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    units += static_cast<std::uint64_t>((byte & 0xc0) != 0x80) + (byte >= 0xf0);
  }
  return units;
}

bool isList(int style) {
  return style >= 100 && style <= 103;
}

// The text as HTML: "&", "<" and ">" escaped, so the converter's entity decoding gives back
// the characters; attachments (U+FFFC) dropped.
void appendEscaped(std::string& html, std::string_view text) {
  static constexpr std::string_view kObject = "\xEF\xBF\xBC";
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string_view replacement;
    std::size_t skip = 1;
    if (c == '&') {
      replacement = "&amp;";
    } else if (c == '<') {
      replacement = "&lt;";
    } else if (c == '>') {
      replacement = "&gt;";
    } else if (c == '\xEF' && text.substr(i, 3) == kObject) {
      skip = 3;
    } else {
      continue;
    }
    html.append(text, start, i - start);
    html += replacement;
    i += skip - 1;
    start = i + 1;
  }
  html.append(text, start, std::string_view::npos);
}

class HtmlWriter {
 public:
  explicit HtmlWriter(std::size_t textSize) { html_.reserve(textSize + textSize / 4 + 64); }

  bool paragraph(std::string_view text, int style, int indent) {
    if (isList(style)) {
      const auto depth = static_cast<std::size_t>(indent < 0 ? 0 : indent) + 1;
      while (lists_.size() > depth || (lists_.size() == depth && lists_.back() != style)) {
        closeList();
      }
      if (depth - lists_.size() > (kMaxHtmlBytes - html_.size()) / 8) {
        return false;
      }
      while (lists_.size() < depth) {
        html_ += style == 102 ? "<ol>" : "<ul>";
        lists_.push_back(style);
      }
      block(text, "<li>", "</li>");
    } else {
      while (!lists_.empty()) {
        closeList();
      }
      switch (style) {
        case 0:
          block(text, "<div><h1>", "</h1></div>");
          break;
        case 1:
          block(text, "<div><h2>", "</h2></div>");
          break;
        case 2:
          block(text, "<div><h3>", "</h3></div>");
          break;
        case 4:
          block(text, "<div><tt>", "</tt></div>");
          break;
        default:
          block(text, "<div>", "</div>");
          break;
      }
    }
    return html_.size() <= kMaxHtmlBytes;
  }

  std::string finish() {
    while (!lists_.empty()) {
      closeList();
    }
    return std::move(html_);
  }

 private:
  void block(std::string_view text, std::string_view open, std::string_view close) {
    html_ += open;
    if (text.empty()) {
      html_ += "<br>";
    } else {
      appendEscaped(html_, text);
    }
    html_ += close;
  }

  void closeList() {
    html_ += lists_.back() == 102 ? "</ol>" : "</ul>";
    lists_.pop_back();
  }

  std::string html_;
  std::vector<int> lists_;  // the style of each open list, outermost first
};

}  // namespace

std::optional<std::string> noteStoreBodyHtml(std::string_view data) {
  const std::optional<std::string> proto = gunzip(data);
  if (!proto) {
    return std::nullopt;
  }
  const std::optional<NoteBody> note = readNote(*proto);
  if (!note || !text::isValidUtf8(note->text)) {
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
  HtmlWriter writer(note->text.size());
  std::string_view rest = note->text;
  std::uint64_t offset = 0;  // UTF-16 offset of the paragraph
  std::size_t runIndex = 0;  // the run over `offset`, or the end
  std::uint64_t runEnd = note->runs.empty() ? 0 : note->runs[0].length;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    const std::string_view paragraph = rest.substr(0, newline);
    while (runIndex < note->runs.size() && runEnd <= offset) {
      ++runIndex;
      if (runIndex < note->runs.size()) {
        runEnd += note->runs[runIndex].length;
      }
    }
    const Run body;
    const Run& run = runIndex < note->runs.size() ? note->runs[runIndex] : body;
    if (!writer.paragraph(paragraph, run.style, run.indent)) {
      return std::nullopt;
    }
    if (newline == std::string_view::npos) {
      break;
    }
    offset += utf16Length(paragraph) + 1;
    rest.remove_prefix(newline + 1);
  }
  return writer.finish();
}

}  // namespace sheafwright
