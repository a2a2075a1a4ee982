#include "ui/dupsweep/frmdupsweep.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTreeWidgetItem>

#include "data/dmdupsweep.h"
#include "data/units.h"
#include "engine/run.h"
#include "platform/errors.h"
#include "platform/files/files.h"
#include "platform/ui/handler.h"
#include "platform/ui/messages.h"
#include "scheme/scheme.h"
#include "ui/dupsweep/execute.h"
#include "ui/dupsweep/frmfindduplicates.h"
#include "ui/dupsweep/frmrestore.h"
#include "ui/dupsweep/resultmenu.h"
#include "ui/dupsweep/schemebox.h"
#include "ui/showdifference/frmshowdifference.h"
#include "ui/texts.h"
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

using namespace texts;

// Information icon; Yes, No and Cancel with Cancel preselected.
constexpr int kInformation = ui::MB_OK | ui::MB_ICONINFORMATION;
constexpr int kYesNoCancel = ui::MB_YESNOCANCEL | ui::MB_ICONINFORMATION | ui::MB_DEFBUTTON3;

// The dialog's own steps on the progress bar after the run's: the lists filled, and the end.
constexpr int kStepsAfterRun = 2;

// The layout was made for Chinese text 12 pixels high: the default family at 9 points (at 96 dpi),
// with Noto Sans CJK SC behind it, gives the same text widths.
QFont dialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(9);
  font.setFamilies({font.family(), QStringLiteral("Noto Sans CJK SC")});
  return font;
}

// Calls `show` with the screen position of every context menu asked for over `widget`, which
// reports it in the coordinates of `origin` (a list box: its viewport).
void onContextMenu(QWidget* widget, QWidget* origin, std::function<void(const QPoint&)> show) {
  widget->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(
      widget, &QWidget::customContextMenuRequested, widget,
      [origin, show = std::move(show)](const QPoint& pos) { show(origin->mapToGlobal(pos)); });
}

}  // namespace

TfrmDupsweep::TfrmDupsweep(Parts parts)
    : ui_(std::make_unique<Ui::TfrmDupsweep>()), parts_(std::move(parts)) {
  initDialogResources();
  setObjectName(QStringLiteral("frmDupsweep"));
  ui_->setupUi(this);
  pairs_ = std::make_unique<PairList>(*ui_->lsbSelectUnit);
  presenter_ = std::make_unique<RunPresenter>(*ui_->cmbUnits, *ui_->lsbDifference);
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
  const auto onClick = [this](QPushButton* button, void (TfrmDupsweep::*handler)()) {
    connect(button, &QPushButton::clicked, this, ui::guarded(this, handler));
  };
  onClick(ui_->cmdAdd, &TfrmDupsweep::cmdAddClick);
  onClick(ui_->cmdRemove, &TfrmDupsweep::cmdRemoveClick);
  onClick(ui_->cmdSave, &TfrmDupsweep::cmdSaveClick);
  onClick(ui_->cmdDel, &TfrmDupsweep::cmdDelClick);
  onClick(ui_->cmdCompare, &TfrmDupsweep::cmdCompareClick);
  onClick(ui_->cmdDelRepetition, &TfrmDupsweep::cmdDelRepetitionClick);
  onClick(ui_->btnShowDifference, &TfrmDupsweep::btnShowDifferenceClick);
  connect(ui_->cmbPeriod, &QComboBox::activated, this,
          ui::guarded(this, &TfrmDupsweep::cmbPeriodClick));
  connect(ui_->tvUnit, &QTreeWidget::itemExpanded, this,
          ui::guarded(this, &TfrmDupsweep::tvUnitExpanding));
  // Only the operator's choices in cmbUnits (mouse or keys) raise the event, not the program's.
  connect(ui_->cmbUnits, &QComboBox::activated, this,
          ui::guarded(this, &TfrmDupsweep::cmbUnitsChange));
  // Both lists of the run's result offer its export from their context menu; the unit tree and
  // the pair list offer the search for repeated data over the classification.
  const auto resultMenu = [this](const QPoint& global) { showResultMenu(global); };
  const auto unitMenu = [this](const QPoint& global) { showUnitMenu(global); };
  onContextMenu(ui_->cmbUnits, ui_->cmbUnits, resultMenu);
  onContextMenu(ui_->lsbDifference, ui_->lsbDifference->viewport(), resultMenu);
  onContextMenu(ui_->tvUnit, ui_->tvUnit->viewport(), unitMenu);
  onContextMenu(ui_->lsbSelectUnit, ui_->lsbSelectUnit->viewport(), unitMenu);
  // Picking a name from the list of cmbPrecept loads that scheme; typing a name is no pick.
  schemes_ = std::make_unique<SchemeBox>(*ui_->cmbPrecept,
                                         [this] { ui::runHandler([this] { cmbPreceptClick(); }); });

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
  // A statement's text ends at a NUL: the tree would ask for a classification cut short there
  // and show none, or another one's units.
  if (unitClsCode.find('\0') != std::string::npos)
    throw Error("The dialog cannot be shown: the unit classification code holds a NUL character");
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

void TfrmDupsweep::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TfrmDupsweep::FormCreate() {
  FDataModule = parts_.dataModule ? parts_.dataModule() : std::make_unique<TdmDupsweep>();
  FShowForm = parts_.viewer ? parts_.viewer() : std::make_unique<TfrmShowDifference>();
  FDifferenceList = std::make_unique<std::vector<std::unique_ptr<DifferenceData>>>();
  LoadSchemeList();
}

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
  // The failed statements leave the lists empty; when the reason is that the database cannot be
  // opened at all, the operator is told so once, instead of facing an empty dialog.
  if (!periods && FDataModule) {
    if (const std::optional<std::string> failure = FDataModule->ConnectionFailure())
      ui::MessageBox(kNoDatabase + *failure, kPrompt, ui::MB_OK | ui::MB_ICONSTOP);
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
  for (rows.first(); !rows.eof(); rows.next())
    ui_->tvUnit->addUnit(parent, pairs_->keep(unitFromRow(rows, level)), nodeImage_);
}

TUnitData* TfrmDupsweep::unitOf(const QTreeWidgetItem* node) {
  return UnitTree::unitOf(node);
}

void TfrmDupsweep::tvUnitExpanding(QTreeWidgetItem* node) {
  // A node's children are asked for once, on its first expansion; a node shown without children
  // afterwards has none and loses its expand button.
  if (!UnitTree::firstExpansion(node)) return;
  LoadUnitNodes(node, FUnitClsCode, UnitTree::depthOf(node) + 1);
  if (node->childCount() == 0) UnitTree::noChildren(node);
}

void TfrmDupsweep::cmdAddClick() {
  const std::vector<QTreeWidgetItem*>& selection = ui_->tvUnit->selectionList();
  if (selection.size() != 2) {
    ui::ShowMessage(kTwoUnitsNeeded);
    return;
  }
  const TUnitData* first = unitOf(selection[0]);
  const TUnitData* second = unitOf(selection[1]);
  // The same unit reached in two places of the tree is no pair: its data would be "repeated" on
  // every sheet, and deleting one side would delete the only copy.
  if (first && second && isSelfPair(*first, *second)) {
    ui::ShowMessage(kSelfPairAdded + first->sUnitName + "[" + first->sUnitCode + "]");
    return;
  }
  if (ui_->tvUnit->currentItem()) AddUnitPair(selection[0], selection[1]);
}

void TfrmDupsweep::AddUnitPair(QTreeWidgetItem* first, QTreeWidgetItem* second) {
  const TUnitData* unitS = unitOf(first);
  const TUnitData* unitD = unitOf(second);
  if (!unitS || !unitD) return;
  appendPair(*unitS, *unitD);
}

void TfrmDupsweep::appendPair(const TUnitData& unitS, const TUnitData& unitD) {
  pairs_->append(unitS, unitD);
  ui_->cmdRemove->setEnabled(true);
  ui_->cmdCompare->setEnabled(true);
}

void TfrmDupsweep::cmdRemoveClick() {
  RemoveSelectedPair();
}

void TfrmDupsweep::RemoveSelectedPair() {
  if (pairs_->removeSelected() && pairs_->count() > 0) {
    ui_->cmdCompare->setEnabled(true);
    ui_->cmdAdd->setEnabled(true);
  }
  // With no pair left, pairs can be added again, as after loading an empty scheme.
  if (pairs_->count() == 0) setPairButtons(true, false, false);
}

void TfrmDupsweep::setPairButtons(bool add, bool remove, bool compare) {
  ui_->cmdAdd->setEnabled(add);
  ui_->cmdRemove->setEnabled(remove);
  ui_->cmdCompare->setEnabled(compare);
}

const TUnitGroup* TfrmDupsweep::pairAt(int row) const {
  const PairEntry* entry = pairs_->entryAt(row);
  return entry ? &entry->group() : nullptr;
}

std::string TfrmDupsweep::schemeDirectory() const {
  return parts_.schemeDirectory.empty() ? files::executableDirectory() : parts_.schemeDirectory;
}

void TfrmDupsweep::LoadSchemeList() {
  schemes_->fill(scheme::listSchemes(schemeDirectory()));
}

std::optional<std::string> TfrmDupsweep::schemeNameToChange() const {
  std::string name = schemes_->name();
  if (scheme::isBlankName(name)) return std::nullopt;
  if (!scheme::isValidSchemeName(name)) {
    ui::MessageBox(kBadSchemeName, kPrompt, kInformation);
    return std::nullopt;
  }
  return name;
}

void TfrmDupsweep::cmdSaveClick() {
  const std::optional<std::string> name = schemeNameToChange();
  if (!name) return;
  // Replaces the file whole, or leaves it as it was and fails with "Unable to write to <path>".
  const std::vector<std::string> renamed =
      scheme::saveScheme(scheme::schemePath(schemeDirectory(), *name), pairs_->pairs());

  schemes_->addName(*name);
  std::string saved = kSchemeSaved;
  if (!renamed.empty()) saved += "\n" + listedLines(kSchemeRenamed, renamed);
  ui::MessageBox(saved, kPrompt, ui::MB_OK);
}

void TfrmDupsweep::cmbPreceptClick() {
  const std::string name = schemes_->name();
  std::vector<std::string> dropped;
  const std::vector<std::string> unusable = pairs_->loadScheme(
      scheme::schemePath(schemeDirectory(), name), FDataModule.get(), FUnitClsCode, dropped);
  ui_->cmdDelRepetition->setEnabled(false);
  presenter_->clearSheets();
  const bool any = pairs_->count() > 0;
  setPairButtons(!any, any, any);
  // One message for the whole scheme (each marked pair keeps its reason as its tooltip).
  std::string text;
  if (!dropped.empty()) text = listedLines(kSchemeDropped, dropped);
  if (!unusable.empty())
    text += (text.empty() ? "" : "\n\n") + listedLines(kUnusablePairs, unusable);
  if (!text.empty()) ui::MessageBox(text, kPrompt, kInformation);
}

void TfrmDupsweep::cmdDelClick() {
  const std::optional<std::string> name = schemeNameToChange();
  if (!name) return;
  scheme::deleteScheme(scheme::schemePath(schemeDirectory(), *name));
  pairs_->clear();
  schemes_->removeChosen();
  setPairButtons(true, false, false);
  ui_->cmdDelRepetition->setEnabled(false);
  presenter_->clearSheets();
}

void TfrmDupsweep::cmdCompareClick() {
  if (FPeriodID.empty()) {
    ui::MessageBox(kNoPeriod, kPrompt, kInformation);
    return;
  }
  // No pair (the button is disabled then) or a dialog whose creation failed: nothing to compare.
  if (pairs_->count() == 0 || !FDataModule || !FShowForm || !FDifferenceList) return;

  busy_ = true;
  QProgressBar* progress = ui_->ProgressBar1;
  // The bar stands at 0 after the run, also when a failure ends it.
  const auto done = qScopeGuard([this, progress] {
    busy_ = false;
    progress->setValue(0);
  });
  FDifferenceList->clear();
  lastRun_.reset();  // a run that ends early leaves nothing to export
  presenter_->clearSheets();
  ui_->cmdDelRepetition->setEnabled(false);

  ComparisonRun run(*FDataModule, FPeriodID, FTaskCode, FLevel, &templates_);
  BarProgress bar(*progress, kStepsAfterRun);
  lastRun_ = RunPresenter::compare(run, pairs_->runEntries(), FPeriodID,
                                   ui_->cmbPeriod->currentText().toStdString(), bar,
                                   *FDifferenceList);
  if (lastRun_) {
    FillDuplicateUnits();
    for (int step = 0; step < kStepsAfterRun; ++step) bar.step();
  }
  progress->setValue(0);
  if (!FDifferenceList->empty()) ui_->cmdDelRepetition->setEnabled(true);
}

void TfrmDupsweep::FillDuplicateUnits() {
  if (FDifferenceList) presenter_->fillUnits(*FDifferenceList);
  cmbUnitsChange();
}

void TfrmDupsweep::cmbUnitsChange() {
  presenter_->listSheets(FDifferenceList.get());
}

TfrmDupsweep::ExportFileChooser TfrmDupsweep::setExportFileChooser(ExportFileChooser chooser) {
  ExportFileChooser previous = std::move(exportFileChooser());
  exportFileChooser() = std::move(chooser);
  return previous;
}

void TfrmDupsweep::showResultMenu(const QPoint& global) {
  ResultMenuContext context{this, lastRun_ ? &*lastRun_ : nullptr, FDifferenceList.get(), {}};
  if (FDataModule) context.restore = [this] { restoreDeletedClick(); };
  dupsweep::showResultMenu(context, global);
}

void TfrmDupsweep::restoreDeletedClick() {
  if (!FDataModule) return;
  TfrmRestore window(*FDataModule, this);
  window.setFont(font());
  window.LoadEntries();  // a journal that cannot be read ends here, with its reason shown
  window.exec();
}

void TfrmDupsweep::showUnitMenu(const QPoint& global) {
  QMenu menu(this);
  QAction* find = menu.addAction(QString::fromUtf8(kFindDuplicates));
  if (menu.exec(global) == find) ui::runHandler([this] { findDuplicatesClick(); });
}

void TfrmDupsweep::findDuplicatesClick() {
  if (FPeriodID.empty()) {
    ui::MessageBox(kNoPeriod, kPrompt, kInformation);
    return;
  }
  if (!FDataModule) return;
  TfrmFindDuplicates::Context context;
  context.dataModule = FDataModule.get();
  context.periodId = FPeriodID;
  context.taskCode = FTaskCode;
  context.level = FLevel;
  context.unitClsCode = FUnitClsCode;
  context.addPairs = [this](const std::vector<UnitPair>& found) {
    for (const UnitPair& pair : found) {
      // The records live as long as the dialog, as the tree's do, so that pairs may refer to them.
      appendPair(pairs_->keep(pair[Left]), pairs_->keep(pair[Right]));
    }
  };
  context.chooseExportFile = [](QWidget* parent, const std::string& suggested) {
    return chooseExportFile(parent, suggested, kExportDiscovery);
  };
  TfrmFindDuplicates window(std::move(context), this);
  window.exec();
}

void TfrmDupsweep::cmdDelRepetitionClick() {
  QComboBox* units = ui_->cmbUnits;
  QListWidget* sheets = ui_->lsbDifference;
  if (units->currentIndex() < 0) {
    ui::MessageBox(kNoUnitChosen, kPrompt, ui::MB_OK);
    return;
  }
  auto* current = dynamic_cast<SampleEntry*>(sheets->currentItem());
  if (!current) {
    ui::ShowMessage(kNoTableChosen);
    return;
  }
  if (!FDataModule) return;

  // The pair is the one the table was found identical for, kept with the entry.
  const DifferenceData& found = current->found();
  if (isSelfPair(found.pair))
    throw Error("The pair " + found.sGroupName + " pairs a unit with itself; nothing is deleted");
  const int answer = ui::MessageBox(
      deletionQuestion(found.pair[Left].sUnitName, found.pair[Right].sUnitName), kPrompt,
      kYesNoCancel);
  if (answer != ui::IDYES && answer != ui::IDNO) return;
  // The unit's Status row goes with the table when no other listed entry stands for the pair.
  const int row = sheets->row(current);
  const DeletionOutcome outcome =
      RunPresenter::deleteCopy(*FDataModule, found, answer == ui::IDYES ? Left : Right,
                               presenter_->lastOfPair(row), FTaskCode, FLevel);
  ui::MessageBox(outcome.message, kPrompt, kInformation);
  if (!outcome.leavesList) return;
  // The table leaves the run's result, the list, and the pair's name once nothing of it is listed.
  presenter_->removeSheet(row, *FDifferenceList);
}

void TfrmDupsweep::btnShowDifferenceClick() {
  const PairEntry* entry = pairs_->selected();
  if (!entry) {
    ui::MessageBox(kNoPairSelected, kErrorCaption, ui::MB_OK);
    return;
  }
  if (!entry->usable()) {
    ui::MessageBox(kUnusablePair + entry->problem(), kPrompt, kInformation);
    return;
  }
  if (!FDataModule || !FShowForm) return;

  // Without a template (also without a period) there is nothing to show the pair over; one that
  // could not be read is not the same as none: the operator hears why.
  ComparisonRun run(*FDataModule, FPeriodID, FTaskCode, FLevel, &templates_);
  bool shown = false;
  if (!FPeriodID.empty()) {
    busy_ = true;
    const auto done = qScopeGuard([this] { busy_ = false; });
    shown = RunPresenter::show(run, entry->group(), ui_->cmbPeriod->currentText().toStdString(),
                               *FShowForm);
  }
  if (!shown) {
    const std::string& whyNot = run.templateFailure();
    ui::MessageBox(whyNot.empty() ? std::string(kNoTemplate) : kTemplateUnreadable + whyNot,
                   kPrompt, kInformation);
    return;
  }
  FShowForm->ShowModal();
}

void Execute(const std::string& conn, const std::string& unitClsCode, const std::string& periodId,
             const std::string& taskCode, std::int32_t level) {
  TfrmDupsweep::Execute(conn, unitClsCode, periodId, taskCode, level);
}

}  // namespace dupsweep
