// The viewer over the demonstration database: two pairs of units that differ in one cell each
// are filled as the dialog's pair display fills them.

#include <QGroupBox>
#include <QTreeWidget>

#include "demodb.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep::testing {
namespace {

class DemoPairs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    demodb::DemoOptions options;
    options.out = dir_->path() / "demo.db";
    demodb::writeDemoDatabase(options);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    data_.SetConnection("Provider=SQLite;Data Source=" + (dir_->path() / "demo.db").string());
  }

  static TUnitData unit(const char* code, const char* name) {
    TUnitData u;
    u.sUnitCode = code;
    u.sUnitName = name;
    u.nLevel = 2;
    return u;
  }

  static inline TempDir* dir_ = nullptr;
  TdmDupsweep data_;
  TfrmShowDifference form_;
};

TEST_F(DemoPairs, OneChangedAmountIsTheOnlyLineAndMarkedInBothGrids) {
  const auto outcome = fillPair(form_, data_, unit("020201", "天津和平营业部"),
                                unit("020202", "天津河西营业部"), "2024N", "T01", 1);
  ASSERT_EQ(outcome.size(), 8u);
  for (const auto& [code, repeated] : outcome) EXPECT_EQ(repeated, code != "B02") << code;

  QTreeWidget* list = form_.lsvDifferenace();
  ASSERT_EQ(list->topLevelItemCount(), 1);
  const QTreeWidgetItem* line = list->topLevelItem(0);
  EXPECT_EQ(line->text(0), "1");
  EXPECT_EQ(line->text(1), QString::fromUtf8("利润表"));
  EXPECT_EQ(line->text(2), "6");
  EXPECT_EQ(line->text(3), "4");
  EXPECT_DOUBLE_EQ(line->text(5).toDouble(), line->text(4).toDouble() + 100);
  EXPECT_EQ(line->data(0, Qt::UserRole).toInt(), 2);

  EXPECT_EQ(form_.F1Book1().Sheet(), 1);
  EXPECT_EQ(form_.F1Book2().Sheet(), 1);
  for (sheet::F1Book* book : {&form_.F1Book1(), &form_.F1Book2()}) {
    book->setSheet(2);
    const sheet::CellFormat format = formatAt(*book, 6, 4);
    EXPECT_TRUE(format.font.bold);
    EXPECT_EQ(format.font.color, sheet::Color::rgb(255, 0, 0));
  }
  EXPECT_EQ(form_.GroupBox1()->title(), QString::fromUtf8("天津和平营业部[020201]"));
  EXPECT_EQ(form_.GroupBox2()->title(), QString::fromUtf8("天津河西营业部[020202]"));
  EXPECT_EQ(form_.windowTitle(), QString::fromUtf8("天津和平营业部=>天津河西营业部数据差异"));
}

TEST_F(DemoPairs, LetterCaseIsADifferenceAndShowingThePairTwiceGivesTheSameList) {
  for (int round = 0; round < 2; ++round) {
    const auto outcome = fillPair(form_, data_, unit("020301", "石家庄长安营业部"),
                                  unit("020302", "石家庄桥西营业部"), "2024N", "T01", 1);
    for (const auto& [code, repeated] : outcome) EXPECT_EQ(repeated, code != "B04") << code;
    QTreeWidget* list = form_.lsvDifferenace();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    const QTreeWidgetItem* line = list->topLevelItem(0);
    EXPECT_EQ(line->text(1), QString::fromUtf8("所有者权益变动表"));
    EXPECT_EQ(line->text(2), "5");
    EXPECT_EQ(line->text(3), "7");
    EXPECT_EQ(line->text(4), "abc");
    EXPECT_EQ(line->text(5), "ABC");
  }
}

}  // namespace
}  // namespace dupsweep::testing
