#pragma once
// TdmDupsweep: the data module; it holds every statement sent to the host's database. `qryUnit`
// (the unit tree) and `qryData` share one connection, opened on the first statement, so a bad
// connection string shows as a failed statement; a lost link drops it, to reconnect next time.

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

struct PeriodEntry {
  std::string text;
  std::unique_ptr<TPeriod> period;
};

// stem + sTaskCode + "_" + sSampleCode + "_" + nSampleLevel [+ "_" + TablePrefix when not empty].
std::string NumTableName(const TSampleData& sample);
std::string BalanceTableName(const TSampleData& sample);

// A unit as the tree would load it (nLevel is the row's level), with its parent's code.
struct ClassificationUnit {
  TUnitData unit;
  std::optional<std::string> parentCode;
};

class TdmDupsweep {
 public:
  // Replaceable so that tests can watch or break the statements sent.
  using ConnectionFactory = std::function<std::unique_ptr<db::Connection>(const std::string&)>;

  TdmDupsweep();
  explicit TdmDupsweep(ConnectionFactory factory);
  ~TdmDupsweep();
  TdmDupsweep(const TdmDupsweep&) = delete;
  TdmDupsweep& operator=(const TdmDupsweep&) = delete;

  TQuery qryUnit;
  TQuery qryData;

  // A data module of its own over the same database (same connection string and factory), for a
  // worker that reads beside this one on another thread. Never fails.
  std::unique_ptr<TdmDupsweep> NewReader() const;

  // Closes both queries and takes the string for the next statement. Never fails.
  void SetConnection(const std::string& connectionString);
  const std::string& ConnectionString() const noexcept { return connectionString_; }

  // SQL Server's texts by default. Level 0 asks for units without a parent.
  std::vector<std::string> BuildUnitSQL(const std::string& unitClsCode,
                                        const std::string& parentCode, std::int32_t level,
                                        db::Dialect dialect = db::Dialect::SqlServer) const;

  // Open on its first row (nUnitID, sUnitName, nLevel, sUnitCode), or nullptr when it failed.
  TQuery* GetSpecifyUnitList(const std::string& unitClsCode, const std::string& parentCode,
                             std::int32_t level);

  std::vector<std::string> BuildPeriodSQL(const std::string& taskCode, std::int32_t level,
                                          db::Dialect dialect = db::Dialect::SqlServer) const;

  // In the statement's order; nullopt when it failed. A NULL period name reads as empty.
  std::optional<std::vector<PeriodEntry>> GetPeriodList(const std::string& taskCode,
                                                        std::int32_t level);

  // Samples whose code begins with "^" left out, each with its data-table prefix. Throws
  // DatabaseError when the statement fails or a row holds NULL in sSampleCode, sSampleName or
  // nSheetOrder.
  std::vector<std::unique_ptr<TSampleData>> GetSampleList(const std::string& periodId,
                                                          const std::string& taskCode,
                                                          std::int32_t level);

  // In nRow order, fully read. nullptr when the table does not exist or its name is not
  // sql::isSafeTableName (nothing is sent); throws DatabaseError for every other failure.
  std::unique_ptr<db::RowSet> OpenUnitData(const std::string& tableName,
                                           const std::string& unitCode,
                                           const std::string& periodId);

  // One statement, in the database's order (a code under several levels comes once per row); an
  // empty `unitClsCode` looks in every classification, an empty list sends nothing. Throws
  // DatabaseError.
  std::vector<TUnitData> FindUnits(const std::string& unitClsCode,
                                   const std::vector<std::string>& unitCodes);

  // Ordered by level and code. Throws DatabaseError when the statement fails or an identifier or
  // level exceeds 32 bits.
  std::vector<ClassificationUnit> GetClassificationUnits(const std::string& unitClsCode);

  // One unit's rows of a sheet, ordered by nRow, as OpenUnitData reads them, handed to `sink` one
  // at a time. False when the table does not exist or its name is not safe; throws as
  // StreamSheetData does.
  bool StreamUnitData(const std::string& tableName, const std::string& unitCode,
                      const std::string& periodId, db::RowSink& sink);

  // Every unit's rows, ordered by unit code and nRow, never kept whole. False when the table does
  // not exist or its name is not safe; throws DatabaseError, and whatever the sink throws.
  bool StreamSheetData(const std::string& tableName, const std::string& periodId,
                       db::RowSink& sink);

  // The database's message (without the password) of the last failed attempt, else of opening
  // now; nullopt when it opens.
  std::optional<std::string> ConnectionFailure();

  // Writes the template to a new temporary file ("tmp...") the caller deletes; "" and no file when
  // there is none, it is not bytes, or a step fails. `whyNot` gets the reason of a failure and
  // stays empty when there simply is no template.
  std::string ExtractTemplate(const std::string& periodId, const std::string& taskCode,
                              std::int32_t level, std::string* whyNot = nullptr);

  // Returns the affected-row count. Throws DatabaseError when the table name is not safe (it is
  // never sent) or the database refuses.
  std::int32_t DeleteTableData(const std::string& tableName, const std::string& unitCode,
                               const std::string& periodId);

  // Returns the affected-row count; throws DatabaseError when the database refuses.
  std::int32_t DeleteStatus(const std::string& periodId, const std::string& unitCode,
                            const std::string& taskCode, std::int32_t level);

  // How a deletion reads the rows it removes. The SQLite ODBC driver hands values over as texts
  // that lose them (reals to 15 digits, texts to a NUL), so there rows are read with their storage
  // class and exact bytes (`utf16`: "le", "be", or empty for UTF-8). KeptRouteOf() may connect.
  struct KeptRoute {
    bool typed = false;
    std::string utf16;
  };
  KeptRoute KeptRouteOf();

  // The columns in their order and each value of its own kind.
  struct KeptRows {
    std::vector<std::string> columns;
    std::vector<std::vector<db::Value>> rows;
  };

  // DeleteTableData's and DeleteStatus's rows, read whole by `route`. Throws DatabaseError, and
  // JournalError naming the table, row and column of a value that cannot be kept exactly.
  KeptRows ReadKeptTableRows(const KeptRoute& route, const std::string& tableName,
                             const std::string& unitCode, const std::string& periodId);
  KeptRows ReadKeptStatusRows(const KeptRoute& route, const std::string& periodId,
                              const std::string& unitCode, const std::string& taskCode,
                              std::int32_t level);
  // Throws DatabaseError (MissingTable for a table that is gone).
  std::unique_ptr<db::RowSet> OpenKeptTableRows(const std::string& tableName,
                                                const std::string& unitCode,
                                                const std::string& periodId);
  std::unique_ptr<db::RowSet> OpenKeptStatusRows(const std::string& periodId,
                                                 const std::string& unitCode,
                                                 const std::string& taskCode, std::int32_t level);

  // `values` bound in the order of `columns`, each of its own kind. Returns the affected-row
  // count; throws DatabaseError when the database refuses.
  std::int64_t InsertRow(const std::string& tableName, const std::vector<std::string>& columns,
                         const std::vector<db::Value>& values);

  // So that several deletions take effect together or not at all. Throw DatabaseError.
  void StartTransaction();
  void Commit();
  void Rollback();

  // Opens the connection when needed; throws DatabaseError when it cannot.
  db::Dialect Dialect();

 private:
  class Link;
  db::Connection& connection();

  KeptRows readKept(const KeptRoute& route, const std::string& table,
                    const std::vector<std::string>& lines);

  std::string connectionString_;
  std::unique_ptr<Link> link_;
};

}  // namespace dupsweep
