// The grid widget on Qt's offscreen platform with a real QApplication.

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <cmath>
#include <memory>

#include "platform/spreadsheet/booktablemodel.h"
#include "platform/spreadsheet/bookwidget.h"
#include "platform/spreadsheet/f1book.h"
#include "sheet_files.h"

namespace dupsweep::sheet {
namespace {

using testing::TempDir;

class BookWidgetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QApplication::instance()) {
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
      static int argc = 1;
      static char name[] = "spreadsheet_test";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);  // one for the whole process
    }
  }

  void SetUp() override {
    testing::writeSampleXlsx(dir_ / "sample.xlsx");
    book_.read(dir_ / "sample.xlsx");
    widget_ = std::make_unique<BookWidget>(book_);
    widget_->resize(640, 400);
    widget_->show();
    QApplication::processEvents();
  }

  QTableView& table() { return *widget_->tableView(); }
  BookTableModel& model() { return *widget_->tableModel(); }
  QString shown(int row, int col) {
    return model().data(model().index(row - 1, col - 1)).toString();
  }
  int pixels(double points, int dpi) { return static_cast<int>(std::lround(points * dpi / 72.0)); }

  TempDir dir_;
  F1Book book_;
  std::unique_ptr<BookWidget> widget_;
};

TEST_F(BookWidgetTest, ShowsSheetTabsCellsAndTheSheetLayout) {
  ASSERT_EQ(widget_->tabBar()->count(), 2);
  EXPECT_EQ(widget_->tabBar()->tabText(0), QString::fromUtf8("甲表"));
  EXPECT_EQ(widget_->tabBar()->tabText(1), QString::fromUtf8("乙表 数据"));
  EXPECT_EQ(widget_->tabBar()->currentIndex(), 0);

  EXPECT_EQ(shown(1, 1), QString::fromUtf8("单位名称"));
  EXPECT_EQ(shown(3, 2), "1234.5");
  EXPECT_EQ(model().headerData(0, Qt::Horizontal).toString(), "A");
  EXPECT_EQ(model().headerData(27, Qt::Horizontal).toString(), "AB");
  EXPECT_EQ(model().headerData(4, Qt::Vertical).toString(), "5");
  EXPECT_GE(model().rowCount(), 6);

  EXPECT_EQ(table().columnSpan(0, 0), 3);
  EXPECT_EQ(table().rowSpan(0, 0), 1);
  const int dpiX = widget_->logicalDpiX();
  const int dpiY = widget_->logicalDpiY();
  EXPECT_EQ(table().columnWidth(0), pixels(145 * 0.75, dpiX));
  EXPECT_EQ(table().columnWidth(1), pixels(89 * 0.75, dpiX));
  EXPECT_EQ(table().columnWidth(2), pixels(Worksheet::kDefaultColumnWidth, dpiX));
  EXPECT_EQ(table().rowHeight(2), pixels(30, dpiY));

  const QFont title = model().data(model().index(0, 0), Qt::FontRole).value<QFont>();
  EXPECT_TRUE(title.bold());
  EXPECT_EQ(model().data(model().index(0, 0), Qt::ForegroundRole).value<QBrush>().color(),
            QColor(255, 0, 0));
  EXPECT_EQ(model().data(model().index(2, 1), Qt::BackgroundRole).value<QBrush>().color(),
            QColor(255, 255, 0));
  EXPECT_FALSE(model().data(model().index(3, 1), Qt::BackgroundRole).isValid());
  const QFont total = model().data(model().index(5, 0), Qt::FontRole).value<QFont>();
  EXPECT_TRUE(total.italic());
  EXPECT_DOUBLE_EQ(total.pointSizeF(), 12);
  // General alignment: numbers to the right, text to the left; the title is centred.
  auto alignment = [&](int r, int c) {
    return model().data(model().index(r, c), Qt::TextAlignmentRole).value<Qt::Alignment>();
  };
  EXPECT_TRUE(alignment(2, 1) & Qt::AlignRight);
  EXPECT_TRUE(alignment(2, 0) & Qt::AlignLeft);
  EXPECT_TRUE(alignment(0, 0) & Qt::AlignHCenter);
}

TEST_F(BookWidgetTest, PaintsFillsAndBorders) {
  const QImage image = table().viewport()->grab().toImage();
  const QRect filled = table().visualRect(model().index(2, 1));  // B3, yellow
  const QRect boxed = table().visualRect(model().index(2, 2));   // C3, blue borders
  ASSERT_TRUE(image.rect().contains(boxed));
  EXPECT_EQ(image.pixelColor(filled.left() + 3, filled.center().y()), QColor(255, 255, 0));
  EXPECT_EQ(image.pixelColor(boxed.center().x(), boxed.bottom()), QColor(0, 0, 255));
  EXPECT_EQ(image.pixelColor(boxed.left(), boxed.center().y()), QColor(0, 0, 255));
  EXPECT_EQ(image.pixelColor(boxed.left() + 4, boxed.top() + 3), QColor(Qt::white));
}

TEST_F(BookWidgetTest, SheetTabsAndTheControlsSheetFollowEachOther) {
  widget_->tabBar()->setCurrentIndex(1);
  EXPECT_EQ(book_.Sheet(), 2);
  EXPECT_EQ(shown(5, 4), "last");
  EXPECT_EQ(table().columnSpan(0, 0), 1);

  book_.setSheet(1);
  QApplication::processEvents();
  EXPECT_EQ(widget_->tabBar()->currentIndex(), 0);
  EXPECT_EQ(shown(3, 2), "1234.5");
}

TEST_F(BookWidgetTest, ManyEntriesAreAppliedInOneRefresh) {
  QSignalSpy changed(&model(), &QAbstractItemModel::dataChanged);
  QSignalSpy inserted(&model(), &QAbstractItemModel::rowsInserted);
  QSignalSpy reset(&model(), &QAbstractItemModel::modelReset);
  for (int row = 1; row <= 3000; ++row) {
    book_.EntryRC(row, 2, std::to_string(row));
  }
  QApplication::processEvents();
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(reset.count(), 0);
  EXPECT_GE(model().rowCount(), 3000);
  EXPECT_EQ(shown(3000, 2), "3000");
  EXPECT_EQ(shown(3, 2), "3");
}

TEST_F(BookWidgetTest, ShowActiveCellScrollsTheCellIntoView) {
  EXPECT_FALSE(model().index(499, 39).isValid());  // beyond the grid until it becomes active
  book_.setRow(500);
  book_.setCol(40);
  book_.showActiveCell();
  const QModelIndex index = model().index(499, 39);
  ASSERT_TRUE(index.isValid());
  EXPECT_EQ(table().currentIndex(), index);
  EXPECT_TRUE(table().viewport()->rect().intersects(table().visualRect(index)));

  book_.setRow(1);
  book_.setCol(1);
  book_.showActiveCell();
  EXPECT_TRUE(table().viewport()->rect().intersects(table().visualRect(model().index(0, 0))));
  EXPECT_FALSE(table().viewport()->rect().intersects(table().visualRect(index)));
}

TEST_F(BookWidgetTest, TakeFocusGivesTheGridTheInputFocus) {
  QLineEdit other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  widget_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(widget_.get()));
  widget_->tabBar()->setFocus();
  book_.takeFocus();
  EXPECT_TRUE(table().hasFocus());
}

TEST_F(BookWidgetTest, TheOperatorsCursorMovesTheActiveCell) {
  table().setCurrentIndex(model().index(4, 5));
  EXPECT_EQ(book_.Row(), 5);
  EXPECT_EQ(book_.Col(), 6);
}

TEST_F(BookWidgetTest, RefusedEditsLeaveTheCellUnchanged) {
  int calls = 0;
  std::string editText;
  book_.setOnStartEdit([&](F1Book&, const std::string& text, std::int16_t& cancel) {
    ++calls;
    editText = text;
    cancel = 1;
  });
  const QModelIndex index = model().index(2, 1);
  table().setCurrentIndex(index);
  table().setFocus();
  QTest::keyClicks(&table(), "99");  // typing over the cell
  QTest::keyClick(&table(), Qt::Key_F2);
  table().edit(index);
  QApplication::processEvents();
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(editText, "1234.5");
  EXPECT_EQ(table().viewport()->findChild<QLineEdit*>(), nullptr);  // no editor opened
  EXPECT_EQ(book_.text(3, 2), "1234.5");
  EXPECT_EQ(shown(3, 2), "1234.5");
}

TEST_F(BookWidgetTest, AllowedEditsGoThroughTheControl) {
  int calls = 0;
  book_.setOnStartEdit([&](F1Book&, const std::string&, std::int16_t&) { ++calls; });
  const QModelIndex index = model().index(3, 1);
  table().setCurrentIndex(index);
  table().setFocus();
  QTest::keyClick(&table(), Qt::Key_F2);
  auto* editor = table().viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setText(QString::fromUtf8("新值"));
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(book_.text(4, 2), "新值");
  EXPECT_EQ(shown(4, 2), QString::fromUtf8("新值"));
}

TEST_F(BookWidgetTest, ReadingAnotherWorkbookRebuildsTabsAndGrid) {
  testing::writeSampleXlsXml(dir_ / "other.xml");
  book_.setSheet(2);
  book_.read(dir_ / "other.xml");
  QApplication::processEvents();
  ASSERT_EQ(widget_->tabBar()->count(), 2);
  EXPECT_EQ(widget_->tabBar()->tabText(0), QString::fromUtf8("名单"));
  EXPECT_EQ(widget_->tabBar()->currentIndex(), 0);
  EXPECT_EQ(shown(2, 2), "12.5");
  EXPECT_EQ(table().columnSpan(0, 0), 3);
}

TEST_F(BookWidgetTest, AControlDestroyedFirstLeavesAnEmptyGrid) {
  auto book = std::make_unique<F1Book>();
  book->EntryRC(1, 1, "x");
  BookWidget widget(*book);
  widget.show();
  QApplication::processEvents();
  EXPECT_EQ(widget.tableModel()->data(widget.tableModel()->index(0, 0)).toString(), "x");
  book.reset();
  QApplication::processEvents();
  EXPECT_EQ(widget.book(), nullptr);
  EXPECT_EQ(widget.tableModel()->rowCount(), 0);
  EXPECT_EQ(widget.tabBar()->count(), 0);
  widget.repaint();
}

}  // namespace
}  // namespace dupsweep::sheet
