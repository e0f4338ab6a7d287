#include "sheafwright/import_document.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include <uuid/uuid.h>

namespace sheafwright {

using nlohmann::json;

Uuid Uuid::random() {
  Uuid id;
  uuid_generate_random(id.bytes.data());
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

namespace {

// Field names in the order a record's fields are encoded.
constexpr const char* kRecordFields[] = {"id",     "text",     "entryDate", "createdAt",
                                         "folder", "notebook", "topic",     "order"};

json recordJson(const ImportRecord& record) {
  json object = json::object();
  if (record.id) {
    object["id"] = record.id->text();
  }
  object["text"] = record.text;
  object["entryDate"] = formatInternetDate(record.entryDate);
  if (record.createdAt) {
    object["createdAt"] = formatInternetDate(*record.createdAt);
  }
  object["folder"] = record.folder;
  object["notebook"] = record.notebook;
  if (record.topic) {
    object["topic"] = *record.topic;
  }
  object["order"] = record.order;
  return object;
}

// Names the first field of `record` that cannot be written, for the error message.
std::string failingField(const json& object) {
  for (const char* name : kRecordFields) {
    const auto it = object.find(name);
    if (it == object.end()) {
      continue;
    }
    try {
      (void)it->dump();
    } catch (const json::exception&) {
      return name;
    }
  }
  return "?";
}

// nlohmann prefixes its messages with "[json.exception.<kind>.<id>] "; the user needs the rest.
std::string plainMessage(const json::exception& error) {
  const std::string_view what = error.what();
  const auto end = what.find("] ");
  return std::string(end == std::string_view::npos ? what : what.substr(end + 2));
}

void appendIndented(std::string& out, std::string_view block, std::string_view indent) {
  std::size_t start = 0;
  while (start <= block.size()) {
    const std::size_t end = std::min(block.find('\n', start), block.size());
    out += indent;
    out.append(block, start, end - start);
    if (end == block.size()) {
      break;
    }
    out += '\n';
    start = end + 1;
  }
}

}  // namespace

std::string ImportDocument::Encoder::encode(const ImportDocument& document) const {
  // Records are encoded one at a time into the document's frame, so a large document never
  // exists twice as a JSON tree. Keys come out sorted: nlohmann's objects are ordered maps.
  std::string out = "{\n  \"exportedAt\": ";
  out += json(formatInternetDate(document.exportedAt)).dump();
  out += ",\n  \"records\": ";
  if (document.records.empty()) {
    out += "[]";
  } else {
    out += "[\n";
    for (std::size_t i = 0; i < document.records.size(); ++i) {
      const json object = recordJson(document.records[i]);
      std::string block;
      try {
        block = object.dump(2);
      } catch (const json::exception& error) {
        throw EncodingError("cannot encode field \"" + failingField(object) + "\" of record " +
                            std::to_string(i + 1) + ": " + plainMessage(error));
      }
      if (i > 0) {
        out += ",\n";
      }
      appendIndented(out, block, "    ");
    }
    out += "\n  ]";
  }
  out += ",\n  \"version\": ";
  out += std::to_string(document.version);
  out += "\n}\n";
  return out;
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
    throw DecodingError("not valid JSON: " + plainMessage(error));
  }
}

}  // namespace

ImportRecord ImportRecord::decode(std::string_view text) { return recordFrom(parseJson(text)); }

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
