// "导出差异…": the difference list and both units' sheets written into an xlsx workbook, read back
// through the project's own workbook reader.

#include <QToolButton>
#include <filesystem>
#include <iterator>

#include "platform/spreadsheet/reader.h"
#include "support/scripted_messages.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep::testing {
namespace {

using sheet::Color;
using sheet::Workbook;
using sheet::Worksheet;

bool isRed(const Workbook& book, const Worksheet& sheet, int row, int col) {
  return book.formats().at(sheet.format(row, col)).font.color == Color::rgb(255, 0, 0);
}

class Export : public ViewerTest {
 protected:
  void SetUp() override {
    loadTemplate({
        {"甲表", {{1, 1, "甲表"}, {2, 1, "项目"}, {3, 1, "现金"}}},
        {"乙表", {{1, 1, "乙表"}}},
        {"丙表", {{1, 1, "丙表"}}},
    });
    left().EntryRC(2, 2, "100");
    right().EntryRC(2, 2, "101");
    left().EntryRC(3, 3, "x");
    left().setSheet(3);
    right().setSheet(3);
    left().EntryRC(20, 7, "远处");
    right().EntryRC(20, 7, "远方");
    form_->SetSheet(0);
    form_->FindAllDifferences();
    form_->SetUnitCaptions("甲单位[01]", "乙单位[02]");
    form_->SetPairCaption("甲=>乙");
    form_->SetPeriodCaption("2024年(年报)");
    form_->setExportFileChooser([this](QWidget*, const std::string& suggested) {
      suggested_ = suggested;
      return chosen_;
    });
  }

  void clickExport() { form_->findChild<QToolButton*>("btnExportDifferences")->click(); }

  std::string chosen_;
  std::string suggested_;
};

TEST_F(Export, TheWorkbookListsTheDifferencesAndHoldsBothUnitsSheetsWithTheDifferencesInRed) {
  chosen_ = (dir_ / "out.xlsx").string();
  ui::ScopedScriptedMessages messages;
  clickExport();
  EXPECT_TRUE(messages->shown.empty());
  EXPECT_EQ(suggested_, "甲=_乙差异.xlsx");  // '>' is no character for a file name everywhere

  const Workbook book = sheet::readWorkbook(dir_ / "out.xlsx");
  ASSERT_EQ(book.sheetCount(), 4);
  const Worksheet& list = book.sheet(1);
  EXPECT_EQ(list.name(), "差异清单");
  const std::vector<std::vector<std::string>> expected{
      {"序号", "表", "行", "列", "左边值", "右边值", "单位对", "期间"},
      {"1", "甲表", "2", "2", "100", "101", "甲=>乙", "2024年(年报)"},
      {"2", "甲表", "3", "3", "x", "", "甲=>乙", "2024年(年报)"},
      {"1", "丙表", "20", "7", "远处", "远方", "甲=>乙", "2024年(年报)"},
  };
  ASSERT_EQ(list.lastRow(), 4);
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 8; ++c)
      EXPECT_EQ(list.text(r, c), expected[r - 1][c - 1]) << r << "," << c;

  // 甲表: the left copy from column 1, the right one after one empty column (the widest copy
  // reaches column 3), each grid row one row down below the captions.
  const Worksheet& first = book.sheet(2);
  EXPECT_EQ(first.name(), "甲表");
  EXPECT_EQ(first.text(1, 1), "甲单位[01]");
  EXPECT_EQ(first.text(1, 5), "乙单位[02]");
  EXPECT_EQ(first.text(2, 1), "甲表");
  EXPECT_EQ(first.text(2, 5), "甲表");
  EXPECT_EQ(first.text(3, 2), "100");
  EXPECT_EQ(first.text(3, 6), "101");
  EXPECT_EQ(first.text(4, 3), "x");
  EXPECT_EQ(first.text(4, 7), "");
  for (int r = 1; r <= first.lastRow(); ++r) EXPECT_EQ(first.text(r, 4), "") << "gap, row " << r;
  EXPECT_TRUE(isRed(book, first, 3, 2));
  EXPECT_TRUE(isRed(book, first, 3, 6));
  EXPECT_TRUE(isRed(book, first, 4, 3));
  EXPECT_FALSE(isRed(book, first, 2, 1));
  EXPECT_FALSE(isRed(book, first, 4, 1));
  EXPECT_FALSE(isRed(book, first, 4, 5));

  EXPECT_EQ(book.sheet(3).name(), "乙表");
  EXPECT_EQ(book.sheet(3).text(2, 1), "乙表");
  EXPECT_EQ(book.sheet(3).lastRow(), 2);

  const Worksheet& third = book.sheet(4);
  EXPECT_EQ(third.text(21, 7), "远处");
  EXPECT_EQ(third.text(21, 15), "远方");
  EXPECT_TRUE(isRed(book, third, 21, 7));
  EXPECT_TRUE(isRed(book, third, 21, 15));
  EXPECT_FALSE(isRed(book, third, 2, 1));
}

TEST_F(Export, ACancelledChoiceWritesNothingAndAFailedWriteIsShownByTheDefaultErrorDisplay) {
  ui::ScopedScriptedMessages messages;
  chosen_.clear();
  clickExport();
  EXPECT_TRUE(messages->shown.empty());
  // Only the template lies in the directory.
  const auto entries = std::distance(std::filesystem::directory_iterator(dir_.path()),
                                     std::filesystem::directory_iterator());
  EXPECT_EQ(entries, 1);

  chosen_ = (dir_ / "no such folder" / "out.xlsx").string();
  clickExport();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].style, ui::MB_ICONSTOP);
  EXPECT_NE(messages->shown[0].text.find("Unable to write to " + chosen_), std::string::npos)
      << messages->shown[0].text;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no such folder"));
}

}  // namespace
}  // namespace dupsweep::testing
