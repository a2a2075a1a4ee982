// Showing one pair's differences through the dialog: the viewer filled as a run fills it, shown
// modally (and closed by the test as the operator would), with the run's results untouched; and
// the showings that cannot be made.
#include <gtest/gtest.h>

#include <QGroupBox>

#include "dialog/run_harness.h"

namespace dupsweep {
namespace {

using testing::RunHarness;
using testing::whenModal;
using Texts = std::vector<std::string>;

const ui::Message kNoPair{"请选择对比单位!", "错误", ui::MB_OK};
const ui::Message kNoTemplate{"所选期间没有报表模板，无法显示对比结果", "系统提示",
                              ui::MB_OK | ui::MB_ICONINFORMATION};

// What the viewer showed while it was up.
struct Shown {
  bool modal = false;
  bool maximized = false;
  QString title;
  QString boxS, boxD;
  int sheet = 0;
  Texts lines;
};

class ShowPairTest : public RunHarness {
 protected:
  // Presses 显示对比结果 and records the viewer while it is shown, then closes it with its exit
  // button. Returns nothing recorded when the viewer never came up.
  std::optional<Shown> show() {
    std::optional<Shown> seen;
    bool armed = true;
    whenModal<TfrmShowDifference>([&](TfrmShowDifference* viewer) {
      if (!armed) return;
      Shown s;
      s.modal = viewer->isModal() && viewer->isVisible();
      s.maximized = viewer->isMaximized();
      s.title = viewer->windowTitle();
      s.boxS = viewer->GroupBox1()->title();
      s.boxD = viewer->GroupBox2()->title();
      s.sheet = viewer->F1Book1().Sheet();
      s.lines = differenceLines();
      seen = s;
      viewer->ToolButton1Click();
    });
    press("btnShowDifference");
    armed = false;
    return seen;
  }
};

TEST_F(ShowPairTest, APairNeverComparedIsShownWithEveryDifferenceListed) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    addPairOf("J1", "Y1");
    addPairOf("W1", "G1");
    clickPair(0);
    const std::optional<Shown> shown = show();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->modal);
    EXPECT_TRUE(shown->maximized);
    EXPECT_EQ(shown->title, "甲=>乙数据差异");
    EXPECT_EQ(shown->boxS, "甲[J1]");
    EXPECT_EQ(shown->boxD, "乙[Y1]");
    EXPECT_EQ(shown->sheet, 1);
    // 甲 and 乙 differ on 利润表 only (variants 12 and 13).
    EXPECT_EQ(shown->lines, (Texts{"利润表!4,3:1201.5/1301.5", "利润表!4,4:1202/1302",
                                   "利润表!4,5:t12/t13", "利润表!5,3:120/130"}));
    EXPECT_FALSE(viewer().isVisible());
  });
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(ShowPairTest, ShowingTheSamePairTwiceGivesTheSameList) {
  run([&] {
    addPairOf("W1", "G1");
    clickPair(0);
    const std::optional<Shown> first = show();
    const std::optional<Shown> second = show();
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->lines.empty());
    EXPECT_EQ(first->lines, second->lines);
    EXPECT_EQ(first->title, second->title);
  });
}

TEST_F(ShowPairTest, AShowingLeavesTheRunsResultsAndTheDeleteButtonAlone) {
  run([&] {
    addPairOf("J1", "Y1");
    addPairOf("W1", "G1");
    press("cmdCompare");
    const Texts entries = found();
    ASSERT_EQ(entries.size(), 2u);
    pickFrom(combo("cmbUnits"), 0);
    clickSheet(1);
    QProgressBar* bar = progressBar();
    std::vector<int> values;
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [&](int value) { values.push_back(value); });

    clickPair(1);
    const std::optional<Shown> shown = show();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->title, "戊=>己数据差异");
    EXPECT_EQ(found(), entries);
    EXPECT_EQ(comboTexts("cmbUnits"), (Texts{"甲=>乙"}));
    EXPECT_EQ(listTexts("lsbDifference"), (Texts{"资产负债表", "现金流量表"}));
    EXPECT_EQ(list("lsbDifference")->currentRow(), 1);
    EXPECT_TRUE(button("cmdDelRepetition")->isEnabled());
    EXPECT_TRUE(values.empty());

    // And with the delete button disabled, it stays disabled.
    clickPair(0);
    press("cmdRemove");
    clickPair(0);
    press("cmdRemove");
    addPairOf("W1", "G1");
    press("cmdCompare");
    ASSERT_FALSE(button("cmdDelRepetition")->isEnabled());
    clickPair(0);
    ASSERT_TRUE(show());
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
  });
}

TEST_F(ShowPairTest, WithoutASelectedPairTheOperatorIsTold) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    addPairOf("J1", "Y1");
    pairs->clearSelection();
    const std::size_t statements = log.texts.size();
    EXPECT_FALSE(show());
    EXPECT_EQ(log.texts.size(), statements);
  });
  EXPECT_EQ(messages->shown, (std::vector<ui::Message>{kNoPair}));
}

TEST_F(ShowPairTest, WithoutATemplateTheViewerIsNotOpened) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    addPairOf("J1", "Y1");
    clickPair(0);
    pickPeriod("模板缺失(年报)");
    EXPECT_FALSE(show());
  });
  EXPECT_EQ(messages->shown, (std::vector<ui::Message>{kNoTemplate}));
}

TEST_F(ShowPairTest, WithoutAPeriodTheViewerIsNotOpened) {
  db.exec("UPDATE PeriodTable SET sTaskCode = 'T09'");
  ui::ScopedScriptedMessages messages;
  run([&] {
    addPairOf("J1", "Y1");
    clickPair(0);
    EXPECT_FALSE(show());
  });
  EXPECT_EQ(messages->shown, (std::vector<ui::Message>{kNoTemplate}));
}

TEST_F(ShowPairTest, APeriodWithoutSampleTablesShowsTheTemplateWithAnEmptyList) {
  run([&] {
    addPairOf("W1", "G1");
    clickPair(0);
    ASSERT_TRUE(show());
    EXPECT_FALSE(differenceLines().empty());
    pickPeriod("空期间(年报)");
    const std::optional<Shown> shown = show();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->lines.empty());
    EXPECT_EQ(viewer().F1Book1().text(4, 3), "");
  });
}

}  // namespace
}  // namespace dupsweep
