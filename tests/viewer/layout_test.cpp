// The viewer's window: its controls and their settings, captions, font and the modal showing.

#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "platform/spreadsheet/bookwidget.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep::testing {
namespace {

template <class W>
W* child(QWidget& parent, const char* name) {
  W* widget = parent.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

TEST(Layout, WindowIsMadeHiddenWithItsCaptionAndRestoredBounds) {
  TfrmShowDifference form;
  EXPECT_EQ(form.objectName(), "frmShowDifference");
  EXPECT_EQ(form.windowTitle(), QString::fromUtf8("差异显示"));
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.parent(), nullptr);
  EXPECT_EQ(form.geometry(), QRect(214, 109, 791, 608));
  EXPECT_EQ(form.font().pointSize(), 9);
  if (QFontDatabase::hasFamily("Noto Serif CJK SC") && !QFontDatabase::hasFamily("SimSun") &&
      !QFontDatabase::hasFamily(QString::fromUtf8("宋体"))) {
    EXPECT_EQ(QFontInfo(form.font()).family(), "Noto Serif CJK SC");
  }
}

TEST(Layout, ToolBarHoldsTheSeparatorAndTwoButtonsWithImagesAndCaptions) {
  TfrmShowDifference form;
  auto* bar = child<QToolBar>(form, "ToolBar1");
  auto* separator = child<QWidget>(form, "ToolButton2");
  auto* show = child<QToolButton>(form, "ToolButton3");
  auto* quit = child<QToolButton>(form, "ToolButton1");
  ASSERT_TRUE(bar && separator && show && quit);
  EXPECT_EQ(separator->width(), 9);
  EXPECT_EQ(show->text(), QString::fromUtf8("显示不同"));
  EXPECT_EQ(quit->text(), QString::fromUtf8("退出"));
  for (QToolButton* button : {show, quit}) {
    EXPECT_EQ(button->size(), QSize(55, 51));
    EXPECT_EQ(button->iconSize(), QSize(32, 32));
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_TRUE(button->autoRaise());
    ASSERT_FALSE(button->icon().isNull());
    EXPECT_EQ(button->icon().availableSizes().value(0), QSize(32, 32));
  }
  form.show();
  QApplication::processEvents();
  // Left to right: the separator, then "显示不同", then "退出".
  EXPECT_LT(separator->geometry().left(), show->geometry().left());
  EXPECT_LT(show->geometry().left(), quit->geometry().left());
  EXPECT_EQ(bar->height(), 53);
  EXPECT_EQ(show->size(), QSize(55, 51));
  EXPECT_GE(show->geometry().top(), 0);
  EXPECT_LE(show->geometry().bottom(), 52);
}

TEST(Layout, SplittersGroupBoxesGridsListAndStatusBarSitWhereTheyBelong) {
  TfrmShowDifference form;
  auto* splitter1 = child<QSplitter>(form, "Splitter1");
  auto* splitter2 = child<QSplitter>(form, "Splitter2");
  auto* box1 = child<QGroupBox>(form, "GroupBox1");
  auto* box2 = child<QGroupBox>(form, "GroupBox2");
  auto* list = child<QTreeWidget>(form, "lsvDifferenace");
  auto* status = child<QStatusBar>(form, "StatusBar1");
  ASSERT_TRUE(splitter1 && splitter2 && box1 && box2 && list && status);
  EXPECT_EQ(splitter1->orientation(), Qt::Vertical);
  EXPECT_EQ(splitter1->handleWidth(), 3);
  EXPECT_EQ(splitter1->widget(0), splitter2);
  EXPECT_EQ(splitter1->widget(1), list);
  EXPECT_EQ(splitter2->orientation(), Qt::Horizontal);
  EXPECT_EQ(splitter2->handleWidth(), 3);
  EXPECT_EQ(splitter2->widget(0), box1);
  EXPECT_EQ(splitter2->widget(1), box2);
  EXPECT_EQ(box1->title(), QString::fromUtf8("单位1"));
  EXPECT_EQ(box2->title(), "GroupBox2");
  EXPECT_EQ(form.GroupBox1(), box1);

  auto* grid1 = child<sheet::BookWidget>(form, "F1Book1");
  auto* grid2 = child<sheet::BookWidget>(form, "F1Book2");
  ASSERT_TRUE(grid1 && grid2);
  EXPECT_EQ(grid1->parentWidget(), box1);
  EXPECT_EQ(grid2->parentWidget(), box2);
  EXPECT_EQ(grid1->book(), &form.F1Book1());
  EXPECT_EQ(grid2->book(), &form.F1Book2());

  form.show();
  QApplication::processEvents();
  EXPECT_EQ(box1->width(), 506);
  EXPECT_EQ(list->height(), 160);
  EXPECT_GT(box2->width(), 0);
  EXPECT_EQ(status->height(), 22);
  auto* panel = child<QLabel>(form, "StatusBar1Panel");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->width(), 50);
  EXPECT_TRUE(panel->text().isEmpty());
  EXPECT_GT(status->geometry().top(), list->mapTo(&form, QPoint(0, 0)).y());
}

TEST(Layout, TheDifferenceListIsAReadOnlyReportWithSixColumns) {
  TfrmShowDifference form;
  QTreeWidget* list = form.lsvDifferenace();
  const std::vector<std::pair<const char*, int>> columns{
      {"序号", 50}, {"表", 180}, {"行", 80}, {"列", 80}, {"左边值", 160}, {"右边值", 160}};
  ASSERT_EQ(list->columnCount(), 6);
  for (int c = 0; c < 6; ++c) {
    EXPECT_EQ(list->headerItem()->text(c), QString::fromUtf8(columns[c].first));
    EXPECT_EQ(list->header()->sectionSize(c), columns[c].second);
  }
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_FALSE(list->rootIsDecorated());
  const QPalette& palette = list->palette();
  EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Highlight),
            palette.color(QPalette::Active, QPalette::Highlight));
  EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::HighlightedText),
            palette.color(QPalette::Active, QPalette::HighlightedText));

  form.MarkCell(1, 1);  // nothing to list; then a scan of two differing cells
  form.F1Book1().EntryRC(1, 1, "a");
  form.F1Book1().EntryRC(1, 2, "b");
  form.FindSheetDifferences();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_FALSE(list->topLevelItem(0)->flags() & Qt::ItemIsEditable);
  form.ClearDifferences();
  EXPECT_EQ(list->topLevelItemCount(), 0);
}

TEST(Layout, CaptionsFollowTheUnitsAndThePair) {
  TfrmShowDifference form;
  TUnitData s;
  s.sUnitName = "甲";
  s.sUnitCode = "0101";
  TUnitData d;
  d.sUnitName = "乙";
  d.sUnitCode = "0102";
  form.SetUnitCaptions(s, d);
  EXPECT_EQ(form.GroupBox1()->title(), QString::fromUtf8("甲[0101]"));
  EXPECT_EQ(form.GroupBox2()->title(), QString::fromUtf8("乙[0102]"));
  form.SetUnitCaptions("左", "右");
  EXPECT_EQ(form.GroupBox2()->title(), QString::fromUtf8("右"));
  form.SetPairCaption("甲=>乙");
  EXPECT_EQ(form.windowTitle(), QString::fromUtf8("甲=>乙数据差异"));
}

TEST(Layout, TheModalShowingOpensMaximisedAndTheExitButtonEndsIt) {
  TfrmShowDifference form;
  bool maximised = false;
  bool stillShownAfterEscape = false;
  QTimer::singleShot(0, [&] {
    maximised = form.isMaximized() && form.isModal();
    QTest::keyClick(&form, Qt::Key_Escape);
    stillShownAfterEscape = form.isVisible();
    form.findChild<QToolButton*>("ToolButton1")->click();
  });
  form.ShowModal();
  EXPECT_TRUE(maximised);
  EXPECT_TRUE(stillShownAfterEscape);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.normalGeometry(), QRect(214, 109, 791, 608));

  // Every showing opens maximised again, also after the operator restored the window.
  form.showNormal();
  form.hide();
  QTimer::singleShot(0, [&] {
    maximised = form.isMaximized();
    form.ToolButton1Click();
  });
  form.ShowModal();
  EXPECT_TRUE(maximised);
}

}  // namespace
}  // namespace dupsweep::testing

namespace dupsweep::testing {
namespace {

TEST(Layout, TheWalkingButtonsFollowTheFirstTwoInTheirOrder) {
  TfrmShowDifference form;
  form.show();
  QApplication::processEvents();
  std::vector<QWidget*> order;
  for (const char* name :
       {"ToolButton2", "ToolButton3", "ToolButton1", "ToolSeparator1", "btnPrevDifference",
        "btnNextDifference", "btnSyncScroll", "btnExportDifferences"}) {
    order.push_back(child<QWidget>(form, name));
    ASSERT_NE(order.back(), nullptr);
  }
  for (std::size_t i = 1; i < order.size(); ++i)
    EXPECT_LT(order[i - 1]->geometry().left(), order[i]->geometry().left()) << i;
  for (std::size_t i = 4; i < order.size(); ++i) {
    auto* button = static_cast<QToolButton*>(order[i]);
    EXPECT_EQ(button->height(), 51);
    EXPECT_GE(button->width(), 55);
    EXPECT_FALSE(button->icon().isNull());
    // The caption fits the button: the export button is as wide as "导出差异…" needs.
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 2)
        << button->objectName().toStdString();
  }
  EXPECT_EQ(static_cast<QToolButton*>(order[6])->text(), QString::fromUtf8("同步滚动"));
  EXPECT_EQ(static_cast<QToolButton*>(order[7])->text(), QString::fromUtf8("导出差异…"));
  EXPECT_EQ(form.findChild<QToolBar*>("ToolBar1")->height(), 53);
}

}  // namespace
}  // namespace dupsweep::testing
