#include "viewer/viewer_support.h"

#include <unistd.h>
#include <xlsxwriter.h>

#include <cstdlib>
#include <stdexcept>

#include "engine/compare.h"
#include "model/records.h"
#include "ui/showdifference/frmshowdifference.h"

namespace dupsweep::testing {

void writeTemplate(const std::filesystem::path& path, const std::vector<TemplateSheet>& sheets) {
  lxw_workbook* workbook = workbook_new(path.c_str());
  if (!workbook) throw std::runtime_error("cannot create " + path.string());
  lxw_format* yellow = workbook_add_format(workbook);
  format_set_pattern(yellow, LXW_PATTERN_SOLID);
  format_set_bg_color(yellow, 0xFFFF00);
  format_set_italic(yellow);
  format_set_border(yellow, LXW_BORDER_THIN);
  lxw_format* blue = workbook_add_format(workbook);
  format_set_pattern(blue, LXW_PATTERN_SOLID);
  format_set_bg_color(blue, 0xADD8E6);
  for (const TemplateSheet& sheet : sheets) {
    lxw_worksheet* worksheet = workbook_add_worksheet(workbook, sheet.name.c_str());
    if (!worksheet) throw std::runtime_error("cannot add sheet " + sheet.name);
    for (const TemplateCell& cell : sheet.cells) {
      lxw_format* format = cell.style == CellStyle::yellowItalic ? yellow
                           : cell.style == CellStyle::blue       ? blue
                                                                 : nullptr;
      const auto row = static_cast<lxw_row_t>(cell.row - 1);
      const auto col = static_cast<lxw_col_t>(cell.col - 1);
      const lxw_error error = cell.text.empty() ? worksheet_write_blank(worksheet, row, col, format)
                                                : worksheet_write_string(worksheet, row, col,
                                                                         cell.text.c_str(), format);
      if (error != LXW_NO_ERROR) throw std::runtime_error(lxw_strerror(error));
    }
  }
  const lxw_error error = workbook_close(workbook);
  if (error != LXW_NO_ERROR) throw std::runtime_error(lxw_strerror(error));
}

UnitRows::UnitRows() {
  module_.SetConnection(file_.connectionString());
}

void UnitRows::createTable(const std::string& table, const std::string& figureColumns) {
  std::string sql = "CREATE TABLE " + table +
                    " (sPeriodID VARCHAR(20), sUnitCode VARCHAR(40), nRow INTEGER, "
                    "sTaskCode VARCHAR(20), nLevel INTEGER";
  if (!figureColumns.empty()) sql += ", " + figureColumns;
  file_.exec(sql + ")");
}

void UnitRows::insert(const std::string& table, const std::string& unit, int nRow,
                      const std::string& figures) {
  std::string sql = "INSERT INTO " + table + " VALUES ('" + kPeriod + "', '" + unit + "', " +
                    std::to_string(nRow) + ", 'T01', 1";
  if (!figures.empty()) sql += ", " + figures;
  file_.exec(sql + ")");
}

std::unique_ptr<db::RowSet> UnitRows::open(const std::string& table, const std::string& unit) {
  std::unique_ptr<db::RowSet> rows = module_.OpenUnitData(table, unit, kPeriod);
  if (!rows) throw std::runtime_error("no row set for " + table + " / " + unit);
  return rows;
}

std::vector<std::pair<std::string, bool>> fillPair(TfrmShowDifference& viewer, TdmDupsweep& data,
                                                   const TUnitData& unitS, const TUnitData& unitD,
                                                   const std::string& periodId,
                                                   const std::string& taskCode, int level) {
  const std::string workbook = data.ExtractTemplate(periodId, taskCode, level);
  if (workbook.empty()) throw std::runtime_error("the period has no template");
  viewer.LoadTemplate(workbook);
  std::filesystem::remove(workbook);
  std::vector<std::unique_ptr<TSampleData>> samples = data.GetSampleList(periodId, taskCode, level);
  std::vector<std::pair<std::string, bool>> outcome;
  for (const std::unique_ptr<TSampleData>& sample : samples) {
    viewer.SetSheet(sample->nSheetOrder - 1);
    viewer.SetUnitCaptions(unitS, unitD);
    const std::string table = NumTableName(*sample);
    std::unique_ptr<db::RowSet> rowsD =
        data.OpenUnitData(table, unitD.sUnitCode, sample->sPeriodID);
    std::unique_ptr<db::RowSet> rowsS =
        data.OpenUnitData(table, unitS.sUnitCode, sample->sPeriodID);
    if (!rowsS || !rowsD) throw std::runtime_error("no rows for " + table);
    viewer.FillBooks(*rowsS, *rowsD);
    viewer.ClearDifferences();
    outcome.emplace_back(sample->sSampleCode, SameRows(*rowsS, *rowsD));
  }
  viewer.SetSheet(0);
  viewer.FindAllDifferences();
  viewer.SetPairCaption(unitS.sUnitName + "=>" + unitD.sUnitName);
  return outcome;
}

}  // namespace dupsweep::testing
