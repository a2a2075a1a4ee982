#pragma once
// The database layer: connections from the host's OLE DB connection string (SQLite or ODBC),
// fully read row sets, affected-row counts, transactions. All text is UTF-8; the process locale
// is never changed. Every failure is a DatabaseError, and no message contains the password.

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/rowstorage.h"
#include "platform/db/values.h"
#include "platform/errors.h"

namespace dupsweep::db {

// The SQL grammar a connection speaks; ODBC servers other than SQL Server count as SQL Server.
enum class Dialect { SQLite, SqlServer };

// A parsed OLE DB connection string: keys without regard to case, values unquoted.
struct ConnectionTarget {
  enum class Kind { SQLite, Odbc };
  Kind kind = Kind::SQLite;
  std::string sqlitePath;      // Kind::SQLite: the existing database file
  std::string odbcConnection;  // Kind::Odbc: the ODBC connection string to hand the driver manager
  std::string password;        // the password, kept so that messages can be scrubbed of it
  // Kind::Odbc: Connect Timeout in seconds (0: no limit; -1: the driver's default).
  int loginTimeoutSeconds = -1;
  // Kind::Odbc, SQL Server: `host\instance` without a port. Its port is asked of the SQL Server
  // Browser within loginTimeoutSeconds and `serverPair` becomes `Server=host,port` (drivers' own
  // look-ups ignore the timeout).
  struct NamedInstance {
    std::string host;
    std::string instance;
    std::string serverPair;
    int browserPort = 1434;
  };
  std::optional<NamedInstance> namedInstance;
  // Kind::Odbc: narrow functions with UTF-8 or wide ones with UTF-16. Auto: narrow for the SQLite
  // ODBC driver (it has no others), wide for every other; parseConnectionString gives Auto.
  enum class OdbcText { Auto, Narrow, Wide };
  OdbcText odbcText = OdbcText::Auto;
};

// Parses `key=value;` pairs (keys without regard to case, quoted or braced values, the last of
// repeated keys counts) and maps Provider=SQLite, the SQL Server providers and MSDASQL to a target.
// Throws DatabaseError for malformed text or an unknown provider; no message quotes a value.
ConnectionTarget parseConnectionString(std::string_view oledb);

// `message` with every PWD=/Password= value and every occurrence of `password` (escaped forms
// included) replaced by "***"; a password under four characters only after such a key.
std::string scrubPassword(std::string_view message, std::string_view password);

// The database `connectionString` reaches, the same for every spelling of it: "sqlite:" + real
// path, "sqlserver:" + host,port or \instance + "/" + database, "dsn:" + name [+ "/" + database],
// or "text:" + the string as given when it names none of these.
std::string databaseIdentity(std::string_view connectionString);

class RowSet;

// One column of the current row of a row set. Valid while the row set lives and stays on the row.
class Field {
 public:
  Field(const RowSet& rows, int column) : rows_(&rows), column_(column) {}
  bool isNull() const;
  const std::string& name() const;
  const Value& value() const;
  CellView view() const;
  std::string asText() const;
  std::string asTextStrict() const;
  // From integer, decimal, whole floating, boolean or numeric text; otherwise throws DatabaseError.
  std::int64_t asInteger() const;
  // A value of another kind (NULL included) raises DatabaseError.
  const Bytes& asBytes() const;

 private:
  const RowSet* rows_;
  int column_;
};

// A fully read result; cursor operations never touch the database, so it outlives its connection.
// A row set filled by appending keeps views compactly; its Values are made when first asked for.
class RowSet {
 public:
  RowSet(std::vector<std::string> columnNames, std::vector<Value> cells);
  explicit RowSet(std::vector<std::string> columnNames)
      : names_(std::move(columnNames)), fillable_(!names_.empty()) {}
  RowSet(const RowSet&) = default;
  RowSet& operator=(const RowSet&) = default;
  // Moving leaves the row set moved from without columns and rows.
  RowSet(RowSet&& other) noexcept { *this = std::move(other); }
  RowSet& operator=(RowSet&& other) noexcept {
    if (this != &other) {
      names_ = std::exchange(other.names_, {});
      cells_ = std::exchange(other.cells_, {});
      storage_ = std::exchange(other.storage_, {});
      rowCount_ = std::exchange(other.rowCount_, 0);
      row_ = std::exchange(other.row_, 0);
      fillable_ = std::exchange(other.fillable_, false);
    }
    return *this;
  }

  // Throws DatabaseError for a row set made from Values or without columns, or a value >= 4 GiB.
  void append(const CellView& v) {
    if (!fillable_) notFillable();
    storage_.append(v);
  }
  // A whole row, cellAt(column) giving each column's view; complete without endRow. Throws as
  // append and endRow do, leaving the row set as it was.
  template <class CellAt>
  void appendRow(CellAt&& cellAt) {
    if (!fillable_) notFillable();
    if (rowCount_ == std::numeric_limits<int>::max()) tooManyRows();
    if (storage_.packed.size() != static_cast<std::size_t>(rowCount_) * names_.size())
      incompleteRow();
    storage_.appendRow(names_.size(), cellAt);
    ++rowCount_;
  }
  // Throws DatabaseError when the values appended are not one per column, or beyond the int range.
  void endRow();
  void reserve(std::size_t rows, std::size_t bytes);

  // Columns [from, to) of `row` and of `other`'s `otherRow` equal by sameValue; both must exist.
  bool sameValues(int row, const RowSet& other, int otherRow, int from, int to) const;

  int rowCount() const noexcept { return rowCount_; }
  int columnCount() const noexcept { return static_cast<int>(names_.size()); }
  const std::string& columnName(int column) const;  // throws DatabaseError when out of range
  // Without regard to ASCII case; -1 when there is none.
  int findColumn(std::string_view name) const noexcept;

  // Cursor: on the first row when made.
  void first() noexcept { row_ = 0; }
  void next() noexcept {
    if (row_ < rowCount_) ++row_;
  }
  bool eof() const noexcept { return row_ >= rowCount_; }
  int row() const noexcept { return row_; }

  // Throws DatabaseError at the end, for an index out of range, or for an unknown name.
  Field field(int column) const;
  Field field(std::string_view name) const;

  // The value at (row, column) with no cursor; throws DatabaseError outside the result.
  const Value& at(int row, int column) const {
    const std::size_t i = index(row, column);
    if (!storage_.empty() && cells_.size() != static_cast<std::size_t>(rowCount_) * names_.size())
      makeValues();
    return cells_[i];
  }
  ValueKind kind(int row, int column) const {
    const std::size_t i = index(row, column);
    return storage_.empty() ? kindOf(cells_[i]) : storage_.packed[i].kind;
  }
  // Requires the row and the columns to lie in the result.
  void kinds(int row, int from, int to, ValueKind* out) const;
  // Appended row sets of at most kMaskColumns columns keep each row's NULLs and texts as bits
  // (bit c for column c); otherwise hasMasks() is false.
  static constexpr std::size_t kMaskColumns = detail::RowStorage::kMaskColumns;
  bool hasMasks() const noexcept {
    return !storage_.empty() && storage_.nullMasks.size() == static_cast<std::size_t>(rowCount_);
  }
  // Require hasMasks().
  std::uint64_t nullMask(int row) const noexcept {
    return storage_.nullMasks[static_cast<std::size_t>(row)];
  }
  std::uint64_t textMask(int row) const noexcept {
    return storage_.textMasks[static_cast<std::size_t>(row)];
  }
  // A cache prefetch, for row sets filled by appending; harmless outside the result.
  void prefetch(int row, int column) const noexcept {
    storage_.prefetch(static_cast<std::size_t>(row) * names_.size() +
                      static_cast<std::size_t>(column));
  }
  // Valid while the row set lives unchanged.
  CellView view(int row, int column) const {
    const std::size_t i = index(row, column);
    if (storage_.empty()) return viewOf(cells_[i]);
    // Unpacked here: GCC keeps the view in registers only when built in the inlined function.
    const detail::Packed& p = storage_.packed[i];
    CellView v;
    v.kind = p.kind;
    switch (p.kind) {
      case ValueKind::Integer:
      case ValueKind::Boolean:
        v.integer = p.integer;
        break;
      case ValueKind::Floating:
        v.floating = p.floating;
        break;
      case ValueKind::Null:
        break;
      default:
        v.bytes = p.size <= sizeof p.inlined
                      ? std::string_view(p.inlined, p.size)
                      : std::string_view(storage_.bytes.data() + p.offset, p.size);
    }
    return v;
  }

 private:
  std::size_t index(int row, int column) const {
    if (row < 0 || row >= rowCount_ || column < 0 || column >= columnCount()) outside(row, column);
    return static_cast<std::size_t>(row) * names_.size() + static_cast<std::size_t>(column);
  }
  [[noreturn]] static void outside(int row, int column);
  [[noreturn]] static void notFillable();
  [[noreturn]] static void tooManyRows();
  [[noreturn]] static void incompleteRow();
  void makeValues() const;

  std::vector<std::string> names_;
  // Row-major; for an appended row set, made of storage_ when first asked for.
  mutable std::vector<Value> cells_;
  detail::RowStorage storage_;  // empty unless filled by append
  int rowCount_ = 0;
  int row_ = 0;
  bool fillable_ = false;  // made by columns alone, to be filled by append
};

// Receives the rows of a statement one at a time (Connection::stream).
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void columns(const std::vector<std::string>& names) = 0;
  // One row: a value per column. The values are valid only during the call.
  virtual void row(const std::vector<Value>& values) = 0;
  // The same row in place (SQLite's backend); valid only during the call. The default makes
  // the values and hands them to row().
  virtual void cells(const std::vector<CellView>& row);
};

class Connection {
 public:
  virtual ~Connection() = default;
  virtual Dialect dialect() const = 0;
  virtual std::unique_ptr<RowSet> query(std::string_view sql) = 0;
  // Hands the result to `sink` row by row without keeping it; an error thrown by the sink ends
  // the statement and propagates. The default reads the whole result with query().
  virtual void stream(std::string_view sql, RowSink& sink);
  // The number of rows affected.
  virtual std::int64_t execute(std::string_view sql) = 0;
  // One statement, its '?' markers bound in order to `params`, each sent as its own kind (never
  // as text). Throws DatabaseError for more than one statement, a marker count that differs, or
  // a refusal. Returns the number of rows affected.
  virtual std::int64_t executeWith(std::string_view sql, const std::vector<Value>& params) = 0;
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
};

// Throws DatabaseError for an invalid string, a missing SQLite file (none is created) or a refusal.
std::unique_ptr<Connection> open(std::string_view oledbConnectionString);

// Fails as open(string) does.
std::unique_ptr<Connection> open(const ConnectionTarget& target);

}  // namespace dupsweep::db
