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
#include "journal/journal.h"
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

// A deletion that found the two units' rows of the sheet no longer identical (changed, or gone,
// since the comparison): nothing was deleted and no journal entry was written.
class CopyChanged : public Error {
 public:
  using Error::Error;
};

// A restore of a pending entry whose rows are all still in the database exactly as saved: its
// deletion never took effect. The entry has been marked rolled back; nothing was changed.
class DeletionNeverTookEffect : public RestoreRefused {
 public:
  using RestoreRefused::RestoreRefused;
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

  // What the journal records of a deletion besides what the deletion itself is given: the
  // unit's name, and the pair the sheet was found identical in, with its other unit.
  struct DeletionNotes {
    std::string unitName;
    std::string pairName;
    std::string otherUnitCode;
    std::string otherUnitName;
  };

  // The comparison's equality test of two units' rows of one sheet, each as OpenUnitData gives
  // them: true when the two copies are identical.
  using SameCopyTest = std::function<bool(db::RowSet& unitRows, db::RowSet& otherRows)>;

  // Deletes one unit's copy of a repeated sheet as one operation: its rows of the sheet's DataNum
  // and DataBalance tables for the sheet's period, and, when `withStatus`, its Status row of that
  // period, task and level, in that order and in one transaction. Returns the sum of the
  // affected-row counts.
  //
  // The copy is deleted only while it is still repeated data: inside the transaction, before the
  // journal entry is written, both the unit's and `notes.otherUnitCode`'s rows of the DataNum
  // table are read again and must pass `stillIdentical`. When they do not (a figure changed since
  // the comparison, either unit's rows or the table are gone), the transaction is rolled back
  // with nothing deleted and no entry written, and CopyChanged is thrown.
  //
  // Nothing is deleted without its journal entry: inside the transaction the rows the statements
  // will remove are read first and written to the journal (JournalPath()), durably, before the
  // first deletion statement runs; the entry is marked done once the transaction has committed,
  // and rolled back when it did not. A journal that cannot be written throws JournalError and
  // sends no deletion. A negative sum (a statement reported a negative count) rolls everything
  // back and is returned; a statement the database refuses, or a count that differs from the
  // rows read for that table (rows changed in between), rolls everything back and throws
  // DatabaseError. Nothing of a failed deletion stays done. A database locked by another
  // writer (another deletion, as a rule) gives a DatabaseError saying so, followed by the
  // database's own message.
  std::int64_t DeleteRepeatedCopy(const TSampleData& sample, const std::string& unitCode,
                                  bool withStatus, const std::string& taskCode, std::int32_t level,
                                  const DeletionNotes& notes, const SameCopyTest& stillIdentical);

  // The deletion journal's file: the one set, else journal::defaultPath() (read at each use).
  void SetJournalPath(std::filesystem::path path);
  std::filesystem::path JournalPath() const;

  // The journal's entries of this module's database (the connection string without secrets),
  // oldest first, without their rows; none when there is no journal yet. Throws JournalError.
  std::vector<journal::Entry> DeletionEntries();

  // Puts the rows of journal entry `id` back into this module's database in one transaction, each
  // value bound as a parameter of its saved kind, marks the entry restored and returns the rows
  // put back. Refuses with RestoreRefused, changing nothing, when the entry was restored before or
  // was rolled back, when the unit already has rows of the entry's period in one of its tables
  // (for Status: of its period, task and level), or when a table's columns are no longer the
  // saved ones (or the table is gone). A pending entry whose saved rows are all still in its
  // tables, value for value and nothing else with them, never took effect (the deletion was
  // rolled back when the program ended): it is marked rolled back and DeletionNeverTookEffect is
  // thrown. A statement the database refuses rolls everything back and throws DatabaseError (one
  // locked by another writer says so first); a journal that cannot be read throws JournalError.
  std::int64_t RestoreDeletion(std::int64_t id);

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

  // How the rows a deletion removes are read on this connection. A SQLite database reached
  // through ODBC: the SQLite ODBC driver hands every value over as a text it has made of it
  // (reals to 15 digits, texts to their first NUL, blobs as X'..', any value of a column without
  // a declared type as text), which does not keep it; the rows are read with each value's storage
  // class and exact bytes instead, texts in the database's encoding (`utf16`: "le", "be", or
  // empty for UTF-8).
  struct KeptRoute {
    bool typed = false;
    std::string utf16;
  };
  KeptRoute keptRoute();

  // The rows a deletion statement will remove: `lines` run on the connection, read whole.
  journal::SavedTable readKept(const KeptRoute& route, const std::string& table,
                               const std::vector<std::string>& lines);

  std::string connectionString_;
  std::optional<std::filesystem::path> journalPath_;
  std::unique_ptr<Link> link_;
};

}  // namespace dupsweep
