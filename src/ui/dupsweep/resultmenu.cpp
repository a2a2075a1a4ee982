#include "ui/dupsweep/resultmenu.h"

#include <QDir>
#include <QFileDialog>
#include <QMenu>

#include "ui/dupsweep/runreport.h"
#include "platform/ui/handler.h"
#include "platform/ui/messages.h"
#include "ui/texts.h"

namespace dupsweep {
namespace {

using texts::kPrompt;
const char* const kExportResult = "导出比对结果…";
const char* const kExportNeedsRun = "请先比对数据，才能导出比对结果";
const char* const kExported = "比对结果已经导出到：";
const char* const kRestoreDeleted = "恢复已删除的数据…";
constexpr int kInformation = ui::MB_OK | ui::MB_ICONINFORMATION;

void exportComparison(const ResultMenuContext& context) {
  if (!context.lastRun || !context.found) {
    ui::MessageBox(kExportNeedsRun, kPrompt, kInformation);
    return;
  }
  const ComparisonRunRecord& run = *context.lastRun;
  const std::string suggested =
      QDir(QDir::homePath())
          .filePath(QString::fromStdString("比对结果_" + run.sPeriodID + ".xlsx"))
          .toStdString();
  const std::string file = chooseExportFile(context.parent, suggested, kExportResult);
  if (file.empty()) return;
  writeComparisonWorkbook(file, run, *context.found);
  ui::MessageBox(kExported + file, kPrompt, kInformation);
}

}  // namespace

ExportFileChooser& exportFileChooser() {
  static ExportFileChooser chooser;
  return chooser;
}

std::string chooseExportFile(QWidget* parent, const std::string& suggested, const char* title) {
  if (const ExportFileChooser& chooser = exportFileChooser()) return chooser(parent, suggested);
  QFileDialog dialog(parent, QString::fromUtf8(title), QString::fromStdString(suggested),
                     QStringLiteral("Excel 工作簿 (*.xlsx)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("xlsx"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front().toStdString();
}

void showResultMenu(const ResultMenuContext& context, const QPoint& global) {
  QMenu menu(context.parent);
  QAction* exportAction = menu.addAction(QString::fromUtf8(kExportResult));
  exportAction->setEnabled(context.lastRun != nullptr);
  if (!context.lastRun) exportAction->setToolTip(QString::fromUtf8(kExportNeedsRun));
  QAction* restoreAction = menu.addAction(QString::fromUtf8(kRestoreDeleted));
  restoreAction->setEnabled(static_cast<bool>(context.restore));
  menu.setToolTipsVisible(true);
  QAction* chosen = menu.exec(global);
  if (chosen == exportAction) ui::runHandler([&context] { exportComparison(context); });
  if (chosen == restoreAction) ui::runHandler([&context] { context.restore(); });
}

}  // namespace dupsweep
