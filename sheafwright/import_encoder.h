#pragma once

// The import file's records, and the one form the tool writes them in.

#include "sheafwright/date.h"
#include "sheafwright/uuid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

// Every field has a default, so that records are built by naming the fields they set.
struct ImportRecord {
  std::optional<Uuid> id{};
  std::string text{};
  Date entryDate{};
  std::optional<Date> createdAt{};
  std::string folder{};
  std::string notebook{};  // the note's name
  std::optional<std::string> topic{};
  std::string order{};

  bool operator==(const ImportRecord&) const = default;
};

// Writes one import document in the tool's form (pretty printed, keys sorted, dates in RFC
// 3339 UTC) a record at a time, so that an export never holds more than one record and about a
// megabyte of its bytes: construct, `add` every record, `finish`. The bytes reach `sink` in
// pieces of about a megabyte. Text that is not UTF-8 cannot be written: the first such failure
// is kept, nothing more is written, and `finish` reports it.
class ImportEncoder {
 public:
  static constexpr std::int64_t currentVersion = 1;

  using Sink = std::function<void(std::string_view)>;

  ImportEncoder(Date exportedAt, Sink sink);
  ~ImportEncoder();
  ImportEncoder(const ImportEncoder&) = delete;
  ImportEncoder& operator=(const ImportEncoder&) = delete;

  void add(const ImportRecord& record);
  // Writes the end of the document; the failure that stopped the encoding, naming the record
  // and its field, or absent.
  std::optional<std::string> finish();
  std::size_t recordCount() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sheafwright
