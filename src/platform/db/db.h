#pragma once
// The database layer: connections opened from the host's OLE DB connection string, statements
// that return fully read (materialised) row sets, statements that report affected-row counts,
// and transactions. Backends: SQLite (libsqlite3) and ODBC (unixODBC; SQL Server through FreeTDS
// or another driver). All text crossing this interface is UTF-8. The layer never changes the
// process locale. Every failure is a DatabaseError carrying the driver's message, SQLSTATE and kind;
// no message ever contains the connection's password.

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

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

// ---- Values ----------------------------------------------------------------------------------

// An exact decimal number (SQL Server decimal, numeric, money), kept as its decimal text exactly
// as the server gives it ("1234.50", "-0.5"), never through binary floating point.
struct Decimal {
  std::string digits;
  bool operator==(const Decimal&) const = default;
};
// A date, time or timestamp in ISO form ("2024-03-01 12:30:00").
struct DateTime {
  std::string iso;
  bool operator==(const DateTime&) const = default;
};
using Bytes = std::vector<unsigned char>;
struct Null {
  bool operator==(const Null&) const = default;
};

// One typed value of a result column. The alternative held is the value's kind.
using Value = std::variant<Null, std::int64_t, Decimal, double, std::string, Bytes, DateTime, bool>;

// (GCC's -Wshadow takes the scoped enumerator Bytes for a shadow of the type Bytes.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
enum class ValueKind { Null, Integer, Decimal, Floating, Text, Bytes, DateTime, Boolean };
#pragma GCC diagnostic pop
ValueKind kindOf(const Value& v) noexcept;

// Equality of typed values for comparison: NULL equals only NULL; text and bytes compare byte for
// byte; numbers, dates and flags compare by value exactly (1234.50 equals 1234.5). Values of two
// different kinds are unequal, except an integer, decimal or floating value against another of
// these, which compare by value.
bool sameValue(const Value& a, const Value& b);

// Appends to `out` a key of `v` for grouping values by the rule of sameValue: sameValue(a, b)
// implies equal keys, so NULL, each text and each number (by value: 1, 1.0 and the decimal 1.00
// alike, 0 and -0.0 alike) have one key each. Equal keys do not imply equal values (two numbers
// may share the nearest double); whoever groups by keys confirms with sameValue.
void appendValueKey(const Value& v, std::string& out);

// A value seen where it is kept (a backend's current row, or a Value), without a copy: its kind
// and what that kind holds. Valid only while what it views stays as it is.
struct CellView {
  ValueKind kind = ValueKind::Null;
  std::int64_t integer = 0;  // Integer; Boolean as 0 or 1
  double floating = 0;       // Floating
  std::string_view bytes;    // Text, Bytes, Decimal (its digits), DateTime (its ISO text)
};
CellView viewOf(const Value& v) noexcept;
// The Value a view shows. Inline: a backend makes one per value it reads.
inline Value valueOf(const CellView& v) {
  switch (v.kind) {
    case ValueKind::Integer:
      return v.integer;
    case ValueKind::Decimal:
      return Decimal{std::string(v.bytes)};
    case ValueKind::Floating:
      return v.floating;
    case ValueKind::Text:
      return std::string(v.bytes);
    case ValueKind::Bytes: {
      const auto* p = reinterpret_cast<const unsigned char*>(v.bytes.data());
      return Bytes(p, p + v.bytes.size());
    }
    case ValueKind::DateTime:
      return DateTime{std::string(v.bytes)};
    case ValueKind::Boolean:
      return v.integer != 0;
    case ValueKind::Null:
      break;
  }
  return Null{};
}
// appendValueKey of valueOf(v), without making the value.
void appendValueKey(const CellView& v, std::string& out);
// For an integer or floating value: writes the kNumberKeySize bytes of its appendValueKey key to
// `out` and gives true. False, nothing written, for a value of another kind. Inline, because a
// fingerprint of many numbers makes it per value.
inline constexpr std::size_t kNumberKeySize = 9;
inline bool writeNumberKey(const CellView& v, char* out) noexcept {
  double d = 0;
  if (v.kind == ValueKind::Floating)
    d = v.floating;
  else if (v.kind == ValueKind::Integer)
    // An integer equals a double only when the double holds exactly its value, which then is
    // its nearest double too.
    d = static_cast<double>(v.integer);
  else
    return false;
  if (d == 0) d = 0;                                          // -0.0 becomes 0
  if (d != d) d = std::numeric_limits<double>::quiet_NaN();  // one NaN
  out[0] = 'N';
  std::memcpy(out + 1, &d, sizeof d);
  return true;
}

// sameValue of the values two views show, without making them. Inline for the kinds most cells
// hold (two integers, two doubles), since a comparison run makes it per figure.
bool sameValueSlow(const CellView& a, const CellView& b);
inline bool sameValue(const CellView& a, const CellView& b) {
  if (a.kind == b.kind) {
    switch (a.kind) {
      case ValueKind::Integer:
        return a.integer == b.integer;
      case ValueKind::Floating:
        return a.floating == b.floating || (a.floating != a.floating && b.floating != b.floating);
      case ValueKind::Null:
        return true;
      case ValueKind::Text:
      case ValueKind::Bytes:
      case ValueKind::DateTime:
        return a.bytes == b.bytes;
      default:
        break;
    }
  }
  return sameValueSlow(a, b);
}

// Text of a value as shown in a grid: integers in decimal, decimals as stored, floating values in
// their shortest round-trip form, dates in ISO form, flags as "1"/"0" (true/false), bytes as
// hexadecimal; NULL as the empty text.
std::string displayText(const Value& v);
// displayText of the value a view shows.
std::string displayText(const CellView& v);

// The double that SQLite's printf('%!.20e', x) wrote as `text` ("3.00000000000000044408e-01",
// "-Inf"), or nullopt when the text does not give back one double exactly. SQLite's digits past
// the seventeenth are not exact, so the text is read as its nearest double, which SQLite's own
// printf must write again as the same text.
std::optional<double> doubleFromSqlitePrintf(std::string_view text);

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

// A fully read result. Cursor operations never touch the database, so a row set stays valid
// while its connection runs other statements and after the connection is closed.
//
// A backend that reads views of its values fills the row set value by value (append, endRow),
// and the row set keeps them compactly: per value its kind and its number or bytes. Reading them
// as views (view, kind, Field's view, isNull, asText and asInteger) costs nothing more; the typed
// Values (at, and Field's value and asBytes) are made of all of them the first time one is asked
// for, and kept.
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
      packed_ = std::exchange(other.packed_, {});
      bytes_ = std::exchange(other.bytes_, {});
      nullMasks_ = std::exchange(other.nullMasks_, {});
      textMasks_ = std::exchange(other.textMasks_, {});
      rowCount_ = std::exchange(other.rowCount_, 0);
      row_ = std::exchange(other.row_, 0);
      fillable_ = std::exchange(other.fillable_, false);
    }
    return *this;
  }

  // Appends the next value of the row being filled, copied from its view. Inline, since a
  // backend appends every value it reads. Rows are complete once endRow() says so. Throws
  // DatabaseError for a row set made from Values or without columns, and for a value of 4 GiB
  // or more.
  void append(const CellView& v) {
    if (!fillable_) notFillable();
    if (v.bytes.size() > UINT32_MAX) tooLong();
    pack(v, packed_.emplace_back());
  }
  // Appends a whole row at once: cellAt(column) gives the view of each column's value, in
  // column order. The checks append makes once per value are made once per row, and the row is
  // complete without endRow. Throws as append and endRow do, with the row set as it was before.
  template <class CellAt>
  void appendRow(CellAt&& cellAt) {
    if (!fillable_) notFillable();
    if (rowCount_ == std::numeric_limits<int>::max()) tooManyRows();
    const std::size_t start = packed_.size();
    const std::size_t columns = names_.size();
    if (start != static_cast<std::size_t>(rowCount_) * columns) incompleteRow();
    const std::size_t bytesStart = bytes_.size();
    packed_.resize(start + columns);  // Packed's constructor leaves it unset: nothing is zeroed
    Packed* p = packed_.data() + start;
    // The masks are gathered while each kind is at hand: a pass over the packed row afterwards
    // would read back what was just written.
    RowMasks masks;
    try {
      for (std::size_t c = 0; c < columns; ++c) {
        const CellView v = cellAt(static_cast<int>(c));
        if (v.bytes.size() > UINT32_MAX) tooLong();
        pack(v, p[c]);
        masks.add(c, v.kind);
      }
      keepMasks(masks);
    } catch (...) {
      packed_.resize(start);
      bytes_.resize(bytesStart);
      throw;
    }
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
    if (!packed_.empty() && cells_.size() != static_cast<std::size_t>(rowCount_) * names_.size())
      makeValues();
    return cells_[i];
  }
  // The kind of the value at (row, column), read without the value.
  ValueKind kind(int row, int column) const {
    const std::size_t i = index(row, column);
    return packed_.empty() ? kindOf(cells_[i]) : packed_[i].kind;
  }
  // The kinds of the values of columns [from, to) of `row`, in order, into `out` (to - from of
  // them). Requires the row and the columns to lie in the result.
  void kinds(int row, int from, int to, ValueKind* out) const;
  // For a row set filled by appending with at most kMaskColumns columns, a row's NULL values and
  // its texts as bits (bit c for column c), kept as the row is appended; readers that only ask
  // which values are NULL or text need not visit them. Otherwise hasMasks() is false.
  static constexpr std::size_t kMaskColumns = 64;
  bool hasMasks() const noexcept {
    return !packed_.empty() && nullMasks_.size() == static_cast<std::size_t>(rowCount_);
  }
  // Require hasMasks() and a row of the result.
  std::uint64_t nullMask(int row) const noexcept {
    return nullMasks_[static_cast<std::size_t>(row)];
  }
  std::uint64_t textMask(int row) const noexcept {
    return textMasks_[static_cast<std::size_t>(row)];
  }
  // Asks the processor to bring the value at (row, column) into its caches ahead of reading it,
  // so that reads of scattered values of a row set read long ago overlap. Only for a row set
  // filled by appending; harmless outside the result (a prefetch never faults).
  void prefetch(int row, int column) const noexcept {
    // Integer arithmetic: the place may lie outside the values, or packed_ may hold none.
    const std::size_t i =
        static_cast<std::size_t>(row) * names_.size() + static_cast<std::size_t>(column);
    const std::uintptr_t place =
        reinterpret_cast<std::uintptr_t>(packed_.data()) + i * sizeof(Packed);
#if defined(__x86_64__)
    // The instruction itself: GCC drops __builtin_prefetch from a loop that does nothing else,
    // and such a loop is how the prefetches are asked for ahead of the reads.
    asm volatile("prefetcht0 (%0)" : : "r"(place));
#else
    __builtin_prefetch(reinterpret_cast<const void*>(place));
#endif
  }
  // The same value seen in place, without making it: valid while the row set lives unchanged.
  CellView view(int row, int column) const {
    const std::size_t i = index(row, column);
    if (packed_.empty()) return viewOf(cells_[i]);
    const Packed& p = packed_[i];
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
        v.bytes = p.size <= sizeof p.inlined ? std::string_view(p.inlined, p.size)
                                             : std::string_view(bytes_.data() + p.offset, p.size);
    }
    return v;
  }

 private:
  // One value appended as a view: its number, or its bytes (`size` of them): up to eight in
  // place, longer ones at `offset` in bytes_. Most texts of a report's rows (period, unit and
  // task codes, short remarks) fit in place, which spares a copy call for each.
  struct Packed {
    Packed() noexcept {}  // left unset: append sets every field it reads
    ValueKind kind;
    std::uint32_t size;
    union {
      std::int64_t integer;
      double floating;
      std::size_t offset;
      char inlined[8];
    };
  };
  static_assert(sizeof(Packed) == 16, "a value appended takes two words");
  // Copies up to eight bytes with fixed-size moves (a copy of a variable size would be a call).
  static void inlineBytes(std::string_view from, char* to) noexcept {
    const std::size_t n = from.size();
    if (n >= 4) {
      std::memcpy(to, from.data(), 4);
      std::memcpy(to + n - 4, from.data() + n - 4, 4);
    } else if (n > 0) {
      to[0] = from[0];
      to[n / 2] = from[n / 2];
      to[n - 1] = from[n - 1];
    }
  }
  // A row's NULLs and texts as bits, gathered column by column (columns past 63 wrap; their
  // masks are not kept).
  struct RowMasks {
    std::uint64_t nulls = 0;
    std::uint64_t texts = 0;
    void add(std::size_t column, ValueKind kind) noexcept {
      nulls |= std::uint64_t{kind == ValueKind::Null} << (column % 64);
      texts |= std::uint64_t{kind == ValueKind::Text} << (column % 64);
    }
  };
  // Keeps the masks of the row being ended, while the columns are few enough.
  void keepMasks(const RowMasks& masks) {
    if (names_.size() > kMaskColumns) return;
    textMasks_.push_back(masks.texts);
    try {
      nullMasks_.push_back(masks.nulls);
    } catch (...) {
      textMasks_.pop_back();  // both masks of a row, or neither
      throw;
    }
  }
  // Copies a value into `p`, field by field: a value made aside and then copied whole would be
  // read back from where its fields were just written, which the processor cannot forward.
  // Requires a value of fewer than 4 GiB.
  void pack(const CellView& v, Packed& p) {
    p.kind = v.kind;
    p.size = 0;
    switch (v.kind) {
      case ValueKind::Integer:
      case ValueKind::Boolean:
        p.integer = v.integer;
        break;
      case ValueKind::Floating:
        p.floating = v.floating;
        break;
      case ValueKind::Null:
        p.integer = 0;
        break;
      default:
        p.size = static_cast<std::uint32_t>(v.bytes.size());
        if (p.size <= sizeof p.inlined) {
          inlineBytes(v.bytes, p.inlined);
        } else {
          p.offset = bytes_.size();
          bytes_.append(v.bytes);
        }
    }
  }
  std::size_t index(int row, int column) const {
    if (row < 0 || row >= rowCount_ || column < 0 || column >= columnCount()) outside(row, column);
    return static_cast<std::size_t>(row) * names_.size() + static_cast<std::size_t>(column);
  }
  [[noreturn]] static void outside(int row, int column);
  [[noreturn]] static void notFillable();
  [[noreturn]] static void tooLong();
  [[noreturn]] static void tooManyRows();
  [[noreturn]] static void incompleteRow();
  // Makes cells_ of packed_.
  void makeValues() const;

  std::vector<std::string> names_;
  // Row-major. For a row set filled by append, made of packed_ when first asked for.
  mutable std::vector<Value> cells_;
  std::vector<Packed> packed_;  // row-major; empty unless filled by append
  std::vector<std::uint64_t> nullMasks_;  // per row, while columns are few enough
  std::vector<std::uint64_t> textMasks_;
  std::string bytes_;
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
