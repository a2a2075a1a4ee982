#pragma once
// The cell delegate of the grid widget: paints a cell as QStyledItemDelegate does (text, font,
// colours, fill) and then its borders, lets an edit begin only when the control's start-edit
// event does not refuse it, and shows the whole text of a cell that its column cannot hold (the
// painting cuts such a text short with "…") as the cell's tooltip.

#include <QStyledItemDelegate>

namespace dupsweep::sheet {

class BookTableModel;

class BookDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit BookDelegate(BookTableModel& model, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  // Raises the control's start-edit event; a refused edit gets no editor (nullptr), so the cell
  // stays as it is.
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;

  // The cell's whole text when it does not fit the cell's rectangle (option.rect, a merged range's
  // whole rectangle) as the painting lays it out in the cell's font: a line wider than the room
  // for text, or more lines than the cell's height holds. Empty for a text that fits and for an
  // empty cell.
  QString overflowText(const QStyleOptionViewItem& option, const QModelIndex& index) const;
  // A tooltip event over a cell shows overflowText() as its tooltip, or hides the tooltip when
  // the text fits.
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

 private:
  BookTableModel& model_;
};

}  // namespace dupsweep::sheet
