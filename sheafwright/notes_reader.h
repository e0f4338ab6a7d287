// The notes reader: runs the fixed script once and unpacks its reply into notes.
#pragma once

#include "sheafwright/date.h"
#include "sheafwright/script_runner.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sheafwright {

// Reads every note of every folder through one run of a fixed script.
struct NotesReader {
  NotesReader() = delete;

  struct Note {
    std::string folder;
    std::string name;
    std::string html;
    Date created;
    Date modified;

    bool operator==(const Note&) const = default;
  };

  // The reader's one error: the script could not be made or its run failed.
  class ReaderError {
   public:
    static ReaderError scriptFailure(std::string message) {
      return ReaderError(std::move(message));
    }
    // The text the user sees: the message, without one closing full stop, then a hint.
    std::string description() const;

   private:
    explicit ReaderError(std::string message) : message_(std::move(message)) {}
    std::string message_;
  };

  // What one run of the script yielded.
  struct Library {
    // The notes in reply order.
    std::vector<Note> notes;
    // One entry per reply element that was no note (absent, or fewer than five fields), in
    // reply order: the text of its first field, which names the folder, when it has one.
    std::vector<std::optional<std::string>> unreadableFolders;
  };

  // The one script sent to Notes. It reads each folder a property at a time, and sends a
  // short element (the folder's name, perhaps the note's) for a note or folder that Notes
  // could not hand over, so that nothing is lost without a word.
  static const std::string_view script;

  // Throws ReaderError.
  static Library readAll(ScriptRunner& runner);
};

}  // namespace sheafwright
