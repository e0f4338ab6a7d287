#include "sheafwright/platform/json_script_runner.h"

#include "sheafwright/json_error_message.h"
#include "sheafwright/unicode_text.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright {

namespace {

using nlohmann::json;

// Items borrow from the tree that the reply owns; the reader drops them before the reply.
class JsonDescriptor : public ScriptDescriptor {
 public:
  explicit JsonDescriptor(json* value) : value_(value) {}

  std::int64_t numberOfItems() const override {
    return value_->is_array() ? static_cast<std::int64_t>(value_->size()) : 0;
  }

  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    if (!value_->is_array() || index < 1 || index > static_cast<std::int64_t>(value_->size())) {
      return nullptr;
    }
    return std::make_unique<JsonDescriptor>(&(*value_)[static_cast<std::size_t>(index - 1)]);
  }

  std::optional<std::string> stringValue() const override {
    if (value_->is_string()) {
      return value_->get_ref<const std::string&>();
    }
    return nonStringText();
  }

  std::optional<std::string> takeStringValue() override {
    if (value_->is_string()) {
      return std::move(value_->get_ref<std::string&>());
    }
    return nonStringText();
  }

  std::optional<std::string> nonStringText() const {
    if (value_->is_number_unsigned()) {
      return std::to_string(value_->get<std::uint64_t>());
    }
    if (value_->is_number_integer()) {
      return std::to_string(value_->get<std::int64_t>());
    }
    return std::nullopt;
  }

  std::optional<Date> dateValue() const override {
    if (!value_->is_object() || value_->size() != 1) {
      return std::nullopt;
    }
    const auto it = value_->find("date");
    if (it == value_->end() || !it->is_string()) {
      return std::nullopt;
    }
    return parseInternetDate(it->get_ref<const std::string&>());
  }

 private:
  json* value_;
};

class OwningDescriptor : public JsonDescriptor {
 public:
  explicit OwningDescriptor(std::unique_ptr<json> tree)
      : JsonDescriptor(tree.get()), tree_(std::move(tree)) {}

 private:
  std::unique_ptr<json> tree_;
};

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

  // Compact, keys in ascending order.
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

ScriptOutcome serve(std::string_view text, const std::string& source) {
  auto tree = std::make_unique<json>();
  try {
    *tree = json::parse(text, [](int depth, json::parse_event_t, json&) {
      if (depth > kMaxLibraryDepth) {
        throw TooDeep();
      }
      return true;
    });
  } catch (const std::exception& error) {
    return failure("Notes library " + source + " is not valid JSON: " + jsonErrorMessage(error));
  }
  if (tree->is_object()) {
    const auto it = tree->find("error");
    if (it != tree->end()) {
      return {nullptr, std::make_unique<JsonErrorRecord>(std::move(*it))};
    }
  }
  return {std::make_unique<OwningDescriptor>(std::move(tree)), nullptr};
}

// The bytes of a library file: mapped when it is a regular file, so that a library of a
// hundred megabytes is neither copied nor zero-filled before parsing; read otherwise (a pipe).
class LibraryFile {
 public:
  explicit LibraryFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      reason_ = std::strerror(errno);
      return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      reason_ = std::strerror(errno);
    } else if (S_ISDIR(info.st_mode)) {
      reason_ = std::strerror(EISDIR);
    } else if (S_ISREG(info.st_mode) && info.st_size > 0) {
      void* mapped =
          ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (mapped == MAP_FAILED) {
        readAll(fd);
      } else {
        mapping_ = mapped;
        bytes_ = std::string_view(static_cast<const char*>(mapped),
                                  static_cast<std::size_t>(info.st_size));
      }
    } else {
      readAll(fd);
    }
    ::close(fd);
  }

  ~LibraryFile() {
    if (mapping_ != nullptr) {
      ::munmap(mapping_, bytes_.size());
    }
  }
  LibraryFile(const LibraryFile&) = delete;
  LibraryFile& operator=(const LibraryFile&) = delete;

  bool ok() const { return reason_.empty(); }
  const std::string& reason() const { return reason_; }
  std::string_view bytes() const { return bytes_; }

 private:
  void readAll(int fd) {
    char buffer[1 << 16];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0) {
        reason_ = std::strerror(errno);
        return;
      }
      if (n == 0) {
        break;
      }
      read_.append(buffer, static_cast<std::size_t>(n));
    }
    bytes_ = read_;
  }

  std::string reason_;
  std::string read_;
  void* mapping_ = nullptr;
  std::string_view bytes_;
};

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
    const LibraryFile file(path);
    if (!file.ok()) {
      return failure("cannot read Notes library " + path + ": " + file.reason());
    }
    return serve(file.bytes(), path);
  });
}

std::unique_ptr<ScriptRunner> makeLibraryTextScriptRunner(std::string text, std::string source) {
  return std::make_unique<LibraryRunner>(
      [text = std::move(text), source = std::move(source)] { return serve(text, source); });
}

}  // namespace sheafwright
