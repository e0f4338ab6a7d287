// The notes reader: the script, the unpacking of its replies, and the reader's error text.
#include "sheafwright/notes_reader.h"

#include "sheafwright/ascii.h"

#include <new>
#include <span>

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

namespace {

// The reply of a handler, or the reader's error when the call failed.
std::unique_ptr<ScriptDescriptor> replyOf(ScriptOutcome outcome) {
  if (outcome.error) {
    std::optional<std::string> message = outcome.error->message();
    throw NotesReader::ReaderError::scriptFailure(message ? std::move(*message)
                                                          : outcome.error->description());
  }
  return std::move(outcome.reply);
}

}  // namespace

NotesReader::Session NotesReader::open(ScriptRunner& runner) {
  Session session;
  session.script_ = runner.makeScript(script);
  if (!session.script_) {
    throw ReaderError::scriptFailure("could not compile script");
  }
  const std::unique_ptr<ScriptDescriptor> names = replyOf(session.script_->call("folderNames", {}));
  const std::int64_t count = names ? names->numberOfItems() : 0;
  for (std::int64_t i = 1; i <= count; ++i) {
    const std::unique_ptr<ScriptDescriptor> name = names->item(i);
    session.folders_.push_back(name ? name->stringValue() : std::nullopt);
  }
  return session;
}

NotesReader::FolderNotes NotesReader::Session::readFolder(std::size_t index) {
  const std::int64_t position = static_cast<std::int64_t>(index) + 1;
  return unpack(replyOf(script_->call("folderNotes", std::span(&position, 1))));
}

std::optional<std::int64_t> NotesReader::Session::noteCount(std::size_t index) {
  const std::int64_t position = static_cast<std::int64_t>(index) + 1;
  const std::unique_ptr<ScriptDescriptor> reply =
      replyOf(script_->call("noteCount", std::span(&position, 1)));
  // An integer reaches the reader as its decimal text.
  const std::optional<std::string> text = reply ? reply->stringValue() : std::nullopt;
  return text ? ascii::readDecimal<std::int64_t>(*text) : std::nullopt;
}

NotesReader::FolderNotes NotesReader::Session::unpack(std::unique_ptr<ScriptDescriptor> reply) {
  FolderNotes notes;
  if (!reply) {
    return notes;
  }
  notes.reply_ = std::move(reply);
  const std::int64_t count = notes.reply_->numberOfItems();
  for (std::int64_t i = 1; i <= count; ++i) {
    const std::unique_ptr<ScriptDescriptor> element = notes.reply_->item(i);
    if (!element) {
      notes.unreadableNotes_.push_back({std::nullopt, std::nullopt, kNotHandedOver});
      continue;
    }
    const std::unique_ptr<ScriptDescriptor> folder = element->item(1);
    const std::int64_t fields = element->numberOfItems();
    if (fields < 5) {
      // The script names a folder it could not open by its name alone.
      const std::unique_ptr<ScriptDescriptor> name = element->item(2);
      notes.unreadableNotes_.push_back({folder ? folder->stringValue() : std::nullopt,
                                        name ? name->stringValue() : std::nullopt,
                                        fields == 1 ? kFolderNotOpened : kNotHandedOver});
      continue;
    }
    if (fields >= 6) {
      // The same note shown by a second folder (a smart folder) is exported once.
      std::string id = textOf(element->item(6).get());
      if (!id.empty() && !seenIds_.insert(std::move(id)).second) {
        continue;
      }
    }
    notes.notes_.push_back({i, textOf(folder.get())});
  }
  return notes;
}

std::variant<NotesReader::Note, NotesReader::Unreadable> NotesReader::FolderNotes::note(
    std::size_t index) const {
  const Element& at = notes_[index];
  const std::unique_ptr<ScriptDescriptor> element = reply_->item(at.index);
  if (!element) {
    // It was handed over once already; only a lack of memory keeps it back now (Foundation
    // copies each element anew).
    throw std::bad_alloc();
  }
  // Decided here rather than when the reply was unpacked, so that each body is copied out of
  // the reply once. `password protected` is true of an unlocked note too, which hands over its
  // body; a locked one hands over none or an empty one.
  const std::unique_ptr<ScriptDescriptor> name = element->item(2);
  const std::unique_ptr<ScriptDescriptor> body = element->item(3);
  std::optional<std::string> html = body ? body->stringValue() : std::nullopt;
  const std::unique_ptr<ScriptDescriptor> lock = element->item(7);
  const bool locked = lock && lock->booleanValue() == true;
  if (!html || (locked && html->empty())) {
    return Unreadable{at.folder, name ? name->stringValue() : std::nullopt,
                      locked ? kLocked : kNotHandedOver};
  }
  Note note;
  note.folder = at.folder;
  note.name = textOf(name.get());
  note.html = std::move(*html);
  note.created = dateOf(element->item(4).get()).value_or(currentDate());
  note.modified = dateOf(element->item(5).get()).value_or(note.created);
  return note;
}

}  // namespace sheafwright
