#pragma once
// TdmDupsweep: the data module. It holds every statement the component sends to the host's
// database and owns the two query components `qryUnit` (the unit-tree statement) and `qryData`
// (every other statement). Both share one connection, opened from the connection string on the
// first statement and reopened after SetConnection; a bad connection string therefore shows only
// as a failed statement. A statement that fails because the link to the database is gone
// drops the connection, so the next statement connects afresh.
//
// SQL Server receives the statement texts exactly as the host's reporting system knows them; a
// SQLite database receives the equivalent statement of its own grammar. Text values are placed
// between apostrophes with every apostrophe doubled, so a value can never change a statement's
// structure (ordinary values give the same texts).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/query.h"
#include "model/records.h"
#include "platform/db/db.h"

namespace dupsweep {

// One entry of the period list: the display text and the period it stands for.
struct PeriodEntry {
  std::string text;
  std::unique_ptr<TPeriod> period;
};

// Names of a sample table's figures ("DataNum...") and balance ("DataBalance...") tables:
// stem + sTaskCode + "_" + sSampleCode + "_" + nSampleLevel, then "_" + TablePrefix when the
// prefix is not empty.
std::string NumTableName(const TSampleData& sample);
std::string BalanceTableName(const TSampleData& sample);

// One row of a unit classification: the unit as the tree would load it (nLevel is the row's
// level) and its parent's code (none for a NULL parent).
struct ClassificationUnit {
  TUnitData unit;
  std::optional<std::string> parentCode;
};

class TdmDupsweep {
 public:
  // Opens a connection from a connection string; replaceable so that tests can watch or break
  // the statements sent.
  using ConnectionFactory = std::function<std::unique_ptr<db::Connection>(const std::string&)>;

  TdmDupsweep();
  explicit TdmDupsweep(ConnectionFactory factory);
  ~TdmDupsweep();
  TdmDupsweep(const TdmDupsweep&) = delete;
  TdmDupsweep& operator=(const TdmDupsweep&) = delete;

  TQuery qryUnit;
  TQuery qryData;

  // A data module of its own over the same database (the same connection string, opened by the
  // same factory on its first statement), for a worker that reads beside this one on another
  // thread. Never fails.
  std::unique_ptr<TdmDupsweep> NewReader() const;

  // Closes both queries and takes the connection string for the next statement. Never fails.
  void SetConnection(const std::string& connectionString);
  const std::string& ConnectionString() const noexcept { return connectionString_; }

  // The lines of the unit-tree statement for one level in the given dialect (SQL Server's texts by
  // default). Level 0 asks for units without a parent; any other level for the parent code given.
  std::vector<std::string> BuildUnitSQL(const std::string& unitClsCode,
                                        const std::string& parentCode, std::int32_t level,
                                        db::Dialect dialect = db::Dialect::SqlServer) const;

  // Runs the unit-tree statement on qryUnit and returns it open on its first row (columns nUnitID,
  // sUnitName, nLevel, sUnitCode), or nullptr when the statement failed for any reason.
  TQuery* GetSpecifyUnitList(const std::string& unitClsCode, const std::string& parentCode,
                             std::int32_t level);

  // The lines of the period statement in the given dialect.
  std::vector<std::string> BuildPeriodSQL(const std::string& taskCode, std::int32_t level,
                                          db::Dialect dialect = db::Dialect::SqlServer) const;

  // The periods the task can be compared in for the level, in the statement's order; nullopt
  // when the statement failed. A NULL period name reads as the empty text.
  std::optional<std::vector<PeriodEntry>> GetPeriodList(const std::string& taskCode,
                                                        std::int32_t level);

  // The period's sample tables (samples whose code begins with "^" left out), in the database's
  // order, each with its data-table prefix. Throws DatabaseError when the statement fails or a
  // row holds NULL in sSampleCode, sSampleName or nSheetOrder; no partial list is returned.
  std::vector<std::unique_ptr<TSampleData>> GetSampleList(const std::string& periodId,
                                                          const std::string& taskCode,
                                                          std::int32_t level);

  // One unit's rows of a data table for a period, in nRow order, positioned on the first row;
  // nullptr when the table does not exist, or when its name holds a character other than ASCII
  // letters, digits, '_' and '-' (sql::isSafeTableName; nothing is sent then). A name that cannot
  // stand bare is delimited (sql::tableName). Throws
  // DatabaseError for every other failure (a damaged database, a lost link, a lock held past the
  // time-out, a value that cannot be sent). The row set is fully read: it stays valid while
  // qryData runs other statements.
  std::unique_ptr<db::RowSet> OpenUnitData(const std::string& tableName,
                                           const std::string& unitCode,
                                           const std::string& periodId);

  // The units of the classification whose codes are among `unitCodes`, read with one statement,
  // in the database's order (a code listed under several levels comes once per row). Columns:
  // nUnitID, sUnitName, nLevel, sUnitCode as the unit tree reads them; an empty `unitClsCode`
  // looks in every classification. An empty list sends nothing. Throws DatabaseError when the
  // statement fails.
  std::vector<TUnitData> FindUnits(const std::string& unitClsCode,
                                   const std::vector<std::string>& unitCodes);

  // Every unit of the classification at level 0 or deeper, with its parent code, read with one
  // statement, ordered by level and code. Throws DatabaseError when the statement fails or a row
  // has an identifier or level beyond 32 bits.
  std::vector<ClassificationUnit> GetClassificationUnits(const std::string& unitClsCode);

  // Hands every unit's rows of a data table for a period to `sink` (all columns, ordered by unit
  // code and nRow), read with one statement and never kept whole. Returns false, having sent
  // nothing or found no table, when the table does not exist or its name is not safe (as
  // OpenUnitData). Throws DatabaseError for every other failure, and whatever the sink throws.
  bool StreamSheetData(const std::string& tableName, const std::string& periodId,
                       db::RowSink& sink);

  // Why the connection cannot be opened (the database's message, without the password), or
  // nullopt when it opens. The reason of the last failed attempt serves when there was one;
  // otherwise the connection is opened when it is not open yet.
  std::optional<std::string> ConnectionFailure();

  // Writes the period's template workbook to a new temporary file (prefix "tmp") and returns its
  // full path; the caller deletes the file. Returns the empty string, leaving no file behind, when
  // there is no template row, its value is NULL or not a byte array, the statement fails or the
  // file cannot be written. `whyNot`, when given, receives the reason of a failure (the
  // database's or the file system's message), and stays empty when there simply is no template.
  std::string ExtractTemplate(const std::string& periodId, const std::string& taskCode,
                              std::int32_t level, std::string* whyNot = nullptr);

  // Deletes one unit's rows of a data table for a period; returns the affected-row count (0 when
  // nothing matched). The table is named as sql::tableName() does. Throws DatabaseError when the
  // table name is not safe (sql::isSafeTableName; it is never sent) or the database refuses the
  // statement.
  std::int32_t DeleteTableData(const std::string& tableName, const std::string& unitCode,
                               const std::string& periodId);

  // Deletes the unit's Status row of a period, task and level; returns the affected-row count.
  // Throws DatabaseError when the database refuses the statement.
  std::int32_t DeleteStatus(const std::string& periodId, const std::string& unitCode,
                            const std::string& taskCode, std::int32_t level);

  // How the rows a deletion removes are read on this connection. A SQLite database reached
  // through ODBC: the SQLite ODBC driver hands every value over as a text it has made of it
  // (reals to 15 digits, texts to their first NUL, blobs as X'..', any value of a column without
  // a declared type as text), which does not keep it; the rows are read with each value's storage
  // class and exact bytes instead, texts in the database's encoding (`utf16`: "le", "be", or
  // empty for UTF-8). Learnt once per deletion: KeptRouteOf() opens the connection when needed.
  struct KeptRoute {
    bool typed = false;
    std::string utf16;
  };
  KeptRoute KeptRouteOf();

  // Rows exactly as a deletion keeps them: the columns in their order and each value of its
  // own kind.
  struct KeptRows {
    std::vector<std::string> columns;
    std::vector<std::vector<db::Value>> rows;
  };

  // The unit's rows of `tableName` for the period (DeleteTableData's rows), and its Status rows
  // of the period, task and level (DeleteStatus's rows), read whole by `route`. Throws
  // DatabaseError when the statement fails, and JournalError naming the table, row and column of
  // a value that cannot be kept exactly.
  KeptRows ReadKeptTableRows(const KeptRoute& route, const std::string& tableName,
                             const std::string& unitCode, const std::string& periodId);
  KeptRows ReadKeptStatusRows(const KeptRoute& route, const std::string& periodId,
                              const std::string& unitCode, const std::string& taskCode,
                              std::int32_t level);
  // The same rows as the connection reads them. Throws DatabaseError (of kind MissingTable for
  // a table that is gone).
  std::unique_ptr<db::RowSet> OpenKeptTableRows(const std::string& tableName,
                                                const std::string& unitCode,
                                                const std::string& periodId);
  std::unique_ptr<db::RowSet> OpenKeptStatusRows(const std::string& periodId,
                                                 const std::string& unitCode,
                                                 const std::string& taskCode, std::int32_t level);

  // Puts one row back into `tableName`: `values` bound in the order of `columns`, each as a
  // parameter of its own kind. Returns the affected-row count. Throws DatabaseError when the
  // database refuses.
  std::int64_t InsertRow(const std::string& tableName, const std::vector<std::string>& columns,
                         const std::vector<db::Value>& values);

  // A transaction on the module's connection, so that several deletions take effect together
  // or not at all. Each throws DatabaseError when the database refuses.
  void StartTransaction();
  void Commit();
  void Rollback();

  // The dialect of the connection, opening it when needed. Throws DatabaseError when it cannot
  // be opened.
  db::Dialect Dialect();

 private:
  class Link;
  db::Connection& connection();

  // The rows `lines` select, read whole by `route`.
  KeptRows readKept(const KeptRoute& route, const std::string& table,
                    const std::vector<std::string>& lines);

  std::string connectionString_;
  std::unique_ptr<Link> link_;
};

}  // namespace dupsweep
