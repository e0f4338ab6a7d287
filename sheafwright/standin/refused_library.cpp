// A library the fast reading refused, read again by nlohmann: its messages say where a broken
// file breaks.
#include "sheafwright/standin/refused_library.h"

#include "sheafwright/json_error_message.h"
#include "sheafwright/standin/library_tree.h"
#include "sheafwright/unicode_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

namespace sheafwright::standin {

namespace {

using nlohmann::json;

// Error records are small and rare; nlohmann writes them compactly with sorted keys.
class JsonErrorRecord : public ScriptErrorRecord {
 public:
  explicit JsonErrorRecord(json record) : record_(std::move(record)) {}

  std::optional<std::string> message() const override {
    if (record_.is_object()) {
      const auto it = record_.find("NSAppleScriptErrorMessage");
      if (it != record_.end() && it->is_string()) {
        return it->get<std::string>();
      }
    }
    return std::nullopt;
  }

  std::string description() const override {
    return record_.dump(-1, ' ', false, json::error_handler_t::replace);
  }

 private:
  json record_;
};

struct TooDeep : std::runtime_error {
  TooDeep()
      : std::runtime_error("nested deeper than " + std::to_string(kMaxLibraryDepth) + " levels") {}
};

// "line L, column C" of a byte offset, counted as nlohmann counts them.
std::string positionOf(std::string_view text, std::size_t offset) {
  const std::string_view before = text.substr(0, offset);
  const std::size_t lineStart = before.rfind('\n');
  const std::size_t line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t column = lineStart == std::string_view::npos ? offset + 1 : offset - lineStart;
  return "line " + std::to_string(line + 1) + ", column " + std::to_string(column);
}

}  // namespace

// Messages can quote the bytes of a broken file, which need not be UTF-8.
ScriptOutcome libraryFailure(std::string_view message) {
  return {nullptr, std::make_unique<JsonErrorRecord>(
                       json{{"NSAppleScriptErrorMessage", text::repairUtf8(message)}})};
}

// A file the fast reading leaves, read by nlohmann: its message says where a broken file
// breaks. Files nlohmann reads but the fast reading does not: a NUL byte after the value, which
// nlohmann takes for the end of its input but is not valid JSON; error records, whose text is
// written with sorted keys; and replies that are no list or hold integers beyond 64 bits, which
// are served from nlohmann's rewrite (such integers become floating point numbers, which have
// no text).
OrFailure<RewrittenLibrary, ScriptOutcome> readRefused(std::string_view text,
                                                       const std::string& source) {
  const std::string prefix = "Notes library " + source + " is not valid JSON: ";
  json tree;
  try {
    tree = json::parse(text, [](int depth, json::parse_event_t, json&) {
      if (depth > kMaxLibraryDepth) {
        throw TooDeep();
      }
      return true;
    });
  } catch (const std::exception& error) {
    return libraryFailure(prefix + jsonErrorMessage(error));
  }
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    return libraryFailure(
        prefix + "parse error at " + positionOf(text, nul) +
        ": syntax error while parsing value - unexpected NUL byte; expected end of "
        "input");
  }
  if (tree.is_object()) {
    if (const auto error = tree.find("error"); error != tree.end()) {
      return ScriptOutcome{nullptr, std::make_unique<JsonErrorRecord>(std::move(*error))};
    }
  }
  // Served from a list, the one form the fast reading takes: a value that is no list is its item.
  if (tree.is_array()) {
    return RewrittenLibrary{tree.dump(), 0};
  }
  return RewrittenLibrary{"[" + tree.dump() + "]", 1};
}

}  // namespace sheafwright::standin
