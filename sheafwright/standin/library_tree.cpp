// Reading a library into nodes with simdjson's On Demand front end.
#include "sheafwright/standin/library_tree.h"

#include <simdjson.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

namespace sheafwright::standin {

static_assert(kLibraryPadding >= simdjson::SIMDJSON_PADDING);

namespace {

namespace ondemand = simdjson::ondemand;

// Reads a library into nodes with simdjson's On Demand front end, which unescapes a string only
// when asked: a library's text is not copied. Every value is visited, which is what makes the
// reading a validation: a file with anything On Demand would skip unread is refused here.
class TreeBuilder {
 public:
  // `wrappingLevels`: lists put around the library's own value, which do not count toward the
  // nesting limit.
  TreeBuilder(std::vector<LibraryNode>& nodes, int wrappingLevels)
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
    nodes_.push_back({nullptr, 0, 0, LibraryNode::Kind::kArray});
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
    std::optional<LibraryNode> date;
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
    const bool isDate = onlyDates && date && date->kind == LibraryNode::Kind::kString;
    nodes_.push_back(isDate ? LibraryNode{date->data, date->length, 0, LibraryNode::Kind::kDate}
                            : LibraryNode{});
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
    return push(text, LibraryNode::Kind::kString);
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
          nodes_.push_back(LibraryNode{});
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
        return push(*token == "-0" ? std::string_view("0") : *token, LibraryNode::Kind::kInteger);
      }
      case ondemand::json_type::boolean: {
        bool flag = false;
        if (value.get_bool().get(flag) != simdjson::SUCCESS) {
          return false;
        }
        nodes_.push_back(LibraryNode{nullptr, 0, 0,
                                     flag ? LibraryNode::Kind::kTrue : LibraryNode::Kind::kFalse});
        return true;
      }
      case ondemand::json_type::null: {
        bool isNull = false;
        if (value.is_null().get(isNull) != simdjson::SUCCESS || !isNull) {
          return false;
        }
        nodes_.push_back(LibraryNode{});
        return true;
      }
      default:
        return false;
    }
  }

  bool push(std::string_view text, LibraryNode::Kind kind) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
      return false;
    }
    nodes_.push_back(LibraryNode{text.data(), static_cast<std::uint32_t>(text.size()), 0, kind});
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

  std::vector<LibraryNode>& nodes_;
  int wrappingLevels_;
};

}  // namespace

struct LibraryTree::Parser {
  ondemand::parser parser;
};

LibraryTree::LibraryTree(LibraryBytes bytes)
    : bytes_(std::move(bytes)), parser_(std::make_unique<Parser>()) {}

LibraryTree::~LibraryTree() = default;

bool LibraryTree::parse(int wrappingLevels) {
  std::string_view text = bytes_.view();
  // A leading byte order mark is allowed (RFC 8259) and skipped.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  ondemand::document document;
  return parser_->parser.iterate(text.data(), text.size(), text.size() + kLibraryPadding)
                 .get(document) == simdjson::SUCCESS &&
         TreeBuilder(nodes_, wrappingLevels).build(document);
}

}  // namespace sheafwright::standin
