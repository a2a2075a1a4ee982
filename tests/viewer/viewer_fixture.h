#pragma once
// The fixture of the viewer's widget tests: a real viewer on the offscreen platform, a directory
// for template workbooks and a SQLite database for the units' rows.

#include <gtest/gtest.h>

#include <QApplication>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "platform/spreadsheet/f1book.h"
#include "ui/showdifference/frmshowdifference.h"
#include "viewer/viewer_support.h"

namespace dupsweep::testing {

// Every cell text of every sheet of a control, by (sheet, row, col); the current sheet is kept.
inline std::map<std::tuple<int, int, int>, std::string> contents(sheet::F1Book& book) {
  std::map<std::tuple<int, int, int>, std::string> out;
  const int current = book.Sheet();
  for (int s = 1; s <= book.NumSheets(); ++s) {
    book.setSheet(s);
    for (int r = 1; r <= book.LastRow(); ++r)
      for (int c = 1; c <= book.LastCol(); ++c)
        if (!book.text(r, c).empty()) out[{s, r, c}] = book.text(r, c);
  }
  book.setSheet(current);
  return out;
}

// The format of cell (row, col) of the current sheet, read through the active cell.
inline sheet::CellFormat formatAt(sheet::F1Book& book, int row, int col) {
  book.setRow(row);
  book.setCol(col);
  return book.getCellFormat();
}

class ViewerTest : public ::testing::Test {
 protected:
  // The viewer's template of the loading tests: two sheets; sheet 1 with labels in column A, a
  // formatted cell with template text at (3, 2), and sheet 2 with a title only.
  static std::vector<TemplateSheet> reportTemplate() {
    return {
        {"资产负债表",
         {{1, 1, "资产负债表"},
          {2, 1, "项目"},
          {2, 2, "期末余额"},
          {3, 1, "货币资金"},
          {3, 2, "模板值", CellStyle::yellowItalic},
          {4, 1, "应收账款"},
          {5, 1, "合计"}}},
        {"利润表", {{1, 1, "利润表"}}},
    };
  }

  void loadTemplate(const std::vector<TemplateSheet>& sheets, const std::string& name = "t.xlsx") {
    writeTemplate(dir_ / name, sheets);
    form_->LoadTemplate((dir_ / name).string());
  }

  sheet::F1Book& left() { return form_->F1Book1(); }
  sheet::F1Book& right() { return form_->F1Book2(); }

  TempDir dir_;
  UnitRows rows_;
  std::unique_ptr<TfrmShowDifference> form_ = std::make_unique<TfrmShowDifference>();
};

}  // namespace dupsweep::testing
