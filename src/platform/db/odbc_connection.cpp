// The ODBC backend, through unixODBC. Drivers with wide entry points (FreeTDS) get UTF-16 through
// the W functions; the SQLite ODBC driver, narrow only, gets UTF-8. Named SQL Server instances are
// looked up here, within the Connect Timeout, since drivers' own look-ups ignore it.

#include <netdb.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/db/backends.h"
#include "platform/db/numbers.h"
#include "platform/text/text.h"

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR must be UTF-16");

namespace dupsweep::db::detail {
namespace {

// SQL Server types the ODBC headers do not name.
constexpr SQLSMALLINT kSqlSsTime2 = -154;
constexpr SQLSMALLINT kSqlSsTimestampOffset = -155;

constexpr size_t kChunkBytes = 16 * 1024;

std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// An unpaired surrogate becomes U+FFFD instead of failing: messages and names must always show.
std::string fromUtf16Lenient(std::u16string_view s) {
  try {
    return text::utf16ToUtf8(s);
  } catch (const Error&) {
    std::u16string clean(s);
    for (size_t i = 0; i < clean.size(); ++i) {
      const char16_t c = clean[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < clean.size() && clean[i + 1] >= 0xDC00 &&
          clean[i + 1] <= 0xDFFF) {
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        clean[i] = 0xFFFD;
      }
    }
    return text::utf16ToUtf8(clean);
  }
}

// A driver's narrow message as UTF-8: as it stands, else as GB18030, else bad bytes as '?'.
std::string fromNarrowLenient(std::string s) {
  if (text::isValidUtf8(s)) return s;
  try {
    return text::gb18030ToUtf8(s);
  } catch (const Error&) {
    for (char& c : s)
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return s;
  }
}

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The TCP port in a SQL Server Browser answer (SVR_RESP: 0x05, 16-bit LE length, "key;value;"
// pairs with "tcp;PORT"); 0 when it names none.
int portFromBrowserAnswer(const unsigned char* data, size_t size) {
  if (size < 3 || data[0] != 0x05) return 0;
  const size_t length = std::min<size_t>(data[1] | (size_t{data[2]} << 8), size - 3);
  const std::string text(reinterpret_cast<const char*>(data + 3), length);
  std::vector<std::string> fields;
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find(';', start), text.size());
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    if (lowerAscii(fields[i]) != "tcp") continue;
    int port = 0;
    const std::string& v = fields[i + 1];
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), port);
    if (ec == std::errc() && end == v.data() + v.size() && port > 0 && port < 65536) return port;
    return 0;
  }
  return 0;
}

// The TCP port of `instance` on `host`, asked of the SQL Server Browser (CLNT_UCAST_INST) once a
// second for at most `timeout`. Throws DatabaseError when no answer comes (a browser is silent for
// an unknown instance), for an unknown host, a refusal, or an instance without a TCP port.
int instancePort(const std::string& host, const std::string& instance, int browserPort,
                 std::chrono::seconds timeout, const std::string& password) {
  using Clock = std::chrono::steady_clock;
  const std::string what = "the port of the SQL Server instance \"" + instance + "\" on " + host;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(browserPort);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0)
    fail("Cannot connect to the database: cannot look up " + what + ": " + gai_strerror(rc),
         "08001", password);
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
  Socket socket(::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol));
  // A connected datagram socket takes answers from that address only, and reports a refusal
  // (nothing listens on the browser's port) as ECONNREFUSED.
  if (socket.get() < 0 || ::connect(socket.get(), found->ai_addr, found->ai_addrlen) != 0)
    fail("Cannot connect to the database: cannot ask the SQL Server Browser for " + what + ": " +
             std::strerror(errno),
         "08001", password);

  std::string question(1, '\x04');
  question += instance;
  question += '\0';
  const auto deadline = Clock::now() + timeout;
  auto nextQuestion = Clock::now();
  std::vector<unsigned char> answer(65536);
  for (;;) {
    const auto now = Clock::now();
    if (now >= deadline) break;
    if (now >= nextQuestion) {
      if (::send(socket.get(), question.data(), question.size(), 0) < 0 && errno != ECONNREFUSED)
        fail("Cannot connect to the database: cannot ask the SQL Server Browser for " + what +
                 ": " + std::strerror(errno),
             "08001", password);
      nextQuestion = now + std::chrono::seconds(1);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        std::min(deadline, nextQuestion) - Clock::now());
    pollfd p{socket.get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(wait.count(), 0)));
    if (ready < 0 && errno != EINTR)
      fail("Cannot connect to the database: " + std::string(std::strerror(errno)), "08001",
           password);
    if (ready <= 0) continue;
    const ssize_t got = ::recv(socket.get(), answer.data(), answer.size(), 0);
    if (got < 0 && errno == ECONNREFUSED)
      fail("Cannot connect to the database: the SQL Server Browser on " + host + " (UDP port " +
               service + ") refused the question for " + what,
           "08001", password);
    if (got <= 0) continue;
    const int port = portFromBrowserAnswer(answer.data(), static_cast<size_t>(got));
    if (port == 0)
      fail("Cannot connect to the database: the SQL Server Browser on " + host +
               " names no TCP port for the instance \"" + instance + "\"",
           "08001", password);
    return port;
  }
  fail("Cannot connect to the database: the SQL Server Browser on " + host + " (UDP port " +
           service + ") gave no answer for the instance \"" + instance + "\" within the " +
           "Connect Timeout of " + std::to_string(timeout.count()) +
           " s (is the instance's name right and the browser running?)",
       "HYT00", password);
}

class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) {
      handle_ = SQL_NULL_HANDLE;
      throw DatabaseError("The ODBC driver manager could not allocate a handle.", "HY001");
    }
  }
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

enum class Fetch { Integer, Floating, Boolean, Decimal, DateTime, Text, Binary };

Fetch fetchFor(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT:
      return Fetch::Boolean;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return Fetch::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return Fetch::Decimal;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return Fetch::Floating;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return Fetch::Binary;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case kSqlSsTime2:
    case kSqlSsTimestampOffset:
      return Fetch::DateTime;
    default:
      return Fetch::Text;
  }
}

// A text from the SQLite ODBC driver, typed by the column's ODBC type. SQLite columns hold any
// type, so a text that does not fit keeps the kind it does fit rather than being truncated.
Value typedFromText(std::string text, Fetch fetch) {
  const char* b = text.data();
  const char* e = b + text.size();
  auto asInteger = [&]() -> std::optional<std::int64_t> {
    std::int64_t v = 0;
    const auto r = std::from_chars(b, e, v);
    if (r.ec == std::errc() && r.ptr == e && !text.empty()) return v;
    return std::nullopt;
  };
  auto asDouble = [&]() -> std::optional<double> {
    double v = 0;
    const auto r = std::from_chars(b, e, v);
    if (r.ec == std::errc() && r.ptr == e && !text.empty()) return v;
    return std::nullopt;
  };
  switch (fetch) {
    case Fetch::Boolean:
      if (text == "0" || text == "1") return text == "1";
      [[fallthrough]];
    case Fetch::Integer:
      if (auto i = asInteger()) return *i;
      if (auto d = asDouble()) return *d;
      return text;
    case Fetch::Floating:
      if (auto d = asDouble()) return *d;
      return text;
    case Fetch::Decimal:
      if (parseDecimal(text)) return Decimal{std::move(text)};
      if (auto d = asDouble()) return *d;
      return text;
    case Fetch::DateTime:
      return DateTime{std::move(text)};
    default:
      return text;
  }
}

class OdbcConnection final : public Connection {
 public:
  explicit OdbcConnection(const ConnectionTarget& target)
      : password_(target.password), env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    check(SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION,
                        reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          env_);
    dbc_ = std::make_unique<Handle>(SQL_HANDLE_DBC, env_.get());
    std::string cs = target.odbcConnection;
    int loginTimeout = target.loginTimeoutSeconds;
    if (target.namedInstance && loginTimeout > 0) {
      const auto& named = *target.namedInstance;
      const auto start = std::chrono::steady_clock::now();
      const int port = instancePort(named.host, named.instance, named.browserPort,
                                    std::chrono::seconds(loginTimeout), password_);
      if (const size_t at = cs.find(named.serverPair); at != std::string::npos)
        cs.replace(at, named.serverPair.size(),
                   "Server=" + named.host + "," + std::to_string(port));
      // The login gets what the look-up left of the time-out, at least a second.
      const auto spent =
          std::chrono::ceil<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
      loginTimeout = std::max(1, loginTimeout - static_cast<int>(spent.count()));
    }
    if (loginTimeout >= 0)
      check(SQLSetConnectAttr(
                dbc_->get(), SQL_ATTR_LOGIN_TIMEOUT,
                reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(loginTimeout)), 0),
            *dbc_);
    if (cs.size() > 32767) fail("The ODBC connection string is too long.", "HY090", password_);
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnect(
        dbc_->get(), nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
        static_cast<SQLSMALLINT>(cs.size()), nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) raise(*dbc_, "Cannot connect to the database: ");
    connected_ = true;

    const std::string driver = lowerAscii(infoText(SQL_DRIVER_NAME));
    // The SQLite ODBC drivers have only narrow entry points and take and return UTF-8.
    switch (target.odbcText) {
      case ConnectionTarget::OdbcText::Narrow:
        narrow_ = true;
        break;
      case ConnectionTarget::OdbcText::Wide:
        narrow_ = false;
        break;
      case ConnectionTarget::OdbcText::Auto:
        narrow_ =
            driver.find("sqlite") != std::string::npos && driver.find("odbc") != std::string::npos;
        break;
    }
    const std::string dbms = lowerAscii(infoText(SQL_DBMS_NAME));
    dialect_ = dbms.starts_with("sqlite") ? Dialect::SQLite : Dialect::SqlServer;
  }

  ~OdbcConnection() override {
    if (connected_) {
      if (inTransaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK);
      SQLDisconnect(dbc_->get());
    }
  }
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  Dialect dialect() const override { return dialect_; }

  std::unique_ptr<RowSet> query(std::string_view sql) override {
    std::vector<std::string> names;
    std::vector<Value> cells;
    firstResult(
        sql, [&](const std::vector<std::string>& described) { names = described; },
        [&](std::vector<Value>& row) {
          for (Value& v : row) cells.push_back(std::move(v));
        });
    return std::make_unique<RowSet>(std::move(names), std::move(cells));
  }

  void stream(std::string_view sql, RowSink& sink) override {
    const bool haveResult = firstResult(
        sql, [&](const std::vector<std::string>& names) { sink.columns(names); },
        [&](std::vector<Value>& row) { sink.row(row); });
    if (!haveResult) sink.columns({});
  }

  std::int64_t execute(std::string_view sql) override {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    // SQL_NO_DATA: a searched UPDATE or DELETE that matched no row, which affected 0 rows.
    bool noData = executeDirect(stmt, sql);
    std::int64_t affected = 0;
    for (;;) {
      if (!noData) {
        SQLSMALLINT columns = 0;
        check(SQLNumResultCols(stmt.get(), &columns), stmt);
        SQLLEN rows = -1;
        if (columns == 0 && SQL_SUCCEEDED(SQLRowCount(stmt.get(), &rows)) && rows > 0)
          affected += rows;
      }
      if (!moreResults(stmt, noData)) break;
      noData = false;
    }
    return affected;
  }

  std::int64_t executeWith(std::string_view sql, const std::vector<Value>& params) override {
    if (sql.find_first_not_of(" \t\r\n") == std::string_view::npos)
      fail("The statement is empty.", "42000", {});
    if (sql.size() > 0x7fffffff) fail("The statement is too long.", "HY090", {});
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    if (narrow_) {
      std::string text(sql);
      check(SQLPrepare(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                       static_cast<SQLINTEGER>(text.size())),
            stmt);
    } else {
      std::u16string wide;
      try {
        wide = text::utf8ToUtf16(sql);
      } catch (const Error& e) {
        fail(std::string("The statement text is not valid UTF-8: ") + e.what(), "22018", password_);
      }
      check(SQLPrepareW(stmt.get(), reinterpret_cast<SQLWCHAR*>(wide.data()),
                        static_cast<SQLINTEGER>(wide.size())),
            stmt);
    }
    SQLSMALLINT markers = 0;
    if (SQL_SUCCEEDED(SQLNumParams(stmt.get(), &markers)) &&
        static_cast<size_t>(markers) != params.size())
      fail("The statement has " + std::to_string(markers) + " parameter markers for " +
               std::to_string(params.size()) + " values.",
           "07002", {});
    // The bound buffers must stay where they are until the statement has run.
    std::vector<Parameter> bound(params.size());
    for (size_t i = 0; i < params.size(); ++i)
      bindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), params[i], bound[i]);
    const SQLRETURN rc = SQLExecute(stmt.get());
    if (rc == SQL_NO_DATA) return 0;
    check(rc, stmt);
    SQLLEN rows = -1;
    if (SQL_SUCCEEDED(SQLRowCount(stmt.get(), &rows)) && rows > 0) return rows;
    return 0;
  }

  void begin() override {
    if (inTransaction_) fail("A transaction is already active.", "25000", {});
    check(SQLSetConnectAttr(dbc_->get(), SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER),
          *dbc_);
    inTransaction_ = true;
  }
  void commit() override { endTransaction(SQL_COMMIT); }
  void rollback() override { endTransaction(SQL_ROLLBACK); }

 private:
  void endTransaction(SQLSMALLINT how) {
    if (!inTransaction_) fail("No transaction is active.", "25000", {});
    check(SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), how), *dbc_);
    inTransaction_ = false;
    check(SQLSetConnectAttr(dbc_->get(), SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER),
          *dbc_);
  }

  struct Parameter {
    std::vector<char> bytes;
    SQLLEN indicator = 0;
  };

  // Text goes as UTF-16 or UTF-8 as the driver takes it; exact decimals as their digits and dates
  // as ISO text, so that no binary floating point comes between.
  void bindParameter(const Handle& stmt, SQLUSMALLINT n, const Value& value, Parameter& p) {
    SQLSMALLINT cType = SQL_C_CHAR, sqlType = SQL_VARCHAR, digits = 0;
    SQLULEN size = 1;
    auto raw = [&p](const void* data, size_t length) {
      p.bytes.assign(static_cast<const char*>(data), static_cast<const char*>(data) + length);
      p.indicator = static_cast<SQLLEN>(length);
    };
    auto text = [&](const std::string& s) {
      if (narrow_) {
        raw(s.data(), s.size());
        sqlType = s.size() > 8000 ? SQL_LONGVARCHAR : SQL_VARCHAR;
        size = std::max<size_t>(1, s.size());
      } else {
        const std::u16string wide = text::utf8ToUtf16(s);
        raw(wide.data(), wide.size() * sizeof(char16_t));
        cType = SQL_C_WCHAR;
        sqlType = wide.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        size = std::max<size_t>(1, wide.size());
      }
    };
    switch (kindOf(value)) {
      case ValueKind::Null: {
        // NULL carries no type of its own; SQL Server refuses a text-typed NULL for a byte-array
        // column, so the column's own type is asked when the driver can tell it.
        p.indicator = SQL_NULL_DATA;
        SQLSMALLINT described = 0, nullable = 0, scale = 0;
        SQLULEN describedSize = 0;
        if (SQL_SUCCEEDED(SQLDescribeParam(stmt.get(), n, &described, &describedSize, &scale,
                                           &nullable)) &&
            described != 0) {
          sqlType = described;
          size = std::max<SQLULEN>(1, describedSize);
          digits = scale;
        }
        break;
      }
      case ValueKind::Integer: {
        const SQLBIGINT v = std::get<std::int64_t>(value);
        raw(&v, sizeof v);
        cType = SQL_C_SBIGINT;
        sqlType = SQL_BIGINT;
        size = 19;
        break;
      }
      case ValueKind::Floating: {
        const double v = std::get<double>(value);
        raw(&v, sizeof v);
        cType = SQL_C_DOUBLE;
        sqlType = SQL_DOUBLE;
        size = 15;
        break;
      }
      case ValueKind::Boolean: {
        const unsigned char v = std::get<bool>(value) ? 1 : 0;
        raw(&v, sizeof v);
        cType = SQL_C_BIT;
        sqlType = SQL_BIT;
        break;
      }
      case ValueKind::Decimal: {
        const std::string& d = std::get<Decimal>(value).digits;
        raw(d.data(), d.size());
        sqlType = SQL_DECIMAL;
        const size_t point = d.find('.');
        size_t figures = 0;
        for (char c : d) figures += (c >= '0' && c <= '9') ? 1 : 0;
        size = std::max<size_t>(1, figures);
        digits = point == std::string::npos ? 0 : static_cast<SQLSMALLINT>(d.size() - point - 1);
        break;
      }
      case ValueKind::Text:
        text(std::get<std::string>(value));
        break;
      case ValueKind::DateTime:
        text(std::get<DateTime>(value).iso);
        break;
      case ValueKind::Bytes: {
        const Bytes& b = std::get<Bytes>(value);
        raw(b.data(), b.size());
        cType = SQL_C_BINARY;
        sqlType = b.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
        size = std::max<size_t>(1, b.size());
        break;
      }
    }
    if (p.bytes.empty()) p.bytes.resize(1);  // a valid address also for NULL and empty values
    check(SQLBindParameter(stmt.get(), n, SQL_PARAM_INPUT, cType, sqlType, size, digits,
                           p.bytes.data(), static_cast<SQLLEN>(p.bytes.size()), &p.indicator),
          stmt);
  }

  // True when the driver answered SQL_NO_DATA (no rows affected, no result).
  bool executeDirect(const Handle& stmt, std::string_view sql) {
    if (sql.find_first_not_of(" \t\r\n") == std::string_view::npos)
      fail("The statement is empty.", "42000", {});
    if (sql.size() > 0x7fffffff) fail("The statement is too long.", "HY090", {});
    SQLRETURN rc;
    if (narrow_) {
      std::string text(sql);
      rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                         static_cast<SQLINTEGER>(text.size()));
    } else {
      std::u16string wide;
      try {
        wide = text::utf8ToUtf16(sql);
      } catch (const Error& e) {
        fail(std::string("The statement text is not valid UTF-8: ") + e.what(), "22018", password_);
      }
      rc = SQLExecDirectW(stmt.get(), reinterpret_cast<SQLWCHAR*>(wide.data()),
                          static_cast<SQLINTEGER>(wide.size()));
    }
    if (rc == SQL_NO_DATA) return true;
    check(rc, stmt);
    return false;
  }

  // False when there is no next result. After SQL_NO_DATA (`afterNoData`) a driver may refuse the
  // call as out of sequence (HY010), which means the same.
  bool moreResults(const Handle& stmt, bool afterNoData) {
    const SQLRETURN rc = SQLMoreResults(stmt.get());
    if (rc == SQL_NO_DATA) return false;
    if (afterNoData && rc == SQL_ERROR && firstState(stmt) == "HY010") return false;
    check(rc, stmt);
    return true;
  }

  std::string firstState(const Handle& handle) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR text[8];
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(handle.type(), handle.get(), 1, state, &native, text,
                                     sizeof text, &length)))
      return {};
    return std::string(reinterpret_cast<char*>(state), 5);
  }

  // Reads the first result that has columns; false when none had.
  template <class OnColumns, class OnRow>
  bool firstResult(std::string_view sql, OnColumns onColumns, OnRow onRow) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    bool noData = executeDirect(stmt, sql);
    bool haveResult = false;
    for (;;) {
      if (!noData && !haveResult) {
        SQLSMALLINT columns = 0;
        check(SQLNumResultCols(stmt.get(), &columns), stmt);
        if (columns > 0) {
          readRows(stmt, columns, onColumns, onRow);
          haveResult = true;
        }
      }
      if (!moreResults(stmt, noData)) break;
      noData = false;
    }
    return haveResult;
  }

  // One vector of values, reused from row to row, is handed to `onRow`.
  template <class OnColumns, class OnRow>
  void readRows(const Handle& stmt, SQLSMALLINT columns, OnColumns onColumns, OnRow onRow) {
    std::vector<std::string> names;
    std::vector<Fetch> fetch;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      SQLSMALLINT type = 0;
      names.push_back(describe(stmt, c, type));
      Fetch f = fetchFor(type);
      if (narrow_ && f != Fetch::Binary) {
        // The SQLite ODBC driver reports DECIMAL columns as VARCHAR and NUMERIC ones as DOUBLE;
        // the declared type gives the kinds the SQLite library route gives.
        switch (classifyDeclaredType(typeName(stmt, c))) {
          case Declared::Decimal:
            f = Fetch::Decimal;
            break;
          case Declared::DateTime:
            f = Fetch::DateTime;
            break;
          case Declared::Boolean:
            f = Fetch::Boolean;
            break;
          case Declared::Plain:
            break;
        }
      }
      fetch.push_back(f);
    }
    onColumns(names);
    std::vector<Value> row(static_cast<size_t>(columns));
    for (;;) {
      const SQLRETURN rc = SQLFetch(stmt.get());
      if (rc == SQL_NO_DATA) break;
      check(rc, stmt);
      for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c)
        row[c - 1] = readCell(stmt, c, fetch[c - 1]);
      onRow(row);
    }
  }

  std::string describe(const Handle& stmt, SQLUSMALLINT c, SQLSMALLINT& type) {
    SQLULEN size = 0;
    SQLSMALLINT digits = 0, nullable = 0, length = 0;
    if (narrow_) {
      std::vector<SQLCHAR> name(256);
      for (;;) {
        check(SQLDescribeCol(stmt.get(), c, name.data(), static_cast<SQLSMALLINT>(name.size()),
                             &length, &type, &size, &digits, &nullable),
              stmt);
        if (static_cast<size_t>(length) < name.size()) break;
        name.resize(static_cast<size_t>(length) + 1);
      }
      return fromNarrowLenient(std::string(reinterpret_cast<char*>(name.data()), size_t(length)));
    }
    std::vector<SQLWCHAR> name(256);
    for (;;) {
      check(SQLDescribeColW(stmt.get(), c, name.data(), static_cast<SQLSMALLINT>(name.size()),
                            &length, &type, &size, &digits, &nullable),
            stmt);
      if (static_cast<size_t>(length) < name.size()) break;
      name.resize(static_cast<size_t>(length) + 1);
    }
    return fromUtf16Lenient(
        std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), size_t(length)));
  }

  // Narrow drivers only; empty when unknown.
  std::string typeName(const Handle& stmt, SQLUSMALLINT c) {
    char name[128] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLColAttribute(stmt.get(), c, SQL_DESC_TYPE_NAME, name, sizeof name,
                                       &length, nullptr)))
      return {};
    return std::string(name, strnlen(name, sizeof name));
  }

  Value readCell(const Handle& stmt, SQLUSMALLINT c, Fetch fetch) {
    SQLLEN indicator = 0;
    if (fetch == Fetch::Binary) {
      Bytes bytes;
      if (!readLong(stmt, c, SQL_C_BINARY, bytes)) return Null{};
      return bytes;
    }
    if (narrow_) {
      std::string text;
      if (!readLong(stmt, c, SQL_C_CHAR, text)) return Null{};
      return typedFromText(std::move(text), fetch);
    }
    switch (fetch) {
      case Fetch::Integer: {
        SQLBIGINT v = 0;
        check(SQLGetData(stmt.get(), c, SQL_C_SBIGINT, &v, sizeof v, &indicator), stmt);
        if (indicator == SQL_NULL_DATA) return Null{};
        return static_cast<std::int64_t>(v);
      }
      case Fetch::Floating: {
        double v = 0;
        check(SQLGetData(stmt.get(), c, SQL_C_DOUBLE, &v, sizeof v, &indicator), stmt);
        if (indicator == SQL_NULL_DATA) return Null{};
        return v;
      }
      case Fetch::Boolean: {
        unsigned char v = 0;
        check(SQLGetData(stmt.get(), c, SQL_C_BIT, &v, sizeof v, &indicator), stmt);
        if (indicator == SQL_NULL_DATA) return Null{};
        return v != 0;
      }
      case Fetch::Decimal: {
        // Decimal and money values as the server's text, never through binary floating point.
        std::string text;
        if (!readLong(stmt, c, SQL_C_CHAR, text)) return Null{};
        return Decimal{std::move(text)};
      }
      default: {
        std::u16string wide;
        if (!readLong(stmt, c, SQL_C_WCHAR, wide)) return Null{};
        std::string text = fromUtf16Lenient(wide);
        if (fetch == Fetch::DateTime) return DateTime{std::move(text)};
        return text;
      }
    }
  }

  // Reads a whole value in chunks (any length, zero bytes included) onto `out`; false for NULL.
  template <class Out>
  bool readLong(const Handle& stmt, SQLUSMALLINT c, SQLSMALLINT cType, Out& out) {
    using Unit = typename Out::value_type;
    const size_t terminator = cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? 2 : 0;
    chunk_.resize(kChunkBytes);
    const size_t room = kChunkBytes - terminator;
    for (bool firstCall = true;; firstCall = false) {
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(stmt.get(), c, cType, chunk_.data(),
                                      static_cast<SQLLEN>(chunk_.size()), &indicator);
      if (rc == SQL_NO_DATA) {
        if (firstCall) fail("The driver returned no data for a column.", "HY000", password_);
        return true;  // the previous chunk was the last
      }
      check(rc, stmt);
      if (indicator == SQL_NULL_DATA) return false;
      size_t got;
      bool more = false;
      if (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > room) {
        got = room;
        more = true;
        if (indicator != SQL_NO_TOTAL && firstCall)
          out.reserve(static_cast<size_t>(indicator) / sizeof(Unit));
      } else {
        got = static_cast<size_t>(indicator);
      }
      const size_t units = got / sizeof(Unit);
      if (units > 0) {
        const size_t oldSize = out.size();
        out.resize(oldSize + units);
        std::memcpy(out.data() + oldSize, chunk_.data(), units * sizeof(Unit));
      }
      if (!more || rc == SQL_SUCCESS) return true;
    }
  }

  std::string infoText(SQLUSMALLINT what) {
    char buf[512] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc_->get(), what, buf, sizeof buf, &length))) return {};
    return std::string(buf, std::min<size_t>(static_cast<size_t>(length), sizeof buf - 1));
  }

  void check(SQLRETURN rc, const Handle& handle) {
    if (!SQL_SUCCEEDED(rc)) raise(handle);
  }

  // The kind of a failure of this connection: its SQLSTATE's, except that the SQLite driver
  // reports every failure as HY000 with SQLite's result code as the native error (constraint,
  // lock, damaged file) and a missing table only in SQLite's own text.
  DatabaseError::Kind failureKind(std::string_view state, SQLINTEGER native,
                             std::string_view message) const {
    using Kind = DatabaseError::Kind;
    if (state != "HY000") return kindOfState(state);
    if (message.find("no such table:") != std::string_view::npos) return Kind::MissingTable;
    if (dialect_ == Dialect::SQLite) {
      switch (native & 0xff) {
        case 19:  // SQLITE_CONSTRAINT
          return Kind::Constraint;
        case 11:  // SQLITE_CORRUPT
        case 26:  // SQLITE_NOTADB
          return Kind::Damaged;
        default:
          break;
      }
    }
    return Kind::Other;
  }

  // All the diagnostic records, one a line, as one DatabaseError.
  [[noreturn]] void raise(const Handle& handle, std::string_view prefix = {}) {
    std::string message;
    std::string state;
    SQLINTEGER stateNative = 0;  // the native error of the record whose state is kept
    std::vector<std::string> texts;
    for (SQLSMALLINT record = 1;; ++record) {
      std::string recordState, recordText;
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      // Reads record `record` into `st` and `text`, asking again with room for a long text.
      auto diag = [&](auto getDiag, auto* st, auto& text) {
        SQLRETURN rc = getDiag(handle.type(), handle.get(), record, st, &native, text.data(),
                               static_cast<SQLSMALLINT>(text.size()), &length);
        if (SQL_SUCCEEDED(rc) && static_cast<size_t>(length) >= text.size()) {
          text.resize(static_cast<size_t>(length) + 1);
          rc = getDiag(handle.type(), handle.get(), record, st, &native, text.data(),
                       static_cast<SQLSMALLINT>(text.size()), &length);
        }
        return SQL_SUCCEEDED(rc);
      };
      if (narrow_ || !connected_) {
        SQLCHAR st[6] = {};
        std::vector<SQLCHAR> text(1024);
        if (!diag(SQLGetDiagRec, st, text)) break;
        recordState.assign(reinterpret_cast<char*>(st), strnlen(reinterpret_cast<char*>(st), 5));
        recordText =
            fromNarrowLenient(std::string(reinterpret_cast<char*>(text.data()),
                                          std::min(static_cast<size_t>(length), text.size() - 1)));
      } else {
        SQLWCHAR st[6] = {};
        std::vector<SQLWCHAR> text(1024);
        if (!diag(SQLGetDiagRecW, st, text)) break;
        std::u16string_view stView(reinterpret_cast<const char16_t*>(st), 5);
        recordState = fromUtf16Lenient(stView.substr(0, stView.find(u'\0')));
        recordText = fromUtf16Lenient(
            std::u16string_view(reinterpret_cast<const char16_t*>(text.data()),
                                std::min(static_cast<size_t>(length), text.size() - 1)));
      }
      // The first error state (class 01 is a warning that may precede it).
      if (state.empty() || (state.starts_with("01") && !recordState.starts_with("01"))) {
        state = recordState;
        stateNative = native;
        // The SQLite driver reports a lock (SQLITE_BUSY, SQLITE_LOCKED) as HY000: give it the
        // time-out state the direct route gives it.
        if (dialect_ == Dialect::SQLite && ((native & 0xff) == 5 || (native & 0xff) == 6))
          state = "HYT00";
      }
      // FreeTDS repeats records; each text once.
      if (std::find(texts.begin(), texts.end(), recordText) != texts.end()) continue;
      texts.push_back(recordText);
      if (!message.empty()) message += '\n';
      message += recordText;
    }
    if (message.empty()) message = "The ODBC driver reported a failure without a message.";
    fail(std::string(prefix) + message, state, password_, failureKind(state, stateNative, message));
  }

  std::string password_;
  Handle env_;
  std::unique_ptr<Handle> dbc_;
  bool connected_ = false;
  bool narrow_ = true;
  bool inTransaction_ = false;
  Dialect dialect_ = Dialect::SqlServer;
  std::vector<char> chunk_;
};

}  // namespace

std::unique_ptr<Connection> openOdbc(const ConnectionTarget& target) {
  return std::make_unique<OdbcConnection>(target);
}

}  // namespace dupsweep::db::detail
