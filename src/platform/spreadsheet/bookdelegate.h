#pragma once
// The cell delegate of the grid widget: paints a cell as QStyledItemDelegate does (text, font,
// colours, fill) and then its borders, and lets an edit begin only when the control's start-edit
// event does not refuse it.

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

 private:
  BookTableModel& model_;
};

}  // namespace dupsweep::sheet
