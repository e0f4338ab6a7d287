// The progress line: written whole each time, after a carriage return and an erase to the end
// of the line.
#include "sheafwright/progress_line.h"

#include "sheafwright/unicode_text.h"

#include <ostream>
#include <string>

namespace sheafwright {

namespace {

// The name as every printed name is shown, at most 40 characters of it; a shown control is not
// cut in two.
void appendShortened(std::string& line, std::string_view name) {
  constexpr std::size_t kMaxCharacters = 40;
  std::size_t characters = 0;
  for (std::size_t at = 0; at < name.size();) {
    const text::CodePoint c = text::codePointAt(name, at);
    const std::string shown = text::withControlsShown(name.substr(at, c.length));
    std::size_t width = 0;
    for (std::size_t k = 0; k < shown.size(); k += text::codePointAt(shown, k).length) {
      ++width;
    }
    if (characters + width > kMaxCharacters) {
      line += "\u2026";
      return;
    }
    characters += width;
    line += shown;
    at += c.length;
  }
}

}  // namespace

void ProgressLine::show(std::size_t folder, std::size_t folders, std::int64_t notes,
                        std::string_view name) {
  if (terminal_ == nullptr) {
    return;
  }
  std::string line = "\r\x1b[KFolder " + std::to_string(folder) + "/" + std::to_string(folders) +
                     ", " + std::to_string(notes) + " notes: ";
  appendShortened(line, name);
  terminal_->write(line.data(), static_cast<std::streamsize>(line.size()));
  terminal_->flush();
  shown_ = true;
}

void ProgressLine::clear() {
  if (shown_) {
    *terminal_ << "\r\x1b[K" << std::flush;
    shown_ = false;
  }
}

}  // namespace sheafwright
