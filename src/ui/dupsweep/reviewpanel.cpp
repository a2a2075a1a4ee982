#include "ui/dupsweep/reviewpanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

#include "engine/rescale.h"
#include "engine/run.h"
#include "platform/spreadsheet/format.h"
#include "platform/ui/handler.h"
#include "platform/ui/messages.h"
#include "ui/dupsweep/discoveryreport.h"
#include "ui/dupsweep/reviewreport.h"
#include "ui/dupsweep/tableitem.h"
#include "ui/showdifference/frmshowdifference.h"
#include "ui/texts.h"

namespace dupsweep {
namespace {

using texts::kNoTemplate;
using texts::kPrompt;
using texts::kTemplateUnreadable;
constexpr int kInformation = ui::MB_OK | ui::MB_ICONINFORMATION;
constexpr int kFindingRole = Qt::UserRole;

enum Column { kUnit1, kCode1, kUnit2, kCode2, kSheet, kKind, kReview, kDelete, kColumns };

QString q(const char* text) {
  return QString::fromUtf8(text);
}

// A slot that runs `handler` as the window framework runs every handler.
template <class F>
auto guard(F handler) {
  return [handler] { ui::runHandler(handler); };
}

}  // namespace

ReviewPanel::ReviewPanel(Context context, QWidget* parent)
    : QWidget(parent), context_(std::move(context)) {
  setObjectName("pnlReview");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(q(texts::review::kReviewColumn), this));
  filter_ = new QComboBox(this);
  filter_->setObjectName("cmbReviewFilter");
  filter_->addItem(q(texts::review::kAll));
  for (Mark m : {Mark::Pending, Mark::Confirmed, Mark::Legitimate})
    filter_->addItem(QString::fromStdString(texts::markText(m)), static_cast<int>(m));
  bar->addWidget(filter_);
  showLegitimate_ = new QCheckBox(q(texts::review::kShowLegitimate), this);
  showLegitimate_->setObjectName("chkShowLegitimate");
  bar->addWidget(showLegitimate_);
  note_ = new QLineEdit(this);
  note_->setObjectName("txtNote");
  note_->setPlaceholderText(q(texts::review::kNotePlaceholder));
  bar->addWidget(note_, 1);
  const auto button = [this, bar](const char* name, const std::string& text) {
    auto* b = new QPushButton(QString::fromStdString(text), this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    bar->addWidget(b);
    return b;
  };
  QPushButton* confirm = button("cmdMarkConfirmed", texts::markText(Mark::Confirmed));
  QPushButton* legitimate = button("cmdMarkLegitimate", texts::markText(Mark::Legitimate));
  QPushButton* pending = button("cmdMarkPending", texts::markText(Mark::Pending));
  layout->addLayout(bar);

  table_ = new QTableWidget(0, kColumns, this);
  table_->setObjectName("tblFindings");
  table_->setHorizontalHeaderLabels({"单位1", "单位1代码", "单位2", "单位2代码", "表", "类型",
                                     q(texts::review::kReviewColumn),
                                     q(texts::review::kDeleteColumn)});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_, 1);

  auto* actions = new QHBoxLayout;
  status_ = new QLabel(this);
  status_->setObjectName("lblReviewStatus");
  actions->addWidget(status_, 1);
  const auto action = [this, actions](const char* name, const char* text) {
    auto* b = new QPushButton(q(text), this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    actions->addWidget(b);
    return b;
  };
  QPushButton* show = action("cmdShowFinding", texts::review::kShowDifference);
  QPushButton* remove = action("cmdDeleteChosen", texts::review::kDeleteChosen);
  QPushButton* report = action("cmdExportReview", texts::review::kExportReport);
  layout->addLayout(actions);

  connect(filter_, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });
  connect(showLegitimate_, &QCheckBox::toggled, this, [this] { applyFilter(); });
  connect(confirm, &QPushButton::clicked, this, guard([this] { mark(Mark::Confirmed); }));
  connect(legitimate, &QPushButton::clicked, this, guard([this] { mark(Mark::Legitimate); }));
  connect(pending, &QPushButton::clicked, this, guard([this] { mark(Mark::Pending); }));
  connect(remove, &QPushButton::clicked, this, guard([this] { deleteChosen(); }));
  connect(report, &QPushButton::clicked, this, guard([this] { exportReport(); }));
  const auto showCurrent = [this] {
    const QTableWidgetItem* first = table_->item(table_->currentRow(), kUnit1);
    if (first) showFinding(first->data(kFindingRole).toUInt());
  };
  connect(show, &QPushButton::clicked, this, guard(showCurrent));
  connect(table_, &QTableWidget::cellDoubleClicked, this, guard(showCurrent));
}

ReviewPanel::~ReviewPanel() = default;

void ReviewPanel::clear() {
  session_.reset();
  table_->setRowCount(0);
  status_->clear();
}

void ReviewPanel::setResult(const DiscoveryResult& result) {
  clear();
  if (!context_.dataModule) return;
  try {
    session_.emplace(*context_.dataModule, result, context_.taskCode, context_.level);
  } catch (const JournalError& e) {
    status_->setText(q(texts::review::kNoReview) +
                     QString::fromStdString(texts::journalFailure(e)));
    return;
  }
  fillTable();
}

void ReviewPanel::fillTable() {
  const DiscoveryResult& r = session_->result();
  table_->setRowCount(static_cast<int>(session_->findings().size()));
  for (int row = 0; row < table_->rowCount(); ++row) {
    const ReviewedFinding& f = session_->findings()[static_cast<std::size_t>(row)];
    const UnitPair& units = r.pairs[static_cast<std::size_t>(f.finding.pair)].units;
    const TSampleData& sheet = r.sheets[static_cast<std::size_t>(f.finding.sheet)];
    QTableWidgetItem* first = textItem(units[Left].sUnitName);
    first->setFlags(first->flags() | Qt::ItemIsUserCheckable);
    first->setCheckState(Qt::Unchecked);
    first->setData(kFindingRole, row);
    table_->setItem(row, kUnit1, first);
    table_->setItem(row, kCode1, textItem(units[Left].sUnitCode));
    table_->setItem(row, kUnit2, textItem(units[Right].sUnitName));
    table_->setItem(row, kCode2, textItem(units[Right].sUnitCode));
    table_->setItem(row, kSheet, textItem(sheet.sSampleName));
    std::string kind = findingKindText(f.finding.kind);
    if (f.finding.cells > 0) kind += "（" + std::to_string(f.finding.cells) + "格）";
    if (f.finding.kind == kScaledKind) kind += "（" + scaleFactorText(f.finding.exponent) + "）";
    table_->setItem(row, kKind, textItem(kind));
    const std::string review = session_->gone(static_cast<std::size_t>(row))
                                   ? std::string(texts::review::kDeletedMark)
                               : f.changed() ? texts::review::changedMark(f.mark, f.decision->mark)
                                             : texts::markText(f.mark);
    table_->setItem(row, kReview, textItem(review));
    // Whose copy goes: none until the operator chooses, and only for what the deletion removes.
    if (session_->deletable(static_cast<std::size_t>(row))) {
      auto* side = qobject_cast<QComboBox*>(table_->cellWidget(row, kDelete));
      if (!side) {
        side = new QComboBox(table_);
        side->addItem(QString());
        side->addItem(QString::fromStdString(units[Left].sUnitName), static_cast<int>(Left));
        side->addItem(QString::fromStdString(units[Right].sUnitName), static_cast<int>(Right));
        table_->setCellWidget(row, kDelete, side);
      }
    } else {
      table_->removeCellWidget(row, kDelete);
      table_->setItem(row, kDelete, textItem({}));
    }
    const bool grey = f.mark == Mark::Legitimate || session_->gone(static_cast<std::size_t>(row));
    for (int c = 0; c < kColumns; ++c)
      if (QTableWidgetItem* item = table_->item(row, c))
        item->setForeground(grey ? QBrush(Qt::gray) : QBrush());
  }
  table_->resizeColumnsToContents();
  applyFilter();
}

void ReviewPanel::applyFilter() {
  if (!session_) return;
  const QVariant wanted = filter_->currentData();
  int shown = 0;
  for (int row = 0; row < table_->rowCount(); ++row) {
    const Mark mark = session_->findings()[static_cast<std::size_t>(row)].mark;
    const bool hidden = (mark == Mark::Legitimate && !showLegitimate_->isChecked()) ||
                        (wanted.isValid() && wanted.toInt() != static_cast<int>(mark));
    table_->setRowHidden(row, hidden);
    shown += hidden ? 0 : 1;
  }
  table_->resizeColumnToContents(kReview);  // hidden rows are not measured
  status_->setText(QString::fromStdString("列出 " + std::to_string(shown) + " 处重复，共 " +
                                          std::to_string(table_->rowCount()) + " 处"));
}

std::vector<std::size_t> ReviewPanel::chosen() const {
  std::vector<std::size_t> rows;
  for (int row = 0; row < table_->rowCount(); ++row)
    if (!table_->isRowHidden(row) && table_->item(row, kUnit1)->checkState() == Qt::Checked)
      rows.push_back(static_cast<std::size_t>(row));
  if (rows.empty() && table_->currentRow() >= 0 && !table_->isRowHidden(table_->currentRow()))
    rows.push_back(static_cast<std::size_t>(table_->currentRow()));
  return rows;
}

void ReviewPanel::mark(Mark mark) {
  if (!session_) return;
  const std::vector<std::size_t> rows = chosen();
  if (rows.empty()) {
    ui::MessageBox(texts::review::kNoneChosen, kPrompt, kInformation);
    return;
  }
  try {
    for (std::size_t row : rows) session_->mark(row, mark, note_->text().toStdString());
  } catch (const JournalError& e) {
    throw Error(texts::journalFailure(e));
  }
  for (std::size_t row : rows)
    table_->item(static_cast<int>(row), kUnit1)->setCheckState(Qt::Unchecked);
  fillTable();
}

void ReviewPanel::deleteChosen() {
  if (!session_) return;
  std::vector<std::pair<std::size_t, Side>> copies;
  std::string lines;
  const DiscoveryResult& r = session_->result();
  for (int row = 0; row < table_->rowCount(); ++row) {
    const auto* side = qobject_cast<QComboBox*>(table_->cellWidget(row, kDelete));
    if (table_->isRowHidden(row) || !side || !side->currentData().isValid() ||
        table_->item(row, kUnit1)->checkState() != Qt::Checked)
      continue;
    const auto index = static_cast<std::size_t>(row);
    const Side copyOf = static_cast<Side>(side->currentData().toInt());
    copies.emplace_back(index, copyOf);
    const Finding& f = session_->findings()[index].finding;
    const TUnitData& unit = r.pairs[static_cast<std::size_t>(f.pair)].units[copyOf];
    lines += unit.sUnitName + "（" + unit.sUnitCode + "） " +
             r.sheets[static_cast<std::size_t>(f.sheet)].sSampleName + " " +
             std::to_string(session_->rowsOf(index, copyOf)) + " 行\n";
  }
  if (copies.empty()) {
    ui::MessageBox(texts::review::kNothingToDelete, kPrompt, kInformation);
    return;
  }
  const int answer = ui::MessageBox(texts::review::batchQuestion(copies.size(), lines), kPrompt,
                                    ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2);
  if (answer != ui::IDYES) return;
  const Cleanup::BatchOutcome done = session_->deleteCopies(copies);
  for (const auto& [row, side] : copies)
    table_->item(static_cast<int>(row), kUnit1)->setCheckState(Qt::Unchecked);
  fillTable();
  ui::MessageBox(texts::batchDeletion(copies.size(), done.rows.size(), done.stopped), kPrompt,
                 kInformation);
}

void ReviewPanel::exportReport() {
  if (!session_ || !context_.chooseExportFile) return;
  const std::string suggested =
      QDir(QDir::homePath())
          .filePath(QString::fromStdString("审核报告_" + session_->result().periodId + ".xlsx"))
          .toStdString();
  const std::string file = context_.chooseExportFile(this, suggested);
  if (file.empty()) return;
  std::vector<std::vector<CellDifference>> cells;
  for (const ReviewedFinding& f : session_->findings())
    cells.push_back(f.mark == Mark::Confirmed
                        ? differingCells(*context_.dataModule, session_->result(), f.finding)
                        : std::vector<CellDifference>{});
  std::vector<journal::Entry> deletions;
  try {
    deletions = Cleanup(*context_.dataModule).DeletionEntries();
  } catch (const JournalError& e) {
    throw Error(texts::journalFailure(e));
  }
  writeReviewWorkbook(file, session_->result(), session_->findings(), cells, deletions);
  ui::MessageBox(texts::review::kExported + file, kPrompt, kInformation);
}

void ReviewPanel::showPair(int pair) {
  if (!session_) return;
  for (std::size_t i = 0; i < session_->findings().size(); ++i)
    if (session_->findings()[i].finding.pair == pair) return showFinding(i);
}

void ReviewPanel::showFinding(std::size_t finding) {
  if (!session_ || !context_.dataModule) return;
  const DiscoveryResult& r = session_->result();
  const Finding& f = session_->findings().at(finding).finding;
  const UnitPair& units = r.pairs.at(static_cast<std::size_t>(f.pair)).units;
  const TUnitGroup group(units[Left], units[Right]);
  ComparisonRun run(*context_.dataModule, r.periodId, context_.taskCode, context_.level);
  std::optional<PairRows> rows = run.Show(group, f.againstPeriod);
  if (!rows) {
    const std::string& whyNot = run.templateFailure();
    ui::MessageBox(whyNot.empty() ? std::string(kNoTemplate) : kTemplateUnreadable + whyNot,
                   kPrompt, kInformation);
    return;
  }
  TfrmShowDifference viewer(this);
  viewer.setObjectName("frmShowFinding");
  if (f.kind == kScaledKind) {
    // The figures the factor explains differ in text but are not the copy's differences.
    std::set<std::pair<int, int>> explained;
    for (const CellDifference& cell : differingCells(*context_.dataModule, r, f, true))
      explained.emplace(cell.row, cell.column);
    const int sheet = r.sheets.at(static_cast<std::size_t>(f.sheet)).nSheetOrder;
    viewer.SetExplainedCells([explained = std::move(explained), sheet](int at, int row, int col) {
      return at == sheet && explained.count({row, col}) > 0;
    });
  }
  viewer.FillPair(std::move(*rows), units[Left], units[Right]);
  viewer.SetPairCaption(texts::review::findingCaption(group.GroupName, f.kind, f.exponent));
  viewer.SetPeriodCaption(f.againstPeriod.empty() ? r.periodName
                                                  : r.periodName + " → " + r.againstPeriodName);
  try {
    viewer.SetSheet(f.sheet);  // the finding's sheet, as the sample list orders the template's
  } catch (const sheet::RangeError&) {
    // A template with fewer sheets than the list: the viewer stays on its first sheet.
  }
  viewer.ShowModal();
}

}  // namespace dupsweep
