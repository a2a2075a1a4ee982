#include "ui/dupsweep/frmfindduplicates.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QTableWidgetItem>
#include <QTimer>
#include <algorithm>

#include "data/dmdupsweep.h"
#include "platform/ui/handler.h"
#include "platform/ui/messages.h"
#include "ui/dupsweep/discoveryreport.h"
#include "ui/dupsweep/reviewpanel.h"
#include "ui/dupsweep/tableitem.h"
#include "ui/texts.h"
#include "ui_frmfindduplicates.h"

namespace dupsweep {
namespace {

using texts::kPrompt;
const char* const kWorking = "正在查找重复数据……";
const char* const kCancelled = "查找已取消";
const char* const kNoneChecked = "请先勾选要加入单位选择列表的单位组";
const char* const kExported = "查找结果已经导出到：";
const char* const kNoSuchPeriods = "任务“%1”在第 %2 级没有期间，无法查找重复数据";
const char* const kNoSuchPeriod = "期间“%1”不是任务“%2”第 %3 级的期间，无法查找重复数据";
const char* const kNoSuchClassification = "单位分类“%1”中没有单位，无法查找重复数据";
const char* const kNoEarlierPeriod = "（无）";
constexpr int kInformation = ui::MB_OK | ui::MB_ICONINFORMATION;
// Where the first cell of a row keeps the index of its pair in the result.
constexpr int kPairRole = Qt::UserRole;

enum Column { kUnitS, kCodeS, kUnitD, kCodeD, kCount, kIdentical, kNear, kEarlier, kScaled };

// The discovery's steps on the window's progress bar; the window's events (the cancel button,
// Escape and closing among them) are dispatched whenever the discovery asks whether to stop.
class WindowProgress : public ProgressSink {
 public:
  WindowProgress(QProgressBar& bar, const bool& cancel) : bar_(bar), cancel_(cancel) {}
  void begin(int steps) override {
    bar_.setRange(0, steps);
    bar_.setValue(0);
  }
  void step() override { bar_.setValue(bar_.value() + 1); }
  bool cancelled() override {
    QCoreApplication::processEvents();
    return cancel_;
  }

 private:
  QProgressBar& bar_;
  const bool& cancel_;
};

}  // namespace

TfrmFindDuplicates::TfrmFindDuplicates(Context context, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfrmFindDuplicates>()), context_(std::move(context)) {
  ui_->setupUi(this);
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  connect(ui_->cmdFind, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmFindDuplicates::cmdFindClick));
  connect(ui_->cmdCancel, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmFindDuplicates::cmdCancelClick));
  connect(ui_->cmdAddPairs, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmFindDuplicates::cmdAddPairsClick));
  connect(ui_->cmdExport, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmFindDuplicates::cmdExportClick));
  connect(ui_->cmdClose, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->tblPairs, &QTableWidget::currentCellChanged, this,
          [this] { setBusy(busy_); });
  // The periods to compare with: none by default, then the task's other periods.
  ui_->cboAgainst->addItem(QString::fromUtf8(kNoEarlierPeriod), QString());
  if (context_.dataModule)
    if (const auto periods = context_.dataModule->GetPeriodList(context_.taskCode, context_.level))
      for (const PeriodEntry& entry : *periods) {
        if (!entry.period || entry.period->sPeriodID == context_.periodId) continue;
        const std::string& text = entry.text.empty() ? entry.period->sPeriodID : entry.text;
        ui_->cboAgainst->addItem(QString::fromStdString(text),
                                 QString::fromStdString(entry.period->sPeriodID));
      }
  // Under the pairs, their findings one a row, to review and clean; a pair's row opens the viewer.
  review_ = new ReviewPanel({context_.dataModule, context_.taskCode, context_.level,
                             context_.chooseExportFile},
                            this);
  ui_->FormLayout->insertWidget(ui_->FormLayout->indexOf(ui_->tblPairs) + 1, review_, 1);
  resize(width(), height() + 280);
  connect(ui_->tblPairs, &QTableWidget::cellDoubleClicked, this, [this](int row) {
    const QTableWidgetItem* first = ui_->tblPairs->item(row, kUnitS);
    if (first && (first->flags() & Qt::ItemIsUserCheckable))
      review_->showPair(first->data(kPairRole).toInt());
  });
}

TfrmFindDuplicates::~TfrmFindDuplicates() = default;

void TfrmFindDuplicates::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, ui::guarded(this, &TfrmFindDuplicates::findDuplicates));
}

void TfrmFindDuplicates::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // The window stays (and modal) until the discovery has stopped, then closes.
    cancel_ = true;
    closeWhenStopped_ = true;
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TfrmFindDuplicates::reject() {
  if (busy_) {
    cancel_ = true;
    closeWhenStopped_ = true;
    return;
  }
  QDialog::reject();
}

void TfrmFindDuplicates::cmdFindClick() { findDuplicates(); }

void TfrmFindDuplicates::cmdCancelClick() { cancel_ = true; }

void TfrmFindDuplicates::setBusy(bool busy) {
  busy_ = busy;
  ui_->cmdCancel->setEnabled(busy);
  ui_->cmdFind->setEnabled(!busy);
  ui_->cmdClose->setEnabled(!busy);
  ui_->spnNearCells->setEnabled(!busy);
  ui_->spnCommonSize->setEnabled(!busy);
  ui_->cboAgainst->setEnabled(!busy);
  // Rows against the earlier period and rescaled-only rows are findings, not copies to delete.
  const QTableWidgetItem* current = ui_->tblPairs->item(ui_->tblPairs->currentRow(), kUnitS);
  const bool findingOnly = current && !(current->flags() & Qt::ItemIsUserCheckable);
  ui_->cmdAddPairs->setEnabled(!busy && result_ && !findingOnly &&
                               std::any_of(result_->pairs.begin(), result_->pairs.end(),
                                           isDeletablePair));
  ui_->cmdExport->setEnabled(!busy && result_.has_value());
}

void TfrmFindDuplicates::findDuplicates() {
  if (!context_.dataModule || busy_) return;
  result_.reset();
  review_->clear();
  ui_->tblPairs->setRowCount(0);
  cancel_ = false;
  closeWhenStopped_ = false;
  setBusy(true);
  ui_->lblStatus->setText(QString::fromUtf8(kWorking));
  bool cancelled = false;
  bool refused = false;
  const auto done = qScopeGuard([this, &cancelled, &refused] {
    setBusy(false);
    searched_ = true;
    ui_->prgDiscovery->setValue(0);
    if (!result_ && !refused)
      ui_->lblStatus->setText(cancelled ? QString::fromUtf8(kCancelled) : QString());
    if (closeWhenStopped_) QDialog::reject();
  });
  DiscoverySettings settings;
  settings.nearCells = ui_->spnNearCells->value();
  settings.commonGroupSize = ui_->spnCommonSize->value();
  settings.againstPeriod = ui_->cboAgainst->currentData().toString().toStdString();
  WindowProgress progress(*ui_->prgDiscovery, cancel_);
  try {
    result_ = DuplicateDiscovery(*context_.dataModule, context_.periodId, context_.taskCode,
                                 context_.level, context_.unitClsCode, settings)
                  .Run(progress);
  } catch (const RunCancelled&) {
    cancelled = true;  // cancelling leaves no result: nothing half-found is listed
    return;
  } catch (const UnknownDiscoveryInput& e) {
    // Searching would find nothing, which would read as no repeated data.
    const QString task = QString::fromStdString(context_.taskCode);
    const QString level = QString::number(context_.level);
    QString text;
    switch (e.kind()) {
      case UnknownDiscoveryInput::What::TaskLevel:
        text = QString::fromUtf8(kNoSuchPeriods).arg(task, level);
        break;
      case UnknownDiscoveryInput::What::Period:
        text = QString::fromUtf8(kNoSuchPeriod)
                   .arg(QString::fromStdString(context_.periodId), task, level);
        break;
      case UnknownDiscoveryInput::What::Classification:
        text = QString::fromUtf8(kNoSuchClassification)
                   .arg(QString::fromStdString(context_.unitClsCode));
        break;
    }
    refused = true;
    ui_->lblStatus->setText(text);
    ui::MessageBox(text.toStdString(), kPrompt, kInformation);
    return;
  }
  fillTable();
  reviewResult();
}

void TfrmFindDuplicates::fillTable() {
  QTableWidget* table = ui_->tblPairs;
  table->setSortingEnabled(false);
  const int pairs = static_cast<int>(result_->pairs.size());
  table->setRowCount(pairs + static_cast<int>(result_->nearGroups.size()));
  for (int row = 0; row < pairs; ++row) {
    const DiscoveredPair& pair = result_->pairs[static_cast<std::size_t>(row)];
    QTableWidgetItem* first = textItem(pairUnitText(*result_, pair, Left));
    if (isDeletablePair(pair)) {
      first->setFlags(first->flags() | Qt::ItemIsUserCheckable);
      first->setCheckState(Qt::Unchecked);
    }
    first->setData(kPairRole, row);
    table->setItem(row, kUnitS, first);
    table->setItem(row, kCodeS, textItem(pair.units[Left].sUnitCode));
    table->setItem(row, kUnitD, textItem(pairUnitText(*result_, pair, Right)));
    table->setItem(row, kCodeD, textItem(pair.units[Right].sUnitCode));
    QTableWidgetItem* count = textItem({});
    count->setData(Qt::DisplayRole, static_cast<int>(pair.identical.size()));  // sorts as a number
    table->setItem(row, kCount, count);
    // Identical sheets of the period under 相同的表, of the earlier period under 上期相同的表.
    const std::string identical = identicalSheetsText(*result_, pair);
    table->setItem(row, kIdentical, textItem(pair.earlier ? std::string() : identical));
    table->setItem(row, kNear, textItem(nearSheetsText(*result_, pair)));
    table->setItem(row, kEarlier, textItem(pair.earlier ? identical : std::string()));
    table->setItem(row, kScaled, textItem(scaledSheetsText(*result_, pair)));
  }
  // A near-content group takes one row: its size and first and last codes, never checkable.
  for (int row = pairs; row < table->rowCount(); ++row) {
    const DiscoveredNearGroup& group = result_->nearGroups[static_cast<std::size_t>(row - pairs)];
    table->setItem(row, kUnitS,
                   textItem("近似内容：" + std::to_string(group.unitCodes.size()) + " 个单位"));
    table->setItem(row, kCodeS, textItem(group.unitCodes.front()));
    table->setItem(row, kUnitD, textItem({}));
    table->setItem(row, kCodeD, textItem(group.unitCodes.back()));
    QTableWidgetItem* count = textItem({});
    count->setData(Qt::DisplayRole, 0);
    table->setItem(row, kCount, count);
    table->setItem(row, kIdentical, textItem({}));
    table->setItem(row, kNear, textItem(nearGroupSheetText(*result_, group)));
    table->setItem(row, kEarlier, textItem({}));
    table->setItem(row, kScaled, textItem({}));
  }
  table->setSortingEnabled(true);
  table->resizeColumnsToContents();
  int common = 0;
  for (const DiscoveredGroup& group : result_->groups) common += group.common ? 1 : 0;
  ui_->lblStatus->setText(QString::fromStdString(
      "找到 " + std::to_string(result_->pairs.size()) + " 组单位有重复数据（" +
      std::to_string(result_->units.size()) + " 个单位，" +
      std::to_string(result_->sheets.size()) + " 张表）；" + std::to_string(common) +
      " 处为许多单位共有的相同内容，未列为单位组" +
      (result_->nearGroups.empty()
           ? std::string()
           : "；" + std::to_string(result_->nearGroups.size()) +
                 " 处为许多单位共有的近似内容，各列为一行")));
}

void TfrmFindDuplicates::reviewResult() {
  if (result_) review_->setResult(*result_);
}

void TfrmFindDuplicates::cmdAddPairsClick() {
  if (!result_ || !context_.addPairs) return;
  std::vector<UnitPair> checked;
  QTableWidget* table = ui_->tblPairs;
  for (int row = 0; row < table->rowCount(); ++row) {  // in the order the table shows
    const QTableWidgetItem* first = table->item(row, kUnitS);
    if (!first || !(first->flags() & Qt::ItemIsUserCheckable) ||
        first->checkState() != Qt::Checked)
      continue;
    checked.push_back(result_->pairs.at(first->data(kPairRole).toUInt()).units);
  }
  if (checked.empty()) {
    ui::MessageBox(kNoneChecked, kPrompt, kInformation);
    return;
  }
  context_.addPairs(checked);
  ui_->lblStatus->setText(QString::fromStdString("已将 " + std::to_string(checked.size()) +
                                                 " 组单位加入单位选择列表"));
}

void TfrmFindDuplicates::cmdExportClick() {
  if (!result_ || !context_.chooseExportFile) return;
  const std::string suggested =
      QDir(QDir::homePath())
          .filePath(QString::fromStdString("重复数据单位_" + result_->periodId + ".xlsx"))
          .toStdString();
  const std::string file = context_.chooseExportFile(this, suggested);
  if (file.empty()) return;
  writeDiscoveryWorkbook(file, *result_);
  ui::MessageBox(kExported + file, kPrompt, kInformation);
}

}  // namespace dupsweep
