// Test support: NoteStore.sqlite files written with SQLite's C library. The columns of each
// layout follow public descriptions of Notes' store (which columns came with which release);
// entity numbers differ from layout to layout, as they differ between real stores, and every
// note has an attachment row beside it whose columns a careless reader would take for a note's.
#include "testing/note_store_writer.h"

#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include <sqlite3.h>

namespace sheafwright::notestore {

const char* layoutName(NoteStoreLayout layout) {
  switch (layout) {
    case NoteStoreLayout::kMacOS10_13:
      return "macOS10_13";
    case NoteStoreLayout::kMacOS10_14:
      return "macOS10_14";
    case NoteStoreLayout::kMacOS10_15:
      return "macOS10_15";
    case NoteStoreLayout::kMacOS11:
      return "macOS11";
    case NoteStoreLayout::kMacOS12:
      return "macOS12";
    case NoteStoreLayout::kMacOS13:
      return "macOS13";
  }
  return "unknown";
}

namespace {

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(db_);
      sqlite3_close(db_);
      throw std::runtime_error("cannot open " + path + ": " + message);
    }
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string message = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(message + " in " + sql);
    }
  }

  // Inserts one row: values are bound in order (null, integer, real, text or blob).
  struct Value {
    enum class Kind { kNull, kInteger, kReal, kText, kBlob } kind = Kind::kNull;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes;
  };
  void insert(std::string_view table, const std::vector<std::pair<std::string, Value>>& row) {
    std::string columns;
    std::string marks;
    for (const auto& [column, value] : row) {
      columns += (columns.empty() ? "" : ", ") + column;
      marks += marks.empty() ? "?" : ", ?";
    }
    const std::string sql =
        "INSERT INTO " + std::string(table) + " (" + columns + ") VALUES (" + marks + ")";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in " + sql);
    }
    int index = 1;
    for (const auto& [column, value] : row) {
      switch (value.kind) {
        case Value::Kind::kNull:
          sqlite3_bind_null(statement, index);
          break;
        case Value::Kind::kInteger:
          sqlite3_bind_int64(statement, index, value.integer);
          break;
        case Value::Kind::kReal:
          sqlite3_bind_double(statement, index, value.real);
          break;
        case Value::Kind::kText:
          sqlite3_bind_text(statement, index, value.bytes.data(),
                            static_cast<int>(value.bytes.size()), SQLITE_TRANSIENT);
          break;
        case Value::Kind::kBlob:
          sqlite3_bind_blob(statement, index, value.bytes.data(),
                            static_cast<int>(value.bytes.size()), SQLITE_TRANSIENT);
          break;
      }
      ++index;
    }
    const int status = sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (status != SQLITE_DONE) {
      throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in " + sql);
    }
  }

 private:
  sqlite3* db_ = nullptr;
};

using Value = Db::Value;
Value integer(std::int64_t v) {
  return {Value::Kind::kInteger, v, 0, {}};
}
Value real(double v) {
  return {Value::Kind::kReal, 0, v, {}};
}
Value text(std::string v) {
  return {Value::Kind::kText, 0, 0, std::move(v)};
}
Value blob(std::string v) {
  return {Value::Kind::kBlob, 0, 0, std::move(v)};
}
Value optionalText(const std::optional<std::string>& v) {
  return v ? text(*v) : Value{};
}

int rank(NoteStoreLayout layout) {
  return static_cast<int>(layout);
}

// The account column of a note in each layout.
std::string noteAccountColumn(NoteStoreLayout layout) {
  switch (layout) {
    case NoteStoreLayout::kMacOS10_13:
    case NoteStoreLayout::kMacOS10_14:
      return "ZACCOUNT2";
    case NoteStoreLayout::kMacOS10_15:
    case NoteStoreLayout::kMacOS11:
      return "ZACCOUNT3";
    case NoteStoreLayout::kMacOS12:
      return "ZACCOUNT4";
    case NoteStoreLayout::kMacOS13:
      return "ZACCOUNT7";
  }
  return "ZACCOUNT2";
}

std::string schema(NoteStoreLayout layout) {
  const int at = rank(layout);
  std::string columns =
      "Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZMARKEDFORDELETION INTEGER, "
      "ZIDENTIFIER VARCHAR, ZNAME VARCHAR, ZTITLE VARCHAR, ZTITLE1 VARCHAR, ZTITLE2 VARCHAR, "
      "ZFOLDERTYPE INTEGER, ZPARENT INTEGER, ZOWNER INTEGER, ZNOTE INTEGER, ZNOTEDATA INTEGER, "
      "ZISPASSWORDPROTECTED INTEGER, ZISPINNED INTEGER, ZCREATIONDATE TIMESTAMP, "
      "ZCREATIONDATE1 TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, ZMODIFICATIONDATE1 TIMESTAMP, "
      "ZACCOUNT2 INTEGER, ZSNIPPET VARCHAR";
  columns += at >= rank(NoteStoreLayout::kMacOS10_14) ? ", ZFOLDER INTEGER, ZSERVERRECORDDATA BLOB"
                                                      : ", ZSERVERRECORD BLOB";
  if (at >= rank(NoteStoreLayout::kMacOS10_15)) {
    columns += ", ZACCOUNT3 INTEGER, ZACCOUNT4 INTEGER";
  }
  if (at >= rank(NoteStoreLayout::kMacOS11)) {
    columns += ", ZLASTOPENEDDATE TIMESTAMP";
  }
  if (at >= rank(NoteStoreLayout::kMacOS12)) {
    columns += ", ZACCOUNT5 INTEGER, ZCREATIONDATE2 TIMESTAMP, ZCREATIONDATE3 TIMESTAMP";
  }
  if (at >= rank(NoteStoreLayout::kMacOS13)) {
    columns += ", ZACCOUNT6 INTEGER, ZACCOUNT7 INTEGER, ZACCOUNT8 INTEGER";
  }
  std::string sql =
      "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, "
      "Z_MAX INTEGER);"
      "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);"
      "CREATE TABLE ZICCLOUDSYNCINGOBJECT (" +
      columns +
      ");"
      "CREATE TABLE ZICNOTEDATA (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
      "ZNOTE INTEGER, ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOTAG BLOB, ZDATA BLOB);";
  if (layout == NoteStoreLayout::kMacOS10_13) {
    sql += "CREATE TABLE Z_11NOTES (Z_11FOLDERS INTEGER, Z_8NOTES INTEGER);";
  } else {
    sql += "CREATE INDEX ZICCLOUDSYNCINGOBJECT_ZFOLDER_INDEX ON ZICCLOUDSYNCINGOBJECT (ZFOLDER);";
  }
  return sql;
}

void fill(Db& db, const TestNoteStore& store) {
  const NoteStoreLayout layout = store.layout;
  // Entity numbers shift from layout to layout, as they differ between stores.
  const std::int64_t shift = rank(layout);
  const std::int64_t account = 2 + shift;
  const std::int64_t attachment = 3 + shift;
  const std::int64_t folderEntity = 9 + shift;
  const std::int64_t noteEntity = 11 + 2 * shift;
  for (const auto& [number, name] :
       std::vector<std::pair<std::int64_t, std::string>>{{1, "ICCloudSyncingObject"},
                                                         {account, "ICAccount"},
                                                         {attachment, "ICAttachment"},
                                                         {folderEntity, "ICFolder"},
                                                         {noteEntity, "ICNote"},
                                                         {noteEntity + 1, "ICNoteData"}}) {
    db.insert("Z_PRIMARYKEY", {{"Z_ENT", integer(number)},
                               {"Z_NAME", text(name)},
                               {"Z_SUPER", integer(number == 1 ? 0 : 1)},
                               {"Z_MAX", integer(1000)}});
  }
  std::int64_t key = 1;
  const std::int64_t accountKey = key++;
  db.insert("ZICCLOUDSYNCINGOBJECT", {{"Z_PK", integer(accountKey)},
                                      {"Z_ENT", integer(account)},
                                      {"Z_OPT", integer(1)},
                                      {"ZNAME", text("iCloud")},
                                      {"ZIDENTIFIER", text("ACCOUNT-1")}});
  std::vector<std::int64_t> folderKeys;
  for (std::size_t i = 0; i < store.folders.size(); ++i) {
    folderKeys.push_back(key++);
  }
  for (std::size_t i = 0; i < store.folders.size(); ++i) {
    const TestFolder& folder = store.folders[i];
    std::vector<std::pair<std::string, Value>> row{
        {"Z_PK", integer(folderKeys[i])},
        {"Z_ENT", integer(folderEntity)},
        {"Z_OPT", integer(1)},
        {"ZTITLE2", optionalText(folder.title)},
        {"ZFOLDERTYPE", folder.type ? integer(*folder.type) : Value{}},
        {"ZIDENTIFIER", text(folder.identifier)},
        {"ZOWNER", integer(accountKey)},
        {"ZMARKEDFORDELETION", integer(folder.markedForDeletion ? 1 : 0)},
        {"ZPARENT", folder.parent ? integer(folderKeys.at(*folder.parent)) : Value{}}};
    db.insert("ZICCLOUDSYNCINGOBJECT", row);
  }
  const bool dateIn3 = rank(layout) >= rank(NoteStoreLayout::kMacOS12);
  std::int64_t dataKey = 1;
  for (const TestNote& note : store.notes) {
    const std::int64_t noteKey = key++;
    const std::int64_t folderKey = folderKeys.at(note.folder);
    std::vector<std::pair<std::string, Value>> row{
        {"Z_PK", integer(noteKey)},
        {"Z_ENT", integer(noteEntity)},
        {"Z_OPT", integer(3)},
        {"ZTITLE1", optionalText(note.title)},
        {"ZIDENTIFIER", text("NOTE-" + std::to_string(noteKey))},
        {"ZMODIFICATIONDATE1", std::isnan(note.modified) ? Value{} : real(note.modified)},
        {"ZISPASSWORDPROTECTED", integer(note.passwordProtected ? 1 : 0)},
        {"ZMARKEDFORDELETION", integer(note.markedForDeletion ? 1 : 0)},
        {noteAccountColumn(layout), integer(accountKey)}};
    if (dateIn3) {
      // The older column belongs to other rows in these layouts: a value that must not be read.
      row.emplace_back("ZCREATIONDATE3", real(note.created));
      row.emplace_back("ZCREATIONDATE1", real(note.created - 86400.0 * 400));
    } else {
      row.emplace_back("ZCREATIONDATE1", real(note.created));
    }
    if (layout != NoteStoreLayout::kMacOS10_13) {
      row.emplace_back("ZFOLDER", integer(folderKey));
    } else {
      db.insert("Z_11NOTES", {{"Z_11FOLDERS", integer(folderKey)}, {"Z_8NOTES", integer(noteKey)}});
    }
    if (note.data) {
      row.emplace_back("ZNOTEDATA", integer(dataKey));
      db.insert("ZICNOTEDATA", {{"Z_PK", integer(dataKey)},
                                {"Z_ENT", integer(noteEntity + 1)},
                                {"Z_OPT", integer(1)},
                                {"ZNOTE", integer(noteKey)},
                                {"ZDATA", blob(*note.data)}});
      ++dataKey;
    }
    db.insert("ZICCLOUDSYNCINGOBJECT", row);
    // An attachment of the note: its title, dates and folder are no note's.
    std::vector<std::pair<std::string, Value>> decoy{
        {"Z_PK", integer(key++)},
        {"Z_ENT", integer(attachment)},
        {"Z_OPT", integer(1)},
        {"ZNOTE", integer(noteKey)},
        {"ZTITLE", text("attachment")},
        {"ZTITLE1", text("attachment")},
        {"ZCREATIONDATE", real(note.created + 5)},
        {"ZCREATIONDATE1", real(note.created + 5)},
        {"ZMODIFICATIONDATE1", real(note.modified + 5)},
        {"ZIDENTIFIER", text("ATTACHMENT-" + std::to_string(noteKey))}};
    if (layout != NoteStoreLayout::kMacOS10_13) {
      decoy.emplace_back("ZFOLDER", integer(folderKey));
    }
    db.insert("ZICCLOUDSYNCINGOBJECT", decoy);
  }
}

}  // namespace

void writeNoteStore(const std::string& path, const TestNoteStore& store) {
  namespace fs = std::filesystem;
  for (const char* suffix : {"", "-wal", "-shm", ".building", ".building-wal", ".building-shm"}) {
    fs::remove(path + suffix);
  }
  if (!store.inLog) {
    Db db(path);
    // Test files need not survive a power cut.
    db.exec("PRAGMA synchronous = OFF");
    db.exec(schema(store.layout));
    db.exec("BEGIN");
    fill(db, store);
    db.exec("COMMIT");
    return;
  }
  // Notes keeps its store in WAL mode: the rows stay in the log until a checkpoint. The files
  // are copied while the connection that wrote them is open, as a running Notes leaves them.
  const std::string building = path + ".building";
  {
    Db db(building);
    db.exec("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; PRAGMA synchronous = OFF;");
    db.exec(schema(store.layout));
    db.exec("BEGIN");
    fill(db, store);
    db.exec("COMMIT");
    fs::copy_file(building, path);
    fs::copy_file(building + "-wal", path + "-wal");
  }
  for (const char* suffix : {"", "-wal", "-shm"}) {
    fs::remove(building + suffix);
  }
}

}  // namespace sheafwright::notestore
