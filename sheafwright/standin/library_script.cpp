// The stand-in's script: a library's reply cut into folders, and the handlers over them.
#include "sheafwright/standin/library_script.h"

#include "sheafwright/script_values.h"
#include "sheafwright/standin/refused_library.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace sheafwright::standin {

namespace {

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
    return libraryFailure("the script has no handler " + std::string(handler) + " taking " +
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
    // Each folder's name: a text, or no value.
    std::vector<ValueDescriptor::Value> names;
    for (const Folder& folder : folders_) {
      names.push_back(folder.name ? ValueDescriptor::Value(*folder.name)
                                  : ValueDescriptor::Value());
    }
    return {std::make_unique<ListDescriptor>(std::move(names)), nullptr};
  }

  ScriptOutcome folderNotes(std::int64_t position) {
    if (position < 1 || position > static_cast<std::int64_t>(folders_.size())) {
      return libraryFailure("there is no folder " + std::to_string(position) +
                            " in the folder list");
    }
    return {std::make_unique<SliceDescriptor>(
                reply_, folders_[static_cast<std::size_t>(position - 1)].items),
            nullptr};
  }

  // What Notes counts in the folder: here its elements, as an integer answers (its text).
  ScriptOutcome noteCount(std::int64_t position) {
    if (position < 1 || position > static_cast<std::int64_t>(folders_.size())) {
      return libraryFailure("there is no folder " + std::to_string(position) +
                            " in the folder list");
    }
    return {std::make_unique<ValueDescriptor>(
                std::to_string(folders_[static_cast<std::size_t>(position - 1)].items.size())),
            nullptr};
  }

  std::function<ScriptOutcome()> serveLibrary_;
  std::shared_ptr<const ScriptDescriptor> reply_;
  std::vector<Folder> folders_;
};

}  // namespace

std::unique_ptr<Script> makeLibraryScript(std::function<ScriptOutcome()> serveLibrary) {
  return std::make_unique<LibraryScript>(std::move(serveLibrary));
}

}  // namespace sheafwright::standin
