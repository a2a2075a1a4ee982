#include "ui/dupsweep/frmdupsweep.h"

#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTreeWidgetItem>
#include <limits>

#include "data/dmdupsweep.h"
#include "platform/errors.h"
#include "platform/ui/handler.h"
#include "ui/dupsweep/execute.h"
#include "ui/showdifference/frmshowdifference.h"
#include "ui_frmdupsweep.h"

// The dialog's resources live in this static library; they are registered explicitly since the
// linker would otherwise drop their unreferenced initialiser.
static void initDialogResources() {
  Q_INIT_RESOURCE(dupsweep);
}

namespace dupsweep {
namespace {

constexpr int kClientWidth = 652;
constexpr int kClientHeight = 495;
// Where a node of tvUnit keeps the address of its unit record.
constexpr int kUnitRole = Qt::UserRole;

// The dialog's font. The layout was made for an 8-point font whose Chinese text renders in a
// 12-pixel font; the application's default family at 9 points (12 pixels at 96 dpi) gives the
// same text widths, with Noto Sans CJK SC behind it for the Chinese captions.
QFont dialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(9);
  font.setFamilies({font.family(), QStringLiteral("Noto Sans CJK SC")});
  return font;
}

std::int32_t toInt32(std::int64_t value, const char* column) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    throw DatabaseError(std::string("The value of ") + column +
                        " is out of range: " + std::to_string(value));
  return static_cast<std::int32_t>(value);
}

}  // namespace

TfrmDupsweep::TfrmDupsweep(Parts parts)
    : ui_(std::make_unique<Ui::TfrmDupsweep>()), parts_(std::move(parts)) {
  initDialogResources();
  setObjectName(QStringLiteral("frmDupsweep"));
  ui_->setupUi(this);
  // Dialog border: a caption with the close box only, and a size the operator cannot change.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(dialogFont());
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->geometry()));
  // No button is the default or the cancel button.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  nodeImage_ = QIcon(QStringLiteral(":/dupsweep/unit.xpm"));

  connect(ui_->cmdClose, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->cmbPeriod, &QComboBox::activated, this,
          ui::guarded(this, &TfrmDupsweep::cmbPeriodClick));

  ui::runHandler([this] { FormCreate(); });
}

TfrmDupsweep::~TfrmDupsweep() {
  // The owned parts go in the order FormClose releases them, when it has not run.
  FShowForm.reset();
  FDataModule.reset();
  FDifferenceList.reset();
}

void TfrmDupsweep::Execute(const std::string& conn, const std::string& unitClsCode,
                           const std::string& periodId, const std::string& taskCode,
                           std::int32_t level, Parts parts) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
    throw Error("The dialog cannot be shown: the process has no QApplication");
  auto dialog = std::make_unique<TfrmDupsweep>(std::move(parts));
  dialog->FUnitClsCode = unitClsCode;
  dialog->FPeriodID = periodId;
  dialog->FTaskCode = taskCode;
  dialog->FLevel = level;
  if (!dialog->FDataModule) throw Error("The dialog has no data module to connect");
  dialog->FDataModule->SetConnection(conn);
  dialog->LoadRootUnits();
  dialog->showModal();
}

int TfrmDupsweep::showModal() {
  const int result = exec();
  FormClose();
  return result;
}

void TfrmDupsweep::keyPressEvent(QKeyEvent* event) {
  // Enter and Escape do nothing of their own: there is no default and no cancel button, and
  // Escape must not close the dialog.
  if (event->matches(QKeySequence::Cancel) || event->key() == Qt::Key_Escape ||
      event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmDupsweep::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) ui::runHandler([this] { FormShow(); });
}

void TfrmDupsweep::FormCreate() {
  FDataModule = parts_.dataModule ? parts_.dataModule() : std::make_unique<TdmDupsweep>();
  FShowForm = parts_.viewer ? parts_.viewer() : std::make_unique<TfrmShowDifference>();
  FDifferenceList = std::make_unique<std::vector<std::unique_ptr<DifferenceData>>>();
  LoadSchemeList();
}

void TfrmDupsweep::LoadSchemeList() {}

void TfrmDupsweep::FormShow() {
  // A failed statement counts as no periods; so does a dialog left without its data module.
  std::optional<std::vector<PeriodEntry>> periods;
  if (FDataModule) periods = FDataModule->GetPeriodList(FTaskCode, FLevel);
  ui_->cmbPeriod->clear();
  periods_.clear();
  if (periods) {
    for (PeriodEntry& entry : *periods) {
      ui_->cmbPeriod->addItem(QString::fromStdString(entry.text));
      periods_.push_back(entry.period ? std::move(entry.period) : std::make_unique<TPeriod>());
    }
  }
  // Choosing the first entry here is no click: cmbPeriodClick does not run.
  if (!periods_.empty()) {
    ui_->cmbPeriod->setCurrentIndex(0);
    FPeriodID = periods_.front()->sPeriodID;
  }
}

void TfrmDupsweep::cmbPeriodClick() {
  if (const TPeriod* period = periodAt(ui_->cmbPeriod->currentIndex()))
    FPeriodID = period->sPeriodID;
}

void TfrmDupsweep::FormClose() {
  FShowForm.reset();
  FDataModule.reset();
  FDifferenceList.reset();
}

const TPeriod* TfrmDupsweep::periodAt(int index) const noexcept {
  if (index < 0 || static_cast<std::size_t>(index) >= periods_.size()) return nullptr;
  return periods_[static_cast<std::size_t>(index)].get();
}

void TfrmDupsweep::LoadRootUnits() {
  LoadUnitNodes(nullptr, FUnitClsCode, 0);
}

void TfrmDupsweep::LoadUnitNodes(QTreeWidgetItem* parent, const std::string& unitClsCode,
                                 std::int32_t level) {
  const TUnitData* parentUnit = parent ? unitOf(parent) : nullptr;
  const std::string parentCode = parentUnit ? parentUnit->sUnitCode : std::string();
  TQuery* query =
      FDataModule ? FDataModule->GetSpecifyUnitList(unitClsCode, parentCode, level) : nullptr;
  if (!query) return;
  db::RowSet& rows = query->Rows();
  for (rows.first(); !rows.eof(); rows.next()) {
    TUnitData unit;
    unit.nUnitID = toInt32(rows.field("nUnitID").asInteger(), "nUnitID");
    unit.sUnitCode = rows.field("sUnitCode").asText();
    unit.sUnitName = rows.field("sUnitName").asText();
    unit.nLevel = level;
    TUnitData& kept = units_.emplace_back(std::move(unit));

    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(ui_->tvUnit);
    node->setText(0, QString::fromStdString(kept.sUnitName));
    node->setIcon(0, nodeImage_);
    node->setData(0, kUnitRole, QVariant::fromValue(static_cast<void*>(&kept)));
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
}

TUnitData* TfrmDupsweep::unitOf(const QTreeWidgetItem* node) {
  if (!node) return nullptr;
  return static_cast<TUnitData*>(node->data(0, kUnitRole).value<void*>());
}

void Execute(const std::string& conn, const std::string& unitClsCode, const std::string& periodId,
             const std::string& taskCode, std::int32_t level) {
  TfrmDupsweep::Execute(conn, unitClsCode, periodId, taskCode, level);
}

}  // namespace dupsweep
