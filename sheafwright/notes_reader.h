// The notes reader: runs the fixed script once and unpacks its reply into notes.
#pragma once

#include "sheafwright/date.h"
#include "sheafwright/script_runner.h"

#include <cstddef>
#include <memory>
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

  // What one run of the script yielded. It keeps the reply and reads each note from it when
  // asked, so that a library's bodies are held once, by the reply, rather than twice.
  class Library {
   public:
    // The number of notes, in reply order.
    std::size_t size() const { return notes_.size(); }
    // The folder of note `index` (0-based), read when the reply was unpacked.
    const std::string& folder(std::size_t index) const { return notes_[index].folder; }
    // Note `index` (0-based) as the reply gives it; a missing date is taken as it is read.
    // Throws std::bad_alloc when the reply cannot hand the note over again.
    Note note(std::size_t index) const;
    // One entry per reply element that was no note (absent, or fewer than five fields), in
    // reply order: the text of its first field, which names the folder, when it has one.
    const std::vector<std::optional<std::string>>& unreadableFolders() const {
      return unreadableFolders_;
    }

   private:
    friend struct NotesReader;
    struct Element {
      std::int64_t index;  // 1-based, in the reply
      std::string folder;
    };
    std::unique_ptr<ScriptDescriptor> reply_;
    std::vector<Element> notes_;
    std::vector<std::optional<std::string>> unreadableFolders_;
  };

  // The one script sent to Notes. It reads each folder a property at a time, and sends a
  // short element (the folder's name, perhaps the note's) for a note or folder that Notes
  // could not hand over, so that nothing is lost without a word.
  static const std::string_view script;

  // Throws ReaderError.
  static Library readAll(ScriptRunner& runner);
};

}  // namespace sheafwright
