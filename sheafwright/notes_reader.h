#pragma once

#include "sheafwright/date.h"
#include "sheafwright/script_runner.h"

#include <string>
#include <string_view>
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
    const std::string& message() const { return message_; }
    // The text the user sees.
    std::string description() const;

   private:
    explicit ReaderError(std::string message) : message_(std::move(message)) {}
    std::string message_;
  };

  // The one script sent to Notes. Each note's record is made inside `try`, so a note whose
  // properties Notes cannot hand over becomes an empty record instead of failing the run.
  static const std::string_view script;

  // The notes in reply order; throws ReaderError.
  static std::vector<Note> readAll(ScriptRunner& runner);
};

}  // namespace sheafwright
