#pragma once
// Real parts for the viewer's tests: template workbooks written as xlsx files with libxlsxwriter,
// and units' data rows held in a real SQLite database and opened through the data module, as the
// dialog opens them.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data/dmdupsweep.h"
#include "platform/db/db.h"
#include "support/sqlite_file.h"
#include "support/temp_dir.h"

namespace dupsweep::testing {

// How a template cell is formatted.
enum class CellStyle {
  plain,
  yellowItalic,  // solid yellow fill, italic font, thin borders
  blue,          // solid light blue fill
};

// One cell of a template sheet; rows and columns count from 1.
struct TemplateCell {
  int row = 1;
  int col = 1;
  std::string text;  // may be empty: a formatted cell without text
  CellStyle style = CellStyle::plain;
};

struct TemplateSheet {
  std::string name;
  std::vector<TemplateCell> cells;
};

// Writes an xlsx workbook with the given sheets (at least one).
void writeTemplate(const std::filesystem::path& path, const std::vector<TemplateSheet>& sheets);

// Units' data rows in a real SQLite database, opened with TdmDupsweep::OpenUnitData.
class UnitRows {
 public:
  static constexpr const char* kPeriod = "2024N";

  UnitRows();

  // Creates a data table with the five leading columns (sPeriodID, sUnitCode, nRow, sTaskCode,
  // nLevel) followed by `figureColumns` (SQL column definitions, may be empty).
  void createTable(const std::string& table, const std::string& figureColumns);
  // Adds a row of `unit` in kPeriod: nRow and the figure values given as SQL literals
  // ("'abc', NULL, 12.5").
  void insert(const std::string& table, const std::string& unit, int nRow,
              const std::string& figures);
  // Runs any statement on the database.
  void exec(const std::string& sql) { file_.exec(sql); }
  // The unit's rows of the table in kPeriod, in nRow order, on the first row. Fails the test
  // (throws) when the data module gives no row set.
  std::unique_ptr<db::RowSet> open(const std::string& table, const std::string& unit);

 private:
  SqliteFile file_;
  TdmDupsweep module_;
};

}  // namespace dupsweep::testing

namespace dupsweep {
class TfrmShowDifference;
struct TUnitData;
}  // namespace dupsweep

namespace dupsweep::testing {

// Fills the viewer for one pair as the dialog's pair display does: the period's template into
// both grids, every sample table's rows of both units written and tested (the list emptied after
// each), sheet 1 selected, every difference listed and marked, the captions set. Returns each
// sample code with the equality test's verdict, in list order. Throws when the period has no template
// or a table's rows cannot be opened.
std::vector<std::pair<std::string, bool>> fillPair(TfrmShowDifference& viewer, TdmDupsweep& data,
                                                   const TUnitData& unitS, const TUnitData& unitD,
                                                   const std::string& periodId,
                                                   const std::string& taskCode, int level);

}  // namespace dupsweep::testing
