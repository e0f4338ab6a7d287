// The stand-in script runner: plays the Notes application's reply from a JSON library file.
// simdjson reads valid files; a file it refuses is read again by nlohmann, whose messages say
// where the file breaks.
#include "sheafwright/platform/json_script_runner.h"

#include "sheafwright/json_error_message.h"
#include "sheafwright/unicode_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <variant>

#include <fcntl.h>
#include <simdjson.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright {

namespace {

using nlohmann::json;
namespace dom = simdjson::dom;

// The bytes of a library with the zeroed padding that simdjson may read past their end.
class LibraryBytes {
 public:
  LibraryBytes() = default;
  explicit LibraryBytes(std::string_view text) : copy_(text) {}
  LibraryBytes(LibraryBytes&& other) noexcept { *this = std::move(other); }
  LibraryBytes& operator=(LibraryBytes&& other) noexcept {
    std::swap(copy_, other.copy_);
    std::swap(mapping_, other.mapping_);
    std::swap(mappingSize_, other.mappingSize_);
    std::swap(mappedSize_, other.mappedSize_);
    return *this;
  }
  ~LibraryBytes() {
    if (mapping_ != nullptr) {
      ::munmap(mapping_, mappingSize_);
    }
  }

  // A regular file mapped, not copied: a library of a hundred megabytes would otherwise be
  // written to fresh memory page by page before parsing. Its padding is the zero tail of the
  // file's last page followed by anonymous zero pages. Absent when mapping fails.
  static std::optional<LibraryBytes> map(int fd, std::size_t size) {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t total = (size + simdjson::SIMDJSON_PADDING + page - 1) / page * page;
    void* reserved = ::mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) {
      return std::nullopt;
    }
    if (::mmap(reserved, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) {
      ::munmap(reserved, total);
      return std::nullopt;
    }
    LibraryBytes bytes;
    bytes.mapping_ = reserved;
    bytes.mappingSize_ = total;
    bytes.mappedSize_ = size;
    return bytes;
  }

  std::string_view view() const {
    if (mapping_ != nullptr) {
      return {static_cast<const char*>(mapping_), mappedSize_};
    }
    return {copy_.data(), copy_.size()};
  }

 private:
  simdjson::padded_string copy_;
  void* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  std::size_t mappedSize_ = 0;
};

// The library as simdjson reads it: its bytes and the document parsed from them.
struct ParsedLibrary {
  explicit ParsedLibrary(LibraryBytes libraryBytes) : bytes(std::move(libraryBytes)) {}

  // False when simdjson refuses the bytes.
  bool parse() {
    std::string_view text = bytes.view();
    // A leading byte order mark is allowed (RFC 8259) and skipped.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
      text.remove_prefix(3);
    }
    // One level more than the limit: simdjson counts the root's level too.
    if (parser.allocate(text.size(), kMaxLibraryDepth + 1) != simdjson::SUCCESS) {
      return false;
    }
    return parser.parse(text.data(), text.size(), false).get(root) == simdjson::SUCCESS;
  }

  LibraryBytes bytes;
  dom::parser parser;
  dom::element root;
};

// A value of the parsed document; the reply owns the document.
class JsonDescriptor : public ScriptDescriptor {
 public:
  explicit JsonDescriptor(dom::element value) : value_(value) {}

  std::int64_t numberOfItems() const override {
    dom::array array;
    if (value_.get_array().get(array) != simdjson::SUCCESS) {
      return 0;
    }
    return static_cast<std::int64_t>(array.size());
  }

  // The reader asks for items in ascending order, so a cursor makes each step O(1); simdjson's
  // own indexing walks from the first item.
  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    dom::array array;
    if (value_.get_array().get(array) != simdjson::SUCCESS || index < 1) {
      return nullptr;
    }
    if (!cursor_ || index < cursor_->index) {
      cursor_ = Cursor{array.begin(), 1};
    }
    const dom::array::iterator end = array.end();
    while (cursor_->index < index && cursor_->at != end) {
      ++cursor_->at;
      ++cursor_->index;
    }
    if (cursor_->at == end) {
      return nullptr;
    }
    return std::make_unique<JsonDescriptor>(*cursor_->at);
  }

  // A number coerces to text on macOS; of JSON numbers the stand-in gives integers their
  // decimal text.
  std::optional<std::string> stringValue() const override {
    switch (value_.type()) {
      case dom::element_type::STRING:
        return std::string(value_.get_string().value_unsafe());
      case dom::element_type::INT64:
        return std::to_string(value_.get_int64().value_unsafe());
      case dom::element_type::UINT64:
        return std::to_string(value_.get_uint64().value_unsafe());
      default:
        return std::nullopt;
    }
  }

  // An object whose only key is "date" (repeated, the last one counts) with a string value.
  std::optional<Date> dateValue() const override {
    dom::object object;
    if (value_.get_object().get(object) != simdjson::SUCCESS) {
      return std::nullopt;
    }
    std::optional<dom::element> date;
    for (const dom::key_value_pair member : object) {
      if (member.key != "date") {
        return std::nullopt;
      }
      date = member.value;
    }
    std::string_view text;
    if (!date || date->get_string().get(text) != simdjson::SUCCESS) {
      return std::nullopt;
    }
    return parseInternetDate(text);
  }

 private:
  struct Cursor {
    dom::array::iterator at;
    std::int64_t index;
  };

  dom::element value_;
  mutable std::optional<Cursor> cursor_;
};

class ReplyDescriptor : public JsonDescriptor {
 public:
  explicit ReplyDescriptor(std::unique_ptr<ParsedLibrary> library)
      : JsonDescriptor(library->root), library_(std::move(library)) {}

 private:
  std::unique_ptr<ParsedLibrary> library_;
};

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

// Messages can quote the bytes of a broken file, which need not be UTF-8.
ScriptOutcome failure(std::string_view message) {
  return {nullptr, std::make_unique<JsonErrorRecord>(
                       json{{"NSAppleScriptErrorMessage", text::repairUtf8(message)}})};
}

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

// The reply of a parsed library: the error record of {"error": …}, else the whole document.
ScriptOutcome replyOf(std::unique_ptr<ParsedLibrary> library) {
  dom::object object;
  if (library->root.get_object().get(object) == simdjson::SUCCESS) {
    std::optional<dom::element> error;
    for (const dom::key_value_pair member : object) {
      if (member.key == "error") {
        error = member.value;  // a repeated key: the last one counts
      }
    }
    if (error) {
      return {nullptr, std::make_unique<JsonErrorRecord>(json::parse(simdjson::minify(*error)))};
    }
  }
  return {std::make_unique<ReplyDescriptor>(std::move(library)), nullptr};
}

// A file simdjson refuses, read by nlohmann: its message says where the file breaks. The few
// files nlohmann reads but simdjson does not are a NUL byte after the value, which nlohmann
// takes for the end of input, and integers beyond 64 bits, which nlohmann reads as floating
// point numbers (no text, like any other fraction) and which are served from its rewrite.
ScriptOutcome serveRefused(std::string_view text, const std::string& source) {
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
    return failure(prefix + jsonErrorMessage(error));
  }
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    return failure(prefix + "parse error at " + positionOf(text, nul) +
                   ": syntax error while parsing value - unexpected NUL byte; expected end of "
                   "input");
  }
  auto rewritten = std::make_unique<ParsedLibrary>(LibraryBytes(tree.dump()));
  if (!rewritten->parse()) {
    return failure(prefix + "refused after rewriting");
  }
  return replyOf(std::move(rewritten));
}

ScriptOutcome serve(LibraryBytes bytes, const std::string& source) {
  auto library = std::make_unique<ParsedLibrary>(std::move(bytes));
  if (library->parse()) {
    return replyOf(std::move(library));
  }
  return serveRefused(library->bytes.view(), source);
}

// A library file's bytes: mapped when it is a regular file, read otherwise (a pipe).
std::variant<LibraryBytes, std::string> readLibraryFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::string(std::strerror(errno));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return std::string(std::strerror(errno));
  }
  if (S_ISDIR(info.st_mode)) {
    return std::string(std::strerror(EISDIR));
  }
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    if (auto mapped = LibraryBytes::map(fd, static_cast<std::size_t>(info.st_size))) {
      return std::move(*mapped);
    }
  }
  std::string read;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return std::string(std::strerror(errno));
    }
    if (n == 0) {
      return LibraryBytes(read);
    }
    read.append(buffer, static_cast<std::size_t>(n));
  }
}

// A script whose every run serves the library anew, as Notes answers every run anew.
class LibraryScript : public Script {
 public:
  explicit LibraryScript(std::function<ScriptOutcome()> serveLibrary)
      : serveLibrary_(std::move(serveLibrary)) {}
  ScriptOutcome execute() override { return serveLibrary_(); }

 private:
  std::function<ScriptOutcome()> serveLibrary_;
};

// The stand-in ignores the script's text: it plays the reply that Notes would give.
class LibraryRunner : public ScriptRunner {
 public:
  explicit LibraryRunner(std::function<ScriptOutcome()> serveLibrary)
      : serveLibrary_(std::move(serveLibrary)) {}
  std::unique_ptr<Script> makeScript(std::string_view) override {
    return std::make_unique<LibraryScript>(serveLibrary_);
  }

 private:
  std::function<ScriptOutcome()> serveLibrary_;
};

}  // namespace

std::unique_ptr<ScriptRunner> makeLibraryFileScriptRunner(std::string path) {
  return std::make_unique<LibraryRunner>([path = std::move(path)] {
    auto bytes = readLibraryFile(path);
    if (auto* reason = std::get_if<std::string>(&bytes)) {
      return failure("cannot read Notes library " + path + ": " + *reason);
    }
    return serve(std::move(std::get<LibraryBytes>(bytes)), path);
  });
}

std::unique_ptr<ScriptRunner> makeLibraryTextScriptRunner(std::string text, std::string source) {
  return std::make_unique<LibraryRunner>([text = std::move(text), source = std::move(source)] {
    return serve(LibraryBytes(text), source);
  });
}

}  // namespace sheafwright
