#pragma once
// UnitTree: the unit tree of the duplicate-cleanup dialog (tvUnit). A tree widget whose
// selection follows the desktop tree view the operators know, not Qt's extended selection:
//   - a plain click, a Shift+click or a keyboard move makes the new current node the only
//     selected node;
//   - Ctrl+click on a node that is not selected selects it as well; Ctrl+click on a selected node
//     deselects it;
//   - there is no range selection, no drag selection and no select-all.
// The tree keeps its selected nodes in a selection list, the most recently selected node first,
// so that a click on A and a Ctrl+click on B give the list B, A.

#include <QTreeWidget>
#include <cstdint>
#include <vector>

#include "model/pair.h"

namespace dupsweep {

class UnitTree : public QTreeWidget {
  Q_OBJECT

 public:
  explicit UnitTree(QWidget* parent = nullptr);

  // The selected nodes, the most recently selected first. Always holds exactly the nodes that are
  // selected, however the selection changed (clicks, keys, or code selecting items).
  const std::vector<QTreeWidgetItem*>& selectionList() const noexcept { return selectionList_; }

  // Adds a node for `unit` as the last child of `parent` (as the last top-level node when null):
  // the unit's name as its text, `icon`, the record (owned elsewhere) as its data, and the
  // expand button shown before anyone knows whether it has children.
  void addUnit(QTreeWidgetItem* parent, TUnitData& unit, const QIcon& icon);
  // The unit record of a node made by addUnit; null for another item or none.
  static TUnitData* unitOf(const QTreeWidgetItem* node);
  // The depth of a node: 0 for a top-level node.
  static std::int32_t depthOf(const QTreeWidgetItem* node);
  // True once for a node without children: the first time its children are to be asked for.
  static bool firstExpansion(QTreeWidgetItem* node);
  // Hides the expand button of a node found to have no children.
  static void noChildren(QTreeWidgetItem* node);

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void followSelection(const QItemSelection& selected, const QItemSelection& deselected);
  // Drops the node at `index` and its descendants from the selection list.
  void forget(const QModelIndex& index);

  std::vector<QTreeWidgetItem*> selectionList_;
};

}  // namespace dupsweep
