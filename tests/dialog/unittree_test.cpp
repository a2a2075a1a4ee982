// The unit tree and the pair list, driven with real clicks and keys over a real SQLite database:
// lazy loading of a node's children, the selection list, adding and removing pairs, and the
// enabled states of ">>", "<<" and the compare button.
#include <gtest/gtest.h>

#include "dialog/dialog_harness.h"

namespace dupsweep {
namespace {

using testing::DialogHarness;
using testing::fields;

const std::string kTwoUnitsNeeded =
    "必须选择两个单位,请按下Ctrl 键在单位树上选择两个单位然后点 >> 按纽，"
    "将这一组添加到单位选择列表里面";

using UnitTreeTest = DialogHarness;

TEST_F(UnitTreeTest, ANodesChildrenAreLoadedByOneStatementOnItsFirstExpansionOnly) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    QTreeWidgetItem* head = top(0);
    const std::size_t before = log.texts.size();
    clickExpandButton(head);
    ASSERT_EQ(log.texts.size(), before + 1);
    EXPECT_NE(log.texts.back().find("sParentCode = 'Z01'"), std::string::npos);
    EXPECT_NE(log.texts.back().find("nLevel = 1"), std::string::npos);
    EXPECT_TRUE(head->isExpanded());
    // The database's order; the unit filed at level 2 directly under Z01 is not shown.
    EXPECT_EQ(childNames(head), (std::vector<std::string>{"北京分公司", "上海分公司"}));
    EXPECT_EQ(fields(*TfrmDupsweep::unitOf(head->child(1))),
              fields({11, "Z0102", 1, "上海分公司"}));
    EXPECT_EQ(head->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    clickExpandButton(head);  // collapse
    EXPECT_FALSE(head->isExpanded());
    clickExpandButton(head);  // and open again: the children are there, no statement
    EXPECT_TRUE(head->isExpanded());
    EXPECT_EQ(log.texts.size(), before + 1);
    EXPECT_EQ(head->childCount(), 2);

    // A grandchild: the level below the node's depth, under the node's code.
    QTreeWidgetItem* shanghai = head->child(1);
    clickExpandButton(shanghai);
    ASSERT_EQ(log.texts.size(), before + 2);
    EXPECT_NE(log.texts.back().find("sParentCode = 'Z0102'"), std::string::npos);
    EXPECT_NE(log.texts.back().find("nLevel = 2"), std::string::npos);
    ASSERT_EQ(shanghai->childCount(), 1);
    EXPECT_EQ(fields(*TfrmDupsweep::unitOf(shanghai->child(0))),
              fields({12, "Z010201", 2, "浦东支公司"}));
  });
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(UnitTreeTest, ANodeWithoutChildrenLosesItsExpandButtonAfterOneStatement) {
  run([&] {
    QTreeWidgetItem* leaf = top(1);
    ASSERT_EQ(leaf->text(0), "华东分部");
    const std::size_t before = log.texts.size();
    clickExpandButton(leaf);
    EXPECT_EQ(log.texts.size(), before + 1);
    EXPECT_EQ(leaf->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(leaf->childCount(), 0);
    EXPECT_FALSE(leaf->isExpanded());
    // No button to click any more, and expanding it by key or by code asks nothing again.
    clickExpandButton(leaf);
    click(leaf);
    QTest::keyClick(tree, Qt::Key_Right);
    tree->expandItem(leaf);
    EXPECT_EQ(log.texts.size(), before + 1);

    // Opening a node with the keyboard loads it the same way.
    click(top(2));
    QTest::keyClick(tree, Qt::Key_Right);
    EXPECT_EQ(log.texts.size(), before + 2);
    EXPECT_EQ(top(2)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
  });
}

TEST_F(UnitTreeTest, AFailedChildStatementDropsTheExpandButtonWithoutAMessage) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    const std::size_t before = log.texts.size();
    log.refuse = true;
    clickExpandButton(top(0));
    log.refuse = false;
    EXPECT_EQ(log.texts.size(), before + 1);
    EXPECT_EQ(top(0)->childCount(), 0);
    EXPECT_EQ(top(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    clickExpandButton(top(0));
    EXPECT_EQ(log.texts.size(), before + 1);
  });
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(UnitTreeTest, TheSelectionListKeepsTheMostRecentlySelectedNodeFirst) {
  run([&] {
    QTreeWidgetItem *a = top(0), *b = top(1), *c = top(2);
    click(a);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"总公司"}));
    click(b, Qt::ControlModifier);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"华东分部", "总公司"}));
    click(c, Qt::ControlModifier);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"西部公司", "华东分部", "总公司"}));
    // Ctrl+click on a selected node takes it out; the others keep their order.
    click(b, Qt::ControlModifier);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"西部公司", "总公司"}));
    EXPECT_FALSE(b->isSelected());
    // A plain click on one of the selected nodes leaves it alone in the selection.
    click(a);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"总公司"}));
    EXPECT_EQ(tree->selectedItems().size(), 1);
  });
}

TEST_F(UnitTreeTest, ShiftClickKeysAndSelectAllNeverSelectARange) {
  run([&] {
    click(top(0));
    click(top(2), Qt::ShiftModifier);  // a plain click, not a range
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"西部公司"}));
    EXPECT_FALSE(top(1)->isSelected());

    click(top(0), Qt::ControlModifier);
    ASSERT_EQ(selectionNames().size(), 2u);
    // Moving with the keyboard, also with Shift or Ctrl held, selects the new node only.
    QTest::keyClick(tree, Qt::Key_Down);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"华东分部"}));
    QTest::keyClick(tree, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"西部公司"}));
    QTest::keyClick(tree, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"华东分部"}));
    QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"华东分部"}));

    // Dragging over nodes selects nothing more.
    const QPoint from = tree->visualItemRect(top(0)).center();
    const QPoint to = tree->visualItemRect(top(2)).center();
    QTest::mousePress(tree->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(tree->viewport(), to);
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"总公司"}));

    // A click on empty space below the nodes leaves the selection as it is.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(40, tree->viewport()->height() - 5));
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"总公司"}));
  });
}

TEST_F(UnitTreeTest, AClickThenACtrlClickAddsTheLaterNodeAsTheFirstUnit) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    clickExpandButton(top(0));
    QTreeWidgetItem* a = top(0);
    QTreeWidgetItem* b = top(0)->child(0);
    click(a);
    click(b, Qt::ControlModifier);
    press("cmdAdd");
    ASSERT_EQ(pairTexts(), (std::vector<std::string>{"北京分公司=>总公司"}));
    const TUnitGroup* group = dialog->pairAt(0);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->GroupName, "北京分公司=>总公司");
    // The pair refers to the nodes' own unit records.
    EXPECT_EQ(group->UnitS, TfrmDupsweep::unitOf(b));
    EXPECT_EQ(group->UnitD, TfrmDupsweep::unitOf(a));
    EXPECT_EQ(group->UnitS->nLevel, 1);
    // The tree's selection is left as it was.
    EXPECT_EQ(selectionNames(), (std::vector<std::string>{"北京分公司", "总公司"}));
  });
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(UnitTreeTest, AnyNumberOfSelectedUnitsButTwoGivesTheMessageAndAddsNothing) {
  ui::ScopedScriptedMessages messages;
  std::vector<std::string> states;
  run([&] {
    press("cmdAdd");  // nothing selected
    click(top(0));
    press("cmdAdd");  // one
    click(top(1), Qt::ControlModifier);
    click(top(2), Qt::ControlModifier);
    press("cmdAdd");  // three
    EXPECT_TRUE(pairTexts().empty());
    states.push_back(buttonStates());
  });
  ASSERT_EQ(messages->shown.size(), 3u);
  for (const ui::Message& message : messages->shown)
    EXPECT_EQ(message, (ui::Message{kTwoUnitsNeeded, ui::applicationTitle(), ui::MB_OK}));
  EXPECT_EQ(states, (std::vector<std::string>{"+--"}));
}

TEST_F(UnitTreeTest, TheSamePairTwiceAndTheReversedPairAreAllListed) {
  run([&] {
    addPair(top(0), top(1));
    addPair(top(0), top(1));
    addPair(top(1), top(0));
    EXPECT_EQ(pairTexts(), (std::vector<std::string>{"华东分部=>总公司", "华东分部=>总公司",
                                                     "总公司=>华东分部"}));
    EXPECT_EQ(dialog->pairAt(2)->UnitS, TfrmDupsweep::unitOf(top(0)));
    EXPECT_NE(dialog->pairAt(0), dialog->pairAt(1));  // two groups, one per entry
  });
}

TEST_F(UnitTreeTest, RemovingTheMiddleOfThreePairsKeepsTheOthersInOrder) {
  run([&] {
    addPair(top(0), top(1));
    addPair(top(1), top(2));
    addPair(top(2), top(0));
    clickPair(1);
    press("cmdRemove");
    EXPECT_EQ(pairTexts(), (std::vector<std::string>{"华东分部=>总公司", "总公司=>西部公司"}));
    EXPECT_EQ(buttonStates(), "+++");
    // No entry is selected after a removal: pressing "<<" again removes nothing.
    EXPECT_TRUE(pairs->selectedItems().isEmpty());
    press("cmdRemove");
    EXPECT_EQ(pairs->count(), 2);
    EXPECT_EQ(buttonStates(), "+++");
  });
}

// Every row of the table of enabled states of ">>", "<<" and the compare button, in one
// operator's session.
TEST_F(UnitTreeTest, ButtonStatesFollowTheirTable) {
  ui::ScopedScriptedMessages messages;
  run([&] {
    EXPECT_EQ(buttonStates(), "+--");  // dialog created

    addPair(top(0), top(1));
    EXPECT_EQ(buttonStates(), "+++");  // pair added
    addPair(top(1), top(2));

    press("cmdRemove");  // no entry selected: nothing changes
    EXPECT_EQ(pairs->count(), 2);
    EXPECT_EQ(buttonStates(), "+++");

    // Saved and loaded again: a scheme with pairs blocks adding.
    typeSchemeName("两组");
    press("cmdSave");
    pickScheme(0);
    EXPECT_EQ(pairs->count(), 2);
    EXPECT_EQ(buttonStates(), "-++");  // scheme loaded that has pairs
    press("cmdRemove");                // nothing selected after the load
    EXPECT_EQ(buttonStates(), "-++");

    clickPair(0);
    press("cmdRemove");
    EXPECT_EQ(buttonStates(), "+++");  // pair removed, entries remain: adding is possible again
    clickPair(0);
    press("cmdRemove");
    EXPECT_EQ(buttonStates(), "+--");  // pair removed, list empty: nothing to compare

    // A scheme without pairs: saving the empty list leaves no file, so picking it loads nothing.
    typeSchemeName("空");
    press("cmdSave");
    addPair(top(2), top(0));
    EXPECT_EQ(buttonStates(), "+++");
    pickScheme(1);
    EXPECT_EQ(precept->currentText(), "空");
    EXPECT_TRUE(pairTexts().empty());
    EXPECT_EQ(buttonStates(), "+--");  // scheme loaded that has no pair

    pickScheme(0);
    EXPECT_EQ(buttonStates(), "-++");
    press("cmdDel");
    EXPECT_EQ(buttonStates(), "+--");  // scheme deleted
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
  });
  ASSERT_EQ(messages->shown.size(), 2u);  // the two confirmations of saving
}

}  // namespace
}  // namespace dupsweep
