// The stand-in script runner: plays the Notes application's replies from a JSON library file,
// read into nodes by simdjson; a file that reading refuses is read again by nlohmann, whose
// messages say where the file breaks.
#include "sheafwright/platform/standin_runner.h"

#include "sheafwright/json_error_message.h"
#include "sheafwright/platform/library_bytes.h"
#include "sheafwright/platform/library_tree.h"
#include "sheafwright/unicode_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <type_traits>
#include <unordered_set>
#include <variant>
#include <vector>

namespace sheafwright {

namespace {

using nlohmann::json;

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
      std::make_unique<LibraryTree>(LibraryBytes(list ? tree.dump() : "[" + tree.dump() + "]"));
  if (!rewritten->parse(list ? 0 : 1)) {
    return failure(prefix + "refused after rewriting");
  }
  return {std::make_unique<ReplyDescriptor>(std::move(rewritten), list ? 0 : 1), nullptr};
}

ScriptOutcome serve(LibraryBytes bytes, const std::string& source) {
  auto library = std::make_unique<LibraryTree>(std::move(bytes));
  if (library->parse()) {
    return {std::make_unique<ReplyDescriptor>(std::move(library), 0), nullptr};
  }
  return serveRefused(library->text(), source);
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
    if (handler == "noteCount" && arguments.size() == 1) {
      return noteCount(arguments[0]);
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
      std::optional<std::string> folder =
          fields >= 1 ? textOf(element->item(1).get()) : std::nullopt;
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

  // What Notes counts in the folder: here its elements, as an integer answers (its text).
  ScriptOutcome noteCount(std::int64_t position) {
    if (position < 1 || position > static_cast<std::int64_t>(folders_.size())) {
      return failure("there is no folder " + std::to_string(position) + " in the folder list");
    }
    return {std::make_unique<NameDescriptor>(
                std::to_string(folders_[static_cast<std::size_t>(position - 1)].items.size())),
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
    std::int64_t numberOfItems() const override { return static_cast<std::int64_t>(names_.size()); }
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

ScriptOutcome libraryFileReply(const std::string& path) {
  auto bytes = readLibraryFile(path);
  if (auto* reason = std::get_if<std::string>(&bytes)) {
    return failure("cannot read Notes library " + path + ": " + *reason);
  }
  const std::size_t size = std::get<LibraryBytes>(bytes).view().size();
  try {
    return serve(std::move(std::get<LibraryBytes>(bytes)), path);
  } catch (const std::bad_alloc&) {
    // The file is read, but what it holds does not fit: still a library too large, not a
    // failure of the export's own.
    return failure("cannot read Notes library " + path + ": too large for this machine's memory (" +
                   std::to_string(size) + " bytes)");
  }
}

std::unique_ptr<ScriptRunner> makeLibraryFileScriptRunner(std::string path) {
  return std::make_unique<LibraryRunner>(
      [path = std::move(path)] { return libraryFileReply(path); });
}

ScriptOutcome libraryReply(std::string_view text, const std::string& source) {
  return serve(LibraryBytes(text), source);
}

std::unique_ptr<ScriptRunner> makeLibraryScriptRunnerFromEnvironment() {
  const char* path = std::getenv("SHEAFWRIGHT_NOTES_LIBRARY");
  if (path == nullptr || *path == '\0') {
    return nullptr;
  }
  return makeLibraryFileScriptRunner(path);
}

std::unique_ptr<ScriptRunner> makeLibraryTextScriptRunner(std::string text, std::string source) {
  return std::make_unique<LibraryRunner>([text = std::move(text), source = std::move(source)] {
    return serve(LibraryBytes(text), source);
  });
}

}  // namespace sheafwright
