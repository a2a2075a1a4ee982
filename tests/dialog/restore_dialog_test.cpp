// Deleting through the dialog and restoring through its context menu and TfrmRestore, on a real
// SQLite database with the real journal: the tables hold exactly the rows and types they held
// before; a journal that cannot be written deletes nothing and says why, and a restore that
// would conflict is refused with its reason and changes nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QContextMenuEvent>
#include <QMenu>
#include <QTreeWidget>

#include "dialog/run_harness.h"
#include "support/table_dump.h"
#include "support/temp_dir.h"
#include "ui/dupsweep/frmrestore.h"

namespace dupsweep {
namespace {

using testing::RunHarness;
using testing::testsEnded;
using testing::whenModal;
using Texts = std::vector<std::string>;

const ui::Message kDeleted{"重复记录已经删除", "系统提示", ui::MB_OK | ui::MB_ICONINFORMATION};

// Once the next popup menu is up, chooses its action `text` with the keyboard.
void chooseFromMenu(const QString& text, int test = testsEnded()) {
  QTimer::singleShot(0, [text, test] {
    if (test != testsEnded()) return;
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return chooseFromMenu(text, test);
    for (QAction* action : menu->actions()) {
      if (action->text() != text) continue;
      menu->setActiveAction(action);
      QTest::keyClick(menu, Qt::Key_Return);
      return;
    }
    ADD_FAILURE() << "no menu entry " << text.toStdString();
    menu->close();
  });
}

class RestoreDialogTest : public RunHarness {
 protected:
  void SetUp() override {
    RunHarness::SetUp();
    const char* previous = std::getenv("DUPSWEEP_JOURNAL");
    previous_ = previous ? std::optional<std::string>(previous) : std::nullopt;
    setenv("DUPSWEEP_JOURNAL", journalFile.c_str(), 1);
  }
  void TearDown() override {
    if (previous_)
      setenv("DUPSWEEP_JOURNAL", previous_->c_str(), 1);
    else
      unsetenv("DUPSWEEP_JOURNAL");
  }

  std::vector<std::string> dump() {
    std::vector<std::string> tables{"Status"};
    for (const auto& [code, units] : testing::runVariants())
      for (const char* stem : {"DataNum", "DataBalance"})
        tables.push_back(stem + std::string("T01_") + code + "_1");
    return testing::dumpTables(db.path(), tables);
  }
  void deleteSheet(int row, int answer) {
    clickSheet(row);
    messages->answers.push_back(answer);
    press("cmdDelRepetition");
  }
  // Chooses "恢复已删除的数据…" from the context menu of lsbDifference and lets `act` work in
  // the window it opens; `act` closes it. Without `act` no window is expected.
  void openRestoreWindow(const std::function<void(TfrmRestore*)>& act = {}) {
    if (act) whenModal<TfrmRestore>(act);
    chooseFromMenu(QStringLiteral("恢复已删除的数据…"));
    QWidget* target = list("lsbDifference")->viewport();
    const QPoint pos(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &event);
  }
  static Texts rowTexts(QTreeWidget* entries, int row) {
    Texts texts;
    for (int c = 1; c < entries->columnCount(); ++c)
      texts.push_back(entries->topLevelItem(row)->text(c).toStdString());
    return texts;
  }
  static void restoreRow(TfrmRestore* window, int row) {
    auto* entries = window->findChild<QTreeWidget*>("lsvDeletions");
    entries->setCurrentItem(entries->topLevelItem(row));
    QTest::mouseClick(window->findChild<QPushButton*>("btnRestore"), Qt::LeftButton);
  }

  testing::TempDir dir;
  std::filesystem::path journalFile = dir / "journal.db";
  std::optional<std::string> previous_;
  ui::ScopedScriptedMessages messages;
};

TEST_F(RestoreDialogTest, DeletingWithYesAndNoThenRestoringGivesBackEveryRowAndType) {
  const auto before = dump();
  run([&] {
    addPairOf("J1", "Y1");
    press("cmdCompare");
    ASSERT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));
    deleteSheet(0, ui::IDYES);  // 甲's 资产负债表
    deleteSheet(0, ui::IDNO);   // 乙's 现金流量表, the pair's last: its Status row too
    ASSERT_TRUE(listTexts("lsbDifference").empty());
    ASSERT_NE(dump(), before);

    openRestoreWindow([&](TfrmRestore* window) {
      auto* entries = window->findChild<QTreeWidget*>("lsvDeletions");
      auto* restore = window->findChild<QPushButton*>("btnRestore");
      ASSERT_EQ(entries->topLevelItemCount(), 2);
      // Newest first: pair, unit, sheet, rows, state.
      EXPECT_EQ(rowTexts(entries, 0), (Texts{"甲=>乙", "乙（Y1）", "现金流量表", "5", "已删除"}));
      EXPECT_EQ(rowTexts(entries, 1), (Texts{"甲=>乙", "甲（J1）", "资产负债表", "4", "已删除"}));
      restoreRow(window, 0);
      EXPECT_EQ(rowTexts(entries, 0)[4], "已恢复");
      EXPECT_FALSE(restore->isEnabled());  // a restored entry cannot be restored again
      restoreRow(window, 1);
      EXPECT_EQ(rowTexts(entries, 1)[4], "已恢复");
      QTest::mouseClick(window->findChild<QPushButton*>("btnClose"), Qt::LeftButton);
    });
  });
  EXPECT_EQ(dump(), before);
  const ui::Message restored5{"已经恢复 5 行数据", "系统提示", ui::MB_OK | ui::MB_ICONINFORMATION};
  const ui::Message restored4{"已经恢复 4 行数据", "系统提示", ui::MB_OK | ui::MB_ICONINFORMATION};
  ASSERT_EQ(messages->shown.size(), 6u);
  EXPECT_EQ(messages->shown[1], kDeleted);
  EXPECT_EQ(messages->shown[3], kDeleted);
  EXPECT_EQ(messages->shown[4], restored5);
  EXPECT_EQ(messages->shown[5], restored4);
}

TEST_F(RestoreDialogTest, AJournalThatCannotBeWrittenOrARestoreThatConflictsChangesNothing) {
  run([&] {
    addPairOf("J1", "Y1");
    press("cmdCompare");
    // A damaged journal: the deletion does not happen, and the operator hears why.
    std::ofstream(journalFile, std::ios::binary) << std::string(2048, '\x01');
    const auto before = dump();
    deleteSheet(0, ui::IDYES);
    EXPECT_EQ(dump(), before);
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));
    ASSERT_EQ(messages->shown.size(), 2u);
    EXPECT_EQ(messages->shown[1].style, ui::MB_OK | ui::MB_ICONSTOP);
    EXPECT_NE(messages->shown[1].text.find("数据没有删除"), std::string::npos)
        << messages->shown[1].text;
    // The restore window cannot list it either: one message, no window.
    openRestoreWindow();
    ASSERT_EQ(messages->shown.size(), 3u);
    EXPECT_NE(messages->shown[2].text.find("已损坏"), std::string::npos) << messages->shown[2].text;

    // With a working journal, a restore that finds the unit's rows back is refused.
    std::filesystem::remove(journalFile);
    deleteSheet(0, ui::IDYES);
    db.exec("INSERT INTO DataBalanceT01_B01_1 VALUES ('2024N','J1',9,'T01',1,NULL,NULL,0,0,'new')");
    const auto conflicting = dump();
    openRestoreWindow([&](TfrmRestore* window) {
      restoreRow(window, 0);
      EXPECT_EQ(rowTexts(window->findChild<QTreeWidget*>("lsvDeletions"), 0)[4], "已删除");
      window->reject();
    });
    EXPECT_EQ(dump(), conflicting);
  });
  ASSERT_EQ(messages->shown.size(), 6u);
  EXPECT_EQ(messages->shown[4], kDeleted);
  EXPECT_NE(messages->shown[5].text.find("已经有 1 行数据"), std::string::npos)
      << messages->shown[5].text;
}

}  // namespace
}  // namespace dupsweep
