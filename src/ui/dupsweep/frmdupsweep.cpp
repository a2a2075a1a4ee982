#include "ui/dupsweep/frmdupsweep.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTreeWidgetItem>
#include <algorithm>

#include "cleanup/cleanup.h"
#include "data/dmdupsweep.h"
#include "data/units.h"
#include "engine/compare.h"
#include "engine/run.h"
#include "engine/unitcheck.h"
#include "model/pairs.h"
#include "platform/errors.h"
#include "platform/files/files.h"
#include "platform/ui/handler.h"
#include "platform/ui/messages.h"
#include "scheme/scheme.h"
#include "ui/dupsweep/execute.h"
#include "ui/dupsweep/frmfindduplicates.h"
#include "ui/dupsweep/frmrestore.h"
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
// Where a node of tvUnit keeps the address of its unit record.
constexpr int kUnitRole = Qt::UserRole;
// Set on a node of tvUnit once its children have been asked for.
constexpr int kLoadedRole = Qt::UserRole + 1;

const char* const kTwoUnitsNeeded =
    "必须选择两个单位,请按下Ctrl 键在单位树上选择两个单位然后点 >> 按纽，"
    "将这一组添加到单位选择列表里面";
const char* const kSchemeCaption = "系统提示";
const char* const kSchemeSaved = "方案保存完毕";
const char* const kSchemeRenamed =
    "以下单位组与前面的单位组同名，保存时在名称后加上了两个单位的代码：";
const char* const kSchemeDropped = "方案文件中以下单位组与后面的单位组同名，没有载入：";
const char* const kBadSchemeName = "方案名称不能包含路径分隔符或控制字符";

const char* const kPrompt = "系统提示";
const char* const kNoPeriod = "没有选择期间，请选择以后再执行操作";
const char* const kNoUnitChosen = "请选择要删除的单位";
const char* const kNoTableChosen = "请选择需要删除的数据表！";
const char* const kDeletionFailed = "删除数据时发生了错误";
const char* const kDeleted = "重复记录已经删除";
const char* const kCopyChanged =
    "该表的数据在比对后已经改变，不再相同，没有删除任何数据。请重新比对数据。";
const char* const kNoPairSelected = "请选择对比单位!";
const char* const kErrorCaption = "错误";
const char* const kNoTemplate = "所选期间没有报表模板，无法显示对比结果";
const char* const kTemplateUnreadable = "无法读取所选期间的报表模板，无法显示对比结果：";
const char* const kSelfPairAdded = "两个单位的代码相同，是同一个单位，不能组成一组比对：";
const char* const kUnusablePairs = "方案中以下单位组不能比对，也不会从中删除数据：";
const char* const kUnusablePair = "该单位组不能比对：";
const char* const kNoDatabase = "无法打开数据库，单位和期间都无法读取：";
const char* const kExportResult = "导出比对结果…";
const char* const kExportNeedsRun = "请先比对数据，才能导出比对结果";
const char* const kExported = "比对结果已经导出到：";
const char* const kRestoreDeleted = "恢复已删除的数据…";
const char* const kFindDuplicates = "查找重复数据单位…";
const char* const kExportDiscovery = "导出查找结果…";
// Information icon; Yes, No and Cancel with Cancel preselected.
constexpr int kInformation = ui::MB_OK | ui::MB_ICONINFORMATION;
constexpr int kYesNoCancel = ui::MB_YESNOCANCEL | ui::MB_ICONINFORMATION | ui::MB_DEFBUTTON3;

// The run's steps on the dialog's progress bar, and two of the dialog's own after them: the lists
// filled, and the end.
constexpr int kStepsAfterRun = 2;
class BarProgress : public ProgressSink {
 public:
  BarProgress(QProgressBar& bar, std::function<void()> step) : bar_(bar), step_(std::move(step)) {}
  void begin(int steps) override {
    bar_.setRange(0, steps + kStepsAfterRun);
    bar_.setValue(0);
  }
  void step() override { step_(); }

 private:
  QProgressBar& bar_;
  std::function<void()> step_;
};


// The depth of a node in the tree: 0 for a top-level node.
std::int32_t depthOf(const QTreeWidgetItem* node) {
  std::int32_t depth = 0;
  for (const QTreeWidgetItem* up = node->parent(); up; up = up->parent()) ++depth;
  return depth;
}

// The dialog's font. The layout was made for an 8-point font whose Chinese text renders in a
// 12-pixel font; the application's default family at 9 points (12 pixels at 96 dpi) gives the
// same text widths, with Noto Sans CJK SC behind it for the Chinese captions.
QFont dialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(9);
  font.setFamilies({font.family(), QStringLiteral("Noto Sans CJK SC")});
  return font;
}

// `header` and the lines below it, one a line; a long list is cut short so that a message box
// fits the screen.
std::string listedLines(const std::string& header, const std::vector<std::string>& lines) {
  constexpr std::size_t kListed = 10;
  std::string text = header;
  for (std::size_t i = 0; i < lines.size() && i < kListed; ++i) text += "\n" + lines[i];
  if (lines.size() > kListed) text += "\n……另有 " + std::to_string(lines.size() - kListed) + " 组";
  return text;
}

}  // namespace

void PairEntry::markUnusable(const std::string& reason) {
  problem_ = reason.empty() ? std::string("?") : reason;
  setForeground(QPalette().brush(QPalette::Disabled, QPalette::Text));
  setToolTip(QString::fromStdString(problem_));
}

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
  connect(ui_->tvUnit, &QTreeWidget::itemExpanded, this,
          ui::guarded(this, &TfrmDupsweep::tvUnitExpanding));
  connect(ui_->cmdAdd, &QPushButton::clicked, this, ui::guarded(this, &TfrmDupsweep::cmdAddClick));
  connect(ui_->cmdRemove, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmDupsweep::cmdRemoveClick));
  connect(ui_->cmdSave, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmDupsweep::cmdSaveClick));
  connect(ui_->cmdDel, &QPushButton::clicked, this, ui::guarded(this, &TfrmDupsweep::cmdDelClick));
  connect(ui_->cmdCompare, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmDupsweep::cmdCompareClick));
  // A choice the operator makes in cmbUnits (mouse or keys); a choice made by the program raises
  // nothing.
  connect(ui_->cmbUnits, &QComboBox::activated, this,
          ui::guarded(this, &TfrmDupsweep::cmbUnitsChange));
  connect(ui_->cmdDelRepetition, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmDupsweep::cmdDelRepetitionClick));
  connect(ui_->btnShowDifference, &QPushButton::clicked, this,
          ui::guarded(this, &TfrmDupsweep::btnShowDifferenceClick));
  // Both lists of the run's result offer its export from their context menu. A list box reports
  // the menu's place in its viewport's coordinates.
  ui_->cmbUnits->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui_->cmbUnits, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { showResultMenu(ui_->cmbUnits->mapToGlobal(pos)); });
  ui_->lsbDifference->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui_->lsbDifference, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) {
            showResultMenu(ui_->lsbDifference->viewport()->mapToGlobal(pos));
          });
  // The unit tree and the pair list offer the search for repeated data over the classification.
  ui_->tvUnit->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui_->tvUnit, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    showUnitMenu(ui_->tvUnit->viewport()->mapToGlobal(pos));
  });
  ui_->lsbSelectUnit->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui_->lsbSelectUnit, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) {
            showUnitMenu(ui_->lsbSelectUnit->viewport()->mapToGlobal(pos));
          });
  // Picking a name from the list of cmbPrecept (mouse or arrow keys) loads that scheme; typing a
  // name is no pick. Qt's editable combo box takes the end of typing a listed name (Enter, or
  // leaving the field, as a click on cmdSave does) for a pick of that entry, which would replace
  // the pairs the operator is about to save. The edit field is given here so that the dialog
  // hears the end of typing before the combo box and after it: it ignores the pick the combo box
  // makes and puts back the entry chosen before, which cmdDelClick removes.
  QComboBox* precept = ui_->cmbPrecept;
  auto* schemeName = new QLineEdit(precept);
  connect(schemeName, &QLineEdit::editingFinished, this, [this, precept] {
    typingEnds_ = true;
    chosenBeforeTyping_ = precept->currentIndex();
  });
  precept->setLineEdit(schemeName);
  connect(schemeName, &QLineEdit::editingFinished, this, [this, precept] {
    if (precept->currentIndex() != chosenBeforeTyping_) {
      const QString typed = precept->currentText();
      precept->setCurrentIndex(chosenBeforeTyping_);
      precept->setEditText(typed);
    }
    typingEnds_ = false;
  });
  connect(precept, &QComboBox::activated, this, [this] {
    if (!typingEnds_) ui::runHandler([this] { cmbPreceptClick(); });
  });

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
  for (rows.first(); !rows.eof(); rows.next()) {
    TUnitData& kept = units_.emplace_back(unitFromRow(rows, level));

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

void TfrmDupsweep::tvUnitExpanding(QTreeWidgetItem* node) {
  // A node's children are asked for once, on its first expansion; a node shown without children
  // afterwards has none and loses its expand button.
  if (!node || node->childCount() > 0 || node->data(0, kLoadedRole).toBool()) return;
  node->setData(0, kLoadedRole, true);
  LoadUnitNodes(node, FUnitClsCode, depthOf(node) + 1);
  if (node->childCount() == 0) {
    node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    node->setExpanded(false);
  }
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
  auto group = std::make_unique<TUnitGroup>(unitS, unitD);
  const QString text = QString::fromStdString(group->GroupName);
  ui_->lsbSelectUnit->addItem(new PairEntry(text, std::move(group)));
  ui_->cmdRemove->setEnabled(true);
  if (ui_->lsbSelectUnit->count() > 0) ui_->cmdCompare->setEnabled(true);
}

void TfrmDupsweep::cmdRemoveClick() {
  RemoveSelectedPair();
}

void TfrmDupsweep::RemoveSelectedPair() {
  QListWidget* pairs = ui_->lsbSelectUnit;
  const QList<QListWidgetItem*> selected = pairs->selectedItems();
  if (!selected.isEmpty()) {
    delete pairs->takeItem(pairs->row(selected.front()));  // the entry's pair goes with it
    // As in the desktop list box, no entry is selected after a removal.
    pairs->clearSelection();
    pairs->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
    if (pairs->count() > 0) {
      ui_->cmdCompare->setEnabled(true);
      ui_->cmdAdd->setEnabled(true);
    }
  }
  if (pairs->count() == 0) {
    // With no pair left there is nothing to compare, and pairs can be added again, as after
    // loading an empty scheme.
    ui_->cmdRemove->setEnabled(false);
    ui_->cmdCompare->setEnabled(false);
    ui_->cmdAdd->setEnabled(true);
  }
}

const PairEntry* TfrmDupsweep::entryAt(int row) const {
  return dynamic_cast<const PairEntry*>(ui_->lsbSelectUnit->item(row));
}

const TUnitGroup* TfrmDupsweep::pairAt(int row) const {
  const PairEntry* entry = entryAt(row);
  return entry ? &entry->group() : nullptr;
}

std::string TfrmDupsweep::schemeDirectory() const {
  return parts_.schemeDirectory.empty() ? files::executableDirectory() : parts_.schemeDirectory;
}

void TfrmDupsweep::LoadSchemeList() {
  ui_->cmbPrecept->clear();
  for (const std::string& name : scheme::listSchemes(schemeDirectory()))
    ui_->cmbPrecept->addItem(QString::fromStdString(name));
  // Filling the list chooses no entry: the scheme name starts empty.
  ui_->cmbPrecept->setCurrentIndex(-1);
}

std::optional<std::string> TfrmDupsweep::schemeNameToChange() const {
  std::string name = ui_->cmbPrecept->currentText().toStdString();
  if (scheme::isBlankName(name)) return std::nullopt;
  if (!scheme::isValidSchemeName(name)) {
    ui::MessageBox(kBadSchemeName, kSchemeCaption, ui::MB_OK | ui::MB_ICONINFORMATION);
    return std::nullopt;
  }
  return name;
}

void TfrmDupsweep::cmdSaveClick() {
  const std::optional<std::string> name = schemeNameToChange();
  if (!name) return;
  std::vector<UnitPair> pairs;
  for (int row = 0; row < ui_->lsbSelectUnit->count(); ++row)
    if (const TUnitGroup* group = pairAt(row)) pairs.emplace_back(*group);
  // Replaces the file whole, or leaves it as it was and fails with "Unable to write to <path>".
  const std::vector<std::string> renamed =
      scheme::saveScheme(scheme::schemePath(schemeDirectory(), *name), pairs);

  const QString listed = QString::fromStdString(*name);
  // The exact-match search of a combo list, which ignores letter case.
  QComboBox* precept = ui_->cmbPrecept;
  if (precept->findText(listed, Qt::MatchFixedString) < 0) {
    // Appending chooses no entry (Qt chooses the first entry of an empty list) and keeps the
    // name as typed.
    const int chosen = precept->currentIndex();
    const QString typed = precept->currentText();
    precept->addItem(listed);
    if (precept->currentIndex() != chosen) {
      precept->setCurrentIndex(chosen);
      precept->setEditText(typed);
    }
  }
  std::string saved = kSchemeSaved;
  if (!renamed.empty()) saved += "\n" + listedLines(kSchemeRenamed, renamed);
  ui::MessageBox(saved, kSchemeCaption, ui::MB_OK);
}

void TfrmDupsweep::cmbPreceptClick() {
  const std::string name = ui_->cmbPrecept->currentText().toStdString();
  std::vector<std::string> dropped;
  const std::vector<std::string> unusable =
      loadPairs(scheme::schemePath(schemeDirectory(), name), dropped);
  ui_->cmdDelRepetition->setEnabled(false);
  emptyDifferenceBox();
  const bool any = ui_->lsbSelectUnit->count() > 0;
  ui_->cmdAdd->setEnabled(!any);
  ui_->cmdRemove->setEnabled(any);
  ui_->cmdCompare->setEnabled(any);
  // One message for the whole scheme (each marked pair keeps its reason as its tooltip).
  std::string text;
  if (!dropped.empty()) text = listedLines(kSchemeDropped, dropped);
  if (!unusable.empty())
    text += (text.empty() ? "" : "\n\n") + listedLines(kUnusablePairs, unusable);
  if (!text.empty()) ui::MessageBox(text, kPrompt, kInformation);
}

std::vector<std::string> TfrmDupsweep::loadPairs(const std::string& path,
                                                 std::vector<std::string>& dropped) {
  // A missing or unreadable file gives no pairs. The file is not tested for validity: every
  // section becomes a pair, listed under the section's name.
  std::vector<scheme::SchemePair> lost;
  std::vector<scheme::SchemePair> pairs = scheme::loadScheme(path, &lost);
  dropped.clear();
  for (const scheme::SchemePair& pair : lost)
    dropped.push_back(pair.section + "（" + pair.units[Left].sUnitCode + "/" +
                      pair.units[Right].sUnitCode + "）");
  ui_->lsbSelectUnit->clear();

  // The file's names may no longer belong to its codes (a file edited by hand, units renamed by
  // the host): the deletion question and the viewer name the units the database knows by those
  // codes, and a code it does not know is never compared or deleted from.
  std::vector<UnitPair*> refs;
  for (scheme::SchemePair& pair : pairs) refs.push_back(&pair.units);
  std::vector<PairCheck> checks(pairs.size());
  std::string lookupFailure;
  if (!pairs.empty()) {
    try {
      if (!FDataModule) throw DatabaseError("the dialog has no data module");
      checks = checkPairUnits(*FDataModule, FUnitClsCode, refs);
    } catch (const DatabaseError& e) {
      lookupFailure = e.what();
    }
  }

  std::vector<std::string> unusable;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    scheme::SchemePair& pair = pairs[i];
    std::string problem;
    if (isSelfPair(pair.units)) {
      problem = "两个单位的代码相同（" + pair.units[Left].sUnitCode + "）";
    } else if (!lookupFailure.empty()) {
      problem = "无法核对单位代码（" + lookupFailure + "）";
    } else {
      for (const std::string& code : checks[i].unknownCodes) {
        if (!problem.empty()) problem += "；";
        problem += "单位代码“" + code + "”不在单位分类“" + FUnitClsCode + "”中";
      }
    }
    const TUnitData& unitS = units_.emplace_back(std::move(pair.units[Left]));
    const TUnitData& unitD = units_.emplace_back(std::move(pair.units[Right]));
    auto* entry = new PairEntry(QString::fromStdString(pair.section),
                                std::make_unique<TUnitGroup>(unitS, unitD));
    if (!problem.empty()) {
      entry->markUnusable(problem);
      unusable.push_back(pair.section + "：" + problem);
    }
    ui_->lsbSelectUnit->addItem(entry);
  }
  return unusable;
}

void TfrmDupsweep::cmdDelClick() {
  const std::optional<std::string> name = schemeNameToChange();
  if (!name) return;
  scheme::deleteScheme(scheme::schemePath(schemeDirectory(), *name));
  ui_->lsbSelectUnit->clear();
  // The entry removed is the selected one, found by its position; the typed name stays shown.
  QComboBox* precept = ui_->cmbPrecept;
  if (const int selected = precept->currentIndex(); selected >= 0) {
    const QString typed = precept->currentText();
    precept->removeItem(selected);
    precept->setCurrentIndex(-1);
    precept->setEditText(typed);
  }
  ui_->cmdAdd->setEnabled(true);
  ui_->cmdRemove->setEnabled(false);
  ui_->cmdCompare->setEnabled(false);
  ui_->cmdDelRepetition->setEnabled(false);
  emptyDifferenceBox();
}

void TfrmDupsweep::emptyDifferenceBox() {
  ui_->lsbDifference->clear();  // deletes the entries and the sample copies they own
}

void TfrmDupsweep::cmdCompareClick() {
  if (FPeriodID.empty()) {
    ui::MessageBox(kNoPeriod, kPrompt, kInformation);
    return;
  }
  // With no pair there is nothing to compare and no pair to name the viewer after (the button is
  // disabled then); a dialog whose creation failed has nothing to compare with.
  QListWidget* pairs = ui_->lsbSelectUnit;
  if (pairs->count() == 0 || !FDataModule || !FShowForm || !FDifferenceList) return;

  busy_ = true;
  QProgressBar* progress = ui_->ProgressBar1;
  // The bar stands at 0 after the run, also when a failure ends it.
  const auto done = qScopeGuard([this, progress] {
    busy_ = false;
    progress->setValue(0);
  });
  FDifferenceList->clear();
  lastRun_.reset();  // a run that ends early leaves nothing to export
  emptyDifferenceBox();
  ui_->cmdDelRepetition->setEnabled(false);

  // A pair marked unusable when its scheme was loaded is passed over (and still counted).
  std::vector<RunEntry> entries;
  ComparisonRunRecord record{FPeriodID, ui_->cmbPeriod->currentText().toStdString(), {}};
  for (int row = 0; row < pairs->count(); ++row) {
    const PairEntry* entry = entryAt(row);
    entries.push_back({entry ? &entry->group() : nullptr, entry && entry->usable()});
    if (entries.back().pair && entries.back().compare) {
      const TUnitGroup& group = entry->group();
      record.pairs.push_back({group.GroupName, *group.UnitS, *group.UnitD});
    }
  }
  // The identical sheets, pair by pair in the run's order; after a failure, those found before it.
  ComparisonRun run(*FDataModule, FPeriodID, FTaskCode, FLevel, &templates_);
  const auto keepFound = [this, &run] {
    for (const PairFindings& pair : run.result().pairs)
      for (std::size_t sheet = 0; sheet < pair.sheets.size(); ++sheet) {
        if (pair.sheets[sheet] != Verdict::Identical) continue;
        auto found = std::make_unique<DifferenceData>();
        found->sGroupName = pair.pair.name;
        // The copying rule: every field but the sheet number.
        found->Sample = *run.samples()[sheet];
        found->Sample.bRepeated = true;
        found->UnitS = pair.pair[Left];
        found->UnitD = pair.pair[Right];
        FDifferenceList->push_back(std::move(found));
      }
  };
  // Nothing is shown while the run goes: it checks the rows against what the viewer's grids can
  // take, so that it fails where showing them would.
  BarProgress bar(*progress, [this] { stepProgress(); });
  try {
    run.Run(entries, bar, GridCheck::TemplateGrids);
  } catch (...) {
    keepFound();
    throw;
  }
  keepFound();
  if (run.result().compared) {
    lastRun_ = std::move(record);
    FillDuplicateUnits();
    for (int step = 0; step < kStepsAfterRun; ++step) stepProgress();
  }
  progress->setValue(0);
  if (!FDifferenceList->empty()) ui_->cmdDelRepetition->setEnabled(true);
}

void TfrmDupsweep::stepProgress() {
  QProgressBar* progress = ui_->ProgressBar1;
  progress->setValue(progress->value() + 1);
  progress->repaint();
  paintClock_.invalidate();  // every step of the bar is shown
  keepPainted();
}

void TfrmDupsweep::keepPainted() {
  // Often enough for the window to stay painted, seldom enough to cost nothing: a run may
  // compare thousands of sheets.
  if (paintClock_.isValid() && paintClock_.elapsed() < 50) return;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  paintClock_.start();
}

void TfrmDupsweep::FillDuplicateUnits() {
  QComboBox* units = ui_->cmbUnits;
  units->clear();
  for (const auto& found : *FDifferenceList) {
    const QString name = QString::fromStdString(found->sGroupName);
    // The exact-string search of the combo box, which ignores letter case.
    if (units->findText(name, Qt::MatchFixedString) < 0) units->addItem(name);
  }
  if (units->count() > 0) units->setCurrentIndex(0);
  cmbUnitsChange();
}

void TfrmDupsweep::cmbUnitsChange() {
  emptyDifferenceBox();
  if (!FDifferenceList) return;
  // No choice gives the empty text, which no pair's name equals.
  const std::string chosen = ui_->cmbUnits->currentText().toStdString();
  for (const auto& found : *FDifferenceList)
    if (found->sGroupName == chosen) ui_->lsbDifference->addItem(new SampleEntry(*found));
}

namespace {

// Asks with Qt's save dialog; the name gets ".xlsx" when the operator typed none.
std::string askExportFile(QWidget* parent, const std::string& suggested,
                          const char* title = kExportResult) {
  QFileDialog dialog(parent, QString::fromUtf8(title), QString::fromStdString(suggested),
                     QStringLiteral("Excel 工作簿 (*.xlsx)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("xlsx"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front().toStdString();
}

TfrmDupsweep::ExportFileChooser& exportFileChooser() {
  static TfrmDupsweep::ExportFileChooser chooser;
  return chooser;
}

}  // namespace

TfrmDupsweep::ExportFileChooser TfrmDupsweep::setExportFileChooser(ExportFileChooser chooser) {
  ExportFileChooser previous = std::move(exportFileChooser());
  exportFileChooser() = std::move(chooser);
  return previous;
}

void TfrmDupsweep::showResultMenu(const QPoint& global) {
  QMenu menu(this);
  QAction* exportAction = menu.addAction(QString::fromUtf8(kExportResult));
  exportAction->setEnabled(lastRun_.has_value());
  if (!lastRun_) exportAction->setToolTip(QString::fromUtf8(kExportNeedsRun));
  QAction* restoreAction = menu.addAction(QString::fromUtf8(kRestoreDeleted));
  restoreAction->setEnabled(FDataModule != nullptr);
  menu.setToolTipsVisible(true);
  QAction* chosen = menu.exec(global);
  if (chosen == exportAction) ui::runHandler([this] { exportComparisonClick(); });
  if (chosen == restoreAction) ui::runHandler([this] { restoreDeletedClick(); });
}

void TfrmDupsweep::restoreDeletedClick() {
  if (!FDataModule) return;
  TfrmRestore window(*FDataModule, this);
  window.setFont(font());
  window.LoadEntries();  // a journal that cannot be read ends here, with its reason shown
  window.exec();
}

void TfrmDupsweep::exportComparisonClick() {
  if (!lastRun_ || !FDifferenceList) {
    ui::MessageBox(kExportNeedsRun, kPrompt, kInformation);
    return;
  }
  const std::string suggested =
      QDir(QDir::homePath())
          .filePath(QString::fromStdString("比对结果_" + lastRun_->sPeriodID + ".xlsx"))
          .toStdString();
  const ExportFileChooser& chooser = exportFileChooser();
  const std::string file = chooser ? chooser(this, suggested) : askExportFile(this, suggested);
  if (file.empty()) return;
  writeComparisonWorkbook(file, *lastRun_, *FDifferenceList);
  ui::MessageBox(kExported + file, kPrompt, kInformation);
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
      // The records live as long as the dialog, as the tree's do, so that the pair may refer to
      // them.
      const TUnitData& unitS = units_.emplace_back(pair[Left]);
      const TUnitData& unitD = units_.emplace_back(pair[Right]);
      appendPair(unitS, unitD);
    }
  };
  context.chooseExportFile = [](QWidget* parent, const std::string& suggested) {
    const ExportFileChooser& chooser = exportFileChooser();
    return chooser ? chooser(parent, suggested) : askExportFile(parent, suggested, kExportDiscovery);
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
  if (isSelfPair(found.UnitS, found.UnitD))
    throw Error("The pair " + found.sGroupName + " pairs a unit with itself; nothing is deleted");
  const std::string question = "数据删除后将无法恢复，你确认继续操作吗？，点是删除" +
                               found.UnitS.sUnitName + "的数据，点否删除" + found.UnitD.sUnitName +
                               "数据？";
  const int answer = ui::MessageBox(question, kPrompt, kYesNoCancel);
  if (answer != ui::IDYES && answer != ui::IDNO) return;
  const TUnitData& unit = answer == ui::IDYES ? found.UnitS : found.UnitD;
  const TSampleData& t = found.Sample;  // its period is the one the table was compared in

  // The table is the pair's last listed one when no other entry of the list stands for the pair.
  const bool lastOfPair = [&] {
    for (int row = 0; row < sheets->count(); ++row) {
      const auto* entry = dynamic_cast<const SampleEntry*>(sheets->item(row));
      if (entry && entry != current && samePair(entry->found(), found)) return false;
    }
    return true;
  }();

  const TUnitData& other = answer == ui::IDYES ? found.UnitD : found.UnitS;
  Cleanup cleanup(*FDataModule);
  try {
    const std::int64_t total = cleanup.DeleteRepeatedCopy(
        t, unit.sUnitCode, lastOfPair, FTaskCode, FLevel,
        {unit.sUnitName, found.sGroupName, other.sUnitCode, other.sUnitName}, SameRows);
    if (total < 0) {
      ui::MessageBox(kDeletionFailed, kPrompt, kInformation);
      return;
    }
    ui::MessageBox(kDeleted, kPrompt, kInformation);
  } catch (const CopyChanged&) {
    // The finding is stale: the sheet is no longer repeated data, so it leaves the lists as if
    // the run had not found it.
    ui::MessageBox(kCopyChanged, kPrompt, kInformation);
  } catch (const Error& e) {
    throw Error(texts::cleanupFailure(e, texts::Operation::Deletion));
  }

  // The table leaves the run's result for this pair (every entry of it, when the pair was listed
  // twice), then the list, and the pair's name once nothing of it is listed.
  const DifferenceData deleted = found;
  std::erase_if(*FDifferenceList,
                [&deleted](const auto& entry) { return sameFinding(*entry, deleted); });
  delete sheets->takeItem(sheets->row(current));
  if (sheets->count() == 0) {
    units->removeItem(units->currentIndex());
    // As in the desktop combo box, removing the chosen item leaves none chosen.
    units->setCurrentIndex(-1);
  }
}

void TfrmDupsweep::btnShowDifferenceClick() {
  const QList<QListWidgetItem*> selected = ui_->lsbSelectUnit->selectedItems();
  const auto* entry =
      selected.isEmpty() ? nullptr : dynamic_cast<const PairEntry*>(selected.front());
  if (!entry) {
    ui::MessageBox(kNoPairSelected, kErrorCaption, ui::MB_OK);
    return;
  }
  if (!entry->usable()) {
    ui::MessageBox(kUnusablePair + entry->problem(), kPrompt, kInformation);
    return;
  }
  if (!FDataModule || !FShowForm) return;

  // Without a template (no period chosen gives none either) there is nothing to show the
  // pair's sheets over; one that could not be read is not the same as none: the operator hears
  // why.
  // Nothing is recorded: the run's results stay as they are.
  bool shown = false;
  ComparisonRun run(*FDataModule, FPeriodID, FTaskCode, FLevel, &templates_);
  if (!FPeriodID.empty()) {
    busy_ = true;
    const auto done = qScopeGuard([this] { busy_ = false; });
    const TUnitGroup& group = entry->group();
    if (std::optional<PairRows> rows = run.Show(group)) {
      FShowForm->FillPair(std::move(*rows), *group.UnitS, *group.UnitD);
      FShowForm->SetPairCaption(group.GroupName);
      FShowForm->SetPeriodCaption(ui_->cmbPeriod->currentText().toStdString());
      shown = true;
    }
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
