#include "ui/dupsweep/frmrestore.h"

#include <QDateTime>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>

#include "platform/ui/handler.h"
#include "platform/ui/messages.h"
#include "ui/texts.h"
#include "ui_frmrestore.h"

namespace dupsweep {
namespace {

// Where an item of lsvDeletions keeps its entry's id and whether it can be restored.
constexpr int kIdRole = Qt::UserRole;
constexpr int kRestorableRole = Qt::UserRole + 1;
constexpr int kBatchRole = Qt::UserRole + 2;

using texts::kPrompt;

// An entry's time (UTC in the journal) as the operator's local time.
QString localTime(const std::string& utc) {
  QDateTime when = QDateTime::fromString(QString::fromStdString(utc), Qt::ISODate);
  if (!when.isValid()) return QString::fromStdString(utc);
  return when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

TfrmRestore::TfrmRestore(TdmDupsweep& dataModule, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfrmRestore>()), cleanup_(dataModule) {
  ui_->setupUi(this);
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);
  ui_->lsvDeletions->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  ui_->btnRestore->setEnabled(false);
  auto* restoreBatch = new QPushButton(QStringLiteral("恢复整批"), this);
  restoreBatch->setObjectName("btnRestoreBatch");
  restoreBatch->setAutoDefault(false);
  restoreBatch->setEnabled(false);
  ui_->ButtonLayout->insertWidget(ui_->ButtonLayout->indexOf(ui_->btnRestore) + 1, restoreBatch);
  connect(restoreBatch, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmRestore::btnRestoreBatchClick));
  connect(ui_->btnClose, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->btnRestore, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmRestore::btnRestoreClick));
  connect(ui_->lsvDeletions, &QTreeWidget::currentItemChanged, this,
          [this] { lsvDeletionsChange(); });
}

TfrmRestore::~TfrmRestore() = default;

void TfrmRestore::LoadEntries() {
  std::vector<journal::Entry> entries;
  try {
    entries = cleanup_.DeletionEntries();
  } catch (const JournalError& e) {
    throw Error(texts::journalFailure(e));
  }
  QTreeWidget* list = ui_->lsvDeletions;
  list->clear();
  for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
    auto* item = new QTreeWidgetItem(list);
    item->setText(0, localTime(e->when));
    item->setText(1, QString::fromStdString(e->pairName));
    item->setText(2, QString::fromStdString(e->unitName.empty()
                                                ? e->unitCode
                                                : e->unitName + "（" + e->unitCode + "）"));
    item->setText(3, QString::fromStdString(e->sampleName.empty() ? e->sampleCode
                                                                  : e->sampleName));
    item->setText(4, QString::number(e->savedRows()));
    item->setText(5, QString::fromStdString(texts::stateText(e->state)));
    // The list's columns stay as they are; an entry of a batch says so when pointed at.
    if (e->batch != 0)
      for (int c = 0; c < list->columnCount(); ++c)
        item->setToolTip(c, QStringLiteral("批次 %1").arg(e->batch));
    item->setData(0, kBatchRole, QVariant::fromValue<qlonglong>(e->batch));
    item->setData(0, kIdRole, QVariant::fromValue<qlonglong>(e->id));
    item->setData(0, kRestorableRole, e->state == journal::State::Done ||
                                          e->state == journal::State::Pending);
  }
  if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(0));
  lsvDeletionsChange();
}

void TfrmRestore::lsvDeletionsChange() {
  const QTreeWidgetItem* item = ui_->lsvDeletions->currentItem();
  ui_->btnRestore->setEnabled(item && item->data(0, kRestorableRole).toBool());
  findChild<QPushButton*>("btnRestoreBatch")
      ->setEnabled(item && item->data(0, kBatchRole).toLongLong() != 0);
}

void TfrmRestore::btnRestoreBatchClick() {
  const QTreeWidgetItem* item = ui_->lsvDeletions->currentItem();
  if (!item || item->data(0, kBatchRole).toLongLong() == 0) return;
  const std::int64_t batch = item->data(0, kBatchRole).toLongLong();
  std::int64_t rows = 0;
  try {
    rows = cleanup_.RestoreBatch(batch);
  } catch (const DeletionNeverTookEffect& e) {
    ui::MessageBox(texts::restoreRefusal(e), kPrompt, ui::MB_OK | ui::MB_ICONINFORMATION);
    LoadEntries();
    return;
  } catch (const RestoreRefused& e) {
    // The entry that stops the batch is named: its reason may not name it.
    throw Error(texts::batchRestoreRefusal(batch, e));
  } catch (const Error& e) {
    throw Error(texts::cleanupFailure(e, texts::Operation::Restore));
  }
  ui::MessageBox("已经恢复批次 " + std::to_string(batch) + " 的 " + std::to_string(rows) + " 行数据",
                 kPrompt, ui::MB_OK | ui::MB_ICONINFORMATION);
  LoadEntries();
}

void TfrmRestore::btnRestoreClick() {
  const QTreeWidgetItem* item = ui_->lsvDeletions->currentItem();
  if (!item) return;
  const std::int64_t id = item->data(0, kIdRole).toLongLong();
  std::int64_t rows = 0;
  try {
    rows = cleanup_.RestoreDeletion(id);
  } catch (const DeletionNeverTookEffect& e) {
    // Nothing to put back: the entry is now marked rolled back, which the list shows.
    ui::MessageBox(texts::restoreRefusal(e), kPrompt, ui::MB_OK | ui::MB_ICONINFORMATION);
    LoadEntries();
    return;
  } catch (const Error& e) {
    throw Error(texts::cleanupFailure(e, texts::Operation::Restore));
  }
  ui::MessageBox("已经恢复 " + std::to_string(rows) + " 行数据", kPrompt,
                 ui::MB_OK | ui::MB_ICONINFORMATION);
  LoadEntries();
}

}  // namespace dupsweep
