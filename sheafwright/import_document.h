#pragma once

#include "sheafwright/date.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sheafwright {

// An RFC 4122 UUID.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  static Uuid random();  // version 4
  static std::optional<Uuid> parse(std::string_view text);
  std::string text() const;  // 36 characters, lower-case hexadecimal
  bool operator==(const Uuid&) const = default;
};

struct ImportRecord {
  std::optional<Uuid> id;
  std::string text;
  Date entryDate;
  std::optional<Date> createdAt;
  std::string folder;
  std::string notebook;  // the note's name
  std::optional<std::string> topic;
  std::string order;

  bool operator==(const ImportRecord&) const = default;

  // Reads one record from a JSON object; throws DecodingError.
  static ImportRecord decode(std::string_view json);
};

struct ImportDocument {
  static constexpr std::int64_t currentVersion = 1;

  std::int64_t version = currentVersion;
  Date exportedAt = currentDate();
  std::deque<ImportRecord> records;  // grows without moving what it holds

  // The one configuration the tool writes with: internet dates, pretty printed, sorted keys.
  class Encoder {
   public:
    using Sink = std::function<void(std::string_view)>;

    // Writes one document a record at a time, so that no more than one record and about a
    // megabyte of bytes need be held: construct, `add` every record, `finish`. The bytes reach
    // `sink` in pieces of about a megabyte.
    class RecordWriter {
     public:
      RecordWriter(Date exportedAt, Sink sink);
      ~RecordWriter();
      RecordWriter(const RecordWriter&) = delete;
      RecordWriter& operator=(const RecordWriter&) = delete;

      // Throws EncodingError when a value cannot be written (text that is not UTF-8), naming
      // the record and field; the writer is then of no further use.
      void add(const ImportRecord& record);
      void finish(std::int64_t documentVersion);
      std::size_t recordCount() const;

     private:
      class Impl;
      std::unique_ptr<Impl> impl_;
    };

    // The file's bytes; throws EncodingError like RecordWriter::add.
    std::string encode(const ImportDocument& document) const;
    // The same bytes handed to `sink` in pieces; pieces already handed over when encoding
    // fails are the caller's to discard.
    void encode(const ImportDocument& document, const Sink& sink) const;
  };
  static Encoder encoder() { return {}; }

  // Reads a document; throws DecodingError at the first missing key, wrong type or
  // unreadable date or UUID.
  static ImportDocument decode(std::string_view json);
};

struct EncodingError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct DecodingError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace sheafwright
