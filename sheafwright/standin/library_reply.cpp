// The reply a library file plays: each value an index into the parsed library's nodes.
#include "sheafwright/standin/library_reply.h"

#include "sheafwright/standin/library_tree.h"
#include "sheafwright/standin/refused_library.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace sheafwright::standin {

namespace {

// A value of the reply: an index into the library's nodes, which the reply owns.
class JsonDescriptor : public ScriptDescriptor {
 public:
  JsonDescriptor(const std::vector<LibraryNode>& nodes, std::size_t index)
      : nodes_(nodes), index_(index) {}

  std::int64_t numberOfItems() const override {
    const LibraryNode& node = nodes_[index_];
    return node.kind == LibraryNode::Kind::kArray ? node.length : 0;
  }

  // The reader asks for items in ascending order, so a cursor makes each step O(1).
  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    const LibraryNode& node = nodes_[index_];
    if (node.kind != LibraryNode::Kind::kArray || index < 1 || index > node.length) {
      return nullptr;
    }
    if (cursorItem_ == 0 || index < cursorItem_) {
      cursorItem_ = 1;
      cursorNode_ = index_ + 1;
    }
    for (; cursorItem_ < index; ++cursorItem_) {
      const LibraryNode& skipped = nodes_[cursorNode_];
      cursorNode_ = skipped.kind == LibraryNode::Kind::kArray ? skipped.end : cursorNode_ + 1;
    }
    return std::make_unique<JsonDescriptor>(nodes_, cursorNode_);
  }

  std::optional<std::string> stringValue() const override {
    const LibraryNode& node = nodes_[index_];
    if (node.kind != LibraryNode::Kind::kString && node.kind != LibraryNode::Kind::kInteger) {
      return std::nullopt;
    }
    return std::string(node.text());
  }

  std::optional<Date> dateValue() const override {
    const LibraryNode& node = nodes_[index_];
    if (node.kind != LibraryNode::Kind::kDate) {
      return std::nullopt;
    }
    return parseInternetDate(node.text());
  }

  std::optional<bool> booleanValue() const override {
    const LibraryNode::Kind kind = nodes_[index_].kind;
    if (kind != LibraryNode::Kind::kTrue && kind != LibraryNode::Kind::kFalse) {
      return std::nullopt;
    }
    return kind == LibraryNode::Kind::kTrue;
  }

 private:
  const std::vector<LibraryNode>& nodes_;
  std::size_t index_;
  mutable std::int64_t cursorItem_ = 0;
  mutable std::size_t cursorNode_ = 0;
};

// The reply owns the library: its node `index` is the value the script returned.
class ReplyDescriptor : public JsonDescriptor {
 public:
  ReplyDescriptor(std::unique_ptr<LibraryTree> library, std::size_t index)
      : JsonDescriptor(library->nodes(), index), library_(std::move(library)) {}

 private:
  std::unique_ptr<LibraryTree> library_;
};

}  // namespace

ScriptOutcome libraryReply(LibraryBytes bytes, const std::string& source) {
  auto library = std::make_unique<LibraryTree>(std::move(bytes));
  if (library->parse()) {
    return {std::make_unique<ReplyDescriptor>(std::move(library), 0), nullptr};
  }
  OrFailure<RewrittenLibrary, ScriptOutcome> reread = readRefused(library->text(), source);
  if (auto* outcome = std::get_if<ScriptOutcome>(&reread)) {
    return std::move(*outcome);
  }
  RewrittenLibrary& rewritten = std::get<RewrittenLibrary>(reread);
  auto tree = std::make_unique<LibraryTree>(LibraryBytes(rewritten.text));
  if (!tree->parse(rewritten.wrappingLevels)) {
    return libraryFailure("Notes library " + source +
                          " is not valid JSON: refused after rewriting");
  }
  return {std::make_unique<ReplyDescriptor>(std::move(tree),
                                            static_cast<std::size_t>(rewritten.wrappingLevels)),
          nullptr};
}

}  // namespace sheafwright::standin
