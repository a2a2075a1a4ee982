// Finding repeated data over the whole classification from the dialog: the context menu of the
// tree and of the pair list opens TfrmFindDuplicates on the offscreen platform, which runs the
// discovery, lists the pairs, sorts them, adds the checked ones to the pair list as ">>" does and
// exports the result; without a chosen period the dialog's message comes instead.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>

#include "dialog/run_harness.h"
#include "platform/spreadsheet/reader.h"
#include "support/temp_dir.h"
#include "ui/dupsweep/frmfindduplicates.h"

namespace dupsweep {
namespace {

using testing::RunHarness;
using testing::testsEnded;
using Texts = std::vector<std::string>;

class FindDuplicatesTest : public RunHarness {
 protected:
  // Opens the context menu of `widget`'s viewport with the mouse and picks its first entry; the
  // texts of its entries land in `menuTexts`.
  void openFromMenu(QAbstractScrollArea* widget, int test = testsEnded()) {
    QTimer::singleShot(0, [this, test] {
      if (test != testsEnded()) return;
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return openFromMenu(nullptr, test);
      for (QAction* action : menu->actions()) menuTexts.push_back(action->text().toStdString());
      menu->setActiveAction(menu->actions().value(0));
      QTest::keyClick(menu, Qt::Key_Return);
    });
    if (!widget) return;
    const QPoint pos(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, widget->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(widget->viewport(), &event);
  }

  // Once the window is up and its discovery has ended, lets `act` work in it, then closes it.
  void inWindow(std::function<void(TfrmFindDuplicates*, QTableWidget*)> act,
                int test = testsEnded()) {
    QTimer::singleShot(0, [this, act, test] {
      if (test != testsEnded()) return;
      auto* window = qobject_cast<TfrmFindDuplicates*>(QApplication::activeModalWidget());
      // The discovery dispatches events between sheets: wait for it on the next turn.
      if (!window || !window->searched()) return inWindow(act, test);
      act(window, window->findChild<QTableWidget*>("tblPairs"));
      window->findChild<QPushButton*>("cmdClose")->click();
    });
  }

  static std::string cell(QTableWidget* table, int row, int column) {
    return table->item(row, column)->text().toStdString();
  }

  ui::ScopedScriptedMessages messages;
  Texts menuTexts;
};

TEST_F(FindDuplicatesTest, ListsThePairsAndAddsTheCheckedOnesAsTheAddButtonDoes) {
  run([&] {
    Texts rows;
    inWindow([&](TfrmFindDuplicates* window, QTableWidget* table) {
      ASSERT_TRUE(window->result());
      for (int row = 0; row < table->rowCount(); ++row)
        rows.push_back(cell(table, row, 1) + "/" + cell(table, row, 3) + " " +
                       cell(table, row, 4) + " " + cell(table, row, 5));
      // Sorted by 相同表数 (ascending) the pairs found on one sheet come first.
      table->sortItems(4, Qt::AscendingOrder);
      EXPECT_EQ(cell(table, 0, 4), "1");
      table->sortItems(4, Qt::DescendingOrder);
      // The two best pairs are checked and added in the order the table shows.
      table->item(0, 0)->setCheckState(Qt::Checked);
      table->item(1, 0)->setCheckState(Qt::Checked);
      QTest::mouseClick(window->findChild<QPushButton*>("cmdAddPairs"), Qt::LeftButton);
    });
    openFromMenu(tree);
    EXPECT_EQ(menuTexts, (Texts{"查找重复数据单位…"}));
    EXPECT_EQ(rows, (Texts{"B1/D1 3 资产负债表、利润表、现金流量表", "C2/K1 2 资产负债表、利润表",
                           "J1/Y1 2 资产负债表、现金流量表", "P3/P4 2 利润表、现金流量表",
                           "C1/C2 1 资产负债表", "C1/K1 1 资产负债表", "O'1/O2 1 资产负债表",
                           "P1/P2 1 资产负债表"}));
    // What ">>" would have listed: the GroupName, and cmdRemove and cmdCompare enabled.
    EXPECT_EQ(pairTexts(), (Texts{"丙=>丁", "ABC=>k"}));
    EXPECT_EQ(buttonStates(), "+++");
    // The operator goes on with 比对数据 as for pairs added by hand.
    press("cmdCompare");
    EXPECT_EQ(found(), (Texts{"丙=>丁|B1|D1|B01", "丙=>丁|B1|D1|B02", "丙=>丁|B1|D1|B03",
                              "ABC=>k|C2|K1|B01", "ABC=>k|C2|K1|B02"}));
  });
}

TEST_F(FindDuplicatesTest, ExportsPairsAndGroupsFromThePairListsMenu) {
  testing::TempDir dir;
  const std::string file = (dir / "重复.xlsx").string();
  auto previous = TfrmDupsweep::setExportFileChooser(
      [&](QWidget*, const std::string&) { return file; });
  run([&] {
    inWindow([&](TfrmFindDuplicates* window, QTableWidget*) {
      QTest::mouseClick(window->findChild<QPushButton*>("cmdExport"), Qt::LeftButton);
    });
    openFromMenu(pairs);
  });
  TfrmDupsweep::setExportFileChooser(std::move(previous));
  const sheet::Workbook book = sheet::readWorkbook(file);
  ASSERT_EQ(book.sheetCount(), 2);
  EXPECT_EQ(book.sheet(1).name(), "重复数据单位");
  EXPECT_EQ(book.sheet(1).lastRow(), 9);  // the titles and eight pairs
  EXPECT_EQ(std::string(book.sheet(1).text(2, 2)), "B1");
  EXPECT_EQ(book.sheet(2).name(), "相同的表");
  EXPECT_EQ(std::string(book.sheet(2).text(1, 5)), "单位代码");
  ASSERT_FALSE(messages->shown.empty());
  EXPECT_NE(messages->shown.back().text.find(file), std::string::npos);
}

TEST_F(FindDuplicatesTest, AgainstAnEarlierPeriodListsTheNewColumnsAndOffersNoDeletion) {
  // 2023N gets B01, with J1's rows of 2024N: J1 carried them forward, Y1 (identical to J1 in
  // 2024N) copied J1's earlier report.
  db.exec("INSERT INTO PeriodTable VALUES ('2023N','T01',1,'B01','资产负债表',2,0);"
          "DELETE FROM DataNumT01_B01_1 WHERE sPeriodID = '2023N' AND sUnitCode = 'J1';"
          "INSERT INTO DataNumT01_B01_1 SELECT '2023N', sUnitCode, nRow, sTaskCode, nLevel, cA, "
          "cB, cC, cD, cE FROM DataNumT01_B01_1 WHERE sPeriodID = '2024N' AND sUnitCode = 'J1';");
  run([&] {
    Texts headers, earlierRows;
    bool addEnabledOnEarlierRow = true, checkable = true;
    inWindow([&](TfrmFindDuplicates* window, QTableWidget* table) {
      auto* against = window->findChild<QComboBox*>("cboAgainst");
      EXPECT_EQ(against->currentIndex(), 0);  // none by default
      against->setCurrentIndex(against->findData(QString("2023N")));
      ASSERT_GT(against->currentIndex(), 0);
      QTest::mouseClick(window->findChild<QPushButton*>("cmdFind"), Qt::LeftButton);
      ASSERT_TRUE(window->result());
      for (int c = 0; c < table->columnCount(); ++c)
        headers.push_back(table->horizontalHeaderItem(c)->text().toStdString());
      for (int row = 0; row < table->rowCount(); ++row) {
        if (cell(table, row, 7).empty()) continue;
        earlierRows.push_back(cell(table, row, 0) + "|" + cell(table, row, 1) + "|" +
                              cell(table, row, 3) + "|" + cell(table, row, 5) + "|" +
                              cell(table, row, 7));
        checkable = checkable && (table->item(row, 0)->flags() & Qt::ItemIsUserCheckable);
        table->setCurrentCell(row, 0);
        addEnabledOnEarlierRow = window->findChild<QPushButton*>("cmdAddPairs")->isEnabled();
      }
    });
    openFromMenu(tree);
    EXPECT_EQ(headers, (Texts{"单位1", "单位1代码", "单位2", "单位2代码", "相同表数", "相同的表",
                              "近似的表", "上期相同的表", "按比例相同的表"}));
    ASSERT_EQ(earlierRows.size(), 2u);
    EXPECT_EQ(earlierRows[0], "甲 空期间(年报) → 2024(年报)|J1|J1||资产负债表");
    EXPECT_EQ(earlierRows[1], "乙 2024(年报)|Y1|J1||资产负债表");
    EXPECT_FALSE(checkable);
    EXPECT_FALSE(addEnabledOnEarlierRow);
  });
}

TEST_F(FindDuplicatesTest, EscapeWhileSearchingCancelsAndClosesTheWindowOnceStopped) {
  run([&] {
    bool escaped = false, shownAfterEscape = false, searchedWhenClosed = false;
    bool resultWhenClosed = true;
    std::string statusWhenClosed;
    const int test = testsEnded();
    std::function<void()> escapeWhileSearching = [&] {
      if (test != testsEnded()) return;
      auto* window = qobject_cast<TfrmFindDuplicates*>(QApplication::activeModalWidget());
      auto* cancel = window ? window->findChild<QPushButton*>("cmdCancel") : nullptr;
      if (!cancel || !cancel->isEnabled()) return QTimer::singleShot(0, escapeWhileSearching);
      QObject::connect(window, &QDialog::finished, window, [&, window] {
        searchedWhenClosed = window->searched();
        resultWhenClosed = window->result().has_value();
        statusWhenClosed = window->findChild<QLabel*>("lblStatus")->text().toStdString();
      });
      QTest::keyClick(window, Qt::Key_Escape);
      escaped = true;
      shownAfterEscape = window->isVisible();  // never a hidden window that goes on searching
    };
    QTimer::singleShot(0, escapeWhileSearching);
    openFromMenu(tree);
    ASSERT_TRUE(escaped);
    EXPECT_TRUE(shownAfterEscape);
    EXPECT_TRUE(searchedWhenClosed);
    EXPECT_FALSE(resultWhenClosed);
    EXPECT_EQ(statusWhenClosed, "查找已取消");
    EXPECT_EQ(QApplication::activeModalWidget(), dialog);  // and no window is left behind
  });
}

TEST_F(FindDuplicatesTest, AClassificationWithoutUnitsIsSaidNotSearched) {
  db.exec("DELETE FROM UnitClsAndUnit");
  run([&] {
    inWindow([](TfrmFindDuplicates* window, QTableWidget*) { EXPECT_FALSE(window->result()); });
    openFromMenu(tree);
    ASSERT_EQ(messages->shown.size(), 1u);
    EXPECT_EQ(messages->shown[0].text, "单位分类“01”中没有单位，无法查找重复数据");
  });
}

TEST_F(FindDuplicatesTest, WithoutAChosenPeriodTheDialogsMessageComesAndNoWindow) {
  db.exec("DELETE FROM PeriodTable");
  run([&] {
    openFromMenu(tree);
    ASSERT_EQ(messages->shown.size(), 1u);
    EXPECT_EQ(messages->shown[0].text, "没有选择期间，请选择以后再执行操作");
    EXPECT_EQ(messages->shown[0].caption, "系统提示");
    EXPECT_TRUE(pairTexts().empty());
  });
}

}  // namespace
}  // namespace dupsweep
