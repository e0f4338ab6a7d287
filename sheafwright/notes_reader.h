// The notes reader: calls the fixed script's handlers and unpacks their replies into notes. A
// failed call ends the reading with its one exception, ReaderError.
#pragma once

#include "sheafwright/date.h"
#include "sheafwright/script_runner.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

namespace sheafwright {

// Reads every note of every folder through a fixed script, a folder at a time.
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
    const std::string& message() const { return message_; }

   private:
    explicit ReaderError(std::string message) : message_(std::move(message)) {}
    std::string message_;
  };

  // A note that Notes did not hand over, and why, as far as the reply tells.
  struct Unreadable {
    std::optional<std::string> folder;  // none when the reply gave no text for it
    std::optional<std::string> name;    // none when the reply gave no text for it
    std::string_view reason;            // kLocked, kNotHandedOver or kFolderNotOpened

    bool operator==(const Unreadable&) const = default;
  };
  static constexpr std::string_view kLocked = "locked";
  static constexpr std::string_view kNotHandedOver = "not handed over";
  static constexpr std::string_view kFolderNotOpened = "folder could not be opened";

  // What one folder's reply yielded. It keeps the reply and reads each note from it when
  // asked, so that the folder's bodies are held once, by the reply, rather than twice.
  class FolderNotes {
   public:
    // The number of note elements (five fields or more), in reply order.
    std::size_t size() const { return notes_.size(); }
    // The folder of note `index` (0-based), read when the reply was unpacked.
    const std::string& folder(std::size_t index) const { return notes_[index].folder; }
    // Note `index` (0-based) as the reply gives it, a missing date taken as it is read; or why
    // it cannot be read: its body is no text (`missing value`), or it is locked (its seventh
    // field is true) and its body empty. Throws std::bad_alloc when the reply cannot hand the
    // note over again.
    std::variant<Note, Unreadable> note(std::size_t index) const;
    // One entry per reply element that was no note (absent, or fewer than five fields), in
    // reply order: the folder alone is a folder that could not be opened.
    const std::vector<Unreadable>& unreadableNotes() const { return unreadableNotes_; }

   private:
    friend struct NotesReader;
    struct Element {
      std::int64_t index;  // 1-based, in the reply
      std::string folder;
    };
    std::unique_ptr<ScriptDescriptor> reply_;
    std::vector<Element> notes_;
    std::vector<Unreadable> unreadableNotes_;
  };

  // A conversation with Notes through one compiled script: the folder list first, then the
  // notes of one folder at a time, so that only one folder's bodies are held at once.
  class Session {
   public:
    // The folders to read, in Notes' order: each one's name, absent when the reply gave no
    // text for it.
    const std::vector<std::optional<std::string>>& folders() const { return folders_; }
    // The notes of folder `index` (0-based). A note whose id an earlier note of this session
    // carried is the same note shown again (a smart folder) and is left out. Throws
    // ReaderError.
    FolderNotes readFolder(std::size_t index);
    // The number of notes Notes shows in folder `index` (0-based), asked for in one request;
    // none when Notes cannot tell. Throws ReaderError.
    std::optional<std::int64_t> noteCount(std::size_t index);
    // The elements of one reply of "folderNotes". A note whose sixth field is a text that is
    // not empty and that an earlier note of this session carried is left out.
    FolderNotes unpack(std::unique_ptr<ScriptDescriptor> reply);

   private:
    friend struct NotesReader;
    std::unique_ptr<Script> script_;
    std::vector<std::optional<std::string>> folders_;
    std::unordered_set<std::string> seenIds_;
  };

  // The one script sent to Notes. Its handler "folderNames" answers the list of folders to
  // read, each as its name, and keeps them; "folderNotes" with a folder's 1-based position in
  // that list answers the folder's notes as elements {folder, name, body, created, modified,
  // id, password protected}, and a short element (the folder's name, perhaps the note's) for a
  // note or folder that Notes could not hand over, so that nothing is lost without a word;
  // "noteCount" with a position answers the number of notes Notes shows there, or missing
  // value.
  static const std::string_view script;

  // Compiles the script and asks for the folder list. Throws ReaderError.
  static Session open(ScriptRunner& runner);
};

}  // namespace sheafwright
