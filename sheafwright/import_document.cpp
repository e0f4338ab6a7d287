// Writing the import document in the tool's one form, and reading documents and records back.
#include "sheafwright/import_document.h"

#include "sheafwright/json_error_message.h"
#include "sheafwright/unicode_text.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace sheafwright {

using nlohmann::json;
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

void appendEscape(std::string& out, unsigned char byte) {
  switch (byte) {
    case '"':
      out += "\\\""sv;
      return;
    case '\\':
      out += "\\\\"sv;
      return;
    case '\b':
      out += "\\b"sv;
      return;
    case '\f':
      out += "\\f"sv;
      return;
    case '\n':
      out += "\\n"sv;
      return;
    case '\r':
      out += "\\r"sv;
      return;
    case '\t':
      out += "\\t"sv;
      return;
    default: {
      char escape[7];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out.append(escape, 6);
    }
  }
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

// Writes the fixed frame of the document and its records in sorted key order; every piece but
// the text values is known ahead.
class ImportDocument::Encoder::Impl {
 public:
  static constexpr std::size_t kPieceSize = 1 << 20;

  Impl(Date exportedAt, Sink sink) : sink_(std::move(sink)) {
    out_.reserve(kPieceSize + (64 << 10));
    out_ += "{\n  \"exportedAt\": \""sv;
    appendInternetDate(out_, exportedAt);
    out_ += "\",\n  \"records\": ["sv;
  }

  void add(const ImportRecord& r) {
    if (failure_) {
      return;
    }
    out_ += count_ == 0 ? "\n    {"sv : ",\n    {"sv;
    ++count_;
    if (!record(r)) {
      return;
    }
    out_ += "\n    }"sv;
    if (out_.size() >= kPieceSize) {
      flush();
    }
  }

  std::optional<std::string> finish(std::int64_t documentVersion) {
    if (failure_) {
      return failure_;
    }
    out_ += count_ == 0 ? "]"sv : "\n  ]"sv;
    out_ += ",\n  \"version\": "sv;
    out_ += std::to_string(documentVersion);
    out_ += "\n}\n"sv;
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

  void date(Date value, DateText& last) {
    if (last.date != value) {
      last.text.clear();
      appendInternetDate(last.text, value);
      last.date = value;
    }
    out_ += last.text;
  }

  // False when a field cannot be written; the failure is kept.
  bool record(const ImportRecord& r) {
    if (r.createdAt) {
      out_ += "\n      \"createdAt\": \""sv;
      date(*r.createdAt, lastCreatedAt_);
      out_ += "\",\n      \"entryDate\": \""sv;
    } else {
      out_ += "\n      \"entryDate\": \""sv;
    }
    date(r.entryDate, lastEntryDate_);
    out_ += "\",\n      \"folder\": "sv;
    bool written = appendString(r.folder);
    if (r.id) {
      out_ += ",\n      \"id\": \""sv;
      r.id->appendText(out_);
      out_ += '"';
    }
    out_ += ",\n      \"notebook\": "sv;
    written &= appendString(r.notebook);
    out_ += ",\n      \"order\": "sv;
    written &= appendString(r.order);
    out_ += ",\n      \"text\": "sv;
    written &= appendString(r.text);
    if (r.topic) {
      out_ += ",\n      \"topic\": "sv;
      written &= appendString(*r.topic);
    }
    if (!written) {
      fail(r);
    }
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

  // Appends `text` as a JSON string, characters beyond ASCII as they are; false when it is not
  // UTF-8. Eight bytes at a time while none needs escaping or lies beyond ASCII.
  bool appendString(std::string_view text) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    const auto hasZeroByte = [](std::uint64_t v) { return (v - kOnes) & ~v; };
    out_ += '"';
    bool beyondAscii = false;
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < text.size()) {
      if (i + 8 <= text.size()) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        const std::uint64_t special = ((word - kOnes * 0x20) & ~word) |
                                      hasZeroByte(word ^ (kOnes * '"')) |
                                      hasZeroByte(word ^ (kOnes * '\\')) | word;
        if ((special & kHighs) == 0) {
          i += 8;
          continue;
        }
      }
      const auto byte = static_cast<unsigned char>(text[i]);
      beyondAscii |= byte >= 0x80;
      if (kEscaped[byte]) {
        out_.append(text.data() + run, i - run);
        appendEscape(out_, byte);
        run = i + 1;
      }
      ++i;
    }
    out_.append(text.data() + run, text.size() - run);
    out_ += '"';
    return !beyondAscii || text::isValidUtf8(text);
  }

  void flush() {
    if (!out_.empty()) {
      sink_(out_);
      out_.clear();
    }
  }

  Sink sink_;
  std::string out_;
  std::size_t count_ = 0;
  std::optional<std::string> failure_;
  DateText lastCreatedAt_;
  DateText lastEntryDate_;
};

ImportDocument::Encoder::Encoder(Date exportedAt, Sink sink)
    : impl_(std::make_unique<Impl>(exportedAt, std::move(sink))) {}

ImportDocument::Encoder::~Encoder() = default;

void ImportDocument::Encoder::add(const ImportRecord& record) {
  impl_->add(record);
}

std::optional<std::string> ImportDocument::Encoder::finish(std::int64_t documentVersion) {
  return impl_->finish(documentVersion);
}

std::size_t ImportDocument::Encoder::recordCount() const {
  return impl_->count();
}

namespace {

const json& required(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) {
    throw DecodingError(std::string("missing key \"") + key + "\"");
  }
  return *it;
}

std::string stringValue(const json& value, const char* key) {
  if (!value.is_string()) {
    throw DecodingError(std::string("key \"") + key + "\" is not a string");
  }
  return value.get<std::string>();
}

Date dateValue(const json& value, const char* key) {
  const auto date = parseInternetDate(stringValue(value, key));
  if (!date) {
    throw DecodingError(std::string("key \"") + key + "\" is not an ISO 8601 date");
  }
  return *date;
}

// An optional key: missing or null is absent.
const json* optional(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) {
    return nullptr;
  }
  return &*it;
}

ImportRecord recordFrom(const json& object) {
  if (!object.is_object()) {
    throw DecodingError("a record is not a JSON object");
  }
  ImportRecord record;
  if (const json* id = optional(object, "id")) {
    const auto uuid = Uuid::parse(stringValue(*id, "id"));
    if (!uuid) {
      throw DecodingError("key \"id\" is not a UUID");
    }
    record.id = uuid;
  }
  record.text = stringValue(required(object, "text"), "text");
  record.entryDate = dateValue(required(object, "entryDate"), "entryDate");
  if (const json* created = optional(object, "createdAt")) {
    record.createdAt = dateValue(*created, "createdAt");
  }
  record.folder = stringValue(required(object, "folder"), "folder");
  record.notebook = stringValue(required(object, "notebook"), "notebook");
  if (const json* topic = optional(object, "topic")) {
    record.topic = stringValue(*topic, "topic");
  }
  record.order = stringValue(required(object, "order"), "order");
  return record;
}

json parseJson(std::string_view text) {
  try {
    return json::parse(text);
  } catch (const json::exception& error) {
    throw DecodingError("not valid JSON: " + jsonErrorMessage(error));
  }
}

}  // namespace

ImportRecord ImportRecord::decode(std::string_view text) {
  return recordFrom(parseJson(text));
}

ImportDocument ImportDocument::decode(std::string_view text) {
  const json object = parseJson(text);
  if (!object.is_object()) {
    throw DecodingError("the document is not a JSON object");
  }
  ImportDocument document;
  const json& version = required(object, "version");
  if (!version.is_number_integer()) {
    throw DecodingError("key \"version\" is not an integer");
  }
  document.version = version.get<std::int64_t>();
  document.exportedAt = dateValue(required(object, "exportedAt"), "exportedAt");
  const json& records = required(object, "records");
  if (!records.is_array()) {
    throw DecodingError("key \"records\" is not an array");
  }
  for (const json& record : records) {
    document.records.push_back(recordFrom(record));
  }
  return document;
}

}  // namespace sheafwright
