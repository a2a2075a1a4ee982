// The dialog's controls as the layout fixes them: names, kinds, captions, geometry, parents, tab
// order, enabled states, and the window itself.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <map>
#include <set>

#include "dialog/qt_environment.h"
#include "ui/dupsweep/frmdupsweep.h"

namespace dupsweep {
namespace {

struct Control {
  const char* name;
  const char* parent;
  const char* kind;
  const char* caption;  // text, or a group box's title; null when the control has none
  QRect geometry;
  int tab;  // -1: not in the tab order
  bool enabled;
};

const char* const kDialog = "frmDupsweep";

const std::vector<Control>& layoutTable() {
  static const std::vector<Control> table = {
      {"Label4", kDialog, "QLabel", "期间选择：", {352, 16, 60, 13}, -1, true},
      {"cmbPeriod", kDialog, "QComboBox", nullptr, {416, 11, 191, 21}, 9, true},
      {"GroupBox1", kDialog, "QGroupBox", "单位选择", {10, 9, 327, 480}, 8, true},
      {"tvUnit", "GroupBox1", "dupsweep::UnitTree", nullptr, {2, 15, 323, 385}, 0, true},
      {"Panel1", "GroupBox1", "QFrame", nullptr, {2, 400, 323, 78}, 1, true},
      {"Label6",
       "Panel1",
       "QLabel",
       "操作提示：请按下Ctrl 键选择两个单位然后点 >> 按纽，将这一组添加到单位选择列表里面",
       {8, 16, 297, 41},
       -1,
       true},
      {"cmdAdd", kDialog, "QPushButton", ">>", {342, 88, 22, 24}, 0, true},
      {"cmdRemove", kDialog, "QPushButton", "<<", {342, 121, 22, 24}, 1, false},
      {"GroupBox2", kDialog, "QGroupBox", "选定的单位", {367, 35, 265, 129}, 2, true},
      {"Label3", "GroupBox2", "QLabel", "方案：", {8, 24, 36, 13}, -1, true},
      {"cmbPrecept", "GroupBox2", "QComboBox", nullptr, {47, 18, 170, 21}, 1, true},
      {"lsbSelectUnit", "GroupBox2", "QListWidget", nullptr, {8, 43, 209, 80}, 0, true},
      {"cmdSave", "GroupBox2", "QPushButton", "保存", {223, 42, 35, 36}, 2, true},
      {"cmdDel", "GroupBox2", "QPushButton", "删除", {223, 78, 35, 36}, 3, true},
      {"cmdCompare", kDialog, "QPushButton", "比对数据", {352, 168, 129, 28}, 3, false},
      {"btnShowDifference", kDialog, "QPushButton", "显示对比结果", {512, 170, 121, 25}, 11, true},
      {"Label1", kDialog, "QLabel", "比对进程：", {352, 201, 60, 13}, -1, true},
      {"ProgressBar1", kDialog, "QProgressBar", nullptr, {352, 225, 281, 17}, 4, true},
      {"Label5", kDialog, "QLabel", "数据重复单位：", {352, 256, 89, 13}, -1, true},
      {"cmbUnits", kDialog, "QComboBox", nullptr, {440, 250, 193, 21}, 10, true},
      {"GroupBox3", kDialog, "QGroupBox", "重复数据表", {352, 280, 289, 134}, 5, true},
      {"lsbDifference", "GroupBox3", "QListWidget", nullptr, {2, 15, 285, 117}, 0, true},
      {"cmdDelRepetition",
       kDialog,
       "QPushButton",
       "删除选择单位的重复数据",
       {352, 418, 286, 29},
       6,
       false},
      {"cmdClose", kDialog, "QPushButton", "关闭", {351, 454, 286, 28}, 7, true},
  };
  return table;
}

QString captionOf(const QWidget* w) {
  if (auto* label = qobject_cast<const QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text();
  if (auto* group = qobject_cast<const QGroupBox*>(w)) return group->title();
  return {};
}

class Layout : public ::testing::Test {
 protected:
  template <class W = QWidget>
  W* control(const char* name) {
    auto* w = dialog.findChild<W*>(QString::fromUtf8(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  TfrmDupsweep dialog;
};

TEST_F(Layout, EveryControlHasItsKindCaptionGeometryParentAndEnabledState) {
  for (const Control& c : layoutTable()) {
    SCOPED_TRACE(c.name);
    QWidget* w = control(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->metaObject()->className(), c.kind);
    ASSERT_NE(w->parentWidget(), nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), QString::fromUtf8(c.parent));
    EXPECT_EQ(w->geometry(), c.geometry);
    EXPECT_EQ(captionOf(w), c.caption ? QString::fromUtf8(c.caption) : QString());
    EXPECT_EQ(w->isEnabled(), c.enabled);
    EXPECT_TRUE(w->isVisibleTo(&dialog));
  }
}

TEST_F(Layout, TheDialogHasNoOtherNamedControls) {
  std::set<QString> expected;
  for (const Control& c : layoutTable()) expected.insert(QString::fromUtf8(c.name));
  for (QWidget* w : dialog.findChildren<QWidget*>()) {
    // Qt's own inner widgets (viewports, scroll bars, a combo box's line edit) are unnamed or
    // named "qt_...".
    if (w->objectName().isEmpty() || w->objectName().startsWith("qt_")) continue;
    EXPECT_TRUE(expected.count(w->objectName())) << w->objectName().toStdString();
  }
}

TEST_F(Layout, KindsOfListsCombosTreeAndProgressBar) {
  EXPECT_FALSE(control<QComboBox>("cmbPeriod")->isEditable());
  EXPECT_FALSE(control<QComboBox>("cmbUnits")->isEditable());
  auto* precept = control<QComboBox>("cmbPrecept");
  EXPECT_TRUE(precept->isEditable());
  // Enter in the scheme name must not add it as an entry.
  EXPECT_EQ(precept->insertPolicy(), QComboBox::NoInsert);

  EXPECT_EQ(control<QListWidget>("lsbSelectUnit")->selectionMode(),
            QAbstractItemView::SingleSelection);
  EXPECT_EQ(control<QListWidget>("lsbDifference")->selectionMode(),
            QAbstractItemView::ExtendedSelection);

  auto* tree = control<QTreeWidget>("tvUnit");
  EXPECT_EQ(tree->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(tree->indentation(), 19);
  EXPECT_EQ(tree->iconSize(), QSize(16, 16));
  EXPECT_TRUE(tree->isHeaderHidden());
  EXPECT_EQ(tree->topLevelItemCount(), 0);

  auto* progress = control<QProgressBar>("ProgressBar1");
  EXPECT_EQ(progress->minimum(), 0);
  EXPECT_EQ(progress->maximum(), 3);
  EXPECT_EQ(progress->value(), 0);

  EXPECT_TRUE(control<QLabel>("Label6")->wordWrap());
}

TEST_F(Layout, TabOrderFollowsTheTabColumnWithinEachParent) {
  // The expected focus chain: the controls of each parent by their tab number, entering a
  // container where it stands; only the controls that take focus by Tab count.
  std::map<std::string, std::vector<const Control*>> byParent;
  for (const Control& c : layoutTable())
    if (c.tab >= 0) byParent[c.parent].push_back(&c);
  for (auto& [parent, children] : byParent)
    std::sort(children.begin(), children.end(),
              [](const Control* a, const Control* b) { return a->tab < b->tab; });
  std::vector<std::string> expected;
  std::function<void(const std::string&)> walk = [&](const std::string& parent) {
    for (const Control* c : byParent[parent]) {
      QWidget* w = control(c->name);
      if (w && (w->focusPolicy() & Qt::TabFocus)) expected.push_back(w->objectName().toStdString());
      walk(c->name);
    }
  };
  walk(kDialog);
  ASSERT_EQ(expected.size(), 14u);  // buttons, lists, combo boxes and the tree

  std::set<std::string> named(expected.begin(), expected.end());
  std::vector<std::string> chain;
  for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain())
    if (named.count(w->objectName().toStdString())) chain.push_back(w->objectName().toStdString());
  EXPECT_EQ(chain, expected);
}

TEST_F(Layout, WindowIsAFixedSizeCentredDialogWithOnlyACloseBox) {
  EXPECT_EQ(dialog.objectName(), "frmDupsweep");
  EXPECT_EQ(dialog.windowTitle(), "清理重复数据");
  EXPECT_EQ(dialog.size(), QSize(652, 495));
  EXPECT_EQ(dialog.minimumSize(), QSize(652, 495));
  EXPECT_EQ(dialog.maximumSize(), QSize(652, 495));
  const Qt::WindowFlags flags = dialog.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(dialog.geometry(),
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(652, 495), screen));
}

TEST_F(Layout, NoButtonIsTheDefaultButton) {
  const auto buttons = dialog.findChildren<QPushButton*>();
  EXPECT_EQ(buttons.size(), 8);
  for (QPushButton* b : buttons) {
    EXPECT_FALSE(b->autoDefault()) << b->objectName().toStdString();
    EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
  }
}

TEST_F(Layout, FontRendersChineseCaptions) {
  const QFont font = dialog.font();
  EXPECT_TRUE(font.families().contains("Noto Sans CJK SC"));
  EXPECT_GE(font.pointSize(), 8);
  EXPECT_LE(font.pointSize(), 9);
  // Every caption fits its control's width in this font.
  for (const Control& c : layoutTable()) {
    if (!c.caption || std::string(c.kind) != "QLabel" || std::string(c.name) == "Label6") continue;
    QFontMetrics metrics(control(c.name)->font());
    EXPECT_LE(metrics.horizontalAdvance(QString::fromUtf8(c.caption)), c.geometry.width())
        << c.name;
  }
}

}  // namespace
}  // namespace dupsweep
