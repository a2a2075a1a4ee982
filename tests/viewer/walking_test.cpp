// Walking the differences: the grids scrolling together, stepping through the list across sheets,
// the position in the status bar, the counts in the sheet tabs and the tooltips of cut texts.

#include <QHelpEvent>
#include <QLabel>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>

#include "platform/spreadsheet/bookwidget.h"
#include "ui/showdifference/navigation.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep::testing {
namespace {

using viewer::DifferenceLine;
using viewer::DifferenceNavigator;
using viewer::StepEnd;

// ---- the stepping and counting, without widgets ----

DifferenceNavigator navigatorOf(std::initializer_list<int> sheets) {
  DifferenceNavigator navigator;
  for (int sheet : sheets) {
    DifferenceLine line;
    line.sheet = sheet;
    navigator.add(line);
  }
  return navigator;
}

TEST(Navigator, StepsMoveOneLineAndStopAtEitherEndWithTheReason) {
  const DifferenceNavigator navigator = navigatorOf({1, 1, 3});
  EXPECT_EQ(navigator.next(std::nullopt).line, 0u);
  EXPECT_EQ(navigator.previous(std::nullopt).line, 2u);
  EXPECT_EQ(navigator.next(1).line, 2u);
  EXPECT_EQ(navigator.previous(1).line, 0u);
  EXPECT_FALSE(navigator.next(2).line);
  EXPECT_EQ(navigator.next(2).end, StepEnd::last);
  EXPECT_FALSE(navigator.previous(0).line);
  EXPECT_EQ(navigator.previous(0).end, StepEnd::first);
  // A position the list does not hold counts as none selected.
  EXPECT_EQ(navigator.next(7).line, 0u);

  const DifferenceNavigator empty;
  EXPECT_EQ(empty.next(std::nullopt).end, StepEnd::empty);
  EXPECT_EQ(empty.previous(0).end, StepEnd::empty);
}

TEST(Navigator, PositionTextCountsOverTheWholeListAndCountsGoBySheet) {
  const DifferenceNavigator navigator = navigatorOf({1, 1, 3, 5});
  EXPECT_EQ(navigator.positionText(2), "第 3 处，共 4 处");
  EXPECT_EQ(navigator.positionText(3, StepEnd::last), "第 4 处，共 4 处，已是最后一处");
  EXPECT_EQ(navigator.positionText(0, StepEnd::first), "第 1 处，共 4 处，已是第一处");
  EXPECT_EQ(navigator.positionText(std::nullopt), "");
  EXPECT_EQ(DifferenceNavigator().positionText(std::nullopt), "");
  EXPECT_EQ(DifferenceNavigator().positionText(std::nullopt, StepEnd::empty), "没有差异");
  // Sheet 5 lies beyond the workbook's four sheets and is not counted.
  EXPECT_EQ(navigator.countsBySheet(4), (std::vector<int>{2, 0, 1, 0}));
  EXPECT_TRUE(navigator.countsBySheet(0).empty());
}

// ---- the viewer ----

class Walking : public ViewerTest {
 protected:
  void SetUp() override {
    loadTemplate({
        {"甲表", {{1, 1, "甲表"}, {2, 1, "项目"}, {3, 1, "现金"}}},
        {"乙表", {{1, 1, "乙表"}}},
        {"丙表", {{1, 1, "丙表"}, {2, 2, "金额"}}},
    });
  }

  // Differences: two on sheet 1, one far away on sheet 3 (row 200, column 40).
  void plantDifferences() {
    left().EntryRC(2, 2, "100");
    right().EntryRC(2, 2, "101");
    left().EntryRC(3, 3, "x");
    right().setSheet(3);
    left().setSheet(3);
    left().EntryRC(200, 40, "远处");
    right().EntryRC(200, 40, "远方");
    form_->SetSheet(0);
    form_->FindAllDifferences();
    ASSERT_EQ(list().topLevelItemCount(), 3);
  }

  void showActive() {
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    QApplication::processEvents();
  }

  QTreeWidget& list() { return *form_->lsvDifferenace(); }
  QTableView& table(viewer::Side side) { return *form_->grid(side)->tableView(); }
  QString status() { return form_->statusPanel()->text(); }
  int selectedRow() {
    const auto selected = list().selectedItems();
    return selected.isEmpty() ? -1 : list().indexOfTopLevelItem(selected.first());
  }
  std::string tabs(viewer::Side side) {
    QTabBar* bar = form_->grid(side)->tabBar();
    QStringList texts;
    for (int i = 0; i < bar->count(); ++i) texts << bar->tabText(i);
    return texts.join(QLatin1Char('|')).toStdString();
  }

  // Both grids on `sheet` with (row, col) current and in view.
  void expectShownInBoth(int sheet, int row, int col) {
    for (auto side : {viewer::kLeft, viewer::kRight}) {
      sheet::F1Book& book = side == viewer::kLeft ? left() : right();
      EXPECT_EQ(book.Sheet(), sheet) << "side " << side;
      EXPECT_EQ(form_->grid(side)->tabBar()->currentIndex(), sheet - 1);
      QTableView& view = table(side);
      const QModelIndex index = view.model()->index(row - 1, col - 1);
      EXPECT_EQ(view.currentIndex(), index) << "side " << side;
      EXPECT_TRUE(view.viewport()->rect().contains(view.visualRect(index).center()))
          << "side " << side << ": the cell is in view";
    }
    EXPECT_EQ(table(viewer::kLeft).rowAt(0), table(viewer::kRight).rowAt(0));
    EXPECT_EQ(table(viewer::kLeft).columnAt(0), table(viewer::kRight).columnAt(0));
  }
};

TEST_F(Walking, TheGridsScrollTogetherBothWaysUntilTheSwitchIsTurnedOff) {
  // Only the left grid reaches row 300 and column 60; the right one still scrolls as far.
  left().EntryRC(300, 60, "末");
  showActive();
  QToolButton* sync = form_->syncScrollButton();
  ASSERT_TRUE(sync->isCheckable());
  ASSERT_TRUE(sync->isChecked());
  EXPECT_EQ(sync->text(), QString::fromUtf8("同步滚动"));
  EXPECT_EQ(table(viewer::kRight).model()->rowCount(), table(viewer::kLeft).model()->rowCount());

  QScrollBar* leftV = table(viewer::kLeft).verticalScrollBar();
  QScrollBar* rightV = table(viewer::kRight).verticalScrollBar();
  QScrollBar* leftH = table(viewer::kLeft).horizontalScrollBar();
  QScrollBar* rightH = table(viewer::kRight).horizontalScrollBar();
  leftV->setValue(150);
  EXPECT_EQ(rightV->value(), 150);
  EXPECT_EQ(table(viewer::kRight).rowAt(0), table(viewer::kLeft).rowAt(0));
  rightV->setValue(70);
  EXPECT_EQ(leftV->value(), 70);
  rightH->setValue(12);
  EXPECT_EQ(leftH->value(), 12);
  leftH->setValue(20);
  EXPECT_EQ(rightH->value(), 20);
  EXPECT_EQ(table(viewer::kRight).columnAt(0), table(viewer::kLeft).columnAt(0));

  // A sheet chosen by its tab in one grid is shown in the other.
  QTest::mouseClick(form_->grid(viewer::kRight)->tabBar(), Qt::LeftButton, {},
                    form_->grid(viewer::kRight)->tabBar()->tabRect(2).center());
  EXPECT_EQ(right().Sheet(), 3);
  EXPECT_EQ(left().Sheet(), 3);
  form_->SetSheet(0);
  QApplication::processEvents();
  leftV->setValue(70);
  leftH->setValue(20);
  ASSERT_EQ(rightV->value(), 70);

  sync->click();
  ASSERT_FALSE(sync->isChecked());
  leftV->setValue(90);
  EXPECT_EQ(rightV->value(), 70);
  rightH->setValue(3);
  EXPECT_EQ(leftH->value(), 20);
  form_->grid(viewer::kLeft)->tabBar()->setCurrentIndex(1);
  EXPECT_EQ(left().Sheet(), 2);
  EXPECT_EQ(right().Sheet(), 1);

  // On again: the right grid joins the left one.
  sync->click();
  EXPECT_EQ(right().Sheet(), 2);
  EXPECT_EQ(rightV->value(), leftV->value());
}

TEST_F(Walking, NextAndPreviousWalkTheWholeListAcrossSheetsAndStopAtEitherEnd) {
  plantDifferences();
  showActive();
  QToolButton* next = form_->findChild<QToolButton*>("btnNextDifference");
  QToolButton* previous = form_->findChild<QToolButton*>("btnPrevDifference");
  ASSERT_TRUE(next && previous);
  EXPECT_EQ(next->text(), QString::fromUtf8("下一处"));
  EXPECT_EQ(previous->text(), QString::fromUtf8("上一处"));

  // Nothing selected: F3 starts at the first line.
  QTest::keyClick(form_.get(), Qt::Key_F3);
  EXPECT_EQ(selectedRow(), 0);
  expectShownInBoth(1, 2, 2);
  EXPECT_EQ(status(), QString::fromUtf8("第 1 处，共 3 处"));
  next->click();
  EXPECT_EQ(selectedRow(), 1);
  expectShownInBoth(1, 3, 3);
  // Into the next sheet, with the far cell scrolled into view in both grids.
  QTest::keyClick(form_.get(), Qt::Key_F3);
  EXPECT_EQ(selectedRow(), 2);
  expectShownInBoth(3, 200, 40);
  EXPECT_EQ(QApplication::focusWidget(), &table(viewer::kLeft));
  EXPECT_EQ(status(), QString::fromUtf8("第 3 处，共 3 处"));

  // The last line: the selection stays and the status bar says so.
  QTest::keyClick(form_.get(), Qt::Key_F3);
  EXPECT_EQ(selectedRow(), 2);
  EXPECT_EQ(left().Sheet(), 3);
  EXPECT_EQ(status(), QString::fromUtf8("第 3 处，共 3 处，已是最后一处"));

  QTest::keyClick(form_.get(), Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(selectedRow(), 1);
  expectShownInBoth(1, 3, 3);
  previous->click();
  EXPECT_EQ(selectedRow(), 0);
  previous->click();
  EXPECT_EQ(selectedRow(), 0);
  EXPECT_EQ(status(), QString::fromUtf8("第 1 处，共 3 处，已是第一处"));
  expectShownInBoth(1, 2, 2);

  // A click on a line, then a step from there.
  QTreeWidgetItem* item = list().topLevelItem(2);
  QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, list().visualItemRect(item).center());
  EXPECT_EQ(status(), QString::fromUtf8("第 3 处，共 3 处"));
  EXPECT_EQ(item->text(0), "1");  // the list's own numbering restarts on sheet 3
  previous->click();
  EXPECT_EQ(selectedRow(), 1);

  // An empty list: the step says there is nothing to step to.
  form_->ClearDifferences();
  EXPECT_TRUE(status().isEmpty());
  next->click();
  EXPECT_EQ(status(), QString::fromUtf8("没有差异"));
}

TEST_F(Walking, TabsCountTheirSheetsDifferencesAndFollowTheList) {
  plantDifferences();
  showActive();
  for (auto side : {viewer::kLeft, viewer::kRight}) EXPECT_EQ(tabs(side), "甲表 (2)|乙表|丙表 (1)");
  // Only the tabs: the sheets and the list keep the plain names.
  EXPECT_EQ(left().sheetName(1), "甲表");
  EXPECT_EQ(list().topLevelItem(0)->text(1), QString::fromUtf8("甲表"));

  // "显示不同" lists sheet 1 only.
  form_->findChild<QToolButton*>("ToolButton3")->click();
  EXPECT_EQ(tabs(viewer::kLeft), "甲表 (2)|乙表|丙表");
  EXPECT_EQ(form_->navigator().size(), 2u);

  // The dialog empties the list while it fills the grids: the counts go with it.
  form_->ClearDifferences();
  EXPECT_EQ(tabs(viewer::kRight), "甲表|乙表|丙表");

  // A new template keeps the counts of the list on its tabs.
  form_->FindAllDifferences();
  loadTemplate({{"一", {}}, {"二", {}}, {"三", {}}}, "other.xlsx");
  showActive();
  EXPECT_EQ(tabs(viewer::kLeft), "一 (2)|二|三 (1)");
}

TEST_F(Walking, ACellWhoseTextIsCutShortShowsItWholeAsTooltip) {
  // Columns are 64 pixels wide: a long number does not fit, a short one does.
  left().EntryRC(4, 2, "830.123456789012345");
  left().EntryRC(4, 3, "12");
  left().EntryRC(6, 2, "第一行\n第二行\n第三行");
  form_->FindAllDifferences();
  showActive();
  QTableView& view = table(viewer::kLeft);
  view.scrollToTop();
  const auto tipAt = [&view](int row, int col) {
    const QRect rect = view.visualRect(view.model()->index(row - 1, col - 1));
    QHelpEvent event(QEvent::ToolTip, rect.center(), view.viewport()->mapToGlobal(rect.center()));
    QApplication::sendEvent(view.viewport(), &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  };
  // The texts that fit first: no tooltip has been shown yet.
  EXPECT_EQ(tipAt(4, 3), QString());
  EXPECT_EQ(tipAt(1, 1), QString());
  EXPECT_EQ(tipAt(9, 9), QString());  // an empty cell
  EXPECT_EQ(tipAt(4, 2), QString::fromUtf8("830.123456789012345"));
  // Three lines in a row of one line's height.
  EXPECT_EQ(tipAt(6, 2), QString::fromUtf8("第一行\n第二行\n第三行"));

  // The list's value columns carry their whole texts.
  const QTreeWidgetItem* line = list().topLevelItem(0);
  EXPECT_EQ(line->toolTip(4), line->text(4));
  EXPECT_EQ(line->toolTip(5), line->text(5));
  EXPECT_FALSE(line->text(4).isEmpty());
}

}  // namespace
}  // namespace dupsweep::testing
