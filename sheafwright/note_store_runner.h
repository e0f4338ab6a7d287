// Notes' own database as a source of notes: a script runner whose handlers "folderNames" and
// "folderNotes" answer from NoteStore.sqlite what the script would answer from Notes.
#pragma once

#include "sheafwright/or_failure.h"
#include "sheafwright/script_runner.h"

#include <memory>
#include <string>
#include <variant>

namespace sheafwright {

// Where Notes keeps its database on a Mac, for the home directory `home`.
std::string noteStorePathIn(const std::string& home);
// The same for this user: $HOME, or the home directory the user database names.
std::string defaultNoteStorePath();

// A runner over a private copy of the database at `path` (and its write-ahead log), or the
// one-line message that says why it cannot be read. `includeDeleted` serves Notes' trash too.
// The copy is deleted with the runner.
OrFailure<std::unique_ptr<ScriptRunner>> openNoteStore(const std::string& path,
                                                       bool includeDeleted);

}  // namespace sheafwright
