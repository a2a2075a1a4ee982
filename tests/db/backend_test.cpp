// Both backends against real SQLite files: libsqlite3 directly (Provider=SQLite), and the unixODBC
// driver manager with the SQLite ODBC driver (Provider=MSDASQL;Driver=SQLite3).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/db/db.h"
#include "support/sqlite_file.h"

namespace dupsweep::db {
namespace {

// OdbcWide drives the SQLite ODBC driver through the wide (UTF-16) functions, which the driver
// manager converts for it; it runs the code path that SQL Server drivers take.
enum class Backend { Sqlite, Odbc, OdbcWide };

std::string connectionString(Backend backend, const std::filesystem::path& file) {
  if (backend == Backend::Sqlite) return "Provider=SQLite;Data Source=" + file.string();
  return "Provider=MSDASQL;Driver=SQLite3;Database=" + file.string();
}

std::unique_ptr<Connection> openBackend(Backend backend, const std::filesystem::path& file) {
  ConnectionTarget target = parseConnectionString(connectionString(backend, file));
  if (backend == Backend::OdbcWide) target.odbcText = ConnectionTarget::OdbcText::Wide;
  return open(target);
}

class BackendTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    host_.exec(
        "CREATE TABLE T(nId INTEGER, sName TEXT, OleVTS BLOB, nAmount DECIMAL(18,2), "
        "fRate REAL, dWhen DATETIME, bFlag BIT);");
    conn_ = openBackend(GetParam(), host_.path());
  }

  testing::SqliteFile host_;
  std::unique_ptr<Connection> conn_;
};

// Tests of text and typing that hold on the routes the layer really takes for SQLite (the wide
// functions are not one of them: the driver manager converts them for the SQLite ODBC driver as
// Latin-1, which is why the layer chooses the narrow functions for it).
class ExactTextTest : public BackendTest {};

TEST_P(BackendTest, ReportsTheSqliteDialect) {
  EXPECT_EQ(conn_->dialect(), Dialect::SQLite);
}

TEST_P(ExactTextTest, ChineseTextBothWays) {
  const std::string name = "北京市统计局（汇总）";
  EXPECT_EQ(conn_->execute("INSERT INTO T(nId, sName) VALUES (1, '" + name + "')"), 1);
  host_.exec("INSERT INTO T(nId, sName) VALUES (2, '上海市')");
  // Written through the layer, read by SQLite itself.
  EXPECT_EQ(host_.scalar("SELECT nId FROM T WHERE sName = '" + name + "'"), 1);
  // Chinese in the statement (condition and alias) and in the result.
  auto rows = conn_->query("SELECT sName AS 单位名称 FROM T WHERE sName IN ('上海市', '" + name +
                           "') ORDER BY nId");
  ASSERT_EQ(rows->rowCount(), 2);
  EXPECT_EQ(rows->columnName(0), "单位名称");
  EXPECT_EQ(rows->field("单位名称").asText(), name);
  rows->next();
  EXPECT_EQ(rows->field(0).asTextStrict(), "上海市");
}

TEST_P(ExactTextTest, LongChineseTextCrossesChunkBoundaries) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += i % 7 == 0 ? "a" : "汉";  // ~40 000 bytes, odd splits
  conn_->execute("INSERT INTO T(nId, sName) VALUES (1, '" + text + "')");
  auto rows = conn_->query("SELECT sName FROM T");
  EXPECT_EQ(rows->field(0).asText(), text);
}

TEST_P(BackendTest, ByteArraysByteForByte) {
  const Bytes withZeros = {0x00, 0x01, 0x00, 0xFF, 0x00, 0x7F, 0x00};
  const Bytes empty;
  Bytes large(100000);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<unsigned char>(i * 7 % 251);
  host_.execBlob("INSERT INTO T(nId, OleVTS) VALUES (1, ?)", &withZeros);
  host_.exec("INSERT INTO T(nId, OleVTS) VALUES (2, X'')");  // zero length, not NULL
  host_.execBlob("INSERT INTO T(nId, OleVTS) VALUES (3, ?)", &large);
  host_.execBlob("INSERT INTO T(nId, OleVTS) VALUES (4, ?)", nullptr);
  conn_->execute("INSERT INTO T(nId, OleVTS) VALUES (5, X'00AB0000')");

  auto rows = conn_->query("SELECT OleVTS FROM T ORDER BY nId");
  ASSERT_EQ(rows->rowCount(), 5);
  EXPECT_EQ(rows->field(0).asBytes(), withZeros);
  rows->next();
  EXPECT_FALSE(rows->field(0).isNull());
  EXPECT_EQ(rows->field(0).asBytes(), empty);
  rows->next();
  EXPECT_EQ(rows->field(0).asBytes(), large);
  rows->next();
  EXPECT_TRUE(rows->field(0).isNull());
  EXPECT_THROW(rows->field(0).asBytes(), DatabaseError);
  rows->next();
  EXPECT_EQ(rows->field(0).asBytes(), (Bytes{0x00, 0xAB, 0x00, 0x00}));
}

TEST_P(BackendTest, NullsOfEveryColumnType) {
  conn_->execute("INSERT INTO T(nId) VALUES (NULL)");
  auto rows = conn_->query("SELECT nId, sName, OleVTS, nAmount, fRate, dWhen, bFlag FROM T");
  ASSERT_EQ(rows->rowCount(), 1);
  for (int c = 0; c < rows->columnCount(); ++c) {
    SCOPED_TRACE(rows->columnName(c));
    EXPECT_TRUE(rows->field(c).isNull());
    EXPECT_EQ(kindOf(rows->field(c).value()), ValueKind::Null);
    EXPECT_EQ(rows->field(c).asText(), "");
    EXPECT_THROW(rows->field(c).asTextStrict(), DatabaseError);
  }
}

TEST_P(ExactTextTest, ValuesKeepTheirKinds) {
  conn_->execute(
      "INSERT INTO T VALUES (9007199254740993, '5', X'01', '1234.50', 0.1, "
      "'2024-03-01 12:30:00', 1)");
  auto rows = conn_->query("SELECT nId, sName, OleVTS, nAmount, fRate, dWhen, bFlag FROM T");
  ASSERT_EQ(rows->rowCount(), 1);
  EXPECT_EQ(rows->field("nId").value(), Value{std::int64_t{9007199254740993}});
  EXPECT_EQ(rows->field("sName").value(), Value{std::string("5")});
  EXPECT_EQ(kindOf(rows->field("OleVTS").value()), ValueKind::Bytes);
  // SQLite keeps 1234.50 in a DECIMAL column as the number 1234.5: the library hands over its
  // double, the ODBC driver its text, read as a decimal.
  const ValueKind amount = kindOf(rows->field("nAmount").value());
  EXPECT_TRUE(amount == ValueKind::Floating || amount == ValueKind::Decimal);
  EXPECT_TRUE(sameValue(rows->field("nAmount").value(), Decimal{"1234.5"}));
  EXPECT_EQ(rows->field("fRate").value(), Value{0.1});
  EXPECT_EQ(rows->field("dWhen").value(), Value{DateTime{"2024-03-01 12:30:00"}});
  EXPECT_EQ(rows->field("bFlag").value(), Value{true});
  EXPECT_EQ(rows->field("bFlag").asInteger(), 1);
}

// Keeps what a stream hands over: the columns, and each row as values, whether the backend
// handed it as values or as views of its own columns (without `viewsToo`, a sink that takes only
// values and leaves the views to the default, which makes the values).
class KeepingSink : public RowSink {
 public:
  explicit KeepingSink(bool viewsToo) : viewsToo_(viewsToo) {}
  void columns(const std::vector<std::string>& names) override { names_ = names; }
  void row(const std::vector<Value>& values) override { rows_.push_back(values); }
  void cells(const std::vector<CellView>& row) override {
    if (!viewsToo_) return RowSink::cells(row);
    std::vector<Value> values;
    for (const CellView& cell : row) {
      // The key of a view is the key of the value it shows.
      std::string fromView, fromValue;
      appendValueKey(cell, fromView);
      appendValueKey(valueOf(cell), fromValue);
      EXPECT_EQ(fromView, fromValue);
      values.push_back(valueOf(cell));
    }
    rows_.push_back(std::move(values));
  }
  std::vector<std::string> names_;
  std::vector<std::vector<Value>> rows_;

 private:
  bool viewsToo_;
};

TEST_P(BackendTest, AStreamHandsOverTheRowsAQueryReads) {
  conn_->execute(
      "INSERT INTO T VALUES (9007199254740993, '文本', X'0100ff', '1234.50', -0.0, "
      "'2024-03-01 12:30:00', 1), (NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
      "(-7, '', X'', 'abc', 1e300, 'not a date', 0), (2, 'x', NULL, 12, 2.5, NULL, 5)");
  const std::string sql = "SELECT * FROM T ORDER BY rowid";
  const std::unique_ptr<RowSet> read = conn_->query(sql);
  for (bool viewsToo : {true, false}) {
    SCOPED_TRACE(viewsToo);
    KeepingSink sink(viewsToo);
    conn_->stream(sql, sink);
    ASSERT_EQ(sink.names_.size(), static_cast<std::size_t>(read->columnCount()));
    ASSERT_EQ(sink.rows_.size(), static_cast<std::size_t>(read->rowCount()));
    for (int r = 0; r < read->rowCount(); ++r)
      for (int c = 0; c < read->columnCount(); ++c) {
        SCOPED_TRACE(read->columnName(c) + " of row " + std::to_string(r));
        EXPECT_EQ(sink.names_[static_cast<std::size_t>(c)], read->columnName(c));
        EXPECT_EQ(sink.rows_[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)],
                  read->at(r, c));
      }
  }
}

// A database that keeps its text in UTF-16 hands it over as UTF-8 all the same (one in UTF-8 is
// read where its text lies).
TEST(SqliteTextTest, AUtf16DatabaseGivesItsTextAsUtf8) {
  testing::SqliteFile host;
  host.exec(
      "PRAGMA encoding = 'UTF-16le'; CREATE TABLE T(sName TEXT, sCode TEXT);"
      "INSERT INTO T VALUES ('北京市统计局（汇总）', 'ab'), ('', '0123456789');");
  const std::unique_ptr<Connection> conn =
      open("Provider=SQLite;Data Source=" + host.path().string());
  const std::string sql = "SELECT sName, sCode FROM T ORDER BY rowid";
  const std::unique_ptr<RowSet> rows = conn->query(sql);
  ASSERT_EQ(rows->rowCount(), 2);
  EXPECT_EQ(rows->view(0, 0).bytes, "北京市统计局（汇总）");
  EXPECT_EQ(rows->at(0, 1), Value{std::string("ab")});
  EXPECT_EQ(rows->view(1, 0).bytes, "");
  EXPECT_EQ(rows->field(1).asText(), "ab");
  KeepingSink sink(true);
  conn->stream(sql, sink);
  ASSERT_EQ(sink.rows_.size(), 2u);
  EXPECT_EQ(sink.rows_[0][0], Value{std::string("北京市统计局（汇总）")});
  EXPECT_EQ(sink.rows_[1][1], Value{std::string("0123456789")});
}

TEST(RowSetMoveTest, LeavesTheRowSetMovedFromEmpty) {
  RowSet rows({"a", "b"}, {Value{std::int64_t{1}}, Value{std::string("x")}});
  RowSet taken(std::move(rows));
  EXPECT_EQ(taken.rowCount(), 1);
  EXPECT_EQ(rows.rowCount(), 0);     // NOLINT(bugprone-use-after-move): the state is specified
  EXPECT_EQ(rows.columnCount(), 0);  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(rows.eof());           // NOLINT(bugprone-use-after-move)
  rows = std::move(taken);
  EXPECT_EQ(rows.at(0, 1), Value{std::string("x")});
  EXPECT_EQ(taken.rowCount(), 0);  // NOLINT(bugprone-use-after-move)
}

TEST_P(BackendTest, UndeclaredExpressionsAreTypedByTheirValues) {
  host_.exec("INSERT INTO T(nId, sName) VALUES (1, 'a'), (2, 'b')");
  auto rows = conn_->query("SELECT count(*) AS n, max(sName) AS m FROM T");
  EXPECT_EQ(rows->field("n").asInteger(), 2);
  EXPECT_EQ(rows->field("m").asText(), "b");
}

TEST_P(BackendTest, AffectedRowCounts) {
  EXPECT_EQ(conn_->execute("INSERT INTO T(nId) VALUES (1), (2), (3)"), 3);
  EXPECT_EQ(conn_->execute("UPDATE T SET sName = 'x' WHERE nId >= 2"), 2);
  EXPECT_EQ(conn_->execute("DELETE FROM T WHERE nId = 99"), 0);
  EXPECT_EQ(conn_->execute("CREATE TABLE U(a INTEGER)"), 0);  // not the previous DELETE's count
  EXPECT_EQ(conn_->execute("DELETE FROM T WHERE nId = 1"), 1);
  EXPECT_EQ(conn_->execute("DELETE FROM T"), 2);
  EXPECT_EQ(host_.scalar("SELECT count(*) FROM T"), 0);
}

TEST_P(BackendTest, RollbackUndoesAndCommitKeeps) {
  conn_->execute("INSERT INTO T(nId) VALUES (1)");
  conn_->begin();
  EXPECT_EQ(conn_->execute("DELETE FROM T"), 1);
  conn_->execute("INSERT INTO T(nId) VALUES (2)");
  conn_->rollback();
  auto rows = conn_->query("SELECT nId FROM T");
  ASSERT_EQ(rows->rowCount(), 1);
  EXPECT_EQ(rows->field(0).asInteger(), 1);
  EXPECT_EQ(host_.scalar("SELECT count(*) FROM T"), 1);

  conn_->begin();
  conn_->execute("INSERT INTO T(nId) VALUES (3)");
  conn_->commit();
  EXPECT_EQ(host_.scalar("SELECT count(*) FROM T"), 2);
  // Autocommit is back: a later change is visible at once to another connection.
  conn_->execute("INSERT INTO T(nId) VALUES (4)");
  EXPECT_EQ(host_.scalar("SELECT count(*) FROM T"), 3);
  EXPECT_THROW(conn_->commit(), DatabaseError);
}

TEST_P(BackendTest, FailuresCarryTheDriversMessageAndTheirKind) {
  try {
    conn_->query("SELECT * FROM NoSuchTable");
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("NoSuchTable"), std::string::npos) << e.what();
    EXPECT_FALSE(e.sqlState().empty());
    EXPECT_EQ(e.kind(), DatabaseError::Kind::MissingTable);
  }
  host_.exec("CREATE TABLE U(nId INTEGER PRIMARY KEY)");
  conn_->execute("INSERT INTO U VALUES (1)");
  try {
    conn_->execute("INSERT INTO U VALUES (1)");
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.kind(), DatabaseError::Kind::Constraint) << e.what();
  }
  try {
    conn_->query("SELECT nId FROM T WHERE");
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.kind(), DatabaseError::Kind::Other) << e.what();
  }
  EXPECT_THROW(conn_->execute("DELETE FROM NoSuchTable"), DatabaseError);
  EXPECT_THROW(conn_->execute("   "), DatabaseError);
  // The connection stays usable after a failure.
  EXPECT_EQ(conn_->execute("INSERT INTO T(nId) VALUES (1)"), 1);
}

TEST_P(BackendTest, RowSetOutlivesItsConnection) {
  host_.exec("INSERT INTO T(nId, sName) VALUES (1, '甲'), (2, '乙')");
  auto rows = conn_->query("SELECT nId, sName FROM T ORDER BY nId");
  conn_.reset();
  rows->next();
  EXPECT_EQ(rows->field("sName").asText(), "乙");
}

TEST_P(BackendTest, EmptyResultKeepsItsColumns) {
  auto rows = conn_->query("SELECT nId, sName FROM T WHERE 1 = 0");
  EXPECT_EQ(rows->rowCount(), 0);
  EXPECT_EQ(rows->columnCount(), 2);
  EXPECT_TRUE(rows->eof());
}

TEST_P(ExactTextTest, DatabaseFileWithAChineseName) {
  const auto path = host_.dir() / "报表数据.db";
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE 单位(名称 TEXT); INSERT INTO 单位 VALUES ('甲单位');", nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
  }
  auto conn = openBackend(GetParam(), path);
  auto rows = conn->query("SELECT 名称 FROM 单位");
  EXPECT_EQ(rows->field("名称").asText(), "甲单位");
}

// The wide (UTF-16) functions, as used for SQL Server: typed fetches and chunked long text.
class WideApiTest : public BackendTest {};

TEST_P(WideApiTest, TypedValuesThroughTheWideFunctions) {
  host_.exec(
      "INSERT INTO T VALUES (9007199254740993, 'plain text', X'0001', 12, 0.1, "
      "'2024-03-01 12:30:00', 0)");
  auto rows = conn_->query("SELECT nId, sName, OleVTS, fRate, dWhen, bFlag FROM T");
  EXPECT_EQ(rows->field("nId").value(), Value{std::int64_t{9007199254740993}});
  EXPECT_EQ(rows->field("sName").value(), Value{std::string("plain text")});
  EXPECT_EQ(rows->field("OleVTS").asBytes(), (Bytes{0, 1}));
  EXPECT_EQ(rows->field("fRate").value(), Value{0.1});
  EXPECT_EQ(rows->field("dWhen").value(), Value{DateTime{"2024-03-01 12:30:00"}});
  EXPECT_EQ(rows->field("bFlag").value(), Value{false});
}

TEST_P(WideApiTest, LongTextAcrossChunks) {
  std::string text;
  for (int i = 0; i < 30001; ++i) text += static_cast<char>('a' + i % 26);
  host_.exec("INSERT INTO T(nId, sName) VALUES (1, '" + text + "')");
  EXPECT_EQ(conn_->query("SELECT sName FROM T")->field(0).asText(), text);
}

auto backendName = [](const auto& p) {
  switch (p.param) {
    case Backend::Sqlite:
      return "Sqlite";
    case Backend::Odbc:
      return "OdbcSqlite3";
    default:
      return "OdbcSqlite3Wide";
  }
};

INSTANTIATE_TEST_SUITE_P(Backends, BackendTest,
                         ::testing::Values(Backend::Sqlite, Backend::Odbc, Backend::OdbcWide),
                         backendName);
INSTANTIATE_TEST_SUITE_P(Backends, ExactTextTest, ::testing::Values(Backend::Sqlite, Backend::Odbc),
                         backendName);
INSTANTIATE_TEST_SUITE_P(Backends, WideApiTest, ::testing::Values(Backend::OdbcWide), backendName);

}  // namespace
}  // namespace dupsweep::db
