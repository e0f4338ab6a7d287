// A small wrapper of SQLite's C library: a connection and its prepared statements. SQLite's
// own types stay inside sqlite_database.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sheafwright::sqlite {

// A call into SQLite failed; what() is SQLite's message.
struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Statement;

class Database {
 public:
  // Opens the database file at `path` for reading and writing (it must exist). Throws Error.
  static Database open(const std::string& path);

  Database(Database&&) noexcept;
  Database& operator=(Database&&) noexcept;
  ~Database();

  // A prepared statement. Throws Error.
  Statement prepare(std::string_view sql) const;
  // Whether table `table` exists and has the column `column`; without a column, whether the
  // table exists.
  bool hasColumn(std::string_view table, std::string_view column = {}) const;

 private:
  struct Handle;
  explicit Database(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

// A prepared statement; its columns are 0-based, its parameters 1-based.
class Statement {
 public:
  Statement(Statement&&) noexcept;
  Statement& operator=(Statement&&) noexcept;
  ~Statement();

  void bind(int parameter, std::int64_t value);
  // Starts the statement over with the same bindings.
  void reset();
  // Steps to the next row: false once there is none. Throws Error.
  bool step();

  bool isNull(int column) const;
  std::int64_t integer(int column) const;
  // The column as a real number; none for NULL or a value that is no number.
  std::optional<double> real(int column) const;
  // The column as text or bytes; valid until the next step, reset or destruction.
  std::string_view text(int column) const;
  std::string_view blob(int column) const;

 private:
  friend class Database;
  struct Handle;
  explicit Statement(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

}  // namespace sheafwright::sqlite
