#pragma once
// The statement texts the data module sends, as lines for one dialect. SQL Server gets the host's
// own texts character for character; SQLite the same changed only where its grammar requires.
// Text values stand between apostrophes with every apostrophe doubled.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep::sql {

using Lines = std::vector<std::string>;

// Every line followed by CR LF.
std::string joined(const Lines& lines);

// Every apostrophe doubled. Throws DatabaseError for a NUL, which no statement can carry.
std::string quoted(std::string_view value);

// Non-empty, only ASCII letters, digits, '_' and '-'.
bool isSafeTableName(std::string_view name) noexcept;

// An ASCII letter or '_', then letters, digits and '_': a name with '-' or a leading digit would
// be read as an expression or a comment.
bool isBareName(std::string_view name) noexcept;

// Bare when isBareName; otherwise in brackets (SQL Server) or double quotes (SQLite), the
// closing one doubled inside.
std::string tableName(db::Dialect d, std::string_view name);

// Level 0 asks for units without a parent, any other level for `parentCode`.
Lines unitLevel(db::Dialect d, std::string_view unitClsCode, std::string_view parentCode,
                std::int32_t level);

// `unitCodes` must not be empty; an empty `unitClsCode` searches every classification.
Lines unitsByCode(db::Dialect d, std::string_view unitClsCode,
                  const std::vector<std::string>& unitCodes);

// With the parent code, ordered by level and code: the whole tree in one statement.
Lines classificationUnits(db::Dialect d, std::string_view unitClsCode);

// With their composed display names.
Lines periodList(db::Dialect d, std::string_view taskCode, std::int32_t level);

// Each with the base sample's bUseTarget flag.
Lines sampleList(db::Dialect d, std::string_view periodId, std::string_view taskCode,
                 std::int32_t level);

// In nRow order. Requires a safe table name (as do all the table statements below).
Lines unitData(db::Dialect d, std::string_view table, std::string_view unitCode,
               std::string_view periodId);

// Ordered by unit code and nRow.
Lines sheetData(db::Dialect d, std::string_view table, std::string_view periodId);

Lines templateWorkbook(db::Dialect d, std::string_view periodId, std::string_view taskCode,
                       std::int32_t level);

Lines deleteTableData(db::Dialect d, std::string_view table, std::string_view unitCode,
                      std::string_view periodId);

Lines deleteStatus(std::string_view periodId, std::string_view unitCode, std::string_view taskCode,
                   std::int32_t level);

// DeleteTableData's rows, every column, with the deletion's own conditions.
Lines keptTableRows(db::Dialect d, std::string_view table, std::string_view unitCode,
                    std::string_view periodId);

// DeleteStatus's row, every column.
Lines keptStatusRows(std::string_view periodId, std::string_view unitCode,
                     std::string_view taskCode, std::int32_t level);

// `kept` (SQLite) with every value selected as one text that keeps it exactly, for the SQLite
// ODBC driver: "n", "i"+integer, "r"+printf('%!.20e'), "t"/"b"+hex bytes. Throws DatabaseError
// for a column name holding a NUL.
Lines keptRowsTyped(const Lines& kept, const std::vector<std::string>& columns);

// `utf16`: "le" or "be" for a UTF-16 database, empty for UTF-8. Throws KeptValueError for a text
// that does not give back exactly one value.
db::Value typedKeptValue(std::string_view cell, std::string_view utf16 = {});

// Why, and the start of the text (up to 40 bytes).
class KeptValueError : public DatabaseError {
 public:
  KeptValueError(KeptValueProblem problem, std::string value)
      : DatabaseError("The kept value \"" + value + "\" cannot be read back exactly"),
        problem_(problem),
        value_(std::move(value)) {}
  KeptValueProblem problem() const noexcept { return problem_; }
  const std::string& value() const noexcept { return value_; }

 private:
  KeptValueProblem problem_;
  std::string value_;
};

// One '?' marker per column, the values bound. Requires at least one column; throws DatabaseError
// for a column name holding a NUL.
Lines insertRow(db::Dialect d, std::string_view table, const std::vector<std::string>& columns);

}  // namespace dupsweep::sql
