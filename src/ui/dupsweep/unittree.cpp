#include "ui/dupsweep/unittree.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

namespace dupsweep {
namespace {

// Where a node keeps the address of its unit record.
constexpr int kUnitRole = Qt::UserRole;
// Set on a node once its children have been asked for.
constexpr int kLoadedRole = Qt::UserRole + 1;

}  // namespace

void UnitTree::addUnit(QTreeWidgetItem* parent, TUnitData& unit, const QIcon& icon) {
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
  node->setText(0, QString::fromStdString(unit.sUnitName));
  node->setIcon(0, icon);
  node->setData(0, kUnitRole, QVariant::fromValue(static_cast<void*>(&unit)));
  node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
}

TUnitData* UnitTree::unitOf(const QTreeWidgetItem* node) {
  if (!node) return nullptr;
  return static_cast<TUnitData*>(node->data(0, kUnitRole).value<void*>());
}

std::int32_t UnitTree::depthOf(const QTreeWidgetItem* node) {
  std::int32_t depth = 0;
  for (const QTreeWidgetItem* up = node->parent(); up; up = up->parent()) ++depth;
  return depth;
}

bool UnitTree::firstExpansion(QTreeWidgetItem* node) {
  if (!node || node->childCount() > 0 || node->data(0, kLoadedRole).toBool()) return false;
  node->setData(0, kLoadedRole, true);
  return true;
}

void UnitTree::noChildren(QTreeWidgetItem* node) {
  node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
  node->setExpanded(false);
}

UnitTree::UnitTree(QWidget* parent) : QTreeWidget(parent) {
  // Several nodes can be selected; which ones is decided by selectionCommand alone.
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &UnitTree::followSelection);
  // Nodes taken out of the tree leave the selection list with their descendants.
  connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex& under, int first, int last) {
            for (int row = first; row <= last; ++row) forget(model()->index(row, 0, under));
          });
  connect(model(), &QAbstractItemModel::modelAboutToBeReset, this,
          [this] { selectionList_.clear(); });
}

void UnitTree::forget(const QModelIndex& index) {
  const QTreeWidgetItem* gone = itemFromIndex(index);
  std::erase_if(selectionList_, [gone](const QTreeWidgetItem* node) {
    for (const QTreeWidgetItem* up = node; up; up = up->parent())
      if (up == gone) return true;
    return false;
  });
}

QItemSelectionModel::SelectionFlags UnitTree::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
  constexpr auto kOnly = QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
  if (!event) return index.isValid() ? kOnly : QItemSelectionModel::NoUpdate;  // setCurrentItem
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      // A click on empty space leaves the selection alone.
      if (!index.isValid()) return QItemSelectionModel::NoUpdate;
      const auto* mouse = static_cast<const QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return QItemSelectionModel::NoUpdate;
      if (mouse->modifiers() & Qt::ControlModifier) {
        return (selectionModel()->isSelected(index) ? QItemSelectionModel::Deselect
                                                    : QItemSelectionModel::Select) |
               QItemSelectionModel::Rows;
      }
      return kOnly;  // plain click; Shift+click likewise
    }
    case QEvent::KeyPress:
      // Moving with the keyboard (with or without modifiers) selects the new node only.
      return index.isValid() ? kOnly : QItemSelectionModel::NoUpdate;
    default:
      // Mouse moves and releases never change the selection: no drag or deferred selection.
      return QItemSelectionModel::NoUpdate;
  }
}

void UnitTree::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::SelectAll)) {
    event->ignore();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void UnitTree::followSelection(const QItemSelection& selected, const QItemSelection& deselected) {
  for (const QModelIndex& index : deselected.indexes()) {
    if (index.column() != 0) continue;
    std::erase(selectionList_, itemFromIndex(index));
  }
  for (const QModelIndex& index : selected.indexes()) {
    if (index.column() != 0) continue;
    QTreeWidgetItem* node = itemFromIndex(index);
    if (std::find(selectionList_.begin(), selectionList_.end(), node) == selectionList_.end())
      selectionList_.insert(selectionList_.begin(), node);
  }
}

}  // namespace dupsweep
