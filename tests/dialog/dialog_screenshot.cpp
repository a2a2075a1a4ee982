// Renders the duplicate-cleanup dialog over the demonstration database into a PNG file, for
// looking at it without a desktop (not a test):
//   dialog_screenshot pairs OUT.png   the tree opened, two units selected, pairs added
//   dialog_screenshot run OUT.png     after a comparison run of the planted pairs in 2024N
//   dialog_screenshot show OUT.png    the viewer opened by 显示对比结果 for a pair that differs
//                                     in one cell
// The database and the scheme of the planted pairs are written to a temporary directory. Run it
// under Xvfb (xvfb-run -a -s "-screen 0 1600x1000x24") or with QT_QPA_PLATFORM=offscreen.


#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>

#include "demodb.h"
#include "scheme/scheme.h"
#include "support/temp_dir.h"
#include "ui/dupsweep/frmdupsweep.h"
#include "ui/showdifference/frmshowdifference.h"

using namespace dupsweep;
namespace fs = std::filesystem;

namespace {

// Calls `action` once a modal W is up.
template <class W>
void whenModal(std::function<void(W*)> action) {
  QTimer::singleShot(50, [action] {
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget()))
      action(w);
    else
      whenModal<W>(action);
  });
}

// Chooses entry `index` of a combo box as the operator's pick does.
void pick(QComboBox* box, int index) {
  box->setCurrentIndex(index);
  emit box->activated(index);
}

// Waits for the window system to show what changed, grabs `widget` into `file`.
void grabLater(QWidget* widget, const QString& file, int& status, std::function<void()> then) {
  QTimer::singleShot(400, [widget, file, &status, then] {
    if (!widget->grab().save(file)) status = 1;
    then();
  });
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "pairs" && mode != "run" && mode != "show") {
    std::fprintf(stderr, "usage: %s pairs|run|show OUT.png\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[2]);
  int status = 0;
  const dupsweep::testing::TempDir temp("dialog-screenshot");
  const std::string dir = temp.path().string();
  try {
    demodb::DemoOptions options;
    options.out = fs::path(dir) / "demo.db";
    demodb::writeDemoDatabase(options);
    const demodb::DemoPlan plan = demodb::planDemo(options);

    // The planted pairs as the scheme 演示.
    std::vector<UnitPair> planted;
    for (const demodb::PlantedCase& c : plan.cases) {
      if (c.unitB.empty()) continue;
      planted.emplace_back(TUnitData{0, c.unitA, 2, c.nameA}, TUnitData{0, c.unitB, 2, c.nameB});
    }
    scheme::saveScheme(scheme::schemePath(dir + "/", "演示"), planted);

    TfrmDupsweep::Parts parts;
    parts.schemeDirectory = dir + "/";
    QCursor::setPos(QPoint(2000, 2000));  // no button drawn hovered
    whenModal<TfrmDupsweep>([&](TfrmDupsweep* dialog) {
      auto* close = dialog->findChild<QPushButton*>("cmdClose");
      auto* tree = dialog->findChild<QTreeWidget*>("tvUnit");
      auto* pairs = dialog->findChild<QListWidget*>("lsbSelectUnit");
      auto* periods = dialog->findChild<QComboBox*>("cmbPeriod");
      pick(periods, periods->findText("2024年(年报)"));
      if (mode == "pairs") {
        QTreeWidgetItem* region = tree->topLevelItem(0);
        tree->expandItem(region);
        QTreeWidgetItem* branch = region->child(0);
        tree->expandItem(branch);
        for (QTreeWidgetItem* node : {branch->child(0), branch->child(1)}) {
          tree->setCurrentItem(node, 0, QItemSelectionModel::Select);
        }
        dialog->findChild<QPushButton*>("cmdAdd")->click();
        grabLater(dialog, out, status, [close] { close->click(); });
        return;
      }
      pick(dialog->findChild<QComboBox*>("cmbPrecept"), 0);
      if (mode == "run") {
        dialog->findChild<QPushButton*>("cmdCompare")->click();
        auto* sheets = dialog->findChild<QListWidget*>("lsbDifference");
        if (sheets->count() > 1) sheets->setCurrentRow(1);
        grabLater(dialog, out, status, [close] { close->click(); });
        return;
      }
      // show: the pair that differs in one cell.
      for (int row = 0; row < pairs->count(); ++row)
        if (dialog->pairAt(row)->UnitS->sUnitCode == "020201") pairs->setCurrentRow(row);
      whenModal<TfrmShowDifference>([&status, &out](TfrmShowDifference* viewer) {
        if (QTreeWidgetItem* line = viewer->lsvDifferenace()->topLevelItem(0)) {
          line->setSelected(true);
          viewer->lsvDifferenaceDblClick();
        }
        grabLater(viewer, out, status, [viewer] { viewer->ToolButton1Click(); });
      });
      dialog->findChild<QPushButton*>("btnShowDifference")->click();
      close->click();
    });
    TfrmDupsweep::Execute("Provider=SQLite;Data Source=" + options.out.string(), plan.unitClsCode,
                          "", plan.taskCode, plan.sampleLevel, parts);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    status = 1;
  }
  return status;
}
