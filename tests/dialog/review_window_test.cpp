// Reviewing in the window "查找重复数据单位" on the offscreen platform: a pair's row opens the
// difference viewer, a finding marked legitimate leaves the list until the checkbox shows it, and
// two copies checked with the side to delete go in one batch after one confirmation, the unit's
// Status row with the last sheet that counts.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTableWidget>

#include "cleanup/cleanup.h"
#include "dialog/run_harness.h"
#include "support/temp_dir.h"
#include "ui/dupsweep/frmfindduplicates.h"
#include "ui/showdifference/frmshowdifference.h"

namespace dupsweep {
namespace {

using testing::RunHarness;
using testing::testsEnded;

class ReviewWindowTest : public RunHarness {
 protected:
  void SetUp() override {
    RunHarness::SetUp();
    const char* was = getenv("DUPSWEEP_JOURNAL");
    previousJournal = was ? was : "";
    setenv("DUPSWEEP_JOURNAL", (journalDir / "journal.db").c_str(), 1);
  }
  void TearDown() override {
    setenv("DUPSWEEP_JOURNAL", previousJournal.c_str(), 1);
    RunHarness::TearDown();
  }
  // Opens the window from the tree's context menu, lets `act` work in it once its discovery has
  // ended, then closes it.
  void inWindow(std::function<void(TfrmFindDuplicates*)> act) {
    whenWindow(act);
    const QPoint pos(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(tree->viewport(), &event);
  }
  void whenWindow(std::function<void(TfrmFindDuplicates*)> act, int test = testsEnded()) {
    QTimer::singleShot(0, [this, act, test] {
      if (test != testsEnded()) return;
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        menu->setActiveAction(menu->actions().value(0));
        QTest::keyClick(menu, Qt::Key_Return);
        return whenWindow(act, test);
      }
      auto* window = qobject_cast<TfrmFindDuplicates*>(QApplication::activeModalWidget());
      if (!window || !window->searched()) return whenWindow(act, test);
      act(window);
      window->findChild<QPushButton*>("cmdClose")->click();
    });
  }
  static int shownRows(QTableWidget* table) {
    int shown = 0;
    for (int row = 0; row < table->rowCount(); ++row) shown += table->isRowHidden(row) ? 0 : 1;
    return shown;
  }
  static std::string text(QTableWidget* table, int row, int column) {
    return table->item(row, column)->text().toStdString();
  }

  testing::TempDir journalDir;
  std::string previousJournal;
  ui::ScopedScriptedMessages messages;
};

TEST_F(ReviewWindowTest, ShowsAPairMarksAFindingAndDeletesTwoCopiesInOneBatch) {
  std::string viewerCaption;
  run([&] {
    inWindow([&](TfrmFindDuplicates* window) {
      auto* table = window->findChild<QTableWidget*>("tblPairs");
      auto* findings = window->findChild<QTableWidget*>("tblFindings");
      ASSERT_TRUE(findings);
      testing::whenModal<TfrmShowDifference>([&](TfrmShowDifference* viewer) {
        viewerCaption = viewer->windowTitle().toStdString();
        viewer->reject();
      });
      emit table->cellDoubleClicked(0, 0);

      // Rows 0..2: the three identical sheets of B1 and D1, the best pair.
      ASSERT_EQ(text(findings, 0, 1) + text(findings, 0, 3), "B1D1");
      const int listed = shownRows(findings);
      findings->setCurrentCell(0, 0);
      QTest::mouseClick(window->findChild<QPushButton*>("cmdMarkLegitimate"), Qt::LeftButton);
      EXPECT_TRUE(findings->isRowHidden(0));
      EXPECT_EQ(shownRows(findings), listed - 1);
      window->findChild<QCheckBox*>("chkShowLegitimate")->setChecked(true);
      EXPECT_FALSE(findings->isRowHidden(0));
      EXPECT_EQ(text(findings, 0, 6), "合理重复（不再提示）");

      for (int row : {1, 2}) {
        findings->item(row, 0)->setCheckState(Qt::Checked);
        qobject_cast<QComboBox*>(findings->cellWidget(row, 7))->setCurrentIndex(2);  // D1's copy
      }
      messages->answers = {ui::IDYES, ui::IDOK};
      QTest::mouseClick(window->findChild<QPushButton*>("cmdDeleteChosen"), Qt::LeftButton);
      EXPECT_EQ(text(findings, 1, 6), "已删除");
      EXPECT_EQ(text(findings, 2, 6), "已删除");
    });
  });
  EXPECT_NE(viewerCaption.find("数据差异"), std::string::npos) << viewerCaption;
  ASSERT_EQ(messages->shown.size(), 2u);
  const std::string& question = messages->shown[0].text;
  EXPECT_NE(question.find("将删除以下 2 份重复数据"), std::string::npos) << question;
  EXPECT_NE(question.find("（D1） 利润表 "), std::string::npos) << question;
  EXPECT_NE(messages->shown[1].text.find("已删除 2 份重复数据"), std::string::npos)
      << messages->shown[1].text;
  // One batch; B01, marked legitimate, does not count: the Status row goes with the last of the
  // two.
  TdmDupsweep dm;
  dm.SetConnection(db.connectionString());
  const std::vector<journal::Entry> entries = Cleanup(dm).DeletionEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].batch, entries[1].batch);
  EXPECT_EQ(entries[0].tables.size(), 2u);
  EXPECT_EQ(entries[1].tables.size(), 3u);
}

}  // namespace
}  // namespace dupsweep
