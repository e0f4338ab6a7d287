// Fuzz target of the stored note body reader: any bytes are read without fault, and HTML it
// returns is valid text whose only markup is the reader's own, which the converter accepts.
#include "fuzz/fuzz_check.h"
#include "sheafwright/html_converter.h"
#include "sheafwright/note_store_body.h"
#include "sheafwright/unicode_text.h"
#include "testing/note_store_body_writer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 16> kTags = {
    "<div>", "</div>", "<h1>", "</h1>", "<h2>",  "</h2>", "<h3>",  "</h3>",
    "<tt>",  "</tt>",  "<br>", "<ul>",  "</ul>", "<ol>",  "</ol>", "<li>"};

bool isOwnTag(std::string_view html, std::size_t pos) {
  const std::string_view rest = html.substr(pos);
  for (const std::string_view tag : kTags) {
    if (rest.starts_with(tag)) {
      return true;
    }
  }
  return rest.starts_with("</li>");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  // The first byte chooses: odd, the rest is the protobuf, gzipped here so that the fuzzer
  // reaches the protobuf reader past gzip's checksum; even, the rest is the stored data.
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string stored =
      (data[0] & 1) != 0 ? sheafwright::notestore::gzip(rest) : std::string(rest);
  const auto html = sheafwright::noteStoreBodyHtml(stored);
  if (!html) {
    return 0;
  }
  FUZZ_CHECK(sheafwright::text::isValidUtf8(*html));
  // Text never opens a tag or closes one: every "<" and ">" belongs to the reader's markup.
  for (std::size_t pos = html->find('<'); pos != std::string::npos;
       pos = html->find('<', pos + 1)) {
    FUZZ_CHECK(isOwnTag(*html, pos));
  }
  FUZZ_CHECK(html->find("\xEF\xBF\xBC") == std::string::npos);
  const std::string text = sheafwright::NotesHTMLConverter::plainText(*html);
  FUZZ_CHECK(sheafwright::text::isValidUtf8(text));
  FUZZ_CHECK(text.empty() || (text.front() != '\n' && text.back() != '\n'));
  return 0;
}
