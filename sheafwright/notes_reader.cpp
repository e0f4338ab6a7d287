// The notes reader: the script, the unpacking of its reply, and the reader's error text.
#include "sheafwright/notes_reader.h"

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

std::string textOf(ScriptDescriptor* field) {
  if (!field) {
    return {};
  }
  return field->takeStringValue().value_or(std::string{});
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
  const ScriptOutcome outcome = compiled->execute();
  if (outcome.error) {
    std::optional<std::string> message = outcome.error->message();
    throw ReaderError::scriptFailure(message ? std::move(*message) : outcome.error->description());
  }
  Library library;
  if (!outcome.reply) {
    return library;
  }
  const std::int64_t count = outcome.reply->numberOfItems();
  for (std::int64_t i = 1; i <= count; ++i) {
    const std::unique_ptr<ScriptDescriptor> element = outcome.reply->item(i);
    if (!element) {
      library.unreadableFolders.emplace_back();
      continue;
    }
    if (element->numberOfItems() < 5) {
      const std::unique_ptr<ScriptDescriptor> folder = element->item(1);
      library.unreadableFolders.push_back(folder ? folder->takeStringValue() : std::nullopt);
      continue;
    }
    Note note;
    note.folder = textOf(element->item(1).get());
    note.name = textOf(element->item(2).get());
    note.html = textOf(element->item(3).get());
    note.created = dateOf(element->item(4).get()).value_or(currentDate());
    note.modified = dateOf(element->item(5).get()).value_or(note.created);
    library.notes.push_back(std::move(note));
  }
  return library;
}

}  // namespace sheafwright
