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
#include <vector>

namespace dupsweep {

class UnitTree : public QTreeWidget {
  Q_OBJECT

 public:
  explicit UnitTree(QWidget* parent = nullptr);

  // The selected nodes, the most recently selected first. Always holds exactly the nodes that are
  // selected, however the selection changed (clicks, keys, or code selecting items).
  const std::vector<QTreeWidgetItem*>& selectionList() const noexcept { return selectionList_; }

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
