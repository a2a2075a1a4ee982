#pragma once
// The database layer: connections opened from the host's OLE DB connection string, statements
// that return fully read (materialised) row sets, statements that report affected-row counts,
// and transactions. Backends: SQLite (libsqlite3) and ODBC (unixODBC; SQL Server through FreeTDS
// or another driver). All text crossing this interface is UTF-8. The layer never changes the
// process locale. Every failure is a DatabaseError carrying the driver's message, SQLSTATE and kind;
// no message ever contains the connection's password.

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

// The SQL grammar a connection speaks. ODBC servers other than SQL Server are treated as
// SQL Server.
enum class Dialect { SQLite, SqlServer };

// ---- Connection strings --------------------------------------------------------------------

// A parsed OLE DB connection string: keys without regard to case, values unquoted.
struct ConnectionTarget {
  enum class Kind { SQLite, Odbc };
  Kind kind = Kind::SQLite;
  std::string sqlitePath;      // Kind::SQLite: the existing database file
  std::string odbcConnection;  // Kind::Odbc: the ODBC connection string to hand the driver manager
  std::string password;        // the password, kept so that messages can be scrubbed of it
  // Kind::Odbc: Connect Timeout in seconds, set as SQL_ATTR_LOGIN_TIMEOUT (0: no limit); for
  // the SQL Server providers 15 when not given, otherwise -1 (the driver's own default).
  int loginTimeoutSeconds = -1;
  // Kind::Odbc, SQL Server providers: a server written `host\instance` without a port. Before
  // connecting, the instance's TCP port is asked of the SQL Server Browser on `host` (UDP
  // `browserPort`) within loginTimeoutSeconds, and `serverPair` (the `Server=` pair of
  // odbcConnection) becomes `Server=host,port`, so that the whole connect keeps to the
  // Connect Timeout (drivers' own look-ups ignore it). With no limit (0) the driver looks up.
  struct NamedInstance {
    std::string host;
    std::string instance;
    std::string serverPair;
    int browserPort = 1434;
  };
  std::optional<NamedInstance> namedInstance;
  // Kind::Odbc: which ODBC text functions carry statements, names and text values. Auto: the
  // narrow functions with UTF-8 for the SQLite ODBC driver (it has no others), the wide functions
  // with UTF-16 for every other driver. parseConnectionString always gives Auto.
  enum class OdbcText { Auto, Narrow, Wide };
  OdbcText odbcText = OdbcText::Auto;
};

// Parses `key=value;` pairs (keys without regard to case; values in double or single quotes may
// hold ';' and a doubled quote stands for one; a value may also be written in ODBC braces, '}'
// doubled inside; the last of repeated keys counts) and maps the provider (its name without
// regard to case):
//   Provider=SQLite;Data Source=FILE -> the SQLite file.
//   Provider=SQLOLEDB[.1] | SQLNCLI* | MSOLEDBSQL* -> ODBC with
//       Driver={$DUPSWEEP_ODBC_DRIVER, or FreeTDS}, Server (from Data Source / Server / Address:
//       host, host,port or host\instance, kept in that form, which FreeTDS and Microsoft's driver
//       both read; "(local)" and "." become localhost, a "tcp:" prefix is dropped), Database
//       (Initial Catalog / Database), UID/PWD (User ID/Password), Trusted_Connection=Yes
//       (Integrated Security=SSPI|true|yes, which drops UID/PWD), APP (Application Name), WSID
//       (Workstation ID), and for FreeTDS ClientCharset=UTF-8. Connect Timeout (15 s when not
//       given) goes to loginTimeoutSeconds, not into the string (FreeTDS reads a Timeout key as
//       the timeout of every query); host\instance without a port also sets namedInstance.
//   Provider=MSDASQL[.1] -> the remaining keys passed to ODBC unchanged (Data Source -> DSN,
//       User ID -> UID, Password -> PWD, Initial Catalog -> Database; braced values as written;
//       Extended Properties appended as it stands). A Driver naming a SQLite ODBC driver gets
//       Timeout=2500 (ms per lock wait, which the driver may spend twice on one statement: about
//       the SQLite provider's 5 s in all) and NoCreat=1 (a missing file is an error, not a new
//       database) unless the string sets these keys itself.
// ODBC values holding ';', '{', '}', '=' or outer blanks are braced, '}' doubled inside.
// Throws DatabaseError for an empty string, malformed text, a missing or unknown provider, or a
// missing Data Source; no message quotes a value of the string.
ConnectionTarget parseConnectionString(std::string_view oledb);

// `message` with the value of every PWD=/Password= pair and every occurrence of `password` (also
// in the escaped forms a connection string may carry: '}' doubled, quotes doubled) replaced by
// "***"; a password shorter than four characters is replaced only after such a key, since it
// would otherwise mangle ordinary words. Every DatabaseError of this layer passes through it.
std::string scrubPassword(std::string_view message, std::string_view password);

// The database `connectionString` reaches, in a form that every string reaching it shares,
// whatever the spelling (key case and order, blanks, quotes, a trailing ';', the password):
//   "sqlite:" + the file's real path (symbolic links, "." and ".." resolved, letter case kept),
//       for Provider=SQLite and for MSDASQL with a SQLite ODBC driver and a Database;
//   "sqlserver:" + host (lower case) + ",port", or "\instance" (lower case) when no port is
//       given (a default instance: ",1433") + "/" + database (lower case), for the SQL Server
//       providers and for MSDASQL with a Server;
//   "dsn:" + the data source's name (lower case), then "/" + the Database when one is given,
//       for MSDASQL with a DSN (Data Source);
//   "text:" + the string as given, for one that names none of these or does not parse.
// A relative SQLite path is taken from the current directory.
std::string databaseIdentity(std::string_view connectionString);

// ---- Row sets --------------------------------------------------------------------------------

class RowSet;

// One column of the current row of a row set. Valid while the row set lives and stays on the row.
class Field {
 public:
  Field(const RowSet& rows, int column) : rows_(&rows), column_(column) {}
  bool isNull() const;
  const std::string& name() const;
  // The value, made from the row set's compact form the first time a value of it is asked for.
  const Value& value() const;
  // The value seen in place, without making it.
  CellView view() const;
  // Lenient text: NULL reads as the empty text.
  std::string asText() const;
  // Strict text: NULL raises DatabaseError naming the column.
  std::string asTextStrict() const;
  // Integer (from integer, decimal or floating without fraction, boolean, or numeric text).
  // NULL or a non-numeric value raises DatabaseError naming the column.
  std::int64_t asInteger() const;
  // Raw bytes of a byte-array column. A value of another kind (NULL included) raises DatabaseError.
  const Bytes& asBytes() const;

 private:
  const RowSet* rows_;
  int column_;
};

// A fully read result; cursor operations never touch the database, so it outlives its connection.
// A row set filled by appending views keeps them compactly and reads them as views at no cost;
// its typed Values (at, Field::value, Field::asBytes) are all made when one is first asked for.
class RowSet {
 public:
  RowSet(std::vector<std::string> columnNames, std::vector<Value> cells);
  // No rows yet, to be filled with append and endRow.
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

  // Appends the next value of the row being filled; endRow() completes the row. Throws
  // DatabaseError for a row set made from Values or without columns, or a value of 4 GiB or more.
  void append(const CellView& v) {
    if (!fillable_) notFillable();
    storage_.append(v);
  }
  // Appends a whole row at once: cellAt(column) gives the view of each column's value, in
  // column order. The checks append makes once per value are made once per row, and the row is
  // complete without endRow. Throws as append and endRow do, with the row set as it was before.
  template <class CellAt>
  void appendRow(CellAt&& cellAt) {
    if (!fillable_) notFillable();
    if (rowCount_ == std::numeric_limits<int>::max()) tooManyRows();
    if (storage_.packed.size() != static_cast<std::size_t>(rowCount_) * names_.size())
      incompleteRow();
    storage_.appendRow(names_.size(), cellAt);
    ++rowCount_;
  }
  // Ends the row whose values were appended. Throws DatabaseError when they are not one per
  // column, or for a row beyond the int range.
  void endRow();
  // Room for `rows` rows of values holding `bytes` bytes between them, before appending.
  void reserve(std::size_t rows, std::size_t bytes);

  // Whether the values of columns [from, to) of `row` and of `otherRow` of `other` are the same
  // value by value, as sameValue decides. Requires both rows and columns to lie in both results.
  bool sameValues(int row, const RowSet& other, int otherRow, int from, int to) const;

  int rowCount() const noexcept { return rowCount_; }
  int columnCount() const noexcept { return static_cast<int>(names_.size()); }
  const std::string& columnName(int column) const;  // throws DatabaseError when out of range
  // Index of a column by name, without regard to ASCII case; -1 when there is none.
  int findColumn(std::string_view name) const noexcept;

  // Cursor: positioned on the first row when made (at its end when there are no rows).
  void first() noexcept { row_ = 0; }
  void next() noexcept {
    if (row_ < rowCount_) ++row_;
  }
  bool eof() const noexcept { return row_ >= rowCount_; }
  int row() const noexcept { return row_; }

  // Column of the current row by index or by name (without regard to case). Throws DatabaseError
  // at the end of the row set, for an index out of range, or for an unknown name.
  Field field(int column) const;
  Field field(std::string_view name) const;

  // Direct access for bulk readers: the value at (row, column) with no cursor. Throws
  // DatabaseError outside the result.
  const Value& at(int row, int column) const {
    const std::size_t i = index(row, column);
    if (!storage_.empty() && cells_.size() != static_cast<std::size_t>(rowCount_) * names_.size())
      makeValues();
    return cells_[i];
  }
  // The kind of the value at (row, column), read without the value.
  ValueKind kind(int row, int column) const {
    const std::size_t i = index(row, column);
    return storage_.empty() ? kindOf(cells_[i]) : storage_.packed[i].kind;
  }
  // The kinds of the values of columns [from, to) of `row`, in order, into `out` (to - from of
  // them). Requires the row and the columns to lie in the result.
  void kinds(int row, int from, int to, ValueKind* out) const;
  // For a row set filled by appending with at most kMaskColumns columns, a row's NULL values and
  // its texts as bits (bit c for column c), kept as the row is appended; readers that only ask
  // which values are NULL or text need not visit them. Otherwise hasMasks() is false.
  static constexpr std::size_t kMaskColumns = detail::RowStorage::kMaskColumns;
  bool hasMasks() const noexcept {
    return !storage_.empty() && storage_.nullMasks.size() == static_cast<std::size_t>(rowCount_);
  }
  // Require hasMasks() and a row of the result.
  std::uint64_t nullMask(int row) const noexcept {
    return storage_.nullMasks[static_cast<std::size_t>(row)];
  }
  std::uint64_t textMask(int row) const noexcept {
    return storage_.textMasks[static_cast<std::size_t>(row)];
  }
  // Asks the processor to bring the value at (row, column) into its caches ahead of reading it,
  // so that reads of scattered values of a row set read long ago overlap. Only for a row set
  // filled by appending; harmless outside the result (a prefetch never faults).
  void prefetch(int row, int column) const noexcept {
    storage_.prefetch(static_cast<std::size_t>(row) * names_.size() +
                      static_cast<std::size_t>(column));
  }
  // The same value seen in place, without making it: valid while the row set lives unchanged.
  CellView view(int row, int column) const {
    const std::size_t i = index(row, column);
    if (storage_.empty()) return viewOf(cells_[i]);
    // Unpacked here, not by a function of RowStorage: GCC keeps the view in registers only when
    // it is built in the function its callers inline.
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
  // Makes cells_ of storage_.
  void makeValues() const;

  std::vector<std::string> names_;
  // Row-major. For a row set filled by append, made of storage_ when first asked for.
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
  // The result's column names, once, before the first row.
  virtual void columns(const std::vector<std::string>& names) = 0;
  // One row: a value per column. The values are valid only during the call.
  virtual void row(const std::vector<Value>& values) = 0;
  // The same row seen in place, handed by backends that can give it without making a value of
  // every column (SQLite's); valid only during the call. The default makes the values and hands
  // them to row().
  virtual void cells(const std::vector<CellView>& row);
};

// ---- Connections -----------------------------------------------------------------------------

class Connection {
 public:
  virtual ~Connection() = default;
  virtual Dialect dialect() const = 0;
  // Runs a statement and reads its whole result.
  virtual std::unique_ptr<RowSet> query(std::string_view sql) = 0;
  // Runs a statement and hands its result to `sink` row by row, without keeping the rows, so
  // that a large result costs the memory of one row. Fails as query() does; an error thrown by
  // the sink ends the statement and propagates. The default reads the whole result with query().
  virtual void stream(std::string_view sql, RowSink& sink);
  // Runs a statement that returns no rows; the number of rows it affected (0 when none matched).
  virtual std::int64_t execute(std::string_view sql) = 0;
  // Runs one statement that returns no rows, its '?' markers bound in order to `params`, each
  // value sent as its own kind (integer, exact decimal, floating, text, bytes, date and time,
  // flag; Null as NULL), never as statement text. Returns the number of rows it affected. Throws
  // DatabaseError when the text is not one statement, the count of markers differs from the
  // count of values, or the database refuses.
  virtual std::int64_t executeWith(std::string_view sql, const std::vector<Value>& params) = 0;
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
};

// Opens a connection from an OLE DB connection string. Throws DatabaseError when the string is
// invalid, the SQLite file does not exist (no database is ever created), or the driver refuses.
std::unique_ptr<Connection> open(std::string_view oledbConnectionString);

// Opens a connection to an already parsed target; fails as open(string) does.
std::unique_ptr<Connection> open(const ConnectionTarget& target);

}  // namespace dupsweep::db
