// Creating, showing and closing the dialog: keys that do nothing, the two ways of closing, the
// release of the owned parts, and a failure while the dialog is being created.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "data/dmdupsweep.h"
#include "dialog/qt_environment.h"
#include "platform/errors.h"
#include "platform/ui/messages.h"
#include "support/scripted_messages.h"
#include "ui/dupsweep/frmdupsweep.h"
#include "ui/showdifference/frmshowdifference.h"

namespace dupsweep {
namespace {

using dupsweep::testing::whenModal;

// What a watched viewer saw of its dialog when it was destroyed.
struct ViewerWatch {
  TfrmDupsweep* dialog = nullptr;
  int destroyed = 0;
  bool dataModuleAlive = false;
  bool differenceListAlive = false;
  bool wasVisible = true;
};

class WatchedViewer : public TfrmShowDifference {
 public:
  explicit WatchedViewer(ViewerWatch& watch) : watch_(watch) {}
  ~WatchedViewer() override {
    ++watch_.destroyed;
    watch_.wasVisible = isVisible();
    if (watch_.dialog) {
      watch_.dataModuleAlive = watch_.dialog->dataModule() != nullptr;
      watch_.differenceListAlive = watch_.dialog->differenceList() != nullptr;
    }
  }

 private:
  ViewerWatch& watch_;
};

TfrmDupsweep::Parts watchedParts(ViewerWatch& watch) {
  TfrmDupsweep::Parts parts;
  parts.viewer = [&watch] { return std::make_unique<WatchedViewer>(watch); };
  return parts;
}

TEST(Lifecycle, CreationMakesTheOwnedPartsAndAnEmptyDifferenceList) {
  ui::ScopedScriptedMessages messages;
  TfrmDupsweep dialog;
  ASSERT_NE(dialog.dataModule(), nullptr);
  ASSERT_NE(dialog.showForm(), nullptr);
  EXPECT_FALSE(dialog.showForm()->isVisible());
  EXPECT_EQ(dialog.showForm()->objectName(), "frmShowDifference");
  EXPECT_EQ(dialog.showForm()->windowTitle(), "差异显示");
  EXPECT_EQ(dialog.showForm()->parent(), nullptr);
  ASSERT_NE(dialog.differenceList(), nullptr);
  EXPECT_TRUE(dialog.differenceList()->empty());
  EXPECT_TRUE(messages->shown.empty());
}

// The one message a dialog shown without a database gives: it cannot open the database.
bool onlyTheNoDatabaseMessage(const std::vector<ui::Message>& shown) {
  return shown.size() == 1 && shown[0].text.rfind("无法打开数据库", 0) == 0;
}

TEST(Lifecycle, CloseButtonEndsTheLoopWithOkAndReleasesViewerThenDataModuleThenList) {
  ui::ScopedScriptedMessages messages;
  ViewerWatch watch;
  TfrmDupsweep dialog(watchedParts(watch));
  watch.dialog = &dialog;
  whenModal<TfrmDupsweep>(
      [](TfrmDupsweep* shown) { shown->findChild<QPushButton*>("cmdClose")->click(); });
  EXPECT_EQ(dialog.showModal(), QDialog::Accepted);
  EXPECT_EQ(watch.destroyed, 1);
  EXPECT_TRUE(watch.dataModuleAlive);      // the viewer goes first,
  EXPECT_TRUE(watch.differenceListAlive);  // before the data module and the list
  EXPECT_EQ(dialog.dataModule(), nullptr);
  EXPECT_EQ(dialog.showForm(), nullptr);
  EXPECT_EQ(dialog.differenceList(), nullptr);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(onlyTheNoDatabaseMessage(messages->shown));  // it was given none
}

TEST(Lifecycle, CloseBoxEndsTheLoopWithCancelAndHasTheSameEffect) {
  ui::ScopedScriptedMessages messages;
  ViewerWatch watch;
  auto dialog = std::make_unique<TfrmDupsweep>(watchedParts(watch));
  watch.dialog = dialog.get();
  whenModal<TfrmDupsweep>([](TfrmDupsweep* shown) { shown->close(); });
  EXPECT_EQ(dialog->showModal(), QDialog::Rejected);
  EXPECT_EQ(watch.destroyed, 1);
  EXPECT_EQ(dialog->dataModule(), nullptr);
  EXPECT_EQ(dialog->differenceList(), nullptr);
  watch.dialog = nullptr;
  dialog.reset();
  EXPECT_EQ(watch.destroyed, 1);  // nothing is released twice
  EXPECT_TRUE(onlyTheNoDatabaseMessage(messages->shown));  // it was given none
}

TEST(Lifecycle, EnterAndEscapeDoNothingOfTheirOwn) {
  ui::ScopedScriptedMessages messages;
  TfrmDupsweep dialog;
  bool stillOpen = false, closeNotClicked = false;
  int preceptEntries = -1;
  whenModal<TfrmDupsweep>([&](TfrmDupsweep* shown) {
    auto* close = shown->findChild<QPushButton*>("cmdClose");
    int clicks = 0;
    QObject::connect(close, &QPushButton::clicked, [&clicks] { ++clicks; });
    QTest::keyClick(shown, Qt::Key_Escape);
    // Enter on a focused button, and in the scheme name, reaches the dialog and stops there.
    close->setFocus();
    QTest::keyClick(close, Qt::Key_Return);
    QTest::keyClick(close, Qt::Key_Enter);
    QTest::keyClick(close, Qt::Key_Escape);
    auto* precept = shown->findChild<QComboBox*>("cmbPrecept");
    precept->setEditText("方案一");
    QTest::keyClick(precept->lineEdit(), Qt::Key_Return);
    preceptEntries = precept->count();
    stillOpen = shown->isVisible();
    closeNotClicked = clicks == 0;
    shown->close();
  });
  EXPECT_EQ(dialog.showModal(), QDialog::Rejected);
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(closeNotClicked);
  EXPECT_EQ(preceptEntries, 0);
}

TEST(Lifecycle, FailureInFormCreateIsShownAndTheDialogGoesOnWithoutTheRemainingParts) {
  ui::ScopedScriptedMessages messages;
  QGuiApplication::setApplicationDisplayName("报表系统");
  TfrmDupsweep::Parts parts;
  parts.viewer = []() -> std::unique_ptr<TfrmShowDifference> { throw Error("无法创建表格控件"); };
  TfrmDupsweep dialog(std::move(parts));
  QGuiApplication::setApplicationDisplayName({});
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0],
            (ui::Message{"无法创建表格控件.", "报表系统", ui::MB_OK | ui::MB_ICONSTOP}));
  EXPECT_NE(dialog.dataModule(), nullptr);  // made before the failure
  EXPECT_EQ(dialog.showForm(), nullptr);
  EXPECT_EQ(dialog.differenceList(), nullptr);  // skipped
  EXPECT_EQ(dialog.findChild<QWidget*>("tvUnit") != nullptr, true);

  // The dialog still shows and closes; closing releases what there is.
  whenModal<TfrmDupsweep>([](TfrmDupsweep* shown) { shown->close(); });
  EXPECT_EQ(dialog.showModal(), QDialog::Rejected);
  EXPECT_EQ(dialog.dataModule(), nullptr);
  ASSERT_EQ(messages->shown.size(), 2u);  // and, as it was given no database, that message
  EXPECT_EQ(messages->shown[1].text.rfind("无法打开数据库", 0), 0u);
}

TEST(Lifecycle, ExecuteWithoutADataModuleShowsTheFailureAndThenFails) {
  ui::ScopedScriptedMessages messages;
  TfrmDupsweep::Parts parts;
  parts.dataModule = []() -> std::unique_ptr<TdmDupsweep> { throw Error("out of resources"); };
  EXPECT_THROW(TfrmDupsweep::Execute("Provider=SQLite;Data Source=/nonexistent.db", "01", "", "T01",
                                     1, std::move(parts)),
               Error);
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text, "out of resources.");
  EXPECT_EQ(QApplication::topLevelWidgets().count(), 0);  // the dialog was destroyed
}

TEST(Lifecycle, AClassificationCodeHoldingANulIsRefusedBeforeAnythingIsShown) {
  try {
    TfrmDupsweep::Execute("Provider=SQLite;Data Source=/nonexistent.db", std::string("01\0" "02", 5),
                          "", "T01", 1);
    ADD_FAILURE() << "shown";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("NUL"), std::string::npos) << e.what();
  }
  EXPECT_EQ(QApplication::topLevelWidgets().count(), 0);
}

}  // namespace
}  // namespace dupsweep
