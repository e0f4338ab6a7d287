// Writing the import document in the tool's one form.
#include "sheafwright/import_encoder.h"

#include "sheafwright/ascii.h"
#include "sheafwright/byte_words.h"
#include "sheafwright/unicode_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace sheafwright {

using namespace std::string_view_literals;

namespace {

// The bytes a JSON string must escape: the quotation mark, the backslash and the controls.
constexpr std::array<bool, 256> kEscaped = [] {
  std::array<bool, 256> escaped{};
  for (int byte = 0; byte < 0x20; ++byte) {
    escaped[byte] = true;
  }
  escaped['"'] = true;
  escaped['\\'] = true;
  return escaped;
}();

// The escape of one byte at `at`; the end of what was written.
char* appendEscape(char* at, unsigned char byte) {
  char shortForm = 0;
  switch (byte) {
    case '"':
      shortForm = '"';
      break;
    case '\\':
      shortForm = '\\';
      break;
    case '\b':
      shortForm = 'b';
      break;
    case '\f':
      shortForm = 'f';
      break;
    case '\n':
      shortForm = 'n';
      break;
    case '\r':
      shortForm = 'r';
      break;
    case '\t':
      shortForm = 't';
      break;
    default:
      break;
  }
  *at++ = '\\';
  if (shortForm != 0) {
    *at++ = shortForm;
    return at;
  }
  *at++ = 'u';
  *at++ = '0';
  *at++ = '0';
  *at++ = ascii::kHexDigits[byte >> 4];
  *at++ = ascii::kHexDigits[byte & 0x0F];
  return at;
}

// Why `text` is not UTF-8: its first ill-formed byte and where it stands.
std::string utf8Failure(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const text::CodePoint c = text::codePointAt(text, at);
    if (c.value == 0xFFFD && c.length == 1) {
      break;
    }
    at += c.length;
  }
  char byte[5];
  std::snprintf(byte, sizeof byte, "0x%02X",
                at < text.size() ? static_cast<unsigned char>(text[at]) : 0U);
  return "invalid UTF-8 byte " + std::string(byte) + " at offset " + std::to_string(at);
}

}  // namespace

// Writes the fixed frame of the document and its records in sorted key order. Each record is
// written through a cursor into room reserved for its longest possible form (every byte of its
// text escaped), so that the many short pieces of a record cost no checks of their own.
class ImportEncoder::Impl {
 public:
  static constexpr std::size_t kPieceSize = 1 << 20;

  Impl(Date exportedAt, Sink sink) : sink_(std::move(sink)) {
    std::string head = "{\n  \"exportedAt\": \"";
    appendInternetDate(head, exportedAt);
    head += "\",\n  \"records\": [";
    put(head);
  }

  void add(const ImportRecord& r) {
    if (failure_) {
      return;
    }
    ++count_;
    char* const start = reserve(longestForm(r));
    char* at = start;
    if (!record(at, r)) {
      fail(r);
      return;
    }
    used_ += static_cast<std::size_t>(at - start);
    if (used_ >= kPieceSize) {
      flush();
    }
  }

  std::optional<std::string> finish() {
    if (failure_) {
      return failure_;
    }
    put(count_ == 0 ? "]" : "\n  ]");
    put(",\n  \"version\": " + std::to_string(currentVersion) + "\n}\n");
    flush();
    return std::nullopt;
  }

  std::size_t count() const { return count_; }

 private:
  // The records of one note share their creation date, and runs of them their entry date:
  // each field keeps its last text.
  struct DateText {
    std::optional<Date> date;
    std::string text;
  };

  static std::size_t longestForm(const ImportRecord& r) {
    std::size_t text = r.folder.size() + r.notebook.size() + r.order.size() + r.text.size();
    if (r.topic) {
      text += r.topic->size();
    }
    return 6 * text + 512;  // "\u0001" is the longest escape; keys, dates and id fit in 512
  }

  // Room for `length` more bytes after those of the piece, which goes to the sink first when
  // the room is not there.
  char* reserve(std::size_t length) {
    if (used_ + length > capacity_) {
      flush();
      if (length > capacity_) {
        capacity_ = std::max(length, kPieceSize + (64 << 10));
        buffer_.reset(new char[capacity_]);  // left unfilled: every byte is written before use
      }
    }
    return buffer_.get() + used_;
  }

  void put(std::string_view bytes) {
    std::memcpy(reserve(bytes.size()), bytes.data(), bytes.size());
    used_ += bytes.size();
  }

  // Every writer below writes at `at` and moves it past what it wrote.
  static void copy(char*& at, std::string_view bytes) {
    std::memcpy(at, bytes.data(), bytes.size());
    at += bytes.size();
  }

  // The folder and name of a note's records are the same for all of them: each keeps its last
  // written form.
  struct StringText {
    std::string text;
    std::string written = "\"\"";  // with quotation marks and escapes; first the empty text's
    bool valid = true;
  };

  // Writes `text` like escapedString, reusing `last`'s written form when the text repeats.
  static bool rememberedString(char*& at, std::string_view text, StringText& last) {
    if (text != last.text) {
      last.text.assign(text);
      last.written.resize(6 * text.size() + 2);
      char* end = last.written.data();
      last.valid = escapedString(end, text);
      last.written.resize(static_cast<std::size_t>(end - last.written.data()));
    }
    copy(at, last.written);
    return last.valid;
  }

  static void date(char*& at, Date value, DateText& last) {
    if (last.date != value) {
      last.text.clear();
      appendInternetDate(last.text, value);
      last.date = value;
    }
    copy(at, last.text);
  }

  // The record's bytes; false when a field is not UTF-8.
  bool record(char*& at, const ImportRecord& r) {
    copy(at, count_ == 1 ? "\n    {"sv : ",\n    {"sv);
    if (r.createdAt) {
      copy(at, "\n      \"createdAt\": \""sv);
      date(at, *r.createdAt, lastCreatedAt_);
      copy(at, "\",\n      \"entryDate\": \""sv);
    } else {
      copy(at, "\n      \"entryDate\": \""sv);
    }
    date(at, r.entryDate, lastEntryDate_);
    copy(at, "\",\n      \"folder\": "sv);
    bool written = rememberedString(at, r.folder, lastFolder_);
    if (r.id) {
      copy(at, ",\n      \"id\": \""sv);
      at = r.id->writeText(at);
      *at++ = '"';
    }
    copy(at, ",\n      \"notebook\": "sv);
    written &= rememberedString(at, r.notebook, lastNotebook_);
    copy(at, ",\n      \"order\": "sv);
    written &= escapedString(at, r.order);
    copy(at, ",\n      \"text\": "sv);
    written &= escapedString(at, r.text);
    if (r.topic) {
      copy(at, ",\n      \"topic\": "sv);
      written &= escapedString(at, *r.topic);
    }
    copy(at, "\n    }"sv);
    return written;
  }

  // Names the first field, in field order, that is not UTF-8.
  void fail(const ImportRecord& r) {
    const std::pair<const char*, const std::string*> fields[] = {
        {"text", &r.text},
        {"folder", &r.folder},
        {"notebook", &r.notebook},
        {"topic", r.topic ? &*r.topic : nullptr},
        {"order", &r.order}};
    for (const auto& [name, text] : fields) {
      if (text != nullptr && !text::isValidUtf8(*text)) {
        failure_ = "cannot encode field \"" + std::string(name) + "\" of record " +
                   std::to_string(count_) + ": " + utf8Failure(*text);
        return;
      }
    }
  }

  // Writes `text` at `at` as a JSON string, characters beyond ASCII as they are, and moves `at`
  // past it; false when the text is not UTF-8. Most text needs no escape and is copied whole.
  static bool escapedString(char*& at, std::string_view text) {
    const Kinds kinds = kindsOf(text);
    *at++ = '"';
    if (!kinds.escaped) {
      copy(at, text);
    } else {
      for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (kEscaped[byte]) {
          at = appendEscape(at, byte);
        } else {
          *at++ = c;
        }
      }
    }
    *at++ = '"';
    return !kinds.beyondAscii || text::isValidUtf8(text);
  }

  struct Kinds {
    bool escaped;      // some byte must be escaped
    bool beyondAscii;  // some byte lies beyond ASCII
  };

  // What kinds of byte `text` holds, looked at eight bytes at a time.
  static Kinds kindsOf(std::string_view text) {
    using words::kOnes;
    std::uint64_t escaped = 0;
    std::uint64_t high = 0;
    const auto look = [&](std::uint64_t word) {
      // Bytes below 0x20, quotation marks and backslashes are never missed; now and then
      // their neighbour is taken for one too, which costs only the slower copy.
      escaped |= words::bytesBelow(word, 0x20) | words::bytesEqual(word, '"') |
                 words::bytesEqual(word, '\\');
      high |= word;
    };
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
      look(words::load(text.data() + i));
    }
    if (i < text.size()) {
      std::uint64_t word = kOnes * ' ';
      std::memcpy(&word, text.data() + i, text.size() - i);
      look(word);
    }
    return {(escaped & words::kHighs) != 0, (high & words::kHighs) != 0};
  }

  void flush() {
    if (used_ > 0) {
      sink_(std::string_view(buffer_.get(), used_));
      used_ = 0;
    }
  }

  Sink sink_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  std::size_t count_ = 0;
  std::optional<std::string> failure_;
  DateText lastCreatedAt_;
  DateText lastEntryDate_;
  StringText lastFolder_;
  StringText lastNotebook_;
};

ImportEncoder::ImportEncoder(Date exportedAt, Sink sink)
    : impl_(std::make_unique<Impl>(exportedAt, std::move(sink))) {}

ImportEncoder::~ImportEncoder() = default;

void ImportEncoder::add(const ImportRecord& record) {
  impl_->add(record);
}

std::optional<std::string> ImportEncoder::finish() {
  return impl_->finish();
}

std::size_t ImportEncoder::recordCount() const {
  return impl_->count();
}

}  // namespace sheafwright
