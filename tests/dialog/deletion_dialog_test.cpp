// Deleting one unit's copy of a repeated sheet through the dialog, on a real SQLite database:
// the question and its answers, the rows that go (counted in the database), the Status row with
// the pair's last listed sheet, the lists afterwards, sheets changed since the run, which lose
// nothing and leave the lists, and deletions that fail half way, which leave every row and every
// list as it was.
#include <gtest/gtest.h>

#include "dialog/run_harness.h"
#include "support/faulty_connection.h"

namespace dupsweep {
namespace {

using testing::RunHarness;
using Texts = std::vector<std::string>;

const std::string kQuestionStart = "数据删除后将无法恢复，你确认继续操作吗？，点是删除";
const ui::Message kDeleted{"重复记录已经删除", "系统提示", ui::MB_OK | ui::MB_ICONINFORMATION};
const ui::Message kChanged{
    "该表的数据在比对后已经改变，不再相同，没有删除任何数据。请重新比对数据。", "系统提示",
    ui::MB_OK | ui::MB_ICONINFORMATION};
const ui::Message kFailed{"删除数据时发生了错误", "系统提示", ui::MB_OK | ui::MB_ICONINFORMATION};
constexpr int kQuestionStyle = 579;

ui::Message question(const std::string& nameS, const std::string& nameD) {
  return {kQuestionStart + nameS + "的数据，点否删除" + nameD + "数据？", "系统提示",
          kQuestionStyle};
}

// A connection that reports a negative count for every statement that deletes, as a driver
// that cannot tell the count does.
class NegativeCounts : public db::ForwardingConnection {
 public:
  using ForwardingConnection::ForwardingConnection;
  std::int64_t execute(std::string_view sql) override {
    const std::int64_t count = inner().execute(sql);
    return sql.rfind("Delete", 0) == 0 ? -1 : count;
  }
};

class DeletionTest : public RunHarness {
 protected:
  // Builds the pairs, runs the comparison and returns with the first offered pair chosen.
  void compare(const std::vector<std::pair<std::string, std::string>>& pairCodes) {
    for (const auto& [s, d] : pairCodes) addPairOf(s, d);
    press("cmdCompare");
  }
  void deleteSheet(int row, int answer) {
    clickSheet(row);
    (*messages)->answers.push_back(answer);
    press("cmdDelRepetition");
  }

  std::unique_ptr<ui::ScopedScriptedMessages> messages =
      std::make_unique<ui::ScopedScriptedMessages>();
  const std::string num1 = "DataNumT01_B01_1", bal1 = "DataBalanceT01_B01_1";
  const std::string num3 = "DataNumT01_B03_1", bal3 = "DataBalanceT01_B03_1";
};

TEST_F(DeletionTest, CancelOrClosingTheQuestionDeletesNothing) {
  const auto before = everyCount();
  run([&] {
    compare({{"J1", "Y1"}});
    deleteSheet(0, ui::IDCANCEL);
    clickSheet(0);
    press("cmdDelRepetition");  // no answer queued: the box is closed
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));
    EXPECT_EQ(found().size(), 2u);
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙"}));
  });
  EXPECT_EQ(everyCount(), before);
  EXPECT_EQ((*messages)->shown,
            (std::vector<ui::Message>{question("甲", "乙"), question("甲", "乙")}));
}

TEST_F(DeletionTest, YesDeletesTheFirstUnitsRowsAndNoTheSecondsFromBothDataTables) {
  auto expected = everyCount();
  run([&] {
    compare({{"J1", "Y1"}});
    deleteSheet(0, ui::IDYES);  // 资产负债表 of 甲
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"现金流量表"}));
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B03"}));
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙"}));
    EXPECT_TRUE(button("cmdDelRepetition")->isEnabled());
  });
  expected[num1 + "/J1/2024N"] = 0;
  expected[bal1 + "/J1/2024N"] = 0;
  EXPECT_EQ(everyCount(), expected);  // not the Status row: another sheet is still listed

  run([&] {
    compare({{"J1", "Y1"}});
    // 甲 has no rows on B01 any more, so only B03 is identical.
    ASSERT_EQ(listTexts("lsbDifference"), (Texts{"现金流量表"}));
    deleteSheet(0, ui::IDNO);  // 现金流量表 of 乙, the pair's last sheet
    EXPECT_TRUE(listTexts("lsbDifference").empty());
    EXPECT_TRUE(found().empty());
    EXPECT_TRUE(comboTexts("cmbUnits").empty());
    EXPECT_EQ(combo("cmbUnits")->currentIndex(), -1);
    EXPECT_TRUE(button("cmdDelRepetition")->isEnabled());
  });
  expected[num3 + "/Y1/2024N"] = 0;
  expected[bal3 + "/Y1/2024N"] = 0;
  expected["Status/Y1"] = 2;  // only the row of the period, task and level compared
  EXPECT_EQ(everyCount(), expected);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM Status WHERE sUnitCode = 'Y1' AND sPeriodID = '2024N' "
                      "AND nLevel = 1"),
            0);
  const auto& shown = (*messages)->shown;
  EXPECT_EQ(shown, (std::vector<ui::Message>{question("甲", "乙"), kDeleted, question("甲", "乙"),
                                             kDeleted}));
}

TEST_F(DeletionTest, ASheetChangedSinceTheRunIsNotDeletedAndLeavesTheLists) {
  std::map<std::string, long long> before;
  run([&] {
    compare({{"J1", "Y1"}});
    // A resubmission changes one figure of 乙 on 资产负债表, then one of 甲 on 现金流量表.
    db.exec("UPDATE " + num1 + " SET cC = cC + 1 WHERE sUnitCode = 'Y1' AND nRow = 4");
    db.exec("UPDATE " + num3 + " SET cE = 'y' WHERE sUnitCode = 'J1' AND nRow = 5");
    before = everyCount();
    deleteSheet(0, ui::IDYES);  // 甲's copy, where 乙's changed
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"现金流量表"}));
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B03"}));
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙"}));
    deleteSheet(0, ui::IDYES);  // 甲's own copy changed; the pair's last sheet leaves cmbUnits
    EXPECT_TRUE(listTexts("lsbDifference").empty());
    EXPECT_TRUE(found().empty());
    EXPECT_TRUE(comboTexts("cmbUnits").empty());
  });
  EXPECT_EQ(everyCount(), before);
  EXPECT_EQ((*messages)->shown, (std::vector<ui::Message>{question("甲", "乙"), kChanged,
                                                          question("甲", "乙"), kChanged}));
}

TEST_F(DeletionTest, TheStatusRowGoesWithTheLastSheetForTheUnitChosenThen) {
  auto expected = everyCount();
  run([&] {
    compare({{"B1", "D1"}});
    ASSERT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "利润表", "现金流量表"}));
    deleteSheet(1, ui::IDYES);  // 利润表 of 丙
    deleteSheet(0, ui::IDYES);  // 资产负债表 of 丙
    EXPECT_EQ(everyCount()["Status/B1"], 3);
    deleteSheet(0, ui::IDNO);  // 现金流量表 of 丁, the last one
    EXPECT_TRUE(comboTexts("cmbUnits").empty());
  });
  for (const char* code : {"B01", "B02"}) {
    expected[std::string("DataNumT01_") + code + "_1/B1/2024N"] = 0;
    expected[std::string("DataBalanceT01_") + code + "_1/B1/2024N"] = 0;
  }
  expected[num3 + "/D1/2024N"] = 0;
  expected[bal3 + "/D1/2024N"] = 0;
  expected["Status/D1"] = 2;
  EXPECT_EQ(everyCount(), expected);
}

TEST_F(DeletionTest, OnlyTheCurrentItemOfSeveralSelectedIsDeleted) {
  auto expected = everyCount();
  run([&] {
    compare({{"B1", "D1"}});
    clickSheet(0);
    clickSheet(2, Qt::ControlModifier);
    clickSheet(1, Qt::ControlModifier);  // current: 利润表; all three selected
    ASSERT_EQ(list("lsbDifference")->selectedItems().size(), 3);
    (*messages)->answers.push_back(ui::IDNO);
    press("cmdDelRepetition");
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));
    EXPECT_EQ(found(), (Texts{"丙=>丁|B1|D1|B01", "丙=>丁|B1|D1|B03"}));
  });
  expected["DataNumT01_B02_1/D1/2024N"] = 0;
  expected["DataBalanceT01_B02_1/D1/2024N"] = 0;
  EXPECT_EQ(everyCount(), expected);
}

TEST_F(DeletionTest, APairListedTwiceLosesBothEntriesButOnlyTheCurrentItem) {
  auto expected = everyCount();
  run([&] {
    compare({{"O'1", "O2"}, {"O'1", "O2"}});
    ASSERT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "资产负债表"}));
    deleteSheet(0, ui::IDYES);
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表"}));
    EXPECT_TRUE(found().empty());
    EXPECT_EQ(statusRows("O'1"), 3);  // another item of the pair is still listed
    // The remaining item no longer stands for a repeated copy: 澳's rows are the only ones left,
    // and they stay. The item and the pair's name leave the lists.
    deleteSheet(0, ui::IDNO);
    EXPECT_TRUE(listTexts("lsbDifference").empty());
    EXPECT_TRUE(comboTexts("cmbUnits").empty());
  });
  // The apostrophe in the code: exactly that unit's rows went, nobody else's.
  expected[num1 + "/O'1/2024N"] = 0;
  expected[bal1 + "/O'1/2024N"] = 0;
  EXPECT_EQ(everyCount(), expected);
  EXPECT_EQ((*messages)->shown, (std::vector<ui::Message>{question("奥", "澳"), kDeleted,
                                                          question("奥", "澳"), kChanged}));
}

TEST_F(DeletionTest, PairsOfOneNameAreToldApartAndEachKeepsItsOwnLastSheet) {
  auto expected = everyCount();
  run([&] {
    compare({{"P1", "P2"}, {"P3", "P4"}});
    ASSERT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "利润表", "现金流量表"}));
    deleteSheet(2, ui::IDNO);  // 现金流量表, found for P3 / P4: P4 loses it
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "利润表"}));
    deleteSheet(0, ui::IDYES);  // 资产负债表, P1 / P2's only sheet: P1 loses it and its Status
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"利润表"}));
    EXPECT_EQ(found(), (Texts{"营业部=>营业部|P3|P4|B02"}));
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"营业部=>营业部"}));
  });
  expected[num3 + "/P4/2024N"] = 0;
  expected[bal3 + "/P4/2024N"] = 0;
  expected[num1 + "/P1/2024N"] = 0;
  expected[bal1 + "/P1/2024N"] = 0;
  expected["Status/P1"] = 2;
  EXPECT_EQ(everyCount(), expected);
}

TEST_F(DeletionTest, APairTakenOffThePairListAfterTheRunCanStillBeCleaned) {
  auto expected = everyCount();
  run([&] {
    compare({{"J1", "Y1"}});
    clickPair(0);
    press("cmdRemove");
    ASSERT_EQ(pairs->count(), 0);
    deleteSheet(1, ui::IDNO);
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表"}));
  });
  expected[num3 + "/Y1/2024N"] = 0;
  expected[bal3 + "/Y1/2024N"] = 0;
  EXPECT_EQ(everyCount(), expected);
}

TEST_F(DeletionTest, WithoutAPairOrASheetChosenTheHandlerSaysSo) {
  run([&] {
    press("cmdDelRepetition");  // disabled: nothing happens
    compare({{"J1", "Y1"}});
    press("cmdDelRepetition");  // no current sheet
    clickSheet(0);
    deleteSheet(0, ui::IDYES);
    deleteSheet(0, ui::IDYES);  // the pair's last sheet: its name leaves cmbUnits
    ASSERT_TRUE(button("cmdDelRepetition")->isEnabled());
    press("cmdDelRepetition");  // no pair chosen
  });
  const auto& shown = (*messages)->shown;
  ASSERT_EQ(shown.size(), 6u);
  EXPECT_EQ(shown[0].text, "请选择需要删除的数据表！");
  EXPECT_EQ(shown[0].caption, ui::applicationTitle());
  EXPECT_EQ(shown[0].style, ui::MB_OK);
  EXPECT_EQ(shown[5], (ui::Message{"请选择要删除的单位", "系统提示", ui::MB_OK}));
}

// A statement that fails half way: the transaction is rolled back, the failure is shown by the
// default error display, and no list changes.
class DeletionFailureTest
    : public DeletionTest,
      public ::testing::WithParamInterface<std::pair<int, testing::Faults::Kind>> {};

TEST_P(DeletionFailureTest, LeavesEveryRowAndEveryListAsItWas) {
  const auto [failing, kind] = GetParam();
  auto faults = std::make_shared<testing::Faults>();
  wrap = [faults](std::unique_ptr<db::Connection> inner) -> std::unique_ptr<db::Connection> {
    return std::make_unique<testing::FaultyConnection>(std::move(inner), faults);
  };
  const auto before = everyCount();
  run([&] {
    compare({{"O'1", "O2"}});  // one sheet: DataNum, DataBalance and Status
    ASSERT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表"}));
    clickSheet(0);
    faults->failNext(failing, kind);
    (*messages)->answers.push_back(ui::IDYES);
    press("cmdDelRepetition");
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表"}));
    EXPECT_EQ(found(), (Texts{"奥=>澳|O'1|O2|B01"}));
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"奥=>澳"}));
    EXPECT_EQ(everyCount(), before);
    // Once the database works again, the same deletion goes through.
    (*messages)->answers.push_back(ui::IDYES);
    press("cmdDelRepetition");
    EXPECT_TRUE(listTexts("lsbDifference").empty());
  });
  const auto& shown = (*messages)->shown;
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0], question("奥", "澳"));
  EXPECT_EQ(shown[1].style, ui::MB_OK | ui::MB_ICONSTOP);
  EXPECT_EQ(shown[1].caption, ui::applicationTitle());
  EXPECT_EQ(shown[3], kDeleted);
  auto after = before;
  after[num1 + "/O'1/2024N"] = 0;
  after[bal1 + "/O'1/2024N"] = 0;
  after["Status/O'1"] = 2;
  EXPECT_EQ(everyCount(), after);
}

// After the three reads for the journal and the two of both units' figures: the DataBalance and
// the Status deletion.
INSTANTIATE_TEST_SUITE_P(SecondOrThirdStatement, DeletionFailureTest,
                         ::testing::Values(std::pair{7, testing::Faults::Kind::Error},
                                           std::pair{8, testing::Faults::Kind::Error},
                                           std::pair{7, testing::Faults::Kind::Dropped},
                                           std::pair{8, testing::Faults::Kind::Busy}));

TEST_F(DeletionTest, ANegativeTotalIsReportedAndRolledBack) {
  wrap = [](std::unique_ptr<db::Connection> inner) -> std::unique_ptr<db::Connection> {
    return std::make_unique<NegativeCounts>(std::move(inner));
  };
  const auto before = everyCount();
  run([&] {
    compare({{"J1", "Y1"}});
    deleteSheet(0, ui::IDYES);
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));
    EXPECT_EQ(found().size(), 2u);
  });
  EXPECT_EQ(everyCount(), before);
  EXPECT_EQ((*messages)->shown, (std::vector<ui::Message>{question("甲", "乙"), kFailed}));
}

TEST_F(DeletionTest, TheStatementsRunInOneTransactionInTheirOrder) {
  run([&] {
    compare({{"O'1", "O2"}});
    const std::size_t before = log.texts.size();
    deleteSheet(0, ui::IDNO);
    // The rows to keep in the journal are read first, with the deletions' own conditions, then
    // both units' figures as the run reads them.
    ASSERT_EQ(log.texts.size(), before + 8);
    EXPECT_EQ(log.texts[before].rfind("Select * from DataNumT01_B01_1\r\n", 0), 0u);
    EXPECT_EQ(log.texts[before + 1].rfind("Select * from DataBalanceT01_B01_1\r\n", 0), 0u);
    EXPECT_EQ(log.texts[before + 2].rfind("Select * from Status\r\n", 0), 0u);
    EXPECT_NE(log.texts[before + 3].find("sUnitCode = 'O2'"), std::string::npos);
    EXPECT_NE(log.texts[before + 4].find("sUnitCode = 'O''1'"), std::string::npos);
    EXPECT_EQ(log.texts[before + 5].rfind("Delete from DataNumT01_B01_1\r\n", 0), 0u);
    EXPECT_NE(log.texts[before + 5].find("sUnitCode = 'O2'"), std::string::npos);
    EXPECT_EQ(log.texts[before + 6].rfind("Delete from DataBalanceT01_B01_1\r\n", 0), 0u);
    EXPECT_EQ(log.texts[before + 7].rfind("Delete from Status\r\n", 0), 0u);
  });
}

}  // namespace
}  // namespace dupsweep
