// The stand-in script runner: plays the Notes application's reply from a JSON library file.
// simdjson reads valid files without copying their text; a file it refuses is read again by
// nlohmann, whose messages say where the file breaks.
#include "sheafwright/platform/json_script_runner.h"

#include "sheafwright/json_error_message.h"
#include "sheafwright/unicode_text.h"

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <unordered_set>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright {

namespace {

using nlohmann::json;
namespace ondemand = simdjson::ondemand;

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

// The reply as the reader sees it: one node per JSON value in document order, an array's items
// following it. Strings are read in place in the library's bytes, or where simdjson unescapes
// them; object members are validated but kept only as far as a date needs them.
struct Node {
  enum class Kind : std::uint8_t { kArray, kString, kInteger, kDate, kOther };
  const char* data = nullptr;  // the text of strings, integers and dates
  std::uint32_t length = 0;    // bytes of that text, or an array's number of items
  std::uint32_t end = 0;       // for an array, the index one past its last item's nodes
  Kind kind = Kind::kOther;

  std::string_view text() const { return {data, length}; }
};

// Reads a library into nodes with simdjson's On Demand front end, which unescapes a string only
// when asked: a library's text is not copied. Every value is visited, which is what makes the
// reading a validation: a file with anything On Demand would skip unread is refused here.
class TreeBuilder {
 public:
  // `wrappingLevels`: lists put around the library's own value, which do not count toward the
  // nesting limit.
  TreeBuilder(std::vector<Node>& nodes, int wrappingLevels)
      : nodes_(nodes), wrappingLevels_(wrappingLevels) {}

  // True when the document is a list read whole. Anything else, valid or not, is left to the
  // slow path: error records and replies without notes are small, and On Demand is lenient
  // with a scalar at the top level.
  bool build(ondemand::document& document) {
    ondemand::json_type type;
    ondemand::value root;
    if (document.type().get(type) != simdjson::SUCCESS || type != ondemand::json_type::array ||
        document.get_value().get(root) != simdjson::SUCCESS || !array(root, -wrappingLevels_)) {
      return false;
    }
    // Only white space may follow the list; simdjson takes anything else for a further value.
    const char* after = nullptr;
    return document.current_location().get(after) == simdjson::OUT_OF_BOUNDS;
  }

 private:
  // `enclosing`: the arrays and objects around the value.
  bool value(ondemand::value& value, int enclosing) {
    ondemand::json_type type;
    if (value.type().get(type) != simdjson::SUCCESS) {
      return false;
    }
    switch (type) {
      case ondemand::json_type::array:
        return array(value, enclosing);
      case ondemand::json_type::object:
        return object(value, enclosing);
      case ondemand::json_type::string:
        return string(value);
      default:
        return scalar(value, type);
    }
  }

  bool array(ondemand::value& value, int enclosing) {
    if (enclosing >= kMaxLibraryDepth) {
      return false;
    }
    const std::size_t at = nodes_.size();
    nodes_.push_back({nullptr, 0, 0, Node::Kind::kArray});
    ondemand::array items;
    if (value.get_array().get(items) != simdjson::SUCCESS) {
      return false;
    }
    std::uint32_t count = 0;
    for (auto result : items) {
      ondemand::value item;
      if (std::move(result).get(item) != simdjson::SUCCESS || !this->value(item, enclosing + 1)) {
        return false;
      }
      ++count;
    }
    nodes_[at].length = count;
    nodes_[at].end = static_cast<std::uint32_t>(nodes_.size());
    return true;
  }

  // An object is one node: a date when its only key is "date" (repeated, the last one counts)
  // with a string value, otherwise no value the reader can use.
  bool object(ondemand::value& value, int enclosing) {
    if (enclosing >= kMaxLibraryDepth) {
      return false;
    }
    const std::size_t at = nodes_.size();
    ondemand::object members;
    if (value.get_object().get(members) != simdjson::SUCCESS) {
      return false;
    }
    bool onlyDates = true;
    std::optional<Node> date;
    for (auto result : members) {
      ondemand::field member;
      std::string_view key;
      if (std::move(result).get(member) != simdjson::SUCCESS ||
          member.unescaped_key().get(key) != simdjson::SUCCESS) {
        return false;
      }
      if (!this->value(member.value(), enclosing + 1)) {
        return false;
      }
      onlyDates = onlyDates && key == "date";
      date = nodes_[at];
      nodes_.resize(at);
    }
    const bool isDate = onlyDates && date && date->kind == Node::Kind::kString;
    nodes_.push_back(isDate ? Node{date->data, date->length, 0, Node::Kind::kDate} : Node{});
    return true;
  }

  // Text without a backslash is its own value (simdjson has checked that the whole file is
  // UTF-8 and that no string holds a control character); any other is unescaped by simdjson.
  bool string(ondemand::value& value) {
    const std::optional<std::string_view> token = tokenOf(value);
    if (!token || token->size() < 2 || token->front() != '"' || token->back() != '"') {
      return false;
    }
    // The string is read either way: a value left unread is skipped over by On Demand without
    // looking at what comes after it.
    std::string_view text = token->substr(1, token->size() - 2);
    if (text.find('\\') != std::string_view::npos) {
      if (value.get_string().get(text) != simdjson::SUCCESS) {
        return false;
      }
    } else if (ondemand::raw_json_string raw;
               value.get_raw_json_string().get(raw) != simdjson::SUCCESS) {
      return false;
    }
    return push(text, Node::Kind::kString);
  }

  // Numbers, booleans and null.
  bool scalar(ondemand::value& value, ondemand::json_type type) {
    switch (type) {
      case ondemand::json_type::number: {
        ondemand::number number;
        if (value.get_number().get(number) != simdjson::SUCCESS) {
          return false;  // beyond 64 bits, or beyond floating point: the slow path's to judge
        }
        const ondemand::number_type kind = number.get_number_type();
        if (kind == ondemand::number_type::floating_point_number) {
          nodes_.push_back(Node{});
          return true;
        }
        if (kind != ondemand::number_type::signed_integer &&
            kind != ondemand::number_type::unsigned_integer) {
          return false;
        }
        // An integer's text is its token, as JSON writes no "+" or leading zero; but "-0" is 0.
        const std::optional<std::string_view> token = tokenOf(value);
        if (!token) {
          return false;
        }
        return push(*token == "-0" ? std::string_view("0") : *token, Node::Kind::kInteger);
      }
      case ondemand::json_type::boolean: {
        bool flag = false;
        if (value.get_bool().get(flag) != simdjson::SUCCESS) {
          return false;
        }
        nodes_.push_back(Node{});
        return true;
      }
      case ondemand::json_type::null: {
        bool isNull = false;
        if (value.is_null().get(isNull) != simdjson::SUCCESS || !isNull) {
          return false;
        }
        nodes_.push_back(Node{});
        return true;
      }
      default:
        return false;
    }
  }

  bool push(std::string_view text, Node::Kind kind) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
      return false;
    }
    nodes_.push_back(Node{text.data(), static_cast<std::uint32_t>(text.size()), 0, kind});
    return true;
  }

  // The value's token with the white space after it trimmed. simdjson 3.0 hands the token back
  // plainly, later releases as a result.
  template <typename Value>  // a template, so that only the branch of the release in use compiles
  static std::optional<std::string_view> tokenOf(Value& value) {
    auto token = value.raw_json_token();
    std::string_view text;
    if constexpr (std::is_same_v<decltype(token), std::string_view>) {
      text = token;
    } else if (std::move(token).get(text) != simdjson::SUCCESS) {
      return std::nullopt;
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\r')) {
      text.remove_suffix(1);
    }
    return text;
  }

  std::vector<Node>& nodes_;
  int wrappingLevels_;
};

// The library as simdjson reads it: its bytes, the parser that holds unescaped strings, and
// the nodes.
struct ParsedLibrary {
  explicit ParsedLibrary(LibraryBytes libraryBytes) : bytes(std::move(libraryBytes)) {}

  // False when the fast reading leaves the library to the slow path.
  bool parse(int wrappingLevels = 0) {
    std::string_view text = bytes.view();
    // A leading byte order mark is allowed (RFC 8259) and skipped.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
      text.remove_prefix(3);
    }
    ondemand::document document;
    return parser.iterate(text.data(), text.size(), text.size() + simdjson::SIMDJSON_PADDING)
                   .get(document) == simdjson::SUCCESS &&
           TreeBuilder(nodes, wrappingLevels).build(document);
  }

  LibraryBytes bytes;
  ondemand::parser parser;
  std::vector<Node> nodes;
};

// A value of the reply: an index into the library's nodes, which the reply owns.
class JsonDescriptor : public ScriptDescriptor {
 public:
  JsonDescriptor(const std::vector<Node>& nodes, std::size_t index)
      : nodes_(nodes), index_(index) {}

  std::int64_t numberOfItems() const override {
    const Node& node = nodes_[index_];
    return node.kind == Node::Kind::kArray ? node.length : 0;
  }

  // The reader asks for items in ascending order, so a cursor makes each step O(1).
  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    const Node& node = nodes_[index_];
    if (node.kind != Node::Kind::kArray || index < 1 || index > node.length) {
      return nullptr;
    }
    if (cursorItem_ == 0 || index < cursorItem_) {
      cursorItem_ = 1;
      cursorNode_ = index_ + 1;
    }
    for (; cursorItem_ < index; ++cursorItem_) {
      const Node& skipped = nodes_[cursorNode_];
      cursorNode_ = skipped.kind == Node::Kind::kArray ? skipped.end : cursorNode_ + 1;
    }
    return std::make_unique<JsonDescriptor>(nodes_, cursorNode_);
  }

  std::optional<std::string> stringValue() const override {
    const Node& node = nodes_[index_];
    if (node.kind != Node::Kind::kString && node.kind != Node::Kind::kInteger) {
      return std::nullopt;
    }
    return std::string(node.text());
  }

  std::optional<Date> dateValue() const override {
    const Node& node = nodes_[index_];
    if (node.kind != Node::Kind::kDate) {
      return std::nullopt;
    }
    return parseInternetDate(node.text());
  }

 private:
  const std::vector<Node>& nodes_;
  std::size_t index_;
  mutable std::int64_t cursorItem_ = 0;
  mutable std::size_t cursorNode_ = 0;
};

// The reply owns the library: its node `index` is the value the script returned.
class ReplyDescriptor : public JsonDescriptor {
 public:
  ReplyDescriptor(std::unique_ptr<ParsedLibrary> library, std::size_t index)
      : JsonDescriptor(library->nodes, index), library_(std::move(library)) {}

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

// A file the fast reading leaves, read by nlohmann: its message says where a broken file
// breaks. Files nlohmann reads but the fast reading does not: a NUL byte after the value, which
// nlohmann takes for the end of its input but is not valid JSON; error records, whose text is
// written with sorted keys; and replies that are no list or hold integers beyond 64 bits, which
// are served from nlohmann's rewrite (such integers become floating point numbers, which have
// no text).
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
  if (tree.is_object()) {
    if (const auto error = tree.find("error"); error != tree.end()) {
      return {nullptr, std::make_unique<JsonErrorRecord>(std::move(*error))};
    }
  }
  // Served from a list, the one form the fast reading takes: a value that is no list is its item.
  const bool list = tree.is_array();
  auto rewritten =
      std::make_unique<ParsedLibrary>(LibraryBytes(list ? tree.dump() : "[" + tree.dump() + "]"));
  if (!rewritten->parse(list ? 0 : 1)) {
    return failure(prefix + "refused after rewriting");
  }
  return {std::make_unique<ReplyDescriptor>(std::move(rewritten), list ? 0 : 1), nullptr};
}

ScriptOutcome serve(LibraryBytes bytes, const std::string& source) {
  auto library = std::make_unique<ParsedLibrary>(std::move(bytes));
  if (library->parse()) {
    return {std::make_unique<ReplyDescriptor>(std::move(library), 0), nullptr};
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

// Some of the reply's elements, as one folder's reply: a list whose items are the reply's.
class SliceDescriptor : public ScriptDescriptor {
 public:
  SliceDescriptor(std::shared_ptr<const ScriptDescriptor> reply, std::vector<std::int64_t> items)
      : reply_(std::move(reply)), items_(std::move(items)) {}

  std::int64_t numberOfItems() const override { return static_cast<std::int64_t>(items_.size()); }
  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    if (index < 1 || index > numberOfItems()) {
      return nullptr;
    }
    return reply_->item(items_[static_cast<std::size_t>(index - 1)]);
  }
  std::optional<std::string> stringValue() const override { return std::nullopt; }
  std::optional<Date> dateValue() const override { return std::nullopt; }

 private:
  std::shared_ptr<const ScriptDescriptor> reply_;
  std::vector<std::int64_t> items_;
};

std::optional<std::string> textOf(const ScriptDescriptor* value) {
  return value ? value->stringValue() : std::nullopt;
}

// Plays the script's handlers over the library's reply: each run of consecutive elements whose
// first values have the same text (or none) is one folder, as Notes lists a folder's notes
// together. A note element that repeats an earlier one's id is dropped over the whole file
// first, before anything looks at folders.
class LibraryScript : public Script {
 public:
  explicit LibraryScript(std::function<ScriptOutcome()> serveLibrary)
      : serveLibrary_(std::move(serveLibrary)) {}

  ScriptOutcome call(std::string_view handler, std::span<const std::int64_t> arguments) override {
    if (handler == "folderNames") {
      return folderNames();
    }
    if (handler == "folderNotes" && arguments.size() == 1) {
      return folderNotes(arguments[0]);
    }
    return failure("the script has no handler " + std::string(handler) + " taking " +
                   std::to_string(arguments.size()) + " arguments");
  }

 private:
  struct Folder {
    std::optional<std::string> name;
    std::vector<std::int64_t> items;  // 1-based, in the reply
  };

  // Reads the library anew, as Notes answers anew each time its folders are asked for.
  ScriptOutcome folderNames() {
    folders_.clear();
    ScriptOutcome served = serveLibrary_();
    if (served.error) {
      return served;
    }
    reply_ = std::move(served.reply);
    std::unordered_set<std::string> seenIds;
    const std::int64_t count = reply_->numberOfItems();
    for (std::int64_t i = 1; i <= count; ++i) {
      const std::unique_ptr<ScriptDescriptor> element = reply_->item(i);
      const std::int64_t fields = element ? element->numberOfItems() : 0;
      if (fields >= 6) {
        std::optional<std::string> id = textOf(element->item(6).get());
        if (id && !id->empty() && !seenIds.insert(std::move(*id)).second) {
          continue;
        }
      }
      std::optional<std::string> folder = fields >= 1 ? textOf(element->item(1).get()) : std::nullopt;
      if (folders_.empty() || folders_.back().name != folder) {
        folders_.push_back({std::move(folder), {}});
      }
      folders_.back().items.push_back(i);
    }
    std::vector<std::optional<std::string>> list;
    for (const Folder& folder : folders_) {
      list.push_back(folder.name);
    }
    return {std::make_unique<NamesDescriptor>(std::move(list)), nullptr};
  }

  ScriptOutcome folderNotes(std::int64_t position) {
    if (position < 1 || position > static_cast<std::int64_t>(folders_.size())) {
      return failure("there is no folder " + std::to_string(position) + " in the folder list");
    }
    return {std::make_unique<SliceDescriptor>(
                reply_, folders_[static_cast<std::size_t>(position - 1)].items),
            nullptr};
  }

  // A folder's name in the folder list: a text, or no value.
  class NameDescriptor : public ScriptDescriptor {
   public:
    explicit NameDescriptor(std::optional<std::string> text) : text_(std::move(text)) {}
    std::int64_t numberOfItems() const override { return 0; }
    std::unique_ptr<ScriptDescriptor> item(std::int64_t) const override { return nullptr; }
    std::optional<std::string> stringValue() const override { return text_; }
    std::optional<Date> dateValue() const override { return std::nullopt; }

   private:
    std::optional<std::string> text_;
  };

  class NamesDescriptor : public ScriptDescriptor {
   public:
    explicit NamesDescriptor(std::vector<std::optional<std::string>> names)
        : names_(std::move(names)) {}
    std::int64_t numberOfItems() const override {
      return static_cast<std::int64_t>(names_.size());
    }
    std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
      if (index < 1 || index > numberOfItems()) {
        return nullptr;
      }
      return std::make_unique<NameDescriptor>(names_[static_cast<std::size_t>(index - 1)]);
    }
    std::optional<std::string> stringValue() const override { return std::nullopt; }
    std::optional<Date> dateValue() const override { return std::nullopt; }

   private:
    std::vector<std::optional<std::string>> names_;
  };

  std::function<ScriptOutcome()> serveLibrary_;
  std::shared_ptr<const ScriptDescriptor> reply_;
  std::vector<Folder> folders_;
};

// The stand-in ignores the script's text: it plays the replies that Notes would give.
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

ScriptOutcome libraryReply(std::string_view text, const std::string& source) {
  return serve(LibraryBytes(text), source);
}

std::unique_ptr<ScriptRunner> makeLibraryTextScriptRunner(std::string text, std::string source) {
  return std::make_unique<LibraryRunner>([text = std::move(text), source = std::move(source)] {
    return serve(LibraryBytes(text), source);
  });
}

}  // namespace sheafwright
