// The import document read back with nlohmann, key by key, as strictly as the tests need.
#include "testing/import_document_reader.h"

#include "sheafwright/json_error_message.h"
#include "testing/readable_forms.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace sheafwright {

using nlohmann::json;

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
    const auto uuid = parseUuid(stringValue(*id, "id"));
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

ImportRecord decodeImportRecord(std::string_view text) {
  return recordFrom(parseJson(text));
}

ImportDocument decodeImportDocument(std::string_view text) {
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
