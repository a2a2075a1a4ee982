#include "ui/showdifference/frmshowdifference.h"

#include "engine/compare.h"

#include <QApplication>
#include <QFileDialog>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QScopeGuard>
#include <QShortcut>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <limits>

#include "platform/db/db.h"
#include "platform/errors.h"
#include "platform/spreadsheet/bookdelegate.h"
#include "platform/spreadsheet/booktablemodel.h"
#include "platform/spreadsheet/bookwidget.h"
#include "platform/spreadsheet/reader.h"
#include "platform/spreadsheet/workbook.h"
#include "platform/ui/handler.h"
#include "ui/showdifference/differenceexport.h"
#include "ui_frmshowdifference.h"

// Registered explicitly: the linker would drop the static library's unreferenced initialiser.
static void initViewerResources() {
  Q_INIT_RESOURCE(showdifference);
}

namespace dupsweep {
namespace {

constexpr int kLeftPos = 214;
constexpr int kTopPos = 109;
constexpr int kWidth = 791;
constexpr int kHeight = 608;
// Width of GroupBox1 and height of the difference list when the window opens.
constexpr int kGroupBox1Width = 506;
constexpr int kListHeight = 160;
constexpr int kStatusPanelWidth = 50;

// Widths of the columns of lsvDifferenace: 序号, 表, 行, 列, 左边值, 右边值.
constexpr std::array<int, 6> kColumnWidths{50, 180, 80, 80, 160, 160};
// Where a line of lsvDifferenace keeps the number of its sheet.
constexpr int kSheetRole = Qt::UserRole;
// Alpha of the tint that selected cells of the grids get.
constexpr int kSelectionTintAlpha = 48;

// Song of 9 points (12 pixels at 96 dpi), or the closest serif CJK face, or the application's.
QFont viewerFont() {
  QFont font = QApplication::font();
  font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                    QStringLiteral("Noto Serif CJK SC"), font.family()});
  font.setPointSize(9);
  return font;
}

// A selected cell keeps its own colour and font, so a marked cell stays red while active; the
// selection shows as a light tint and a frame, as spreadsheet applications show it.
class ViewerCellDelegate : public sheet::BookDelegate {
 public:
  ViewerCellDelegate(sheet::BookTableModel& model, QColor frame, QObject* parent)
      : sheet::BookDelegate(model, parent), frame_(frame) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem plain(option);
    const bool selected = plain.state.testFlag(QStyle::State_Selected);
    plain.state.setFlag(QStyle::State_Selected, false);
    sheet::BookDelegate::paint(painter, plain, index);
    if (!selected) return;
    painter->save();
    painter->setPen(QPen(frame_, 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
    painter->restore();
  }

 private:
  QColor frame_;
};

QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The pair's caption with the characters file systems refuse replaced, then "差异.xlsx".
std::string suggestedExportName(const std::string& pairCaption) {
  QString name = fromUtf8(pairCaption);
  for (QChar& c : name) {
    if (QStringLiteral("/\\:*?\"<>|").contains(c)) c = QLatin1Char('_');
  }
  return toUtf8(name + QStringLiteral("差异.xlsx"));
}

// The save-file dialog of the export; a name without an extension gets ".xlsx".
std::string askExportFile(QWidget* parent, const std::string& suggested) {
  QString path =
      QFileDialog::getSaveFileName(parent, QStringLiteral("导出差异"), fromUtf8(suggested),
                                   QStringLiteral("Excel 工作簿 (*.xlsx)"));
  if (path.isEmpty()) return {};
  if (!path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)) path += QStringLiteral(".xlsx");
  return toUtf8(path);
}

// No frame and one pixel around the items, so the bar sizes itself to its 51-pixel buttons at 53.
class ToolBarStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    switch (metric) {
      case PM_ToolBarFrameWidth:
      case PM_ToolBarItemSpacing:
        return 0;
      case PM_ToolBarItemMargin:
        return 1;
      default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
  }
};

}  // namespace

TfrmShowDifference::TfrmShowDifference(QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::TfrmShowDifference>()),
      controls_{F1BookControl(books_[viewer::kLeft]), F1BookControl(books_[viewer::kRight])} {
  initViewerResources();
  ui_->setupUi(this);
  setObjectName(QStringLiteral("frmShowDifference"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setFont(viewerFont());
  setGeometry(kLeftPos, kTopPos, kWidth, kHeight);

  // Made after the font is set, since a grid takes its cell font when it is made.
  const std::array<QGroupBox*, 2> boxes{ui_->GroupBox1, ui_->GroupBox2};
  const std::array<const char*, 2> names{"F1Book1", "F1Book2"};
  for (std::size_t side : {viewer::kLeft, viewer::kRight}) {
    grids_[side] = new sheet::BookWidget(books_[side], boxes[side]);
    grids_[side]->setObjectName(QString::fromLatin1(names[side]));
    QTableView* table = grids_[side]->tableView();
    QPalette palette = table->palette();
    const QColor frame = palette.color(QPalette::Active, QPalette::Highlight);
    QColor tint = frame;
    tint.setAlpha(kSelectionTintAlpha);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
      palette.setColor(group, QPalette::Highlight, tint);
    table->setPalette(palette);
    table->setItemDelegate(new ViewerCellDelegate(*grids_[side]->tableModel(), frame, table));
    boxes[side]->layout()->addWidget(grids_[side]);
  }

  auto* toolBarStyle = new ToolBarStyle;
  toolBarStyle->setParent(ui_->ToolBar1);
  ui_->ToolBar1->setStyle(toolBarStyle);

  QTreeWidget* list = ui_->lsvDifferenace;
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsMovable(false);
  for (std::size_t column = 0; column < kColumnWidths.size(); ++column)
    list->header()->resizeSection(static_cast<int>(column), kColumnWidths[column]);
  QPalette palette = list->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setBrush(QPalette::Inactive, role, palette.brush(QPalette::Active, role));
  list->setPalette(palette);

  ui_->Splitter1->setStretchFactor(0, 1);
  ui_->Splitter1->setStretchFactor(1, 0);
  ui_->Splitter1->setSizes({kHeight, kListHeight});
  ui_->Splitter2->setStretchFactor(0, 0);
  ui_->Splitter2->setStretchFactor(1, 1);
  ui_->Splitter2->setSizes({kGroupBox1Width, kWidth});

  // The panel is 50 wide while it is empty and widens to the position text it shows.
  statusPanel_ = new QLabel(ui_->StatusBar1);
  statusPanel_->setObjectName(QStringLiteral("StatusBar1Panel"));
  statusPanel_->setMinimumWidth(kStatusPanelWidth);
  statusPanel_->setFrameShape(QFrame::Panel);
  statusPanel_->setFrameShadow(QFrame::Sunken);
  ui_->StatusBar1->addWidget(statusPanel_);

  scrollLink_ = new sheet::BookScrollLink(*grids_[viewer::kLeft], *grids_[viewer::kRight], this);
  scrollLink_->setOn(ui_->btnSyncScroll->isChecked());
  exportFileChooser_ = askExportFile;

  connect(ui_->ToolButton3, &QToolButton::clicked, this,
          ui::guarded(this, &TfrmShowDifference::ToolButton3Click));
  connect(ui_->ToolButton1, &QToolButton::clicked, this,
          ui::guarded(this, &TfrmShowDifference::ToolButton1Click));
  connect(ui_->lsvDifferenace, &QTreeWidget::itemClicked, this,
          ui::guarded(this, &TfrmShowDifference::lsvDifferenaceDblClick));
  connect(ui_->lsvDifferenace, &QTreeWidget::itemSelectionChanged, this,
          [this] { showPosition(); });
  connect(ui_->btnNextDifference, &QToolButton::clicked, this,
          ui::guarded(this, &TfrmShowDifference::btnNextDifferenceClick));
  connect(ui_->btnPrevDifference, &QToolButton::clicked, this,
          ui::guarded(this, &TfrmShowDifference::btnPrevDifferenceClick));
  connect(ui_->btnSyncScroll, &QToolButton::toggled, this,
          ui::guarded(this, &TfrmShowDifference::btnSyncScrollClick));
  connect(ui_->btnExportDifferences, &QToolButton::clicked, this,
          ui::guarded(this, &TfrmShowDifference::btnExportDifferencesClick));
  // F3 and Shift+F3 wherever the focus is in the window; the buttons take no focus themselves.
  auto* nextKey = new QShortcut(QKeySequence(Qt::Key_F3), this);
  auto* previousKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
  connect(nextKey, &QShortcut::activated, this,
          ui::guarded(this, &TfrmShowDifference::btnNextDifferenceClick));
  connect(previousKey, &QShortcut::activated, this,
          ui::guarded(this, &TfrmShowDifference::btnPrevDifferenceClick));
  for (F1BookControl& control : controls_) {
    control.setOnStartEdit(
        [this](SheetControl& sender, const std::string& editText, std::int16_t& cancel) {
          ui::runHandler([&] { F1Book1StartEdit(sender, editText, cancel); });
        });
  }
}

TfrmShowDifference::~TfrmShowDifference() = default;

void TfrmShowDifference::LoadTemplate(const std::string& path) {
  replaceWorkbooks(sheet::readWorkbook(std::filesystem::path(path)));
}

void TfrmShowDifference::replaceWorkbooks(sheet::Workbook book) {
  books_[viewer::kLeft].setWorkbook(book.copy());
  books_[viewer::kRight].setWorkbook(std::move(book));
}

void TfrmShowDifference::FillPair(PairRows pair, const TUnitData& unitS, const TUnitData& unitD) {
  // The list belongs to the template being replaced: its lines name cells of another workbook.
  replaceWorkbooks(std::move(pair.book));
  ClearDifferences();
  for (ShownSheet& one : pair.sheets) {
    SetSheet(one.sample->nSheetOrder - 1);
    SetUnitCaptions(unitS, unitD);
    if (one.rows[Left] && one.rows[Right])
      viewer::fillBooks(*one.rows[Left], *one.rows[Right], left(), right());
  }
  SetSheet(0);
  FindAllDifferences();
}

void TfrmShowDifference::SetSheet(std::int32_t index) {
  if (index == std::numeric_limits<std::int32_t>::max())
    throw sheet::RangeError("Sheet index " + std::to_string(index) + " is out of range");
  left().setSheet(index + 1);
  right().setSheet(index + 1);
}

void TfrmShowDifference::FillBooks(db::RowSet& S, db::RowSet& D) {
  viewer::fillBooks(S, D, left(), right());
}

void TfrmShowDifference::FindAllDifferences() {
  const auto changed = qScopeGuard([this] { listChanged(); });
  viewer::findAllDifferences(left(), right(), *this, explained_);
}

void TfrmShowDifference::FindSheetDifferences() {
  const auto changed = qScopeGuard([this] { listChanged(); });
  viewer::findSheetDifferences(left(), right(), *this, explained_);
}

void TfrmShowDifference::MarkCell(std::int32_t row, std::int32_t col) {
  viewer::markCell(left(), right(), row, col);
}

void TfrmShowDifference::addDifference(const viewer::DifferenceLine& line) {
  // Made whole first, so that the list's model announces one new row rather than every field set.
  auto item = std::make_unique<QTreeWidgetItem>(QStringList{
      QString::number(line.number), QString::fromStdU16String(line.sheetName),
      QString::number(line.row), QString::number(line.col),
      QString::fromStdU16String(line.leftText), QString::fromStdU16String(line.rightText)});
  // The whole texts, which their columns may cut short.
  item->setToolTip(4, item->text(4));
  item->setToolTip(5, item->text(5));
  item->setData(0, kSheetRole, line.sheet);
  navigator_.add(line);
  ui_->lsvDifferenace->addTopLevelItem(item.release());
}

void TfrmShowDifference::SetUnitCaptions(const std::string& captionS, const std::string& captionD) {
  ui_->GroupBox1->setTitle(fromUtf8(captionS));
  ui_->GroupBox2->setTitle(fromUtf8(captionD));
}

void TfrmShowDifference::SetUnitCaptions(const TUnitData& unitS, const TUnitData& unitD) {
  SetUnitCaptions(unitS.sUnitName + "[" + unitS.sUnitCode + "]",
                  unitD.sUnitName + "[" + unitD.sUnitCode + "]");
}

void TfrmShowDifference::SetPairCaption(const std::string& groupName) {
  pairCaption_ = groupName;
  setWindowTitle(fromUtf8(groupName + "数据差异"));
}

void TfrmShowDifference::SetPeriodCaption(const std::string& period) {
  periodCaption_ = period;
}

void TfrmShowDifference::ClearDifferences() {
  const bool wasEmpty = ui_->lsvDifferenace->topLevelItemCount() == 0 && navigator_.lines().empty();
  ui_->lsvDifferenace->clear();
  navigator_.clear();
  if (!wasEmpty) listChanged();
}

void TfrmShowDifference::listChanged() {
  const std::vector<int> counts = navigator_.countsBySheet(books_[viewer::kLeft].NumSheets());
  for (sheet::BookWidget* grid : grids_) grid->setSheetCounts(counts);
  showPosition();
}

std::optional<std::size_t> TfrmShowDifference::selectedLine() const {
  const QList<QTreeWidgetItem*> selected = ui_->lsvDifferenace->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  const int index = ui_->lsvDifferenace->indexOfTopLevelItem(selected.first());
  if (index < 0) return std::nullopt;
  return static_cast<std::size_t>(index);
}

void TfrmShowDifference::showPosition(viewer::StepEnd end) {
  statusPanel_->setText(fromUtf8(navigator_.positionText(selectedLine(), end)));
}

void TfrmShowDifference::takeStep(const viewer::Step& step) {
  QTreeWidget* list = ui_->lsvDifferenace;
  QTreeWidgetItem* item = step.line ? list->topLevelItem(static_cast<int>(*step.line)) : nullptr;
  if (!item) {
    showPosition(step.end);
    return;
  }
  list->setCurrentItem(item);
  item->setSelected(true);
  list->scrollToItem(item);
  lsvDifferenaceDblClick();
}

void TfrmShowDifference::btnNextDifferenceClick() {
  takeStep(navigator_.next(selectedLine()));
}

void TfrmShowDifference::btnPrevDifferenceClick() {
  takeStep(navigator_.previous(selectedLine()));
}

void TfrmShowDifference::btnSyncScrollClick(bool on) {
  scrollLink_->setOn(on);
}

void TfrmShowDifference::btnExportDifferencesClick() {
  if (!exportFileChooser_) return;
  const std::string path = exportFileChooser_(this, suggestedExportName(pairCaption_));
  if (path.empty()) return;
  ExportDifferences(path);
}

void TfrmShowDifference::ExportDifferences(const std::string& path) {
  viewer::ExportCaptions captions;
  captions.pair = pairCaption_;
  captions.period = periodCaption_;
  captions.left = toUtf8(ui_->GroupBox1->title());
  captions.right = toUtf8(ui_->GroupBox2->title());
  viewer::exportDifferences(path, F1Book1().workbook(), F1Book2().workbook(), navigator_.lines(),
                            captions);
}

QToolButton* TfrmShowDifference::syncScrollButton() const noexcept {
  return ui_->btnSyncScroll;
}

int TfrmShowDifference::ShowModal() {
  return exec();
}

void TfrmShowDifference::setVisible(bool visible) {
  if (visible && !isVisible())
    setWindowState((windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen)) |
                   Qt::WindowMaximized);
  QDialog::setVisible(visible);
}

void TfrmShowDifference::keyPressEvent(QKeyEvent* event) {
  // The viewer is a window, not a dialog box: Escape and Enter do not close it.
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Enter ||
      event->key() == Qt::Key_Return) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmShowDifference::ToolButton1Click() {
  close();
}

void TfrmShowDifference::ToolButton3Click() {
  ClearDifferences();
  FindSheetDifferences();
}

void TfrmShowDifference::lsvDifferenaceDblClick() {
  const QList<QTreeWidgetItem*> selected = ui_->lsvDifferenace->selectedItems();
  if (selected.isEmpty()) return;
  const QTreeWidgetItem* item = selected.first();
  const int sheet = item->data(0, kSheetRole).toInt();
  bool rowOk = false;
  bool colOk = false;
  const int row = item->text(2).toInt(&rowOk);
  const int col = item->text(3).toInt(&colOk);
  if (!rowOk || !colOk) throw Error("The difference line names no cell");
  viewer::showDifference(left(), right(), sheet, row, col);
}

void TfrmShowDifference::F1Book1StartEdit(SheetControl&, const std::string&, std::int16_t& Cancel) {
  Cancel = 1;
}

QTreeWidget* TfrmShowDifference::lsvDifferenace() {
  return ui_->lsvDifferenace;
}

QGroupBox* TfrmShowDifference::GroupBox1() const noexcept {
  return ui_->GroupBox1;
}

QGroupBox* TfrmShowDifference::GroupBox2() const noexcept {
  return ui_->GroupBox2;
}

}  // namespace dupsweep
