// Exporting the result of a comparison run from the context menu of cmbUnits and lsbDifference,
// through the real dialog on a real SQLite database, into a real workbook read back with the
// project's own reader: every compared pair with its identical sheets, pairs without any too.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QMenu>

#include "dialog/run_harness.h"
#include "platform/spreadsheet/reader.h"
#include "support/temp_dir.h"
#include "ui/dupsweep/discoveryreport.h"
#include "ui/dupsweep/runreport.h"

namespace dupsweep {
namespace {

using testing::RunHarness;
using testing::testsEnded;
using Texts = std::vector<std::string>;

const char* const kTitles =
    "单位组|单位1|单位1代码|单位2|单位2代码|期间|期间代码|相同的表代码|相同的表";

// What the context menu offered when it came up.
struct SeenMenu {
  Texts actions;  // texts of its actions, with "(disabled)" after a disabled one
  bool shown = false;
};

// Once the next popup menu is up, records it and chooses its first action (with the keyboard, as
// the operator does), or closes it when that action is disabled.
void whenMenu(SeenMenu& seen, int test = testsEnded()) {
  QTimer::singleShot(0, [&seen, test] {
    if (test != testsEnded()) return;
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return whenMenu(seen, test);
    seen.shown = true;
    for (QAction* action : menu->actions())
      seen.actions.push_back(action->text().toStdString() +
                             (action->isEnabled() ? "" : "(disabled)"));
    QAction* first = menu->actions().value(0);
    if (first && first->isEnabled()) {
      menu->setActiveAction(first);
      QTest::keyClick(menu, Qt::Key_Return);
    } else {
      menu->close();
    }
  });
}

class ExportTest : public RunHarness {
 protected:
  void SetUp() override {
    RunHarness::SetUp();
    previous_ = TfrmDupsweep::setExportFileChooser([this](QWidget*, const std::string& suggested) {
      suggestions.push_back(suggested);
      return chosenFile;
    });
  }
  void TearDown() override { TfrmDupsweep::setExportFileChooser(std::move(previous_)); }

  // Opens the context menu of `widget` (for a list box: of its viewport) with the mouse and lets
  // whenMenu act on it.
  SeenMenu contextMenu(QWidget* widget) {
    SeenMenu seen;
    whenMenu(seen);
    QWidget* target = widget;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) target = area->viewport();
    const QPoint pos(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &event);
    return seen;
  }

  // The cells of the exported workbook's first sheet, one "a|b|..." line per row.
  Texts exported() const {
    const sheet::Workbook book = sheet::readWorkbook(chosenFile);
    EXPECT_EQ(book.sheetCount(), 1);
    const sheet::Worksheet& sheet = book.sheet(1);
    EXPECT_EQ(sheet.name(), "比对结果");
    Texts rows;
    for (int r = 1; r <= sheet.lastRow(); ++r) {
      std::string line;
      for (int c = 1; c <= 9; ++c) line += (c > 1 ? "|" : "") + std::string(sheet.text(r, c));
      rows.push_back(line);
    }
    return rows;
  }

  ui::ScopedScriptedMessages messages;
  std::string chosenFile = (db.dir() / "结果.xlsx").string();
  Texts suggestions;

 private:
  TfrmDupsweep::ExportFileChooser previous_;
};

TEST_F(ExportTest, BeforeAnyRunTheEntryIsDisabledAndNothingIsAsked) {
  run([&] {
    for (QWidget* widget :
         {static_cast<QWidget*>(list("lsbDifference")), static_cast<QWidget*>(combo("cmbUnits"))}) {
      const SeenMenu seen = contextMenu(widget);
      EXPECT_TRUE(seen.shown);
      EXPECT_EQ(seen.actions, (Texts{"导出比对结果…(disabled)", "恢复已删除的数据…"}));
    }
    // A run without a template compares nothing: still nothing to export.
    addPairOf("J1", "Y1");
    pickPeriod("模板缺失(年报)");
    press("cmdCompare");
    EXPECT_EQ(contextMenu(list("lsbDifference")).actions, (Texts{"导出比对结果…(disabled)", "恢复已删除的数据…"}));
  });
  EXPECT_TRUE(suggestions.empty());
  EXPECT_FALSE(std::filesystem::exists(chosenFile));
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(ExportTest, WritesEveryComparedPairWithItsIdenticalSheetsAndPairsWithoutAny) {
  std::string period;
  run([&] {
    addPairOf("J1", "Y1");  // B01, B03
    addPairOf("W1", "G1");  // none
    addPairOf("B1", "D1");  // B01, B02, B03
    press("cmdCompare");
    period = combo("cmbPeriod")->currentText().toStdString();
    // Choosing another period afterwards does not change what the run compared.
    pickPeriod("空期间(年报)");
    EXPECT_EQ(contextMenu(list("lsbDifference")).actions, (Texts{"导出比对结果…", "恢复已删除的数据…"}));
  });
  ASSERT_EQ(suggestions.size(), 1u);
  EXPECT_NE(suggestions[0].find("2024N"), std::string::npos) << suggestions[0];
  const std::string p = "|" + period + "|2024N|";
  EXPECT_EQ(
      exported(),
      (Texts{kTitles, "甲=>乙|甲|J1|乙|Y1" + p + "B01|资产负债表",
             "甲=>乙|甲|J1|乙|Y1" + p + "B03|现金流量表", "戊=>己|戊|W1|己|G1" + p + "|",
             "丙=>丁|丙|B1|丁|D1" + p + "B01|资产负债表", "丙=>丁|丙|B1|丁|D1" + p + "B02|利润表",
             "丙=>丁|丙|B1|丁|D1" + p + "B03|现金流量表"}));
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0], (ui::Message{"比对结果已经导出到：" + chosenFile, "系统提示", 64}));
}

TEST_F(ExportTest, FromCmbUnitsAPairComparedTwiceIsWrittenOnceAndCancellingWritesNothing) {
  run([&] {
    addPairOf("J1", "Y1");
    addPairOf("J1", "Y1");
    press("cmdCompare");
    const std::string wanted = chosenFile;
    chosenFile.clear();  // the operator cancels the file dialog
    contextMenu(combo("cmbUnits"));
    EXPECT_TRUE(messages->shown.empty());
    chosenFile = wanted;
    contextMenu(combo("cmbUnits"));
  });
  EXPECT_EQ(suggestions.size(), 2u);
  const Texts rows = exported();
  ASSERT_EQ(rows.size(), 3u);  // the titles and the pair's two sheets, once each
  EXPECT_EQ(rows[1].substr(0, rows[1].find('|')), "甲=>乙");
  EXPECT_EQ(rows[2].substr(rows[2].rfind('|') + 1), "现金流量表");
}

TEST_F(ExportTest, AFileThatCannotBeWrittenIsShownAndLeavesNoFile) {
  chosenFile = (db.dir() / "无此目录" / "结果.xlsx").string();
  run([&] {
    addPairOf("J1", "Y1");
    press("cmdCompare");
    contextMenu(list("lsbDifference"));
    // The dialog stays usable: the lists are as the run left them.
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));
  });
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text,
            "Unable to write to " + chosenFile + ": No such file or directory.");
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK | ui::MB_ICONSTOP);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(chosenFile).parent_path()));
}

TEST(DiscoveryExport, AGroupListsEachOfItsUnitsOnARowOfItsOwn) {
  // A common group far larger than one cell could list.
  DiscoveryResult result;
  TSampleData sheet;
  sheet.sSampleCode = "B01";
  sheet.sSampleName = "资产负债表";
  result.sheets.push_back(sheet);
  DiscoveredGroup group{0, {}, true};
  for (int i = 0; i < 4998; ++i) group.unitCodes.push_back(std::to_string(100000 + i));
  result.groups.push_back(group);
  testing::TempDir dir;
  const std::string file = (dir / "groups.xlsx").string();
  writeDiscoveryWorkbook(file, result);

  const sheet::Workbook book = sheet::readWorkbook(file);
  ASSERT_EQ(book.sheetCount(), 2);
  const sheet::Worksheet& groups = book.sheet(2);
  EXPECT_EQ(groups.lastRow(), 4999);
  for (int row : {2, 4999}) {
    std::string line;
    for (int c = 1; c <= 5; ++c) line += (c > 1 ? "|" : "") + std::string(groups.text(row, c));
    EXPECT_EQ(line, "B01|资产负债表|4998|是|" + std::to_string(100000 + row - 2));
  }
}

}  // namespace
}  // namespace dupsweep
