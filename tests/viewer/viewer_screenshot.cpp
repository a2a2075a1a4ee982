// Renders the difference viewer for one pair of the demonstration database into a PNG file, for
// looking at the window without a desktop:
//   viewer_screenshot OUT.png [020201 020202]
// The database is written to a temporary directory. The window is shown maximised on the
// platform's screen (run it under Xvfb, or with QT_QPA_PLATFORM=offscreen) and grabbed.

#include <QApplication>
#include <QCursor>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <exception>

#include "demodb.h"
#include "ui/showdifference/frmshowdifference.h"
#include "viewer/viewer_support.h"

using namespace dupsweep;

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: %s OUT.png [UNIT_S UNIT_D]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  try {
    testing::TempDir dir;
    demodb::DemoOptions options;
    options.out = dir.path() / "demo.db";
    demodb::writeDemoDatabase(options);
    TdmDupsweep data;
    data.SetConnection("Provider=SQLite;Data Source=" + options.out.string());

    const demodb::DemoPlan plan = demodb::planDemo(options);
    const std::string codeS = argc == 4 ? argv[2] : "020201";
    const std::string codeD = argc == 4 ? argv[3] : "020202";
    TUnitData unitS, unitD;
    unitS.sUnitCode = codeS;
    unitD.sUnitCode = codeD;
    for (const demodb::PlantedCase& c : plan.cases) {
      if (c.unitA == codeS) unitS.sUnitName = c.nameA;
      if (c.unitB == codeD) unitD.sUnitName = c.nameB;
    }

    TfrmShowDifference viewer;
    testing::fillPair(viewer, data, unitS, unitD, "2024N", "T01", 1);
    // The pointer rests away from the tool bar, so that no button is drawn hovered.
    QCursor::setPos(QPoint(1000, 700));
    viewer.show();
    // Show the first listed cell as a click on its line would.
    if (QTreeWidgetItem* line = viewer.lsvDifferenace()->topLevelItem(0)) {
      line->setSelected(true);
      viewer.lsvDifferenaceDblClick();
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    int status = 0;
    QTimer::singleShot(500, [&] {
      if (!viewer.grab().save(out)) status = 1;
      app.quit();
    });
    app.exec();
    std::printf("%d lines listed; window %dx%d\n", viewer.lsvDifferenace()->topLevelItemCount(),
                viewer.width(), viewer.height());
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
