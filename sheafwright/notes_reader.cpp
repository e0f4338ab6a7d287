#include "sheafwright/notes_reader.h"

namespace sheafwright {

// The script's text is sheafwright/notes_script.applescript, compiled in.
std::string_view notesScriptText();

const std::string_view NotesReader::script = notesScriptText();

std::string NotesReader::ReaderError::description() const {
  return "AppleScript failed: " + message_ +
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

std::vector<NotesReader::Note> NotesReader::readAll(ScriptRunner& runner) {
  const std::unique_ptr<Script> compiled = runner.makeScript(script);
  if (!compiled) {
    throw ReaderError::scriptFailure("could not compile script");
  }
  const ScriptOutcome outcome = compiled->execute();
  if (outcome.error) {
    std::optional<std::string> message = outcome.error->message();
    throw ReaderError::scriptFailure(message ? std::move(*message) : outcome.error->description());
  }
  std::vector<Note> notes;
  if (!outcome.reply) {
    return notes;
  }
  const std::int64_t count = outcome.reply->numberOfItems();
  for (std::int64_t i = 1; i <= count; ++i) {
    const std::unique_ptr<ScriptDescriptor> element = outcome.reply->item(i);
    if (!element || element->numberOfItems() < 5) {
      continue;
    }
    Note note;
    note.folder = textOf(element->item(1).get());
    note.name = textOf(element->item(2).get());
    note.html = textOf(element->item(3).get());
    note.created = dateOf(element->item(4).get()).value_or(currentDate());
    note.modified = dateOf(element->item(5).get()).value_or(note.created);
    notes.push_back(std::move(note));
  }
  return notes;
}

}  // namespace sheafwright
