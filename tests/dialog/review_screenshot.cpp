// Renders the review in the window "查找重复数据单位" over the demonstration database into PNG
// files, for the README (not a test):
//   review_screenshot WINDOW.png CONFIRM.png
// WINDOW.png: the findings with a confirmed and a legitimate one (shown, greyed); CONFIRM.png: the
// one confirmation of a batch deletion of two copies, answered No. Each picture is the screen as
// ImageMagick's `import -window root` takes it: run it under Xvfb (xvfb-run -s "-screen 0
// 1400x1000x24").

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "demodb.h"
#include "support/temp_dir.h"
#include "ui/dupsweep/frmfindduplicates.h"

using namespace dupsweep;

namespace {

void later(int ms, std::function<void()> action) {
  QTimer::singleShot(ms, action);
}

bool screen(const std::string& file) {
  return std::system(("import -window root '" + file + "'").c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s WINDOW.png CONFIRM.png\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const std::string windowPng = argv[1], confirmPng = argv[2];
  const dupsweep::testing::TempDir temp("review-screenshot");
  setenv("DUPSWEEP_JOURNAL", (temp.path() / "journal.db").c_str(), 1);
  demodb::DemoOptions options;
  options.out = temp.path() / "demo.db";
  demodb::writeDemoDatabase(options);
  TdmDupsweep dm;
  dm.SetConnection("Provider=SQLite;Data Source=" + options.out.string());

  int status = 0;
  TfrmFindDuplicates window({&dm, "2024N", "T01", 1, "01", nullptr, nullptr});
  window.move(0, 0);
  window.resize(1300, 900);
  std::function<void()> waitForSearch = [&] {
    if (!window.searched()) return later(100, waitForSearch);
    auto* findings = window.findChild<QTableWidget*>("tblFindings");
    const auto click = [&](const char* name) { window.findChild<QPushButton*>(name)->click(); };
    findings->setCurrentCell(0, 0);
    click("cmdMarkLegitimate");
    findings->setCurrentCell(findings->rowCount() - 1, 0);
    click("cmdMarkConfirmed");
    window.findChild<QCheckBox*>("chkShowLegitimate")->setChecked(true);
    for (int row : {1, 2}) {
      findings->item(row, 0)->setCheckState(Qt::Checked);
      qobject_cast<QComboBox*>(findings->cellWidget(row, 7))->setCurrentIndex(2);
    }
    findings->clearSelection();
    findings->scrollToTop();
    later(500, [&window, &status, &windowPng, &confirmPng] {
      if (!screen(windowPng)) status = 1;
      later(300, [&window, &status, &confirmPng] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          box->move(200, 200);
          later(400, [&window, &status, &confirmPng, box] {
            if (!screen(confirmPng)) status = 1;
            box->button(QMessageBox::No)->click();
            later(100, [&] { window.findChild<QPushButton*>("cmdClose")->click(); });
          });
        }
      });
      window.findChild<QPushButton*>("cmdDeleteChosen")->click();
    });
  };
  later(100, waitForSearch);
  window.exec();
  return status;
}
