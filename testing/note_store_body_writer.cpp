// Written from the format's description alone, sharing no code with the product's reader, so
// that the tests compare two independent readings of it.
#include "testing/note_store_body_writer.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include <zlib.h>

namespace sheafwright::notestore {

namespace {

void putVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7f) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

void putKey(std::string& out, int number, int wireType) {
  putVarint(out, (static_cast<std::uint64_t>(number) << 3) | static_cast<unsigned>(wireType));
}

void putVarintField(std::string& out, int number, std::int64_t value) {
  putKey(out, number, 0);
  putVarint(out, static_cast<std::uint64_t>(value));  // int32: negatives take ten bytes
}

void putBytesField(std::string& out, int number, std::string_view bytes) {
  putKey(out, number, 2);
  putVarint(out, bytes.size());
  out += bytes;
}

void putFixed32Field(std::string& out, int number, std::uint32_t value) {
  putKey(out, number, 5);
  for (int i = 0; i < 4; ++i) {
    out += static_cast<char>((value >> (8 * i)) & 0xff);
  }
}

// UTF-16 code units of a UTF-8 string, decoded lead byte by lead byte.
std::size_t utf16Units(std::string_view text) {
  std::size_t units = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
    units += length == 4 ? 2 : 1;
    i += length;
  }
  return units;
}

// The byte offset of the code point boundary nearest the middle of `text`.
std::size_t middleBoundary(std::string_view text) {
  std::size_t middle = text.size() / 2;
  while (middle > 0 && (static_cast<unsigned char>(text[middle]) & 0xc0) == 0x80) {
    --middle;
  }
  return middle;
}

// One attribute run over `text`; the second of a paragraph's runs also carries a font weight
// and a colour, fields the reader must step over.
std::string attributeRun(std::string_view text, const TestParagraph& paragraph, bool decorated) {
  std::string run;
  putVarintField(run, 1, static_cast<std::int64_t>(utf16Units(text)));
  if (paragraph.style || paragraph.indent != 0) {
    std::string style;
    if (paragraph.style) {
      putVarintField(style, 1, *paragraph.style);
    }
    if (paragraph.indent != 0) {
      putVarintField(style, 4, paragraph.indent);
    }
    putBytesField(run, 2, style);
  }
  if (decorated) {
    putVarintField(run, 5, 1);  // font weight: bold
    std::string colour;
    putFixed32Field(colour, 1, 0x3f800000);  // red 1.0f
    putFixed32Field(colour, 4, 0x3f800000);  // alpha 1.0f
    putBytesField(run, 10, colour);
  }
  return run;
}

bool isListStyle(const std::optional<int>& style) {
  return style && *style >= 100 && *style <= 103;
}

// Escapes more than strictly needed (the double quote too), unlike the product's reader: the
// converter must read both back to the same text.
std::string escapedText(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 3) == "\xEF\xBF\xBC") {  // an attachment: its content is not text
      i += 2;
      continue;
    }
    switch (text[i]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += text[i];
    }
  }
  return out.empty() ? "<br>" : out;
}

}  // namespace

std::string gzip(std::string_view data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) {
    throw std::runtime_error("deflate failed");
  }
  return out;
}

std::string varint(std::uint64_t value) {
  std::string out;
  putVarint(out, value);
  return out;
}

std::string bytesField(int number, std::string_view bytes) {
  std::string out;
  putBytesField(out, number, bytes);
  return out;
}

std::string encodeNoteStoreBody(const std::vector<TestParagraph>& paragraphs) {
  // Every paragraph ends in a line feed, which belongs to its last run.
  std::string text;
  std::string runs;
  for (const TestParagraph& paragraph : paragraphs) {
    const std::string line = paragraph.text + "\n";
    text += line;
    const std::size_t middle = middleBoundary(paragraph.text);
    if (middle > 0) {
      putBytesField(runs, 5,
                    attributeRun(std::string_view(line).substr(0, middle), paragraph, false));
    }
    putBytesField(runs, 5,
                  attributeRun(std::string_view(line).substr(middle), paragraph, middle > 0));
  }
  std::string note;
  putBytesField(note, 2, text);
  note += runs;
  std::string document;
  putVarintField(document, 2, 0);  // version
  putBytesField(document, 3, note);
  std::string root;
  putBytesField(root, 2, document);
  return gzip(root);
}

std::string notesHtml(const std::vector<TestParagraph>& paragraphs) {
  // Lists nest inside the item before them, as a browser's editor writes them; the items stay
  // open until an item at the same or an outer level (or a paragraph outside lists) follows.
  std::string html;
  std::vector<std::string> open;  // the kind of each open list, each with an item open
  auto closeTo = [&](std::size_t levels) {
    while (open.size() > levels) {
      html += "</li></" + open.back() + ">";
      open.pop_back();
    }
  };
  for (const TestParagraph& paragraph : paragraphs) {
    if (!isListStyle(paragraph.style)) {
      closeTo(0);
      const std::string body = escapedText(paragraph.text);
      const int style = paragraph.style.value_or(-1);
      if (style == 0) {
        html += "<div><h1>" + body + "</h1></div>\n";
      } else if (style == 1) {
        html += "<div><h2>" + body + "</h2></div>\n";
      } else if (style == 2) {
        html += "<div><h3>" + body + "</h3></div>\n";
      } else if (style == 4) {
        html += "<div><tt>" + body + "</tt></div>\n";
      } else {
        html += "<div>" + body + "</div>\n";
      }
      continue;
    }
    const std::size_t level = static_cast<std::size_t>(std::max(paragraph.indent, 0)) + 1;
    const std::string kind = *paragraph.style == 102 ? "ol" : "ul";
    closeTo(level);
    if (open.size() == level) {
      // The previous item at this level ends here; so does its list if the kind changes.
      if (open.back() == kind) {
        html += "</li>";
      } else {
        closeTo(level - 1);
      }
    }
    while (open.size() < level) {
      html += "<" + kind + ">";
      open.push_back(kind);
      if (open.size() < level) {
        html += "<li>";  // an item that holds only the deeper list
      }
    }
    html += "<li>" + escapedText(paragraph.text);
  }
  closeTo(0);
  return html;
}

}  // namespace sheafwright::notestore
