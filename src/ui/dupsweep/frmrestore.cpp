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

const char* const kPrompt = "系统提示";

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
