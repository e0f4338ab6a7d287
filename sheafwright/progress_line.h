// The line on a terminal that says which folder is being read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string_view>

namespace sheafwright {

// One line, rewritten in place while the folders are read; only where a person watches (a
// terminal), so that scripts and logs see nothing of it. Cleared when it goes; an interruption
// clears it too (see interruption.h).
class ProgressLine {
 public:
  // Null: nothing is shown.
  explicit ProgressLine(std::ostream* terminal) : terminal_(terminal) {}
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // "Folder 3/12, 140 notes: " and the folder's name with its controls shown, cut to fit a
  // narrow terminal.
  void show(std::size_t folder, std::size_t folders, std::int64_t notes, std::string_view name);
  void clear();

 private:
  std::ostream* terminal_;
  bool shown_ = false;
};

}  // namespace sheafwright
