// The dialog given input that would lose or misdirect data: a unit paired with itself, scheme
// files whose names or codes no longer match the database, a damaged database file and a
// database that cannot be opened at all. Each case ends with a clear message, and the database
// holds what it held unless the operator deleted on purpose what the question named.
#include <gtest/gtest.h>

#include <QGroupBox>

#include "dialog/run_harness.h"
#include "scheme/scheme.h"

namespace dupsweep {
namespace {

using testing::RunHarness;
using testing::whenModal;
using Texts = std::vector<std::string>;

class BadInput : public RunHarness {
 protected:
  // Writes a scheme of the given pairs as the dialog saves one (section = composed GroupName).
  void writeScheme(const std::string& name, const std::vector<UnitPair>& p) {
    scheme::saveScheme(schemeFile(name), p);
  }
  // Reopens the dialog's scheme list (it is read when the dialog is created) and picks `name`.
  void pickSchemeNamed(const std::string& name) {
    const int index = precept->findText(QString::fromStdString(name));
    ASSERT_GE(index, 0) << name;
    pickScheme(index);
  }
  const PairEntry* entry(int row) const { return dynamic_cast<const PairEntry*>(pairs->item(row)); }
};

TEST_F(BadInput, TheSameUnitReachedInTwoPlacesOfTheTreeIsNoPair) {
  // 甲 (J1) is filed a second time under 总公司.
  db.exec("INSERT INTO UnitClsAndUnit VALUES ('01',21,1,'Z01','J1');");
  ui::ScopedScriptedMessages messages;
  run([&] {
    QTreeWidgetItem* parent = node("Z01");
    parent->setExpanded(true);
    QTreeWidgetItem* second = nullptr;
    for (int i = 0; i < parent->childCount(); ++i)
      if (TfrmDupsweep::unitOf(parent->child(i))->sUnitCode == "J1") second = parent->child(i);
    ASSERT_NE(second, nullptr);
    addPair(node("J1"), second);
    EXPECT_TRUE(pairTexts().empty());
    EXPECT_EQ(buttonStates(), "+--");
    // A real pair is still added.
    addPair(node("Y1"), second);
    EXPECT_EQ(pairTexts(), Texts{"甲=>乙"});
  });
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text,
            "两个单位的代码相同，是同一个单位，不能组成一组比对：甲[J1]");
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK);
}

TEST_F(BadInput, ASchemePairOfAUnitWithItselfIsListedMarkedAndNeverComparedOrDeletedFrom) {
  const TUnitData j{21, "J1", 0, "甲"}, y{22, "Y1", 0, "乙"};
  writeScheme("自身", {{j, j}, {j, y}});
  const std::string file = readBytes(schemeFile("自身"));
  const auto before = everyCount();
  ui::ScopedScriptedMessages messages;
  bool viewerShown = false;
  run([&] {
    pickPeriod("2024(年报)");
    pickSchemeNamed("自身");
    EXPECT_EQ(pairTexts(), (Texts{"甲=>甲", "甲=>乙"}));
    ASSERT_TRUE(entry(0) && entry(1));
    EXPECT_FALSE(entry(0)->usable());
    EXPECT_TRUE(entry(1)->usable());
    EXPECT_EQ(buttonStates(), "-++");

    press("cmdCompare");
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B01", "甲=>乙|J1|Y1|B03"}));
    EXPECT_EQ(comboTexts("cmbUnits"), Texts{"甲=>乙"});

    whenModal<TfrmShowDifference>([&](TfrmShowDifference* viewer) {
      viewerShown = true;
      viewer->ToolButton1Click();
    });
    clickPair(0);
    press("btnShowDifference");
    EXPECT_FALSE(viewerShown);
    clickPair(1);
    press("btnShowDifference");
    EXPECT_TRUE(viewerShown);
  });
  ASSERT_EQ(messages->shown.size(), 2u);
  EXPECT_EQ(messages->shown[0].text,
            "方案中以下单位组不能比对，也不会从中删除数据：\n甲=>甲：两个单位的代码相同（J1）");
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK | ui::MB_ICONINFORMATION);
  EXPECT_EQ(messages->shown[1].text, "该单位组不能比对：两个单位的代码相同（J1）");
  EXPECT_EQ(everyCount(), before);
  EXPECT_EQ(readBytes(schemeFile("自身")), file);
}

TEST_F(BadInput, SchemeUnitsAreNamedAsTheDatabaseKnowsTheirCodesAndUnknownCodesAreLeftAlone) {
  // The file's names are swapped against its codes (the host renamed the units), and one pair
  // names a code the classification does not have.
  writeScheme("改名", {{{99, "J1", 3, "乙"}, {98, "Y1", 3, "甲"}},
                       {{97, "X9", 0, "某"}, {22, "Y1", 0, "乙"}}});
  const std::string file = readBytes(schemeFile("改名"));
  ui::ScopedScriptedMessages messages;
  messages->answers = {ui::IDOK, ui::IDYES};  // the message of the load, then the question
  run([&] {
    pickPeriod("2024(年报)");
    pickSchemeNamed("改名");
    // The list shows the file's sections; the pairs hold the database's units.
    EXPECT_EQ(pairTexts(), (Texts{"乙=>甲", "某=>乙"}));
    EXPECT_EQ(testing::fields(*dialog->pairAt(0)->UnitS), std::make_tuple(21, "J1", 0, "甲"));
    EXPECT_EQ(testing::fields(*dialog->pairAt(0)->UnitD), std::make_tuple(22, "Y1", 0, "乙"));
    EXPECT_EQ(dialog->pairAt(0)->GroupName, "甲=>乙");
    EXPECT_FALSE(entry(1)->usable());

    press("cmdCompare");
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B01", "甲=>乙|J1|Y1|B03"}));
    EXPECT_EQ(dialog->differenceList()->front()->pair[Left].sUnitName, "甲");
    EXPECT_EQ(dialog->differenceList()->front()->pair[Right].sUnitName, "乙");

    list("lsbDifference")->setCurrentRow(0);
    press("cmdDelRepetition");
  });
  ASSERT_EQ(messages->shown.size(), 3u);
  EXPECT_EQ(messages->shown[0].text,
            "方案中以下单位组不能比对，也不会从中删除数据：\n"
            "某=>乙：单位代码“X9”不在单位分类“01”中");
  // The question names the unit whose rows Yes deletes: 甲, the unit of code J1.
  EXPECT_EQ(messages->shown[1].text,
            "数据删除后将无法恢复，你确认继续操作吗？，点是删除甲的数据，点否删除乙数据？");
  EXPECT_EQ(messages->shown[2].text, "重复记录已经删除");
  EXPECT_EQ(rows("DataNumT01_B01_1", "J1"), 0);
  EXPECT_EQ(rows("DataNumT01_B01_1", "Y1"), 2);
  EXPECT_EQ(readBytes(schemeFile("改名")), file);  // not rewritten unless the operator saves
}

TEST_F(BadInput, ADamagedTableEndsTheRunAndTheShowingWithTheDatabasesMessage) {
  db.corruptTable("DataNumT01_B02_1");
  ui::ScopedScriptedMessages messages;
  bool viewerShown = false;
  run([&] {
    pickPeriod("2024(年报)");
    addPairOf("J1", "Y1");
    press("cmdCompare");
    // What was found before the damaged sheet stays; nothing can be deleted from a broken run.
    EXPECT_EQ(found(), Texts{"甲=>乙|J1|Y1|B01"});
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_EQ(progressBar()->value(), 0);

    whenModal<TfrmShowDifference>([&](TfrmShowDifference*) { viewerShown = true; });
    clickPair(0);
    press("btnShowDifference");
  });
  EXPECT_FALSE(viewerShown);
  ASSERT_EQ(messages->shown.size(), 2u);
  for (const ui::Message& m : messages->shown) {
    EXPECT_EQ(m.text, "database disk image is malformed.");
    EXPECT_EQ(m.style, ui::MB_OK | ui::MB_ICONSTOP);
  }
}

TEST_F(BadInput, ADatabaseThatCannotBeOpenedIsToldOnceWhenTheDialogIsShown) {
  ui::ScopedScriptedMessages messages;
  run([&] { EXPECT_EQ(tree->topLevelItemCount(), 0); },
      "Provider=SQLite;Data Source=" + (db.dir() / "missing.db").string());
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text, "无法打开数据库，单位和期间都无法读取：The SQLite database file '" +
                                         (db.dir() / "missing.db").string() + "' does not exist.");
  EXPECT_EQ(messages->shown[0].caption, "系统提示");
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK | ui::MB_ICONSTOP);

  // Through ODBC, with a password that the message never shows.
  messages->shown.clear();
  run([] {}, "Provider=MSDASQL;DSN=dupsweep-no-such-dsn;UID=u;PWD=Secret-77");
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text.rfind("无法打开数据库", 0), 0u);
  EXPECT_EQ(messages->shown[0].text.find("Secret-77"), std::string::npos);

  // A database that opens but lacks the period table stays silent, as failed statements do.
  messages->shown.clear();
  db.exec("DROP TABLE Period;");
  run([] {});
  EXPECT_TRUE(messages->shown.empty());
}

}  // namespace
}  // namespace dupsweep
