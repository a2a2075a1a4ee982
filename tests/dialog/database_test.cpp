// The dialog over a real SQLite database: the period list and its choice, the top level of the
// unit tree, Execute run twice, and failures of the database on the way.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <tuple>

#include "data/dmdupsweep.h"
#include "dialog/qt_environment.h"
#include "support/scripted_messages.h"
#include "support/sqlite_file.h"
#include "ui/dupsweep/frmdupsweep.h"

namespace dupsweep {
namespace {

using dupsweep::testing::whenModal;

// What a test saw of the dialog while it was shown.
struct Seen {
  std::vector<std::string> periodTexts, periodIds;
  int currentPeriod = -2;
  std::string periodId;
  std::vector<std::string> nodeNames;
  std::vector<TUnitData> nodeUnits;
  bool allIndicated = true, allWithImage = true, anyChildren = false;
};

Seen look(TfrmDupsweep* dialog) {
  Seen seen;
  auto* periods = dialog->findChild<QComboBox*>("cmbPeriod");
  for (int i = 0; i < periods->count(); ++i) {
    seen.periodTexts.push_back(periods->itemText(i).toStdString());
    seen.periodIds.push_back(dialog->periodAt(i) ? dialog->periodAt(i)->sPeriodID : "<none>");
  }
  seen.currentPeriod = periods->currentIndex();
  seen.periodId = dialog->periodId();
  auto* tree = dialog->findChild<QTreeWidget*>("tvUnit");
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* node = tree->topLevelItem(i);
    seen.nodeNames.push_back(node->text(0).toStdString());
    if (const TUnitData* unit = TfrmDupsweep::unitOf(node)) seen.nodeUnits.push_back(*unit);
    seen.allIndicated &= node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
    seen.allWithImage &= !node->icon(0).isNull();
    seen.anyChildren |= node->childCount() > 0;
  }
  return seen;
}

// The fields of a unit record, for comparing records.
std::tuple<std::int32_t, std::string, std::int32_t, std::string> fields(const TUnitData& u) {
  return {u.nUnitID, u.sUnitCode, u.nLevel, u.sUnitName};
}

class DialogOnDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    // Units of classification 01 in an order that is neither by id, code nor name; a child
    // level; a unit of another classification.
    db.exec(R"(
      INSERT INTO Unit VALUES (7,'总公司'),(3,'华东分部'),(9,'北京分公司'),(5,'Alpha <Ltd>'),
                              (6,'其他分类');
      INSERT INTO UnitClsAndUnit VALUES ('01',7,0,NULL,'Z01'),('01',3,0,NULL,'A01'),
                                        ('01',9,1,'Z01','Z0101'),('01',5,0,NULL,'M01'),
                                        ('02',6,0,NULL,'Q01');
      INSERT INTO Period VALUES ('2024N','2024',0),('2024Q1Q','2024',0),('202403M','2024',0),
        ('2024X','2023',0),('2024W','2022',0),('20240301','2021',0),('TPLN','模板',-1),
        ('HIDEN','隐藏',-2),('NULLN',NULL,0);
    )");
    for (const char* id :
         {"2024N", "2024Q1Q", "202403M", "2024X", "2024W", "20240301", "TPLN", "HIDEN", "NULLN"})
      db.exec(std::string("INSERT INTO PeriodTable VALUES ('") + id +
              "','T01',1,'B01','资产负债表',1,1)");
  }

  // Runs Execute and looks at the dialog once it is shown; `act` may then work in it before it
  // is closed with cmdClose.
  Seen execute(const std::string& conn, const std::string& periodId, const std::string& task,
               std::function<void(TfrmDupsweep*)> act = {}) {
    Seen seen;
    whenModal<TfrmDupsweep>([&](TfrmDupsweep* dialog) {
      seen = look(dialog);
      shown = dialog;
      if (act) act(dialog);
      dialog->findChild<QPushButton*>("cmdClose")->click();
    });
    TfrmDupsweep::Execute(conn, "01", periodId, task, 1);
    return seen;
  }

  dupsweep::testing::SqliteFile db;
  QPointer<TfrmDupsweep> shown;
};

const std::vector<std::string> kPeriodTexts = {
    "", "2021(日报)", "2022(周报)", "2023(旬报)", "2024(季报)", "2024(年报)", "2024(月报)"};
const std::vector<std::string> kPeriodIds = {"NULLN",   "20240301", "2024W",  "2024X",
                                             "2024Q1Q", "2024N",    "202403M"};

TEST_F(DialogOnDatabase, ShowingTheDialogListsThePeriodsAndChoosesTheFirst) {
  ui::ScopedScriptedMessages messages;
  const Seen seen = execute(db.connectionString(), "GIVEN", "T01");
  // Template (-1) and hidden (-2) periods are left out; a NULL name gives an empty text; the
  // order is the composed name's (by bytes in SQLite: 季 < 年 < 月, the NULL name first).
  EXPECT_EQ(seen.periodTexts, kPeriodTexts);
  EXPECT_EQ(seen.periodIds, kPeriodIds);
  EXPECT_EQ(seen.currentPeriod, 0);
  EXPECT_EQ(seen.periodId, "NULLN");  // the given period id is replaced
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(DialogOnDatabase, PickingAnotherPeriodSetsThePeriodIdOnlyWhenTheOperatorPicksIt) {
  std::vector<std::string> ids;
  execute(db.connectionString(), "", "T01", [&ids](TfrmDupsweep* dialog) {
    auto* periods = dialog->findChild<QComboBox*>("cmbPeriod");
    periods->setCurrentIndex(3);  // not a pick by the operator: no click handler
    ids.push_back(dialog->periodId());
    periods->setFocus();
    QTest::keyClick(periods, Qt::Key_Down);  // the operator picks the next entry
    ids.push_back(dialog->periodId());
    QTest::keyClick(periods, Qt::Key_Home);
    ids.push_back(dialog->periodId());
  });
  EXPECT_EQ(ids, (std::vector<std::string>{"NULLN", "2024Q1Q", "NULLN"}));
}

TEST_F(DialogOnDatabase, ATaskWithoutPeriodsLeavesTheListEmptyAndTheGivenPeriodId) {
  const Seen seen = execute(db.connectionString(), "GIVEN", "NOSUCH");
  EXPECT_TRUE(seen.periodTexts.empty());
  EXPECT_EQ(seen.currentPeriod, -1);
  EXPECT_EQ(seen.periodId, "GIVEN");
}

TEST_F(DialogOnDatabase, TheTreeShowsTheTopLevelUnitsInTheStatementsOrderWithExpandButtons) {
  const Seen seen = execute(db.connectionString(), "", "T01");
  EXPECT_EQ(seen.nodeNames, (std::vector<std::string>{"总公司", "华东分部", "Alpha <Ltd>"}));
  ASSERT_EQ(seen.nodeUnits.size(), 3u);
  EXPECT_EQ(fields(seen.nodeUnits[0]), fields({7, "Z01", 0, "总公司"}));
  EXPECT_EQ(fields(seen.nodeUnits[1]), fields({3, "A01", 0, "华东分部"}));
  EXPECT_EQ(fields(seen.nodeUnits[2]), fields({5, "M01", 0, "Alpha <Ltd>"}));
  EXPECT_TRUE(seen.allIndicated);
  EXPECT_TRUE(seen.allWithImage);
  EXPECT_FALSE(seen.anyChildren);  // children are loaded when a node is opened
}

TEST_F(DialogOnDatabase, LoadUnitNodesAppendsTheLevelUnderAParent) {
  TfrmDupsweep dialog;
  dialog.dataModule()->SetConnection(db.connectionString());
  dialog.LoadUnitNodes(nullptr, "01", 0);
  auto* tree = dialog.findChild<QTreeWidget*>("tvUnit");
  ASSERT_EQ(tree->topLevelItemCount(), 3);
  QTreeWidgetItem* head = tree->topLevelItem(0);
  dialog.LoadUnitNodes(head, "01", 1);
  ASSERT_EQ(head->childCount(), 1);
  EXPECT_EQ(head->child(0)->text(0), "北京分公司");
  EXPECT_EQ(fields(*TfrmDupsweep::unitOf(head->child(0))), fields({9, "Z0101", 1, "北京分公司"}));
  EXPECT_EQ(tree->topLevelItemCount(), 3);
}

TEST_F(DialogOnDatabase, AnUnreachableDatabaseGivesAnEmptyTreeAndPeriodListAndOneMessage) {
  ui::ScopedScriptedMessages messages;
  const Seen seen =
      execute("Provider=SQLite;Data Source=" + (db.dir() / "missing.db").string(), "", "T01");
  EXPECT_TRUE(seen.nodeNames.empty());
  EXPECT_TRUE(seen.periodTexts.empty());
  EXPECT_EQ(seen.periodId, "");
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text.rfind("无法打开数据库", 0), 0u);
}

TEST_F(DialogOnDatabase, TwoExecutesInARowShowTwoIndependentDialogs) {
  const Seen first = execute(db.connectionString(), "", "T01", [](TfrmDupsweep* dialog) {
    auto* periods = dialog->findChild<QComboBox*>("cmbPeriod");
    periods->setFocus();
    QTest::keyClick(periods, Qt::Key_End);
  });
  EXPECT_TRUE(shown.isNull());  // destroyed when Execute returned
  const Seen second = execute(db.connectionString(), "", "T01");
  EXPECT_TRUE(shown.isNull());
  EXPECT_EQ(second.currentPeriod, 0);
  EXPECT_EQ(second.periodId, "NULLN");
  EXPECT_EQ(second.periodTexts, kPeriodTexts);
  EXPECT_EQ(second.nodeNames, first.nodeNames);  // the tree is not loaded twice into one dialog
}

TEST_F(DialogOnDatabase, AFailureWhileShowingIsShownAndTheDialogStaysUsable) {
  ui::ScopedScriptedMessages messages;
  // A connection that fails with something other than a std::exception, which the data module
  // does not turn into an empty result.
  TfrmDupsweep::Parts parts;
  parts.dataModule = [] {
    return std::make_unique<TdmDupsweep>(
        [](const std::string&) -> std::unique_ptr<db::Connection> { throw 7; });
  };
  TfrmDupsweep dialog(std::move(parts));
  bool visible = false;
  whenModal<TfrmDupsweep>([&](TfrmDupsweep* shownDialog) {
    visible = shownDialog->isVisible();
    shownDialog->findChild<QPushButton*>("cmdClose")->click();
  });
  EXPECT_EQ(dialog.showModal(), QDialog::Accepted);
  EXPECT_TRUE(visible);
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK | ui::MB_ICONSTOP);
}

}  // namespace
}  // namespace dupsweep
