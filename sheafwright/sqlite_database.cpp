// The SQLite wrapper over the C library.
#include "sheafwright/sqlite_database.h"

#include <limits>
#include <utility>

#include <sqlite3.h>

namespace sheafwright::sqlite {

struct Database::Handle {
  sqlite3* db = nullptr;
  ~Handle() { sqlite3_close_v2(db); }
};

struct Statement::Handle {
  sqlite3_stmt* statement = nullptr;
  ~Handle() { sqlite3_finalize(statement); }
};

Database::Database(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&&) noexcept = default;
Database::~Database() = default;

Database Database::open(const std::string& path) {
  auto handle = std::make_unique<Handle>();
  // No URI parsing: a path is a path, whatever characters it holds.
  const int status = sqlite3_open_v2(path.c_str(), &handle->db,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (status != SQLITE_OK) {
    throw Error(handle->db != nullptr ? sqlite3_errmsg(handle->db) : sqlite3_errstr(status));
  }
  sqlite3_extended_result_codes(handle->db, 1);
  // The connection reads: closing it must not write the log back into the file (a checkpoint,
  // with its fsync), and nothing it writes needs to reach the disk.
  sqlite3_db_config(handle->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // A file from elsewhere is data, not code: its schema may call no function with side effects
  // and may not be written through (sqlite.org, "Defense Against The Dark Arts"). Older
  // systems' SQLite lacks the first switch; their schemas are held to less.
#ifdef SQLITE_DBCONFIG_TRUSTED_SCHEMA
  sqlite3_db_config(handle->db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
#endif
  sqlite3_db_config(handle->db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_exec(handle->db, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
  return Database(std::move(handle));
}

Statement Database::prepare(std::string_view sql) const {
  auto handle = std::make_unique<Statement::Handle>();
  if (sql.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      sqlite3_prepare_v2(handle_->db, sql.data(), static_cast<int>(sql.size()), &handle->statement,
                         nullptr) != SQLITE_OK) {
    throw Error(sqlite3_errmsg(handle_->db));
  }
  return Statement(std::move(handle));
}

bool Database::hasColumn(std::string_view table, std::string_view column) const {
  Statement query = column.empty()
                        ? prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1")
                        : prepare("SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
  sqlite3_stmt* statement = query.handle_->statement;
  sqlite3_bind_text(statement, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  if (!column.empty()) {
    sqlite3_bind_text(statement, 2, column.data(), static_cast<int>(column.size()),
                      SQLITE_TRANSIENT);
  }
  return query.step();
}

Statement::Statement(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
Statement::Statement(Statement&&) noexcept = default;
Statement& Statement::operator=(Statement&&) noexcept = default;
Statement::~Statement() = default;

void Statement::bind(int parameter, std::int64_t value) {
  sqlite3_bind_int64(handle_->statement, parameter, value);
}

void Statement::reset() {
  sqlite3_reset(handle_->statement);
}

bool Statement::step() {
  const int status = sqlite3_step(handle_->statement);
  if (status == SQLITE_ROW) {
    return true;
  }
  if (status == SQLITE_DONE) {
    return false;
  }
  throw Error(sqlite3_errmsg(sqlite3_db_handle(handle_->statement)));
}

bool Statement::isNull(int column) const {
  return sqlite3_column_type(handle_->statement, column) == SQLITE_NULL;
}

std::int64_t Statement::integer(int column) const {
  return sqlite3_column_int64(handle_->statement, column);
}

std::optional<double> Statement::real(int column) const {
  const int type = sqlite3_column_type(handle_->statement, column);
  if (type != SQLITE_FLOAT && type != SQLITE_INTEGER) {
    return std::nullopt;
  }
  return sqlite3_column_double(handle_->statement, column);
}

std::string_view Statement::text(int column) const {
  const auto* bytes =
      reinterpret_cast<const char*>(sqlite3_column_text(handle_->statement, column));
  const int size = sqlite3_column_bytes(handle_->statement, column);
  return bytes == nullptr ? std::string_view{}
                          : std::string_view(bytes, static_cast<std::size_t>(size));
}

std::string_view Statement::blob(int column) const {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(handle_->statement, column));
  const int size = sqlite3_column_bytes(handle_->statement, column);
  return bytes == nullptr ? std::string_view{}
                          : std::string_view(bytes, static_cast<std::size_t>(size));
}

}  // namespace sheafwright::sqlite
