#pragma once
// The statement texts the data module sends, as lists of lines, composed for one dialect.
// SQL Server receives the host reporting system's own texts character for character; SQLite
// receives the same statement changed only where its grammar requires (no `dbo.` owner prefix,
// `AS` aliases, `||` concatenation, `substr` for RIGHT and SubString).
// Text values are placed between apostrophes with every apostrophe doubled; integers in decimal.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep::sql {

using Lines = std::vector<std::string>;

// The statement text of a list of lines: every line followed by CR LF.
std::string joined(const Lines& lines);

// A text value with every apostrophe doubled, ready to stand between two apostrophes. Throws
// DatabaseError for a value holding a NUL character, which no statement text can carry.
std::string quoted(std::string_view value);

// True when `name` may be sent bare as a table name: non-empty, only ASCII letters, digits,
// '_' and '-'.
bool isSafeTableName(std::string_view name) noexcept;

// True when `name` can stand bare in a statement of every dialect: an ASCII letter or '_', then
// only ASCII letters, digits and '_'. A safe name with '-' (a negative level's table) or a leading
// digit is read by the databases as an expression or a comment, not as a table.
bool isBareName(std::string_view name) noexcept;

// `name` as a statement of dialect `d` names a table: bare when isBareName(name), so that every
// ordinary name is sent unchanged; otherwise delimited, in SQL Server between brackets with every
// ']' doubled ("[DataNumT01_B02_-1]"), in SQLite between double quotes with every '"' doubled.
std::string tableName(db::Dialect d, std::string_view name);

// One level of the unit tree: level 0 asks for units without a parent, any other level for
// `parentCode`.
Lines unitLevel(db::Dialect d, std::string_view unitClsCode, std::string_view parentCode,
                std::int32_t level);

// The units of a classification whose codes are in `unitCodes` (non-empty), with the columns of
// the unit-tree statement; an empty `unitClsCode` searches every classification.
Lines unitsByCode(db::Dialect d, std::string_view unitClsCode,
                  const std::vector<std::string>& unitCodes);

// Every unit of a classification at level 0 or deeper, with the columns of the unit-tree statement
// and the parent code, ordered by level and code: the whole tree in one statement.
Lines classificationUnits(db::Dialect d, std::string_view unitClsCode);

// The periods a task can be compared in for a sample level, with their composed display names.
Lines periodList(db::Dialect d, std::string_view taskCode, std::int32_t level);

// The sample tables of a period, task and level, each with the base sample's bUseTarget flag.
Lines sampleList(db::Dialect d, std::string_view periodId, std::string_view taskCode,
                 std::int32_t level);

// One unit's rows of a data table for a period, in nRow order; the table named as tableName()
// does. Requires a safe table name.
Lines unitData(db::Dialect d, std::string_view table, std::string_view unitCode,
               std::string_view periodId);

// Every unit's rows of a data table for a period, ordered by unit code and nRow; the table named
// as tableName() does. Requires a safe table name.
Lines sheetData(db::Dialect d, std::string_view table, std::string_view periodId);

// The template workbook of a period, task and level.
Lines templateWorkbook(db::Dialect d, std::string_view periodId, std::string_view taskCode,
                       std::int32_t level);

// Removes one unit's rows of a data table for a period; the table named as tableName() does.
// Requires a safe table name.
Lines deleteTableData(db::Dialect d, std::string_view table, std::string_view unitCode,
                      std::string_view periodId);

// Removes the unit's Status row of a period, task and level.
Lines deleteStatus(std::string_view periodId, std::string_view unitCode, std::string_view taskCode,
                   std::int32_t level);

// The rows DeleteTableData removes, read before they go: every column of one unit's rows of a
// data table for a period, with the deletion's own conditions. Requires a safe table name.
Lines keptTableRows(db::Dialect d, std::string_view table, std::string_view unitCode,
                    std::string_view periodId);

// The row DeleteStatus removes, read before it goes: every column of the unit's Status row of a
// period, task and level.
Lines keptStatusRows(std::string_view periodId, std::string_view unitCode,
                     std::string_view taskCode, std::int32_t level);

// The SQLite statement of `kept` (keptTableRows or keptStatusRows of the SQLite dialect, whose
// `columns` they are) with every value selected as one text that keeps it exactly, for a route
// whose driver hands values over only as texts it has shortened (the SQLite ODBC driver: reals
// to 15 digits, texts to their first NUL, every value of a column without a declared type as a
// text). Each text starts with the value's storage class: "n" (NULL), "i" and the integer,
// "r" and the real as printf('%!.20e'), "t" and the text's bytes in hexadecimal, "b" and the
// blob's bytes in hexadecimal. The columns keep their names. Throws DatabaseError for a column
// name holding a NUL character.
Lines keptRowsTyped(const Lines& kept, const std::vector<std::string>& columns);

// The value a text of keptRowsTyped stands for, with the kind of its storage class (Null,
// Integer, Floating, Text, Bytes). `utf16` names the byte order of a database that keeps its
// texts in UTF-16 ("le" or "be"); empty for UTF-8. Throws KeptValueError, saying why, for a text
// that does not give back exactly one value.
db::Value typedKeptValue(std::string_view cell, std::string_view utf16 = {});

// A text of keptRowsTyped that does not give back exactly one value: why, and the start of the
// text (up to 40 bytes).
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

// Puts one row back: the table named as tableName() does, the columns in the given order (each
// bare when isBareName, else delimited the same way), one '?' marker per column for the row's
// values, which are bound, never written into the text. Requires a safe table name and at least
// one column; throws DatabaseError for a column name holding a NUL character.
Lines insertRow(db::Dialect d, std::string_view table, const std::vector<std::string>& columns);

}  // namespace dupsweep::sql
