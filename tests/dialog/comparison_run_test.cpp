// The comparison run through the dialog, on a real SQLite database with a real template
// workbook: which sheets are found identical for which pairs, the lists cmbUnits and
// lsbDifference, the progress bar, the runs that find nothing to do, and a run that ends where the
// viewer's grids could not take the rows.
#include <gtest/gtest.h>

#include <QGroupBox>

#include "dialog/run_harness.h"

namespace dupsweep {
namespace {

using testing::RunHarness;
using Texts = std::vector<std::string>;

const ui::Message kNoPeriod{"没有选择期间，请选择以后再执行操作", "系统提示",
                            ui::MB_OK | ui::MB_ICONINFORMATION};

using ComparisonRunTest = RunHarness;

TEST_F(ComparisonRunTest, FindsTheIdenticalSheetsOfEveryPairAndListsThemPerPair) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    addPairOf("J1", "Y1");
    addPairOf("B1", "D1");
    addPairOf("W1", "G1");
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    const std::size_t sent = log.texts.size();
    press("cmdCompare");

    // Each table's rows: the second unit's first, then the first unit's.
    Texts opened;
    for (std::size_t i = sent; i < log.texts.size(); ++i) {
      const std::string& text = log.texts[i];
      if (text.rfind("Select * from DataNumT01_B01_1", 0) != 0) continue;
      const std::size_t code = text.find("sUnitCode = '") + 13;
      opened.push_back(text.substr(code, text.find('\'', code) - code));
    }
    EXPECT_EQ(opened, (Texts{"Y1", "J1", "D1", "B1", "G1", "W1"}));
    // Pair by pair in the list's order, table by table in sheet order. Neither B04 (丙 and 丁
    // have no rows there) nor B05 (no data table) is identical for anyone.
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B01", "甲=>乙|J1|Y1|B03", "丙=>丁|B1|D1|B01",
                              "丙=>丁|B1|D1|B02", "丙=>丁|B1|D1|B03"}));
    for (const auto& entry : *dialog->differenceList()) {
      EXPECT_TRUE(entry->Sample.bRepeated);
      EXPECT_EQ(entry->Sample.nSheetOrder, 0);  // a copy keeps no sheet number
      EXPECT_EQ(entry->Sample.sPeriodID, "2024N");
      EXPECT_EQ(entry->pair[Left].sUnitName + "=>" + entry->pair[Right].sUnitName,
                entry->sGroupName);
    }
    // The pair identical on nothing is not offered; the first pair is chosen and listed.
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙", "丙=>丁"}));
    EXPECT_EQ(combo("cmbUnits")->currentIndex(), 0);
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));
    EXPECT_EQ(sheetEntry(1), "甲=>乙|J1|Y1|B03");
    EXPECT_TRUE(button("cmdDelRepetition")->isEnabled());

    pickFrom(combo("cmbUnits"), 1);
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "利润表", "现金流量表"}));
    pickFrom(combo("cmbUnits"), 0);
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));

    EXPECT_FALSE(viewer().isVisible());
    EXPECT_EQ(progressBar()->value(), 0);
  });
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(ComparisonRunTest, APairListedTwiceIsOfferedOnceWithEachSheetListedTwice) {
  run([&] {
    addPairOf("J1", "Y1");
    addPairOf("J1", "Y1");
    press("cmdCompare");
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B01", "甲=>乙|J1|Y1|B03", "甲=>乙|J1|Y1|B01",
                              "甲=>乙|J1|Y1|B03"}));
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙"}));
    EXPECT_EQ(listTexts("lsbDifference"),
              (Texts{"资产负债表", "现金流量表", "资产负债表", "现金流量表"}));
  });
}

TEST_F(ComparisonRunTest, TwoPairsOfOneNameShareTheirEntryAndEachSheetKeepsItsOwnPair) {
  run([&] {
    addPairOf("P1", "P2");
    addPairOf("P3", "P4");
    press("cmdCompare");
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"营业部=>营业部"}));
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "利润表", "现金流量表"}));
    EXPECT_EQ(sheetEntry(0), "营业部=>营业部|P1|P2|B01");
    EXPECT_EQ(sheetEntry(1), "营业部=>营业部|P3|P4|B02");
    EXPECT_EQ(sheetEntry(2), "营业部=>营业部|P3|P4|B03");
  });
}

TEST_F(ComparisonRunTest, NamesDifferingInLetterCaseAreOfferedOnceAndListedByTheExactName) {
  run([&] {
    addPairOf("C1", "K1");  // abc=>k: B01
    addPairOf("C2", "K1");  // ABC=>k: B01, B02
    press("cmdCompare");
    EXPECT_EQ(found(), (Texts{"abc=>k|C1|K1|B01", "ABC=>k|C2|K1|B01", "ABC=>k|C2|K1|B02"}));
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"abc=>k"}));
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表"}));
    EXPECT_EQ(sheetEntry(0), "abc=>k|C1|K1|B01");
  });
}

TEST_F(ComparisonRunTest, ThreePairsStepTheBarSevenTimesVisiblyAndEndAtZero) {
  run([&] {
    addPairOf("J1", "Y1");
    addPairOf("B1", "D1");
    addPairOf("W1", "G1");
    QProgressBar* bar = progressBar();
    std::vector<int> values;
    std::vector<int> maxima;
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int value) {
      values.push_back(value);
      maxima.push_back(bar->maximum());
    });
    // Every step is painted while the run still holds the dialog.
    std::vector<int> painted;
    struct PaintWatch : QObject {
      std::vector<int>* painted;
      QProgressBar* bar;
      bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted->push_back(bar->value());
        return false;
      }
    } watch;
    watch.painted = &painted;
    watch.bar = bar;
    bar->installEventFilter(&watch);

    press("cmdCompare");
    bar->removeEventFilter(&watch);
    EXPECT_EQ(values, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 0}));
    EXPECT_EQ(maxima, (std::vector<int>(8, 7)));
    for (int step = 1; step <= 7; ++step)
      EXPECT_NE(std::find(painted.begin(), painted.end(), step), painted.end()) << step;
    EXPECT_EQ(bar->minimum(), 0);
  });
}

TEST_F(ComparisonRunTest, TheCloseBoxWaitsForTheRunToEnd) {
  run([&] {
    addPairOf("J1", "Y1");
    bool closed = true;
    QObject::connect(progressBar(), &QProgressBar::valueChanged, dialog, [&](int value) {
      if (value == 3) closed = dialog->close();
    });
    press("cmdCompare");
    EXPECT_FALSE(closed);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(found().size(), 2u);
    EXPECT_TRUE(dialog->close());  // once the run is over, the close box closes the dialog
  });
}

TEST_F(ComparisonRunTest, APeriodWithoutSampleTablesFindsNothing) {
  run([&] {
    addPairOf("J1", "Y1");
    press("cmdCompare");
    ASSERT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙"}));

    addPairOf("B1", "D1");
    pickPeriod("空期间(年报)");
    EXPECT_EQ(dialog->periodId(), "2023N");
    EXPECT_EQ(listTexts("lsbDifference").size(), 2u);  // a period choice changes no list
    press("cmdCompare");
    EXPECT_TRUE(found().empty());
    EXPECT_TRUE(comboTexts("cmbUnits").empty());
    EXPECT_TRUE(listTexts("lsbDifference").empty());
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_EQ(progressBar()->value(), 0);
  });
}

TEST_F(ComparisonRunTest, APeriodWithoutTemplateEmptiesTheResultButKeepsTheOfferedPairs) {
  run([&] {
    addPairOf("J1", "Y1");
    press("cmdCompare");
    ASSERT_TRUE(button("cmdDelRepetition")->isEnabled());

    pickPeriod("模板缺失(年报)");
    QProgressBar* bar = progressBar();
    std::vector<int> values;
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [&](int value) { values.push_back(value); });
    press("cmdCompare");
    EXPECT_TRUE(found().empty());
    EXPECT_TRUE(listTexts("lsbDifference").empty());
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_TRUE(values.empty());  // never stepped, and standing at 0
    EXPECT_EQ(bar->maximum(), 5);
    // The pairs of the earlier run are still offered; choosing one lists nothing.
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙"}));
    pickFrom(combo("cmbUnits"), 0);
    EXPECT_TRUE(listTexts("lsbDifference").empty());
  });
}

TEST_F(ComparisonRunTest, WithoutAPeriodTheRunSaysSoAndChangesNothing) {
  // A task without periods leaves the period unchosen.
  db.exec("UPDATE PeriodTable SET sTaskCode = 'T09'");
  ui::ScopedScriptedMessages messages;
  run([&] {
    ASSERT_EQ(combo("cmbPeriod")->count(), 0);
    addPairOf("J1", "Y1");
    const std::size_t statements = log.texts.size();
    press("cmdCompare");
    EXPECT_EQ(log.texts.size(), statements);  // nothing asked of the database
    EXPECT_EQ(progressBar()->maximum(), 3);
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_TRUE(dialog->differenceList()->empty());
  });
  EXPECT_EQ(messages->shown, (std::vector<ui::Message>{kNoPeriod}));
}

TEST_F(ComparisonRunTest, ANewRunReplacesTheResultOfTheLastOne) {
  run([&] {
    addPairOf("B1", "D1");
    press("cmdCompare");
    ASSERT_EQ(found().size(), 3u);
    clickPair(0);
    press("cmdRemove");
    addPairOf("J1", "Y1");
    press("cmdCompare");
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B01", "甲=>乙|J1|Y1|B03"}));
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙"}));
  });
}

TEST_F(ComparisonRunTest, AFailingSampleQueryEndsTheRunWithTheErrorShownAndTheBarAtZero) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    addPairOf("J1", "Y1");
    press("cmdCompare");
    ASSERT_TRUE(button("cmdDelRepetition")->isEnabled());
    log.refuse = true;
    press("cmdCompare");
    log.refuse = false;
    EXPECT_TRUE(found().empty());
    EXPECT_TRUE(listTexts("lsbDifference").empty());
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_EQ(progressBar()->value(), 0);
    // The dialog goes on working.
    press("cmdCompare");
    EXPECT_EQ(found().size(), 2u);
  });
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK | ui::MB_ICONSTOP);
  EXPECT_EQ(messages->shown[0].text, "refused by the test.");
}

TEST_F(ComparisonRunTest, ASheetTheTemplateLacksEndsTheRunThereWithTheGridsError) {
  db.exec("UPDATE PeriodTable SET nSheetOrder = 9 "
          "WHERE sPeriodID = '2024N' AND sSampleCode = 'B02'");
  ui::ScopedScriptedMessages messages;
  run([&] {
    addPairOf("J1", "Y1");
    press("cmdCompare");
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B01"}));  // what came before the failing sheet
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_EQ(progressBar()->value(), 0);
    EXPECT_FALSE(viewer().isVisible());
  });
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text, "Sheet 9 does not exist (the workbook has 5 sheets)");
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK | ui::MB_ICONSTOP);
}

}  // namespace
}  // namespace dupsweep
