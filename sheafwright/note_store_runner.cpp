// Notes' database served as the script's replies. What is read, and what is left out, follows
// what the database says of each folder and note, never their names.
//
// The layout (Core Data's single table for accounts, folders, notes and attachments) moved
// between releases; the columns are chosen by what ZICCLOUDSYNCINGOBJECT has. Facts from
// public database readers and write-ups (threeplanetssoftware/apple_cloud_notes_parser,
// "Notes in iOS 15" at ciofecaforensics.com):
// - a row's kind is Z_ENT, whose numbers differ between stores: Z_PRIMARYKEY names them
//   (ICFolder, ICNote);
// - a note's creation date is ZCREATIONDATE3 from macOS 12 / iOS 15 on, ZCREATIONDATE1 before;
//   its folder ZFOLDER (from macOS 10.14 / iOS 12; before, a join table Z_11NOTES);
// - a folder's name is ZTITLE2; ZFOLDERTYPE 0 is an ordinary folder, 1 the trash (also known by
//   an identifier beginning "TrashFolder"), 2 and 3 smart or retired folders that hold no notes
//   of their own;
// - a note's body is ZICNOTEDATA.ZDATA of the row whose ZNOTE is the note's Z_PK: gzip of a
//   protobuf, or encrypted data when ZISPASSWORDPROTECTED is 1;
// - dates are Core Data's: seconds (with fractions) since 2001-01-01 00:00 UTC.
#include "sheafwright/note_store_runner.h"

#include "sheafwright/interruption.h"
#include "sheafwright/note_store_body.h"
#include "sheafwright/script_values.h"
#include "sheafwright/sqlite_database.h"
#include "sheafwright/unicode_text.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

namespace sheafwright {

namespace fs = std::filesystem;

std::string noteStorePathIn(const std::string& home) {
  return home + "/Library/Group Containers/group.com.apple.notes/NoteStore.sqlite";
}

std::string defaultNoteStorePath() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* user = ::getpwuid(::getuid());
    home = user != nullptr ? user->pw_dir : "";
  }
  return noteStorePathIn(home);
}

namespace {

// The names Notes shows for its default folder and its trash when the database holds no name
// of their own (Notes shows them in the system's language; the database has no such names).
constexpr std::string_view kDefaultFolderName = "Notes";
constexpr std::string_view kTrashName = "Recently Deleted";

class MessageRecord : public ScriptErrorRecord {
 public:
  explicit MessageRecord(std::string message) : message_(std::move(message)) {}
  std::optional<std::string> message() const override { return message_; }
  std::string description() const override { return message_; }

 private:
  std::string message_;
};

ScriptOutcome failure(std::string message) {
  return {nullptr, std::make_unique<MessageRecord>(std::move(message))};
}

// Core Data's time stamps count seconds from 2001-01-01 00:00 UTC.
std::optional<Date> coreDataDate(std::optional<double> seconds) {
  constexpr double kUnixSeconds = 978307200.0;
  // About ±3000 years: beyond that no date of a note, and beyond what microseconds hold safely.
  if (!seconds || !std::isfinite(*seconds) || std::fabs(*seconds) > 1e11) {
    return std::nullopt;
  }
  const auto micros = static_cast<std::int64_t>(std::llround((*seconds + kUnixSeconds) * 1e6));
  return Date(std::chrono::microseconds(micros));
}

std::string textOf(std::string_view bytes) {
  return text::repairUtf8(bytes);
}

struct NoteRow {
  std::int64_t key;
  std::string name;
  std::optional<Date> created;
  std::optional<Date> modified;
  bool locked;
  std::optional<std::int64_t> dataKey;  // the ZICNOTEDATA row
};

struct Folder {
  std::string name;
  std::vector<NoteRow> notes;
};

// Every file the copy's directory can hold: the copy, its log, and what SQLite adds beside them.
constexpr const char* kCopyFiles[] = {"NoteStore.sqlite", "NoteStore.sqlite-wal",
                                      "NoteStore.sqlite-shm", "NoteStore.sqlite-journal", nullptr};

// A directory of our own, removed with everything in it, also when the run is interrupted: it
// holds a copy of the user's notes.
class TemporaryDirectory {
 public:
  explicit TemporaryDirectory(fs::path path)
      : path_(std::move(path)), descriptor_(::open(path_.c_str(), O_RDONLY | O_DIRECTORY)) {
    if (descriptor_ >= 0) {
      const interruption::Deferred deferred;
      interruption::removeDirectoryOnInterruption(descriptor_, path_.c_str(), kCopyFiles);
    }
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory() {
    const interruption::Deferred deferred;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    if (descriptor_ >= 0) {
      interruption::removeDirectoryOnInterruption(-1, nullptr, nullptr);
      ::close(descriptor_);
    }
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  int descriptor_;
};

// The open copy of the database and the statement that reads one note's data. The copy's
// directory goes last, once the database is closed.
struct Store {
  std::unique_ptr<TemporaryDirectory> directory;
  sqlite::Database database;
  sqlite::Statement noteData;
  std::vector<Folder> folders;

  // The note's body as Notes hands it to a script; none when its data cannot be read.
  std::optional<std::string> bodyOf(std::int64_t dataKey) {
    try {
      noteData.reset();
      noteData.bind(1, dataKey);
      if (!noteData.step() || noteData.isNull(0)) {
        return std::nullopt;
      }
      std::optional<std::string> html = noteStoreBodyHtml(noteData.blob(0));
      noteData.reset();
      return html;
    } catch (const sqlite::Error&) {
      // A damaged page costs this note only; it is counted as one that could not be read.
      return std::nullopt;
    }
  }
};

// One folder's notes, each read from the database when its element is asked for. The reader
// goes over every element once to unpack the reply and then once more for each note: bodies
// decoded on the first pass are kept for the second while they fit a budget, so that most
// notes are decoded once and a huge folder is never held whole.
class FolderReply : public ScriptDescriptor {
 public:
  FolderReply(std::shared_ptr<Store> store, std::size_t folder)
      : store_(std::move(store)),
        folder_(store_->folders[folder]),
        bodies_(folder_.notes.size()),
        state_(folder_.notes.size(), State::kNotAsked) {}

  std::int64_t numberOfItems() const override {
    return static_cast<std::int64_t>(folder_.notes.size());
  }

  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    if (index < 1 || index > numberOfItems()) {
      return nullptr;
    }
    const auto at = static_cast<std::size_t>(index - 1);
    const NoteRow& note = folder_.notes[at];
    // A locked note's data is encrypted: it is handed over with an empty body.
    ValueDescriptor::Value body = std::string();
    if (!note.locked) {
      std::shared_ptr<const std::string> html = bodyOf(at);
      if (!html) {
        // {folder, name}: a note that could not be handed over.
        return std::make_unique<ListDescriptor>(
            std::vector<ValueDescriptor::Value>{folder_.name, note.name});
      }
      body = std::move(html);
    }
    std::vector<ValueDescriptor::Value> values{folder_.name, note.name, std::move(body)};
    for (const std::optional<Date>& date : {note.created, note.modified}) {
      if (date) {
        values.emplace_back(std::in_place_type<Date>, *date);
      } else {
        values.emplace_back(std::in_place_type<std::monostate>);
      }
    }
    values.emplace_back("x-coredata:///ICNote/p" + std::to_string(note.key));
    values.emplace_back(note.locked);
    return std::make_unique<ListDescriptor>(std::move(values));
  }

  std::optional<std::string> stringValue() const override { return std::nullopt; }
  std::optional<Date> dateValue() const override { return std::nullopt; }

 private:
  static constexpr std::size_t kBudget = std::size_t{64} << 20;

  // A note's body; kept for the reader's second look when this is the first and it fits.
  std::shared_ptr<const std::string> bodyOf(std::size_t at) const {
    if (state_[at] == State::kUnreadable) {
      return nullptr;
    }
    if (std::shared_ptr<const std::string> kept = std::exchange(bodies_[at], nullptr)) {
      kept_ -= kept->size();
      return kept;
    }
    const NoteRow& note = folder_.notes[at];
    std::optional<std::string> html = note.dataKey ? store_->bodyOf(*note.dataKey) : std::nullopt;
    if (!html) {
      state_[at] = State::kUnreadable;
      return nullptr;
    }
    auto body = std::make_shared<const std::string>(std::move(*html));
    if (state_[at] == State::kNotAsked && kept_ + body->size() <= kBudget) {
      bodies_[at] = body;
      kept_ += body->size();
    }
    state_[at] = State::kAsked;
    return body;
  }

  enum class State : std::uint8_t { kNotAsked, kAsked, kUnreadable };

  std::shared_ptr<Store> store_;
  const Folder& folder_;
  mutable std::vector<std::shared_ptr<const std::string>> bodies_;
  mutable std::vector<State> state_;
  mutable std::size_t kept_ = 0;
};

// The script's handlers over the folders read when the store was opened.
class NoteStoreScript : public Script {
 public:
  explicit NoteStoreScript(std::shared_ptr<Store> store) : store_(std::move(store)) {}

  ScriptOutcome call(std::string_view handler, std::span<const std::int64_t> arguments) override {
    if (handler == "folderNames" && arguments.empty()) {
      std::vector<ValueDescriptor::Value> names;
      for (const Folder& folder : store_->folders) {
        names.emplace_back(folder.name);
      }
      return {std::make_unique<ListDescriptor>(std::move(names)), nullptr};
    }
    const bool folder = arguments.size() == 1 && arguments[0] >= 1 &&
                        arguments[0] <= static_cast<std::int64_t>(store_->folders.size());
    if (handler == "folderNotes" && folder) {
      return {std::make_unique<FolderReply>(store_, static_cast<std::size_t>(arguments[0] - 1)),
              nullptr};
    }
    if (handler == "noteCount" && folder) {
      // A number reaches the reader as its decimal text, as from a script.
      const std::size_t count =
          store_->folders[static_cast<std::size_t>(arguments[0] - 1)].notes.size();
      return {std::make_unique<ValueDescriptor>(std::to_string(count)), nullptr};
    }
    return failure("the Notes database has no answer to " + std::string(handler));
  }

 private:
  std::shared_ptr<Store> store_;
};

class NoteStoreRunner : public ScriptRunner {
 public:
  explicit NoteStoreRunner(std::shared_ptr<Store> store) : store_(std::move(store)) {}
  std::unique_ptr<Script> makeScript(std::string_view) override {
    return std::make_unique<NoteStoreScript>(store_);
  }

 private:
  std::shared_ptr<Store> store_;
};

// What the reading needs of the layout; the first thing missing, if any.
struct Layout {
  std::string created;  // the expression for a note's creation date
};

OrFailure<Layout> layoutOf(const sqlite::Database& database) {
  for (const char* table : {"Z_PRIMARYKEY", "ZICCLOUDSYNCINGOBJECT", "ZICNOTEDATA"}) {
    if (!database.hasColumn(table)) {
      return "no table " + std::string(table);
    }
  }
  static constexpr std::pair<const char*, const char*> kColumns[] = {
      {"Z_PRIMARYKEY", "Z_ENT"},
      {"Z_PRIMARYKEY", "Z_NAME"},
      {"ZICCLOUDSYNCINGOBJECT", "Z_PK"},
      {"ZICCLOUDSYNCINGOBJECT", "Z_ENT"},
      {"ZICCLOUDSYNCINGOBJECT", "ZIDENTIFIER"},
      {"ZICCLOUDSYNCINGOBJECT", "ZMARKEDFORDELETION"},
      {"ZICCLOUDSYNCINGOBJECT", "ZTITLE2"},
      {"ZICCLOUDSYNCINGOBJECT", "ZFOLDERTYPE"},
      {"ZICCLOUDSYNCINGOBJECT", "ZPARENT"},
      {"ZICCLOUDSYNCINGOBJECT", "ZTITLE1"},
      {"ZICCLOUDSYNCINGOBJECT", "ZFOLDER"},
      {"ZICCLOUDSYNCINGOBJECT", "ZMODIFICATIONDATE1"},
      {"ZICCLOUDSYNCINGOBJECT", "ZISPASSWORDPROTECTED"},
      {"ZICNOTEDATA", "Z_PK"},
      {"ZICNOTEDATA", "ZNOTE"},
      {"ZICNOTEDATA", "ZDATA"},
  };
  for (const auto& [table, column] : kColumns) {
    if (!database.hasColumn(table, column)) {
      return "no column " + std::string(table) + "." + column;
    }
  }
  // The note's creation date moved to ZCREATIONDATE3 in macOS 12; notes' ZCREATIONDATE1 is
  // then reported empty, and is taken only where ZCREATIONDATE3 is empty.
  const bool moved = database.hasColumn("ZICCLOUDSYNCINGOBJECT", "ZCREATIONDATE3");
  if (database.hasColumn("ZICCLOUDSYNCINGOBJECT", "ZCREATIONDATE1")) {
    return Layout{moved ? "COALESCE(n.ZCREATIONDATE3, n.ZCREATIONDATE1)" : "n.ZCREATIONDATE1"};
  }
  if (moved) {
    return Layout{"n.ZCREATIONDATE3"};
  }
  return std::string("no column ZICCLOUDSYNCINGOBJECT.ZCREATIONDATE3 or ZCREATIONDATE1");
}

// The entity number Z_PRIMARYKEY gives `name`; none when it has none.
std::optional<std::int64_t> entityNumber(const sqlite::Database& database, std::string_view name) {
  sqlite::Statement query = database.prepare("SELECT Z_ENT, Z_NAME FROM Z_PRIMARYKEY");
  while (query.step()) {
    if (query.text(1) == name && !query.isNull(0)) {
      return query.integer(0);
    }
  }
  return std::nullopt;
}

struct FolderRow {
  std::int64_t key;
  std::optional<std::string> title;
  std::int64_t type;
  std::string identifier;
  std::optional<std::int64_t> parent;
  bool deleted;
};

bool isTrash(const FolderRow& folder) {
  return folder.type == 1 || folder.identifier.starts_with("TrashFolder");
}

// The folders to read, in the order they were made (their keys): ordinary folders, nested ones
// included, and the trash when asked for. Smart folders hold no notes of their own; a folder
// marked for deletion, or inside one, or inside the trash (unless the trash is read), is not
// shown. Each folder's label is its own name.
std::vector<Folder> readFolders(const sqlite::Database& database, std::int64_t folderEntity,
                                bool includeDeleted,
                                std::unordered_map<std::int64_t, std::size_t>& indexOf) {
  sqlite::Statement query = database.prepare(
      "SELECT Z_PK, ZTITLE2, ZFOLDERTYPE, ZIDENTIFIER, ZPARENT, ZMARKEDFORDELETION "
      "FROM ZICCLOUDSYNCINGOBJECT WHERE Z_ENT = ?1 ORDER BY Z_PK");
  query.bind(1, folderEntity);
  std::vector<FolderRow> rows;
  std::unordered_map<std::int64_t, std::size_t> rowOf;
  while (query.step()) {
    FolderRow row{
        .key = query.integer(0),
        .title = query.isNull(1) ? std::nullopt : std::optional<std::string>(textOf(query.text(1))),
        .type = query.isNull(2) ? 0 : query.integer(2),
        .identifier = std::string(query.text(3)),
        .parent = query.isNull(4) ? std::nullopt : std::optional<std::int64_t>(query.integer(4)),
        .deleted = !query.isNull(5) && query.integer(5) != 0};
    rowOf.emplace(row.key, rows.size());
    rows.push_back(std::move(row));
  }
  std::vector<Folder> folders;
  for (const FolderRow& row : rows) {
    if (row.deleted || (row.type != 0 && !isTrash(row))) {
      continue;
    }
    // Up the parents (a damaged chain may loop: as deep as there are folders at most).
    bool shown = includeDeleted || !isTrash(row);
    std::optional<std::int64_t> parent = row.parent;
    for (std::size_t depth = 0; shown && parent && depth < rows.size(); ++depth) {
      const auto found = rowOf.find(*parent);
      if (found == rowOf.end()) {
        break;
      }
      const FolderRow& above = rows[found->second];
      shown = !above.deleted && (includeDeleted || !isTrash(above));
      parent = above.parent;
    }
    if (!shown) {
      continue;
    }
    std::string name = row.title.value_or(std::string{});
    if (name.empty() && isTrash(row)) {
      name = kTrashName;
    } else if (name.empty() && row.identifier.starts_with("DefaultFolder")) {
      name = kDefaultFolderName;
    }
    indexOf.emplace(row.key, folders.size());
    folders.push_back({std::move(name), {}});
  }
  return folders;
}

// Every note that is not marked for deletion, into the folder it lives in when that folder is
// read; a folder's notes most recently modified first, as Notes lists them.
void readNotes(const sqlite::Database& database, std::int64_t noteEntity, const Layout& layout,
               const std::unordered_map<std::int64_t, std::size_t>& indexOf,
               std::vector<Folder>& folders) {
  sqlite::Statement query = database.prepare(
      "SELECT n.Z_PK, n.ZTITLE1, " + layout.created +
      ", n.ZMODIFICATIONDATE1, n.ZISPASSWORDPROTECTED, n.ZFOLDER, d.Z_PK "
      "FROM ZICCLOUDSYNCINGOBJECT n LEFT JOIN ZICNOTEDATA d ON d.ZNOTE = n.Z_PK "
      "WHERE n.Z_ENT = ?1 AND COALESCE(n.ZMARKEDFORDELETION, 0) = 0 AND n.ZFOLDER IS NOT NULL "
      "ORDER BY n.ZFOLDER, n.ZMODIFICATIONDATE1 DESC, n.Z_PK, d.Z_PK");
  query.bind(1, noteEntity);
  std::optional<std::int64_t> previous;
  while (query.step()) {
    const std::int64_t key = query.integer(0);
    if (key == previous) {
      continue;  // a second data row of the same note: the first is the one read
    }
    previous = key;
    const auto folder = indexOf.find(query.integer(5));
    if (folder == indexOf.end()) {
      continue;
    }
    folders[folder->second].notes.push_back(
        {.key = key,
         .name = textOf(query.text(1)),
         .created = coreDataDate(query.real(2)),
         .modified = coreDataDate(query.real(3)),
         .locked = !query.isNull(4) && query.integer(4) != 0,
         .dataKey =
             query.isNull(6) ? std::nullopt : std::optional<std::int64_t>(query.integer(6))});
  }
}

struct FileStamp {
  bool exists = false;
  std::uintmax_t size = 0;
  fs::file_time_type modified;
  bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const fs::path& path) {
  std::error_code error;
  FileStamp stamp;
  stamp.size = fs::file_size(path, error);
  if (error) {
    return {};
  }
  stamp.modified = fs::last_write_time(path, error);
  stamp.exists = !error;
  return stamp;
}

// Notes keeps its database in write-ahead-log mode and writes it while it runs. Even a
// read-only SQLite connection to the live files writes to the -shm file (its read marks) and
// needs write access to it, or to the directory to create it (sqlite.org "Write-Ahead
// Logging", read-only databases); `immutable=1` would skip the locks and the log, and read torn
// pages while Notes writes. So the tool copies the database and its -wal into a private
// directory and opens the copy: the live files are only read, and SQLite replays the log into
// the copy's own -shm. Notes may checkpoint between the two copies, so both are stamped (size
// and modification time) before and after; a copy taken while they changed is taken again.
// The -shm is not copied: SQLite rebuilds it from the log.
OrFailure<std::unique_ptr<TemporaryDirectory>> snapshot(const std::string& path) {
  const std::string shown = text::withControlsShown(path);
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) {
    base = "/tmp";
  }
  std::string pattern = (base / "sheafwright-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    return "Could not make a temporary directory for a copy of the Notes database: " +
           std::string(std::strerror(errno));
  }
  auto directory = std::make_unique<TemporaryDirectory>(pattern);
  const fs::path database = path;
  const fs::path log = path + "-wal";
  const fs::path copy = directory->path() / "NoteStore.sqlite";
  const fs::path copyLog = directory->path() / "NoteStore.sqlite-wal";
  constexpr int kAttempts = 5;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const FileStamp databaseBefore = stampOf(database);
    const FileStamp logBefore = stampOf(log);
    fs::copy_file(database, copy, fs::copy_options::overwrite_existing, error);
    if (error) {
      if (error == std::errc::no_such_file_or_directory) {
        return "No Notes database at " + shown + ".";
      }
      if (error == std::errc::operation_not_permitted) {
        return "Cannot open " + shown +
               ": macOS lets a terminal read Notes' database only with Full Disk Access "
               "(System Settings \u203A Privacy & Security \u203A Full Disk Access: turn on "
               "your terminal app, then quit and reopen it); without --database the tool asks "
               "Notes itself and needs no such access.";
      }
      return "Cannot read the Notes database " + shown + ": " + error.message() + ".";
    }
    fs::remove(copyLog, error);
    if (logBefore.exists) {
      fs::copy_file(log, copyLog, fs::copy_options::overwrite_existing, error);
      if (error && error != std::errc::no_such_file_or_directory) {
        return "Cannot read the Notes database's log " + text::withControlsShown(log.string()) +
               ": " + error.message() + ".";
      }
    }
    if (stampOf(database) == databaseBefore && stampOf(log) == logBefore) {
      return directory;
    }
  }
  return "The Notes database " + shown +
         " kept changing while it was copied; try again, or quit Notes first.";
}

}  // namespace

OrFailure<std::unique_ptr<ScriptRunner>> openNoteStore(const std::string& path,
                                                       bool includeDeleted) {
  auto copied = snapshot(path);
  if (auto* message = std::get_if<std::string>(&copied)) {
    return std::move(*message);
  }
  auto directory = std::move(std::get<std::unique_ptr<TemporaryDirectory>>(copied));
  const std::string shown = text::withControlsShown(path);
  try {
    sqlite::Database database =
        sqlite::Database::open((directory->path() / "NoteStore.sqlite").string());
    const OrFailure<Layout> layout = layoutOf(database);
    if (const auto* missing = std::get_if<std::string>(&layout)) {
      return "The Notes database " + shown + " has a layout this tool does not know: " + *missing +
             ".";
    }
    const std::optional<std::int64_t> folderEntity = entityNumber(database, "ICFolder");
    const std::optional<std::int64_t> noteEntity = entityNumber(database, "ICNote");
    if (!folderEntity || !noteEntity) {
      return "The Notes database " + shown + " has a layout this tool does not know: no entity " +
             (folderEntity ? "ICNote" : "ICFolder") + " in Z_PRIMARYKEY.";
    }
    std::unordered_map<std::int64_t, std::size_t> indexOf;
    std::vector<Folder> folders = readFolders(database, *folderEntity, includeDeleted, indexOf);
    readNotes(database, *noteEntity, std::get<Layout>(layout), indexOf, folders);
    sqlite::Statement noteData = database.prepare("SELECT ZDATA FROM ZICNOTEDATA WHERE Z_PK = ?1");
    auto store = std::make_shared<Store>(Store{.directory = std::move(directory),
                                               .database = std::move(database),
                                               .noteData = std::move(noteData),
                                               .folders = std::move(folders)});
    return std::make_unique<NoteStoreRunner>(std::move(store));
  } catch (const sqlite::Error& error) {
    return "Cannot read the Notes database " + shown + ": " +
           text::withControlsShown(error.what()) + ".";
  }
}

}  // namespace sheafwright
