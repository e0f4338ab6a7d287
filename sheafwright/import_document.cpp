#include "sheafwright/import_document.h"

#include "sheafwright/json_error_message.h"
#include "sheafwright/unicode_text.h"

#include <nlohmann/json.hpp>
#include <uuid/uuid.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/random.h>
#include <sys/types.h>
#include <unistd.h>

namespace sheafwright {

using nlohmann::json;
using namespace std::string_view_literals;

namespace {

// Random bytes in blocks: libuuid's uuid_generate_random makes five system calls per UUID
// (several microseconds each), which dominated exports of many entries.
class RandomBytes {
 public:
  void fill(std::uint8_t* out, std::size_t count) {
    if (available_ < count) {
      refill();
    }
    std::memcpy(out, buffer_.data() + (buffer_.size() - available_), count);
    available_ -= count;
  }

 private:
  void refill() {
    if (!fillFromKernel()) {
      // No kernel source: libuuid has fallbacks of its own.
      for (std::size_t uuid = 0; uuid < buffer_.size(); uuid += 16) {
        uuid_generate_random(buffer_.data() + uuid);
      }
    }
    available_ = buffer_.size();
  }

  bool fillFromKernel() {
#if defined(__linux__)
    // One call for the whole block; getentropy would take sixteen.
    for (std::size_t at = 0; at < buffer_.size();) {
      const ssize_t n = ::getrandom(buffer_.data() + at, buffer_.size() - at, 0);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        return false;
      }
      at += static_cast<std::size_t>(n);
    }
    return true;
#else
    // getentropy hands out at most 256 bytes a call.
    for (std::size_t at = 0; at < buffer_.size(); at += 256) {
      if (::getentropy(buffer_.data() + at, 256) != 0) {
        return false;
      }
    }
    return true;
#endif
  }

  std::array<std::uint8_t, 4096> buffer_{};
  std::size_t available_ = 0;
};

}  // namespace

Uuid Uuid::random() {
  thread_local RandomBytes source;
  Uuid id;
  source.fill(id.bytes.data(), id.bytes.size());
  // RFC 4122: version 4 in the high nibble of byte 6, variant 10 in the top bits of byte 8.
  id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0F) | 0x40);
  id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3F) | 0x80);
  return id;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  if (text.size() != 36) {
    return std::nullopt;
  }
  const std::string terminated(text);
  Uuid id;
  if (uuid_parse(terminated.c_str(), id.bytes.data()) != 0) {
    return std::nullopt;
  }
  return id;
}

std::string Uuid::text() const {
  char buffer[37];
  uuid_unparse_lower(bytes.data(), buffer);
  return buffer;
}

// Writes the fixed frame of the document and its records in sorted key order. A string value
// that needs escaping goes through nlohmann's serializer, which also refuses text that is not
// UTF-8; one reusable JSON string value carries such values, so records cost no allocations.
class ImportDocument::Encoder::RecordWriter::Impl {
 public:
  static constexpr std::size_t kPieceSize = 1 << 20;

  Impl(Date exportedAt, Sink sink)
      : sink_(std::move(sink)),
        serializer_(nlohmann::detail::output_adapter<char, std::string>(out_), ' ',
                    json::error_handler_t::strict) {
    out_.reserve(kPieceSize + (64 << 10));
    out_ += "{\n  \"exportedAt\": \"";
    appendInternetDate(out_, exportedAt);
    out_ += "\",\n  \"records\": [";
  }

  void add(const ImportRecord& r) {
    out_ += count_ == 0 ? "\n    {"sv : ",\n    {"sv;
    ++count_;
    try {
      record(r);
    } catch (const json::exception& error) {
      throw EncodingError("cannot encode field \"" + failingField(r) + "\" of record " +
                          std::to_string(count_) + ": " + jsonErrorMessage(error));
    }
    out_ += "\n    }"sv;
    if (out_.size() >= kPieceSize) {
      flush();
    }
  }

  void finish(std::int64_t documentVersion) {
    out_ += count_ == 0 ? "]"sv : "\n  ]"sv;
    out_ += ",\n  \"version\": "sv;
    out_ += std::to_string(documentVersion);
    out_ += "\n}\n"sv;
    flush();
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

  void record(const ImportRecord& r) {
    if (r.createdAt) {
      out_ += "\n      \"createdAt\": \""sv;
      date(*r.createdAt, lastCreatedAt_);
      out_ += "\",\n      \"entryDate\": \""sv;
    } else {
      out_ += "\n      \"entryDate\": \""sv;
    }
    date(r.entryDate, lastEntryDate_);
    out_ += "\",\n      \"folder\": "sv;
    value(r.folder);
    if (r.id) {
      out_ += ",\n      \"id\": \""sv;
      char text[37];
      uuid_unparse_lower(r.id->bytes.data(), text);
      out_.append(text, 36);
      out_ += '"';
    }
    out_ += ",\n      \"notebook\": "sv;
    value(r.notebook);
    out_ += ",\n      \"order\": "sv;
    value(r.order);
    out_ += ",\n      \"text\": "sv;
    value(r.text);
    if (r.topic) {
      out_ += ",\n      \"topic\": "sv;
      value(*r.topic);
    }
  }

  void value(std::string_view text) {
    // Text without a control character, quote or backslash is its own JSON form once it is
    // UTF-8, since characters beyond ASCII are written as they are: dates, ids, keys and most
    // text. Anything else is nlohmann's to escape, and to refuse when it is not UTF-8.
    unsigned escaped = 0;
    unsigned beyondAscii = 0;
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      beyondAscii |= byte & 0x80U;
      escaped |= static_cast<unsigned>(byte < 0x20) | static_cast<unsigned>(byte == '"') |
                 static_cast<unsigned>(byte == '\\');
    }
    if (escaped == 0 && (beyondAscii == 0 || text::isValidUtf8(text))) {
      out_ += '"';
      out_ += text;
      out_ += '"';
      return;
    }
    scratch_.get_ref<std::string&>().assign(text);
    serializer_.dump(scratch_, true, false, 2, 0);
  }

  void flush() {
    if (!out_.empty()) {
      sink_(out_);
      out_.clear();
    }
  }

  // The first field, in field order, that cannot be written.
  static std::string failingField(const ImportRecord& r) {
    const std::pair<const char*, const std::string*> fields[] = {
        {"text", &r.text},
        {"folder", &r.folder},
        {"notebook", &r.notebook},
        {"topic", r.topic ? &*r.topic : nullptr},
        {"order", &r.order}};
    for (const auto& [name, text] : fields) {
      if (text && !text::isValidUtf8(*text)) {
        return name;
      }
    }
    return "?";
  }

  Sink sink_;
  std::string out_;
  nlohmann::detail::serializer<json> serializer_;
  json scratch_ = json::string_t{};
  std::size_t count_ = 0;
  DateText lastCreatedAt_;
  DateText lastEntryDate_;
};

ImportDocument::Encoder::RecordWriter::RecordWriter(Date exportedAt, Sink sink)
    : impl_(std::make_unique<Impl>(exportedAt, std::move(sink))) {}

ImportDocument::Encoder::RecordWriter::~RecordWriter() = default;

void ImportDocument::Encoder::RecordWriter::add(const ImportRecord& record) {
  impl_->add(record);
}

void ImportDocument::Encoder::RecordWriter::finish(std::int64_t documentVersion) {
  impl_->finish(documentVersion);
}

std::size_t ImportDocument::Encoder::RecordWriter::recordCount() const {
  return impl_->count();
}

void ImportDocument::Encoder::encode(const ImportDocument& document, const Sink& sink) const {
  RecordWriter writer(document.exportedAt, sink);
  for (const ImportRecord& record : document.records) {
    writer.add(record);
  }
  writer.finish(document.version);
}

std::string ImportDocument::Encoder::encode(const ImportDocument& document) const {
  std::string bytes;
  encode(document, [&bytes](std::string_view piece) { bytes.append(piece); });
  return bytes;
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
