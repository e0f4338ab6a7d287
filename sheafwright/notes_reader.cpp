// The notes reader: the script, the unpacking of its reply, and the reader's error text.
#include "sheafwright/notes_reader.h"

#include <new>

namespace sheafwright {

// The script's text is sheafwright/notes_script.applescript, compiled in.
std::string_view notesScriptText();

const std::string_view NotesReader::script = notesScriptText();

std::string NotesReader::ReaderError::description() const {
  // AppleScript's messages end with a full stop of their own, and the hint begins with one.
  std::string_view message = message_;
  if (message.ends_with('.')) {
    message.remove_suffix(1);
  }
  return "AppleScript failed: " + std::string(message) +
         ". Make sure Notes is running and automation permission was granted (System Settings "
         "\u203A Privacy & Security \u203A Automation).";
}

namespace {

std::string textOf(const ScriptDescriptor* field) {
  if (!field) {
    return {};
  }
  return field->stringValue().value_or(std::string{});
}

std::optional<Date> dateOf(const ScriptDescriptor* field) {
  return field ? field->dateValue() : std::nullopt;
}

}  // namespace

NotesReader::Library NotesReader::readAll(ScriptRunner& runner) {
  const std::unique_ptr<Script> compiled = runner.makeScript(script);
  if (!compiled) {
    throw ReaderError::scriptFailure("could not compile script");
  }
  ScriptOutcome outcome = compiled->execute();
  if (outcome.error) {
    std::optional<std::string> message = outcome.error->message();
    throw ReaderError::scriptFailure(message ? std::move(*message) : outcome.error->description());
  }
  Library library;
  if (!outcome.reply) {
    return library;
  }
  library.reply_ = std::move(outcome.reply);
  const std::int64_t count = library.reply_->numberOfItems();
  for (std::int64_t i = 1; i <= count; ++i) {
    const std::unique_ptr<ScriptDescriptor> element = library.reply_->item(i);
    if (!element) {
      library.unreadableFolders_.emplace_back();
      continue;
    }
    const std::unique_ptr<ScriptDescriptor> folder = element->item(1);
    if (element->numberOfItems() < 5) {
      library.unreadableFolders_.push_back(folder ? folder->stringValue() : std::nullopt);
      continue;
    }
    library.notes_.push_back({i, textOf(folder.get())});
  }
  return library;
}

NotesReader::Note NotesReader::Library::note(std::size_t index) const {
  const Element& at = notes_[index];
  const std::unique_ptr<ScriptDescriptor> element = reply_->item(at.index);
  if (!element) {
    // It was handed over once already; only a lack of memory keeps it back now (Foundation
    // copies each element anew).
    throw std::bad_alloc();
  }
  Note note;
  note.folder = at.folder;
  note.name = textOf(element->item(2).get());
  note.html = textOf(element->item(3).get());
  note.created = dateOf(element->item(4).get()).value_or(currentDate());
  note.modified = dateOf(element->item(5).get()).value_or(note.created);
  return note;
}

}  // namespace sheafwright
