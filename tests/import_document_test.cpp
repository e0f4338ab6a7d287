// The import file's writer and reader: the exact form, escapes, failures, key rules.
#include "sheafwright/import_encoder.h"
#include "testing/import_document_reader.h"
#include "testing/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheafwright {
namespace {

// The bytes of a whole document, or why it could not be written.
struct Encoded {
  std::string bytes;
  std::optional<std::string> failure;
};

Encoded encode(const ImportDocument& document) {
  Encoded encoded;
  ImportEncoder encoder(document.exportedAt,
                        [&encoded](std::string_view piece) { encoded.bytes.append(piece); });
  for (const ImportRecord& record : document.records) {
    encoder.add(record);
  }
  encoded.failure = encoder.finish();
  return encoded;
}

TEST(ImportDocumentTest, EncodesSortedPrettyPrintedWithInternetDates) {
  ImportDocument document;
  // 09:15:30.75 at UTC+2 is 07:15:30 UTC; the fraction is dropped.
  document.exportedAt = at("2024-03-04T09:15:30.75+02:00");
  document.records.push_back(ImportRecord{.id = *parseUuid("3F2504E0-4F89-41D3-9A0C-0305E82C3301"),
                                          .text = "line one\nline \"two\"\t\u00e9\u2028\x01",
                                          .entryDate = at("2024-03-04T00:00:00+01:00"),
                                          .createdAt = at("2024-03-01T12:00:00Z"),
                                          .folder = "Jour\\nal\x7f",
                                          .notebook = "March",
                                          .topic = "Work",
                                          .order = "V"});
  document.records.push_back(ImportRecord{.text = "no topic",
                                          .entryDate = at("1999-12-31T23:59:59Z"),
                                          .folder = "F",
                                          .notebook = "N",
                                          .order = "k"});
  const std::string expected =
      "{\n"
      "  \"exportedAt\": \"2024-03-04T07:15:30Z\",\n"
      "  \"records\": [\n"
      "    {\n"
      "      \"createdAt\": \"2024-03-01T12:00:00Z\",\n"
      "      \"entryDate\": \"2024-03-03T23:00:00Z\",\n"
      "      \"folder\": \"Jour\\\\nal\x7f\",\n"
      "      \"id\": \"3f2504e0-4f89-41d3-9a0c-0305e82c3301\",\n"
      "      \"notebook\": \"March\",\n"
      "      \"order\": \"V\",\n"
      "      \"text\": \"line one\\nline \\\"two\\\"\\t\u00e9\u2028\\u0001\",\n"
      "      \"topic\": \"Work\"\n"
      "    },\n"
      "    {\n"
      "      \"entryDate\": \"1999-12-31T23:59:59Z\",\n"
      "      \"folder\": \"F\",\n"
      "      \"notebook\": \"N\",\n"
      "      \"order\": \"k\",\n"
      "      \"text\": \"no topic\"\n"
      "    }\n"
      "  ],\n"
      "  \"version\": 1\n"
      "}\n";
  EXPECT_EQ(encode(document).bytes, expected);
}

TEST(ImportDocumentTest, EmptyDocumentHasAnEmptyRecordsArray) {
  ImportDocument document;
  document.exportedAt = at("2024-01-01T00:00:00Z");
  EXPECT_EQ(
      encode(document).bytes,
      "{\n  \"exportedAt\": \"2024-01-01T00:00:00Z\",\n  \"records\": [],\n  \"version\": 1\n}\n");
}

TEST(ImportDocumentTest, TextThatIsNotUtf8FailsNamingRecordAndField) {
  ImportDocument document;
  document.records.push_back(
      ImportRecord{.text = "fine", .folder = "F", .notebook = "N", .order = "V"});
  document.records.push_back(
      ImportRecord{.text = "fine", .folder = "F", .notebook = "bad \xff", .order = "k"});
  const Encoded encoded = encode(document);
  ASSERT_TRUE(encoded.failure.has_value());
  EXPECT_EQ(*encoded.failure,
            "cannot encode field \"notebook\" of record 2: invalid UTF-8 byte 0xFF at offset 4");
}

TEST(ImportDocumentTest, TextIsWrittenAsItIsUnlessItNeedsEscapingOrIsNotUtf8) {
  struct Case {
    std::string text;
    std::string json;  // empty when the text cannot be written
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"caf\u00e9 \u65e5\u672c \U0001F600 \u2028 \x7f",
       "\"caf\u00e9 \u65e5\u672c \U0001F600 \u2028 \x7f\""},
      {"tab\there \u00e9", "\"tab\\there \u00e9\""},
      {"\"quoted\" \u00e9\\", "\"\\\"quoted\\\" \u00e9\\\\\""},
      {"overlong \xc0\xaf", ""},
      {"cut \xe2\x80", ""},
      {"surrogate \xed\xa0\x80", ""},
      {"beyond \xf4\x90\x80\x80", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ImportDocument document;
    document.records.push_back(
        ImportRecord{.text = "t", .folder = "F", .notebook = c.text, .order = "V"});
    const Encoded result = encode(document);
    if (c.json.empty()) {
      EXPECT_TRUE(result.failure.has_value());
      continue;
    }
    ASSERT_FALSE(result.failure.has_value()) << *result.failure;
    const std::string& encoded = result.bytes;
    EXPECT_NE(encoded.find("\"notebook\": " + c.json + ",\n"), std::string::npos) << encoded;
    EXPECT_EQ(decodeImportDocument(encoded).records.at(0).notebook, c.text);
  }
}

// Text is looked at eight bytes at a time: a byte that needs care is found at every position
// of a word and of the tail, and every control character has its escape.
TEST(ImportDocumentTest, EveryByteThatNeedsEscapingIsFoundWhereverItStands) {
  const auto reference = [](std::string_view text) {
    std::string json = "\"";
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      const std::string shortForms = "\"\\\b\f\n\r\t";
      if (const auto at = shortForms.find(c); at != std::string::npos && byte != 0) {
        json += '\\';
        json += "\"\\bfnrt"[at];
      } else if (byte < 0x20) {
        char escape[7];
        std::snprintf(escape, sizeof escape, "\\u%04x", byte);
        json += escape;
      } else {
        json += c;
      }
    }
    return json + "\"";
  };
  std::vector<std::string> specials = {"\"", "\\", "\x7f", "\u00e9", "\U0001F600"};
  for (int byte = 0; byte < 0x20; ++byte) {
    specials.push_back(std::string(1, static_cast<char>(byte)));
  }
  for (const std::string& special : specials) {
    for (std::size_t length = 1; length <= 19; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        std::string text(length - 1, 'a');
        text.insert(at, special);
        SCOPED_TRACE(testing::PrintToString(text));
        ImportDocument document;
        document.records.push_back(
            ImportRecord{.text = text, .folder = "F", .notebook = "N", .order = "V"});
        const Encoded encoded = encode(document);
        ASSERT_FALSE(encoded.failure.has_value());
        ASSERT_NE(encoded.bytes.find("\"text\": " + reference(text) + "\n"), std::string::npos)
            << encoded.bytes;
      }
    }
  }
}

// A record's folder and note name are remembered from the record before: every sequence of
// them, the empty name first or later, is written in full.
TEST(ImportDocumentTest, FolderAndNoteNamesAreWrittenWhateverCameBefore) {
  const std::vector<std::vector<std::string>> sequences = {
      {""}, {"", ""}, {"", "A", ""}, {"A", "", "A"}, {"A", "A"}, {"\"", "", "\""}};
  for (const std::vector<std::string>& names : sequences) {
    SCOPED_TRACE(testing::PrintToString(names));
    ImportDocument document;
    for (std::size_t i = 0; i < names.size(); ++i) {
      // The folder follows the sequence; the note name follows it one record behind.
      document.records.push_back(
          ImportRecord{.text = "t",
                       .folder = names[i],
                       .notebook = names[(i + names.size() - 1) % names.size()],
                       .order = "V"});
    }
    const ImportDocument read = decodeImportDocument(encode(document).bytes);
    EXPECT_EQ(read.records, document.records);
  }
}

// Output leaves the encoder a megabyte at a time: a document of many pieces, and one record
// longer than a piece, read back by another JSON reader with every text as it went in.
TEST(ImportDocumentTest, DocumentsOfManyPiecesReadBack) {
  // Multi-byte characters and escapes, so that piece boundaries fall inside them.
  std::string unit = "caf\u00e9 \"q\" \\ \n\t\x01 \u65e5\U0001F600 ";
  const auto repeated = [&unit](std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) {
      text += unit;
    }
    return text;
  };
  const struct {
    const char* name;
    std::size_t records;
    std::size_t textBytes;
  } cases[] = {{"many records", 6000, 300}, {"one record of 2.5 MiB", 1, 5 << 19}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.records > 1 && !largeRounds()) {
      continue;  // a large round
    }
    ImportDocument document;
    document.exportedAt = at("2024-03-04T07:15:30Z");
    UuidGenerator ids;
    for (std::size_t i = 0; i < c.records; ++i) {
      document.records.push_back(
          ImportRecord{.id = ids.next(),
                       .text = repeated(c.textBytes) + std::to_string(i),
                       .entryDate = at("2024-03-03T23:00:00Z"),
                       .createdAt = at("2024-03-01T12:00:00Z"),
                       .folder = i % 3 == 0 ? "" : "F\u00e9",
                       .notebook = "N" + std::to_string(i % 7),
                       .topic = i % 2 == 0 ? std::optional<std::string>(unit) : std::nullopt,
                       .order = "V" + std::to_string(i)});
    }
    std::size_t pieces = 0;
    std::string bytes;
    ImportEncoder encoder(document.exportedAt, [&](std::string_view piece) {
      ++pieces;
      bytes.append(piece);
    });
    for (const ImportRecord& record : document.records) {
      encoder.add(record);
    }
    ASSERT_EQ(encoder.finish(), std::nullopt);
    ASSERT_GT(bytes.size(), std::size_t{1} << 20);
    EXPECT_GT(pieces, 1u);
    const nlohmann::json read = nlohmann::json::parse(bytes);
    ASSERT_EQ(read["records"].size(), document.records.size());
    for (std::size_t i = 0; i < document.records.size(); ++i) {
      const ImportRecord& record = document.records[i];
      const nlohmann::json& written = read["records"][i];
      ASSERT_EQ(written["text"], record.text) << i;
      ASSERT_EQ(written["folder"], record.folder) << i;
      ASSERT_EQ(written["notebook"], record.notebook) << i;
      ASSERT_EQ(written["id"], uuidText(*record.id)) << i;
      ASSERT_EQ(written.contains("topic"), record.topic.has_value()) << i;
      ASSERT_EQ(written["order"], record.order) << i;
    }
    EXPECT_EQ(read["version"], 1);
  }
}

}  // namespace
}  // namespace sheafwright
