// Loading the template, selecting sheets, writing two units' rows into the grids and the
// equality test, over real xlsx templates and real row sets from a SQLite database.

#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <fstream>
#include <limits>

#include "engine/compare.h"
#include "platform/errors.h"
#include "platform/spreadsheet/bookwidget.h"
#include "platform/spreadsheet/workbook.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep::testing {
namespace {

constexpr const char* kTable = "DataNum_T01_B01_1";

class Loading : public ViewerTest {
 protected:
  void SetUp() override { loadTemplate(reportTemplate()); }

  // Writes units A and B of kTable into the grids; returns the equality test's verdict on them.
  bool fill() {
    auto s = rows_.open(kTable, "A");
    auto d = rows_.open(kTable, "B");
    form_->FillBooks(*s, *d);
    EXPECT_TRUE(s->eof());
    EXPECT_TRUE(d->eof());
    return SameRows(*s, *d);
  }
};

TEST_F(Loading, TemplateIsReadIntoBothGridsOnSheetOne) {
  EXPECT_EQ(left().NumSheets(), 2);
  EXPECT_EQ(right().NumSheets(), 2);
  EXPECT_EQ(left().Sheet(), 1);
  EXPECT_EQ(right().Sheet(), 1);
  EXPECT_EQ(left().text(3, 2), "模板值");
  EXPECT_EQ(contents(left()), contents(right()));
  EXPECT_EQ(left().sheetName(2), "利润表");
}

TEST_F(Loading, BothUnitsWithoutRowsWriteNothingAndAreNotRepeated) {
  rows_.createTable(kTable, "sF1 TEXT, nF2 INTEGER, nF3 REAL");
  const auto before = contents(left());
  EXPECT_FALSE(fill());
  EXPECT_EQ(contents(left()), before);
  EXPECT_EQ(contents(right()), before);
}

TEST_F(Loading, DifferentRowCountsWriteEveryRowOfBothUnitsAndAreNotRepeated) {
  rows_.createTable(kTable, "sF1 TEXT, nF2 INTEGER");
  rows_.insert(kTable, "A", 3, "NULL, 10");
  rows_.insert(kTable, "A", 4, "NULL, 20");
  for (int r = 3; r <= 6; ++r) rows_.insert(kTable, "B", r, "NULL, " + std::to_string(r * 10 - 20));
  EXPECT_FALSE(fill());
  EXPECT_EQ(left().text(3, 2), "10");
  EXPECT_EQ(left().text(4, 2), "20");
  EXPECT_EQ(left().text(5, 2), "");
  EXPECT_EQ(right().text(3, 2), "10");
  EXPECT_EQ(right().text(4, 2), "20");
  EXPECT_EQ(right().text(5, 2), "30");  // the longer unit's rows go on after the shorter ends
  EXPECT_EQ(right().text(6, 2), "40");
  EXPECT_EQ(left().text(3, 1), "货币资金");  // NULL labels leave the template's text
}

TEST_F(Loading, TablesOfAtMostFiveColumnsWriteNothingAndEqualRowCountsAreRepeated) {
  rows_.createTable(kTable, "");
  rows_.insert(kTable, "A", 3, "");
  rows_.insert(kTable, "A", 4, "");
  rows_.insert(kTable, "B", 7, "");
  rows_.insert(kTable, "B", 8, "");
  const auto before = contents(left());
  EXPECT_TRUE(fill());
  EXPECT_EQ(contents(left()), before);
  EXPECT_EQ(contents(right()), before);

  // Three columns only: nothing to write, nothing to compare, the same number of rows.
  rows_.exec("CREATE TABLE Narrow (sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER)");
  rows_.exec("INSERT INTO Narrow VALUES ('2024N', 'A', 1), ('2024N', 'B', 2)");
  auto s = rows_.open("Narrow", "A");
  auto d = rows_.open("Narrow", "B");
  form_->FillBooks(*s, *d);
  EXPECT_TRUE(SameRows(*s, *d));
}

TEST_F(Loading, SameFiguresUnderOtherRowNumbersAreRepeatedAndShownAtTheirOwnRows) {
  rows_.createTable(kTable, "sF1 TEXT, nF2 INTEGER, sF3 TEXT");
  const std::vector<std::string> figures{"NULL, 1, 'x'", "NULL, 2, 'y'", "NULL, 3, 'z'"};
  const std::vector<int> nRowA{3, 4, 5};
  const std::vector<int> nRowB{3, 4, 6};
  for (std::size_t i = 0; i < figures.size(); ++i) {
    rows_.insert(kTable, "A", nRowA[i], figures[i]);
    rows_.insert(kTable, "B", nRowB[i], figures[i]);
  }
  EXPECT_TRUE(fill());
  EXPECT_EQ(left().text(5, 2), "3");
  EXPECT_EQ(left().text(5, 3), "z");
  EXPECT_EQ(right().text(5, 2), "");
  EXPECT_EQ(right().text(6, 2), "3");
  EXPECT_EQ(right().text(6, 3), "z");
}

TEST_F(Loading, NullEqualsOnlyNull) {
  struct Case {
    std::string a, b;
    bool same;
  };
  const std::vector<Case> cases{{"NULL", "NULL", true}, {"NULL", "0", false},  {"0", "NULL", false},
                                {"NULL", "''", false},  {"''", "NULL", false}, {"''", "''", true}};
  int n = 0;
  for (const Case& c : cases) {
    const std::string table = "DataNum_null_" + std::to_string(n++);
    rows_.createTable(table, "sF1 TEXT, vF2");
    rows_.insert(table, "A", 3, "'label', " + c.a);
    rows_.insert(table, "B", 3, "'label', " + c.b);
    auto s = rows_.open(table, "A");
    auto d = rows_.open(table, "B");
    form_->FillBooks(*s, *d);
    EXPECT_EQ(SameRows(*s, *d), c.same) << c.a << " against " << c.b;
  }
}

TEST_F(Loading, TextsCompareByteForByteAndAreWrittenAsTheyStand) {
  struct Case {
    std::string a, b;
    bool same;
  };
  const std::vector<Case> cases{
      {"abc", "ABC", false}, {"abc", "abc ", false}, {"abc", "abc", true}, {"合计", "合计", true}};
  int n = 0;
  for (const Case& c : cases) {
    const std::string table = "DataNum_text_" + std::to_string(n++);
    rows_.createTable(table, "sF1 TEXT, sF2 TEXT");
    rows_.insert(table, "A", 4, "NULL, '" + c.a + "'");
    rows_.insert(table, "B", 4, "NULL, '" + c.b + "'");
    auto s = rows_.open(table, "A");
    auto d = rows_.open(table, "B");
    form_->FillBooks(*s, *d);
    EXPECT_EQ(SameRows(*s, *d), c.same) << '"' << c.a << "\" against \"" << c.b << '"';
    EXPECT_EQ(left().text(4, 2), c.a);
    EXPECT_EQ(right().text(4, 2), c.b);
  }
}

TEST_F(Loading, NumbersCompareByValueAndShowTheSameTextForBothUnits) {
  rows_.createTable(kTable, "sF1 TEXT, nF2 INTEGER, nF3 REAL, nF4 REAL");
  rows_.insert(kTable, "A", 3, "NULL, 100, 1234.5, 0.1");
  rows_.insert(kTable, "B", 3, "NULL, 100, 1234.5, 0.1");
  EXPECT_TRUE(fill());
  EXPECT_EQ(left().text(3, 2), "100");
  EXPECT_EQ(left().text(3, 3), "1234.5");
  EXPECT_EQ(right().text(3, 4), "0.1");

  // An integer against a floating value of the same value is equal; 0.1 against 0.1000001 not.
  rows_.exec(
      "CREATE TABLE Typed (sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT, "
      "nLevel INTEGER, vF1)");
  rows_.exec(
      "INSERT INTO Typed VALUES ('2024N', 'A', 3, 'T01', 1, 100), "
      "('2024N', 'B', 3, 'T01', 1, 100.0), ('2024N', 'C', 3, 'T01', 1, 0.1), "
      "('2024N', 'D', 3, 'T01', 1, 0.1000001)");
  auto check = [&](const char* a, const char* b) {
    auto s = rows_.open("Typed", a);
    auto d = rows_.open("Typed", b);
    form_->FillBooks(*s, *d);
    return SameRows(*s, *d);
  };
  EXPECT_TRUE(check("A", "B"));
  EXPECT_FALSE(check("C", "D"));
}

TEST_F(Loading, NullLeavesTheTemplateTextOrAnEarlierValueAndDoesNotAffectTheTest) {
  rows_.createTable(kTable, "sF1 TEXT, sF2 TEXT");
  rows_.insert(kTable, "A", 3, "NULL, NULL");
  rows_.insert(kTable, "B", 3, "NULL, NULL");
  rows_.insert(kTable, "A", 4, "NULL, '7'");
  rows_.insert(kTable, "B", 4, "NULL, '7'");
  EXPECT_TRUE(fill());
  EXPECT_EQ(left().text(3, 2), "模板值");  // the template's text stays under NULL
  EXPECT_EQ(right().text(3, 2), "模板值");
  EXPECT_EQ(left().text(4, 2), "7");

  // A later sheet's NULL leaves what the earlier call wrote.
  rows_.exec(std::string("UPDATE ") + kTable + " SET sF2 = NULL");
  EXPECT_TRUE(fill());
  EXPECT_EQ(left().text(4, 2), "7");
  EXPECT_EQ(right().text(4, 2), "7");
  // The grids differ from the data (template text against NULL) without changing the outcome.
  rows_.exec(std::string("UPDATE ") + kTable + " SET sF2 = 'x' WHERE sUnitCode = 'B'");
  EXPECT_FALSE(fill());
  EXPECT_EQ(left().text(3, 2), "模板值");
  EXPECT_EQ(right().text(3, 2), "x");
}

TEST_F(Loading, SetSheetSelectsTheSameSheetInBothGridsAndFillingUsesIt) {
  form_->SetSheet(1);
  EXPECT_EQ(left().Sheet(), 2);
  EXPECT_EQ(right().Sheet(), 2);
  rows_.createTable(kTable, "sF1 TEXT, sF2 TEXT");
  rows_.insert(kTable, "A", 2, "NULL, 'left'");
  rows_.insert(kTable, "B", 2, "NULL, 'right'");
  EXPECT_FALSE(fill());
  EXPECT_EQ(left().text(2, 2), "left");
  EXPECT_EQ(right().text(2, 2), "right");

  form_->SetSheet(0);
  EXPECT_EQ(left().Sheet(), 1);
  EXPECT_EQ(right().Sheet(), 1);
  EXPECT_EQ(left().text(2, 2), "期末余额");  // sheet 1 untouched

  EXPECT_THROW(form_->SetSheet(2), sheet::RangeError);
  EXPECT_THROW(form_->SetSheet(-1), sheet::RangeError);
  EXPECT_THROW(form_->SetSheet(std::numeric_limits<std::int32_t>::max()), sheet::RangeError);
  EXPECT_EQ(left().Sheet(), 1);
  EXPECT_EQ(right().Sheet(), 1);
}

TEST_F(Loading, LoadingAnotherTemplateReplacesEverythingWrittenAndAnUnreadableFileChangesNothing) {
  rows_.createTable(kTable, "sF1 TEXT, sF2 TEXT");
  rows_.insert(kTable, "A", 3, "NULL, 'a'");
  rows_.insert(kTable, "B", 3, "NULL, 'b'");
  fill();
  form_->FindAllDifferences();
  ASSERT_EQ(form_->lsvDifferenace()->topLevelItemCount(), 1);

  loadTemplate(reportTemplate(), "again.xlsx");
  EXPECT_EQ(left().text(3, 2), "模板值");
  EXPECT_EQ(right().text(3, 2), "模板值");
  EXPECT_FALSE(formatAt(right(), 3, 2).font.bold);

  { std::ofstream(dir_ / "broken.xlsx") << "not a workbook"; }
  const auto before = contents(left());
  EXPECT_THROW(form_->LoadTemplate((dir_ / "broken.xlsx").string()), Error);
  EXPECT_THROW(form_->LoadTemplate((dir_ / "missing.xlsx").string()), Error);
  EXPECT_EQ(contents(left()), before);
  EXPECT_EQ(contents(right()), before);
}

TEST_F(Loading, FailuresReachTheCaller) {
  // A row without a row number.
  rows_.createTable(kTable, "sF1 TEXT, sF2 TEXT");
  rows_.exec(std::string("INSERT INTO ") + kTable +
             " VALUES ('2024N', 'A', NULL, 'T01', 1, NULL, 'x')");
  rows_.insert(kTable, "B", 3, "NULL, 'x'");
  EXPECT_THROW(fill(), DatabaseError);

  // A row number that is no row of a sheet.
  rows_.exec(std::string("UPDATE ") + kTable + " SET nRow = 0 WHERE sUnitCode = 'A'");
  EXPECT_THROW(fill(), sheet::RangeError);

  // The second unit's rows lack a column that the first unit's have.
  rows_.createTable("Short", "sF1 TEXT");
  rows_.insert("Short", "B", 3, "NULL");
  rows_.exec(std::string("UPDATE ") + kTable + " SET nRow = 3");
  auto s = rows_.open(kTable, "A");
  auto d = rows_.open("Short", "B");
  EXPECT_THROW(form_->FillBooks(*s, *d), DatabaseError);
  EXPECT_FALSE(SameRows(*s, *d));  // for the equality test the missing column is a difference
}

TEST_F(Loading, TypingIntoEitherGridIsRefused) {
  form_->resize(800, 600);
  form_->show();
  QApplication::processEvents();
  for (auto side : {viewer::kLeft, viewer::kRight}) {
    QTableView* table = form_->grid(side)->tableView();
    const QModelIndex index = table->model()->index(2, 1);  // (3, 2) "模板值"
    table->setCurrentIndex(index);
    table->setFocus();
    QTest::keyClicks(table, "99");
    QTest::keyClick(table, Qt::Key_F2);
    table->edit(index);
    QApplication::processEvents();
    EXPECT_EQ(table->viewport()->findChild<QLineEdit*>(), nullptr);
    sheet::F1Book& book = side == viewer::kLeft ? left() : right();
    EXPECT_EQ(book.text(3, 2), "模板值");
    EXPECT_FALSE(book.startEdit(3, 2));
  }
  F1BookControl control(left());
  std::int16_t cancel = 0;
  form_->F1Book1StartEdit(control, "x", cancel);
  EXPECT_EQ(cancel, 1);
}

}  // namespace
}  // namespace dupsweep::testing
