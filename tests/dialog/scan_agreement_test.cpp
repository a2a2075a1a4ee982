// The dialog's comparison run and the batch scanner use the same engine: on the demonstration
// database, with the planted pairs loaded from one scheme file, both find the same identical
// sheets for every pair, and those are the sheets the plan planted.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <deque>
#include <set>
#include <sstream>

#include "demodb.h"
#include "dialog/run_harness.h"
#include "scan/scan.h"
#include "scheme/scheme.h"

namespace dupsweep {
namespace {

using testing::DialogHarness;
// Pair (first unit's code, second unit's code) -> the codes of its identical sheets.
using Findings = std::map<std::pair<std::string, std::string>, std::set<std::string>>;

class ScanAgreementTest : public DialogHarness {
 protected:
  void SetUp() override {
    DialogHarness::SetUp();
    options.out = db.dir() / "demo.db";
    demodb::writeDemoDatabase(options);
    plan = demodb::planDemo(options);
    conn = "Provider=SQLite;Data Source=" + options.out.string();

    // The planted pairs as a scheme (the case without a second unit has no pair).
    std::deque<TUnitData> units;
    std::vector<TUnitGroup> groups;
    for (const demodb::PlantedCase& c : plan.cases) {
      if (c.unitB.empty()) continue;
      units.push_back({0, c.unitA, 2, c.nameA});
      const TUnitData& s = units.back();
      units.push_back({0, c.unitB, 2, c.nameB});
      groups.emplace_back(s, units.back());
    }
    std::vector<const TUnitGroup*> pointers;
    for (const TUnitGroup& g : groups) pointers.push_back(&g);
    ASSERT_GE(pointers.size(), 9u);
    schemePath = scheme::schemePath(schemeDir, "planted");
    scheme::saveScheme(schemePath, pointers);
  }

  demodb::DemoOptions options;
  demodb::DemoPlan plan;
  std::string conn;
  std::string schemePath;
};

TEST_F(ScanAgreementTest, TheDialogAndTheScannerFindTheSameIdenticalSheets) {
  const std::string period = plan.plantedPeriods.back();  // 2024N
  ASSERT_EQ(period, "2024N");

  scan::Options o;
  o.conn = conn;
  o.task = plan.taskCode;
  o.level = plan.sampleLevel;
  o.period = period;
  o.schemes = {schemePath};
  o.json = true;
  std::ostringstream out, progress;
  scan::run(o, out, progress);
  const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
  Findings scanned;
  for (const QJsonValue pair : report["pairs"].toArray()) {
    const QJsonObject p = pair.toObject();
    auto& sheets = scanned[{p["unitS"].toObject()["code"].toString().toStdString(),
                            p["unitD"].toObject()["code"].toString().toStdString()}];
    for (const QJsonValue sheet : p["identical"].toArray())
      sheets.insert(sheet.toObject()["code"].toString().toStdString());
  }

  Findings listed;
  int pairCount = 0;
  run(
      [&] {
        precept->setCurrentIndex(-1);
        pickScheme(0);
        pairCount = pairs->count();
        auto* periods = dialog->findChild<QComboBox*>("cmbPeriod");
        const int index = periods->findText("2024年(年报)");
        ASSERT_GE(index, 0);
        ASSERT_NE(periods->currentIndex(), index);  // the list starts with another period
        periods->showPopup();
        QAbstractItemView* view = periods->view();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                          view->visualRect(view->model()->index(index, 0)).center());
        ASSERT_EQ(dialog->periodId(), period);
        press("cmdCompare");
        for (int row = 0; row < pairs->count(); ++row) {
          const TUnitGroup* g = dialog->pairAt(row);
          listed[{g->UnitS->sUnitCode, g->UnitD->sUnitCode}];
        }
        for (const auto& entry : *dialog->differenceList())
          listed[{entry->UnitS.sUnitCode, entry->UnitD.sUnitCode}].insert(
              entry->Sample.sSampleCode);
      },
      conn);

  ASSERT_EQ(static_cast<std::size_t>(pairCount), scanned.size());
  EXPECT_EQ(listed, scanned);
  for (const demodb::PlantedCase& c : plan.cases) {
    if (c.unitB.empty()) continue;
    const std::set<std::string> planted(c.sameSheets.begin(), c.sameSheets.end());
    EXPECT_EQ(listed[std::pair(c.unitA, c.unitB)], planted) << c.unitA << " / " << c.unitB;
  }
}

}  // namespace
}  // namespace dupsweep
