// Finding, listing, marking and showing the cells whose texts differ between the two grids.

#include <QImage>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "engine/compare.h"
#include "platform/errors.h"
#include "platform/spreadsheet/bookwidget.h"
#include "platform/spreadsheet/workbook.h"
#include "support/scripted_messages.h"
#include "ui/showdifference/comparison.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep::testing {
namespace {

using sheet::CellFormat;
using sheet::Color;
using sheet::F1Book;

// One line of lsvDifferenace: its six texts and the sheet number it carries.
struct Line {
  std::vector<QString> texts;
  int sheet = 0;
};

std::vector<Line> listed(const QTreeWidget& list) {
  std::vector<Line> out;
  for (int i = 0; i < list.topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = list.topLevelItem(i);
    Line line;
    for (int c = 0; c < 6; ++c) line.texts.push_back(item->text(c));
    line.sheet = item->data(0, Qt::UserRole).toInt();
    out.push_back(line);
  }
  return out;
}

std::vector<QString> texts(std::initializer_list<const char*> items) {
  std::vector<QString> out;
  for (const char* item : items) out.push_back(QString::fromUtf8(item));
  return out;
}

// Enters `text` into (row, col) of sheet `sheet` of `book`, leaving its current sheet as it was.
void put(F1Book& book, int sheet, int row, int col, const std::string& text) {
  const int current = book.Sheet();
  book.setSheet(sheet);
  book.EntryRC(row, col, text);
  book.setSheet(current);
}

// Every cell format of every sheet of a control up to its used range.
std::map<std::tuple<int, int, int>, CellFormat> formats(F1Book& book) {
  std::map<std::tuple<int, int, int>, CellFormat> out;
  const int current = book.Sheet();
  for (int s = 1; s <= book.NumSheets(); ++s) {
    book.setSheet(s);
    const int activeRow = book.Row();
    const int activeCol = book.Col();
    for (int r = 1; r <= book.LastRow(); ++r)
      for (int c = 1; c <= book.LastCol(); ++c) out[{s, r, c}] = formatAt(book, r, c);
    book.setRow(activeRow);
    book.setCol(activeCol);
  }
  book.setSheet(current);
  return out;
}

bool isMarked(const CellFormat& format) {
  return format.font.bold && format.font.color == Color::rgb(255, 0, 0);
}

class Differences : public ViewerTest {
 protected:
  // Three sheets of report text, the same in both grids.
  static std::vector<TemplateSheet> threeSheets() {
    return {
        {"甲表",
         {{1, 1, "甲表"},
          {2, 1, "项目"},
          {2, 2, "金额"},
          {3, 1, "现金"},
          {3, 2, "100", CellStyle::yellowItalic}}},
        {"乙表", {{1, 1, "乙表"}, {2, 1, "项目"}, {2, 2, "金额"}}},
        {"丙表", {{1, 1, "丙表"}, {2, 1, "项目"}, {2, 2, "金额"}, {4, 3, "注"}}},
    };
  }

  void SetUp() override { loadTemplate(threeSheets()); }

  QTreeWidget& list() { return *form_->lsvDifferenace(); }

  void showActive() {
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
};

TEST_F(Differences, IdenticalGridsListNothingMarkNothingAndEndOnSheetOne) {
  rows_.createTable("DataNum_T01_B01_1", "sF1 TEXT, nF2 INTEGER, sF3 TEXT");
  rows_.insert("DataNum_T01_B01_1", "A", 3, "NULL, 250, '说明'");
  rows_.insert("DataNum_T01_B01_1", "B", 3, "NULL, 250, '说明'");
  for (int index : {0, 2}) {
    form_->SetSheet(index);
    auto s = rows_.open("DataNum_T01_B01_1", "A");
    auto d = rows_.open("DataNum_T01_B01_1", "B");
    form_->FillBooks(*s, *d);
    ASSERT_TRUE(SameRows(*s, *d));
  }
  form_->SetSheet(1);
  const auto leftFormats = formats(left());
  const auto rightFormats = formats(right());
  form_->FindAllDifferences();
  EXPECT_EQ(list().topLevelItemCount(), 0);
  EXPECT_EQ(formats(left()), leftFormats);
  EXPECT_EQ(formats(right()), rightFormats);
  EXPECT_EQ(left().Sheet(), 1);
  EXPECT_EQ(right().Sheet(), 1);
}

TEST_F(Differences, OnlyTheLeftGridsUsedRangeIsScanned) {
  // Sheet 2 of the left grid holds nothing at all, the right one does.
  loadTemplate({{"甲表", {{1, 1, "甲表"}, {2, 2, "金额"}}}, {"乙表", {}}}, "two.xlsx");
  ASSERT_EQ(left().LastRow(), 2);
  put(right(), 2, 1, 1, "只在右边");
  put(right(), 2, 5, 5, "只在右边");
  // On sheet 1 the right grid reaches beyond the left one's last row and last column.
  put(right(), 1, 9, 1, "多出的行");
  put(right(), 1, 1, 7, "多出的列");
  form_->FindAllDifferences();
  EXPECT_EQ(list().topLevelItemCount(), 0);
  EXPECT_FALSE(isMarked(formatAt(right(), 9, 1)));
}

TEST_F(Differences, LetterCaseTrailingBlanksAndEmptyCellsDifferAndAreListedInReadingOrder) {
  put(left(), 1, 4, 2, "abc");
  put(right(), 1, 4, 2, "ABC");
  put(left(), 1, 4, 1, "abc");
  put(right(), 1, 4, 1, "abc ");
  put(left(), 1, 5, 3, "合计");
  put(right(), 1, 5, 3, "合计");
  put(right(), 1, 3, 3, "x");  // the empty text against "x"
  put(right(), 1, 2, 1, "");   // "项目" against the empty text
  form_->FindSheetDifferences();
  const auto lines = listed(list());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].texts, texts({"1", "甲表", "2", "1", "项目", ""}));
  EXPECT_EQ(lines[1].texts, texts({"2", "甲表", "3", "3", "", "x"}));
  EXPECT_EQ(lines[2].texts, texts({"3", "甲表", "4", "1", "abc", "abc "}));
  EXPECT_EQ(lines[3].texts, texts({"4", "甲表", "4", "2", "abc", "ABC"}));
  for (const Line& line : lines) EXPECT_EQ(line.sheet, 1);
}

TEST_F(Differences, EverySheetNumbersItsOwnLinesFromOne) {
  put(left(), 1, 3, 1, "现金1");
  put(left(), 1, 3, 2, "101");
  put(left(), 3, 2, 2, "金额A");
  put(left(), 3, 4, 1, "a");
  put(left(), 3, 4, 3, "注释");
  form_->FindAllDifferences();
  const auto lines = listed(list());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].texts, texts({"1", "甲表", "3", "1", "现金1", "现金"}));
  EXPECT_EQ(lines[1].texts, texts({"2", "甲表", "3", "2", "101", "100"}));
  EXPECT_EQ(lines[2].texts, texts({"1", "丙表", "2", "2", "金额A", "金额"}));
  EXPECT_EQ(lines[3].texts, texts({"2", "丙表", "4", "1", "a", ""}));
  EXPECT_EQ(lines[4].texts, texts({"3", "丙表", "4", "3", "注释", "注"}));
  EXPECT_EQ(lines[0].sheet, 1);
  EXPECT_EQ(lines[1].sheet, 1);
  EXPECT_EQ(lines[2].sheet, 3);
  EXPECT_EQ(lines[4].sheet, 3);
  EXPECT_EQ(left().Sheet(), 1);
  EXPECT_EQ(right().Sheet(), 1);
}

TEST_F(Differences, BothCellsGetTheLeftCellsFormatInRedAndBold) {
  // The right grid's cell (3, 2) has a format of its own: a blue fill, no italic.
  writeTemplate(
      dir_ / "blue.xlsx",
      {{"甲表", {{1, 1, "甲表"}, {3, 2, "100", CellStyle::blue}}}, {"乙表", {}}, {"丙表", {}}});
  right().read(dir_ / "blue.xlsx");
  const CellFormat leftBefore = formatAt(left(), 3, 2);
  ASSERT_TRUE(leftBefore.font.italic);
  ASSERT_FALSE(leftBefore.font.bold);
  put(right(), 1, 3, 2, "200");

  form_->FindSheetDifferences();
  // The right workbook lacks the labels: (2, 1), (2, 2) and (3, 1) differ too, (3, 2) last.
  ASSERT_EQ(listed(list()).size(), 4u);
  // After the scan both grids' active cell is the last cell marked.
  EXPECT_EQ(left().Row(), 3);
  EXPECT_EQ(left().Col(), 2);
  EXPECT_EQ(right().Row(), 3);
  EXPECT_EQ(right().Col(), 2);

  CellFormat expected = leftBefore;
  expected.font.color = Color::rgb(255, 0, 0);
  expected.font.bold = true;
  EXPECT_EQ(formatAt(left(), 3, 2), expected);
  EXPECT_EQ(formatAt(right(), 3, 2), expected);  // the left cell's fill and italic, not blue
  EXPECT_TRUE(isMarked(formatAt(right(), 2, 1)));
  EXPECT_FALSE(isMarked(formatAt(left(), 1, 1)));  // "甲表" on both sides
  EXPECT_FALSE(isMarked(formatAt(right(), 1, 1)));
}

TEST_F(Differences, MarkCellSelectsAndMarksTheCellInBothGrids) {
  form_->MarkCell(7, 5);
  EXPECT_EQ(left().Row(), 7);
  EXPECT_EQ(left().Col(), 5);
  EXPECT_EQ(right().Row(), 7);
  EXPECT_EQ(right().Col(), 5);
  EXPECT_TRUE(isMarked(formatAt(left(), 7, 5)));
  EXPECT_TRUE(isMarked(formatAt(right(), 7, 5)));
  EXPECT_EQ(list().topLevelItemCount(), 0);  // marking lists nothing
  EXPECT_THROW(form_->MarkCell(0, 1), sheet::RangeError);
}

TEST_F(Differences, AClickOnALineOfAnotherSheetShowsItsCellInBothGrids) {
  put(left(), 1, 3, 2, "101");
  put(left(), 3, 150, 20, "远处");
  put(right(), 3, 150, 20, "远方");
  showActive();
  form_->FindAllDifferences();
  QApplication::processEvents();
  ASSERT_EQ(list().topLevelItemCount(), 2);
  ASSERT_EQ(left().Sheet(), 1);

  QTreeWidgetItem* item = list().topLevelItem(1);
  QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, list().visualItemRect(item).center());
  QApplication::processEvents();
  ASSERT_TRUE(item->isSelected());
  for (auto side : {viewer::kLeft, viewer::kRight}) {
    F1Book& book = side == viewer::kLeft ? left() : right();
    EXPECT_EQ(book.Sheet(), 3);
    EXPECT_EQ(book.Row(), 150);
    EXPECT_EQ(book.Col(), 20);
    sheet::BookWidget* grid = form_->grid(side);
    EXPECT_EQ(grid->tabBar()->currentIndex(), 2);
    QTableView* table = grid->tableView();
    const QModelIndex index = table->model()->index(149, 19);
    EXPECT_EQ(table->currentIndex(), index);
    EXPECT_TRUE(table->viewport()->rect().intersects(table->visualRect(index)))
        << "the cell is scrolled into view";
  }
  EXPECT_EQ(QApplication::focusWidget(), form_->grid(viewer::kLeft)->tableView());
  // The line stays highlighted while the grid has the focus.
  const QPalette& palette = list().palette();
  EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Highlight),
            palette.color(QPalette::Active, QPalette::Highlight));
}

TEST_F(Differences, AMarkedCellStaysRedWhileItIsTheActiveCell) {
  put(left(), 1, 4, 2, "左边的值");
  put(right(), 1, 4, 2, "右边的值");
  showActive();
  form_->FindAllDifferences();
  QTreeWidgetItem* item = list().topLevelItem(0);
  ASSERT_NE(item, nullptr);
  QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, list().visualItemRect(item).center());
  QApplication::processEvents();
  for (auto side : {viewer::kLeft, viewer::kRight}) {
    QTableView* table = form_->grid(side)->tableView();
    const QModelIndex index = table->model()->index(3, 1);
    ASSERT_TRUE(table->selectionModel()->isSelected(index));
    const QImage image = table->viewport()->grab(table->visualRect(index)).toImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.red() > 200 && c.green() < 90 && c.blue() < 90) ++red;
      }
    EXPECT_GT(red, 10) << "side " << side;
  }
}

TEST_F(Differences, AClickThatSelectsNoLineChangesNothing) {
  put(left(), 3, 4, 3, "注释");
  form_->FindAllDifferences();
  ASSERT_EQ(list().topLevelItemCount(), 1);
  form_->SetSheet(1);
  left().setRow(2);
  left().setCol(2);
  showActive();
  list().clearSelection();
  form_->lsvDifferenaceDblClick();
  // A click below the last line selects nothing either.
  QTest::mouseClick(list().viewport(), Qt::LeftButton, {},
                    QPoint(10, list().viewport()->height() - 5));
  QApplication::processEvents();
  EXPECT_TRUE(list().selectedItems().isEmpty());
  EXPECT_EQ(left().Sheet(), 2);
  EXPECT_EQ(right().Sheet(), 2);
  EXPECT_EQ(left().Row(), 2);
  EXPECT_EQ(left().Col(), 2);
}

TEST_F(Differences, ShowDifferencesScansOnlyTheSheetShownAndRestartsTheList) {
  put(left(), 2, 2, 2, "金额X");
  put(left(), 2, 1, 1, "乙");
  form_->FindAllDifferences();
  ASSERT_EQ(list().topLevelItemCount(), 2);
  ASSERT_EQ(left().Sheet(), 1);

  QToolButton* button = form_->findChild<QToolButton*>("ToolButton3");
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(list().topLevelItemCount(), 0);  // sheet 1 has no differences

  form_->SetSheet(1);
  button->click();
  button->click();  // again: the list starts afresh, numbered from 1
  const auto lines = listed(list());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].texts, texts({"1", "乙表", "1", "1", "乙", "乙表"}));
  EXPECT_EQ(lines[1].texts, texts({"2", "乙表", "2", "2", "金额X", "金额"}));
  EXPECT_EQ(lines[0].sheet, 2);
  // Marks made earlier stay.
  form_->SetSheet(0);
  form_->MarkCell(3, 1);
  button->click();
  EXPECT_EQ(list().topLevelItemCount(), 0);
  EXPECT_TRUE(isMarked(formatAt(left(), 3, 1)));
}

TEST_F(Differences, AGridFailingDuringTheScanEndsItAndKeepsTheLinesFound) {
  put(left(), 1, 3, 2, "101");
  // The right grid's workbook has one sheet only: selecting sheet 2 in it fails.
  writeTemplate(
      dir_ / "one.xlsx",
      {{"甲表", {{1, 1, "甲表"}, {2, 1, "项目"}, {2, 2, "金额"}, {3, 1, "现金"}, {3, 2, "100"}}}});
  right().read(dir_ / "one.xlsx");
  EXPECT_THROW(form_->FindAllDifferences(), sheet::RangeError);
  const auto lines = listed(list());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].texts, texts({"1", "甲表", "3", "2", "101", "100"}));
}

TEST_F(Differences, EqualTextsKeptThatAreNotUtf8FailTheScanAsReadingThemFails) {
  // Equal texts are compared as the grids keep them; bytes that are no UTF-8 must still fail
  // the scan, as making their texts fails, rather than pass for equal.
  sheet::Workbook book;
  book.sheet(1).setText(1, 1, "ok");
  book.sheet(1).setText(2, 1, "bad \xFF");
  left().setWorkbook(book.copy());
  right().setWorkbook(std::move(book));
  EXPECT_THROW(form_->FindAllDifferences(), FormatError);
}

TEST_F(Differences, AFailingClickIsShownByTheDefaultErrorDisplay) {
  put(left(), 3, 2, 2, "金额A");
  form_->FindAllDifferences();
  ASSERT_EQ(list().topLevelItemCount(), 1);
  // A template of one sheet replaces the grids while the list still names sheet 3.
  loadTemplate({{"甲表", {{1, 1, "甲表"}}}}, "one.xlsx");
  ui::ScopedScriptedMessages messages;
  showActive();
  QTreeWidgetItem* item = list().topLevelItem(0);
  QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, list().visualItemRect(item).center());
  QApplication::processEvents();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].style, ui::MB_ICONSTOP);
  EXPECT_EQ(left().Sheet(), 1);
  EXPECT_EQ(right().Sheet(), 1);
  EXPECT_TRUE(form_->isVisible());
}

// ---- failures of a grid, injected below the viewer's comparison code ----

// A format object that counts the live objects and can refuse its bold attribute.
class CountedFormat : public CellFormatObject {
 public:
  CountedFormat(CellFormat format, int& live, bool refuseBold)
      : CellFormatObject(std::move(format)), live_(live), refuseBold_(refuseBold) {
    ++live_;
  }
  ~CountedFormat() override { --live_; }
  void setBold(bool bold) override {
    if (refuseBold_) throw Error("The format refused its bold attribute");
    CellFormatObject::setBold(bold);
  }

 private:
  int& live_;
  bool refuseBold_;
};

// Our control with failures put in on purpose.
class FaultyControl : public SheetControl {
 public:
  explicit FaultyControl(F1Book& book) : inner_(book) {}

  mutable int textsBeforeFailure = -1;  // -1: reading texts never fails
  bool refuseFormat = false;            // applying a format fails
  bool refuseBold = false;              // the format objects refuse their bold attribute
  mutable int liveFormats = 0;

  int Sheet() const override { return inner_.Sheet(); }
  void setSheet(int sheet) override { inner_.setSheet(sheet); }
  int NumSheets() const override { return inner_.NumSheets(); }
  int LastRow() const override { return inner_.LastRow(); }
  int LastCol() const override { return inner_.LastCol(); }
  void setRow(int row) override { inner_.setRow(row); }
  void setCol(int col) override { inner_.setCol(col); }
  int read(const std::string& path) override { return inner_.read(path); }
  void EntryRC(int row, int col, std::string_view utf8) override {
    inner_.EntryRC(row, col, utf8);
  }
  void EntryRC(int row, int col, std::u16string_view text) override {
    inner_.EntryRC(row, col, text);
  }
  std::u16string text(int row, int col) const override {
    if (textsBeforeFailure == 0) throw Error("The cell text cannot be read");
    if (textsBeforeFailure > 0) --textsBeforeFailure;
    return inner_.text(row, col);
  }
  std::vector<sheet::CellPosition> textCells(int lastRow) const override {
    return inner_.textCells(lastRow);
  }
  std::u16string sheetName(int sheet) const override { return inner_.sheetName(sheet); }
  std::unique_ptr<CellFormatObject> getCellFormat() const override {
    return std::make_unique<CountedFormat>(inner_.book().getCellFormat(), liveFormats, refuseBold);
  }
  void setCellFormat(const CellFormatObject& format) override {
    if (refuseFormat) throw Error("The format cannot be applied");
    inner_.setCellFormat(format);
  }
  void showActiveCell() override { inner_.showActiveCell(); }
  void takeFocus() override { inner_.takeFocus(); }
  void setOnStartEdit(StartEditEvent handler) override { inner_.setOnStartEdit(handler); }

 private:
  F1BookControl inner_;
};

struct Sink : viewer::DifferenceSink {
  void addDifference(const viewer::DifferenceLine& line) override { lines.push_back(line); }
  std::vector<viewer::DifferenceLine> lines;
};

class InjectedFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int c = 1; c <= 4; ++c) {
      leftBook_.EntryRC(1, c, "L" + std::to_string(c));
      rightBook_.EntryRC(1, c, "R" + std::to_string(c));
    }
  }
  F1Book leftBook_;
  F1Book rightBook_;
  FaultyControl left_{leftBook_};
  FaultyControl right_{rightBook_};
  Sink sink_;
};

TEST_F(InjectedFailures, AFailedTextReadEndsTheScanAndKeepsTheLinesBefore) {
  right_.textsBeforeFailure = 2;  // the third cell's right text fails
  EXPECT_THROW(viewer::findSheetDifferences(left_, right_, sink_), Error);
  ASSERT_EQ(sink_.lines.size(), 2u);
  EXPECT_EQ(sink_.lines[1].number, 2);
  EXPECT_EQ(sink_.lines[1].col, 2);
  EXPECT_EQ(sink_.lines[1].leftText, u"L2");
  EXPECT_EQ(sink_.lines[1].rightText, u"R2");
  EXPECT_TRUE(isMarked(formatAt(rightBook_, 1, 2)));
  EXPECT_FALSE(isMarked(formatAt(rightBook_, 1, 3)));
}

TEST_F(InjectedFailures, AFormatThatCannotBeAppliedIsReleasedAndEndsTheScan) {
  right_.refuseFormat = true;
  EXPECT_THROW(viewer::findAllDifferences(left_, right_, sink_), Error);
  EXPECT_EQ(sink_.lines.size(), 1u);  // the line comes before the marking
  EXPECT_EQ(left_.liveFormats, 0);
  EXPECT_TRUE(isMarked(formatAt(leftBook_, 1, 1)));  // the left cell was marked first
  EXPECT_FALSE(isMarked(formatAt(rightBook_, 1, 1)));
}

TEST_F(InjectedFailures, AFormatRefusingAnAttributeIsReleasedAndNothingIsMarked) {
  left_.refuseBold = true;
  EXPECT_THROW(viewer::markCell(left_, right_, 1, 3), Error);
  EXPECT_EQ(left_.liveFormats, 0);
  EXPECT_FALSE(isMarked(formatAt(leftBook_, 1, 3)));
  // Marking that succeeds releases its format too.
  left_.refuseBold = false;
  viewer::markCell(left_, right_, 1, 3);
  EXPECT_EQ(left_.liveFormats, 0);
  EXPECT_TRUE(isMarked(formatAt(rightBook_, 1, 3)));
}

}  // namespace
}  // namespace dupsweep::testing
