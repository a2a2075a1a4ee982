#include "platform/spreadsheet/bookdelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include "platform/spreadsheet/booktablemodel.h"

namespace dupsweep::sheet {
namespace {

QPen penFor(const BorderSide& side) {
  QPen pen(side.color.automatic ? QColor(Qt::black)
                                : QColor(side.color.red, side.color.green, side.color.blue));
  pen.setCapStyle(Qt::FlatCap);
  switch (side.style) {
    case BorderStyle::none:
    case BorderStyle::thin:
      pen.setWidth(1);
      break;
    case BorderStyle::hair:
      pen.setWidth(1);
      pen.setStyle(Qt::DotLine);
      break;
    case BorderStyle::dotted:
      pen.setWidth(1);
      pen.setStyle(Qt::DotLine);
      break;
    case BorderStyle::dashed:
      pen.setWidth(1);
      pen.setStyle(Qt::DashLine);
      break;
    case BorderStyle::dashDot:
      pen.setWidth(1);
      pen.setStyle(Qt::DashDotLine);
      break;
    case BorderStyle::dashDotDot:
      pen.setWidth(1);
      pen.setStyle(Qt::DashDotDotLine);
      break;
    case BorderStyle::medium:
      pen.setWidth(2);
      break;
    case BorderStyle::mediumDashed:
      pen.setWidth(2);
      pen.setStyle(Qt::DashLine);
      break;
    case BorderStyle::mediumDashDot:
    case BorderStyle::slantDashDot:
      pen.setWidth(2);
      pen.setStyle(Qt::DashDotLine);
      break;
    case BorderStyle::mediumDashDotDot:
      pen.setWidth(2);
      pen.setStyle(Qt::DashDotDotLine);
      break;
    case BorderStyle::thick:
      pen.setWidth(3);
      break;
    case BorderStyle::doubleLine:
      pen.setWidth(3);
      break;
  }
  return pen;
}

// Draws one border side along an edge of `rect`, inside the cell.
void drawSide(QPainter& painter, const QRect& rect, const BorderSide& side, Qt::Edge edge) {
  if (side.style == BorderStyle::none) return;
  const QPen pen = penFor(side);
  const int w = pen.width();
  const int inset = w / 2;
  auto line = [&](QPoint a, QPoint b) {
    if (side.style == BorderStyle::doubleLine) {
      // Two thin lines, one pixel apart.
      QPen thin = pen;
      thin.setWidth(1);
      painter.setPen(thin);
      const QPoint step =
          (edge == Qt::TopEdge || edge == Qt::BottomEdge) ? QPoint(0, 2) : QPoint(2, 0);
      const QPoint dir = (edge == Qt::TopEdge || edge == Qt::LeftEdge) ? step : -step;
      painter.drawLine(a, b);
      painter.drawLine(a + dir, b + dir);
      return;
    }
    painter.setPen(pen);
    painter.drawLine(a, b);
  };
  switch (edge) {
    case Qt::TopEdge:
      line({rect.left(), rect.top() + inset}, {rect.right(), rect.top() + inset});
      break;
    case Qt::BottomEdge:
      line({rect.left(), rect.bottom() - inset}, {rect.right(), rect.bottom() - inset});
      break;
    case Qt::LeftEdge:
      line({rect.left() + inset, rect.top()}, {rect.left() + inset, rect.bottom()});
      break;
    case Qt::RightEdge:
      line({rect.right() - inset, rect.top()}, {rect.right() - inset, rect.bottom()});
      break;
  }
}

}  // namespace

BookDelegate::BookDelegate(BookTableModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

void BookDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
  F1Book* book = model_.book();
  if (!book) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  const Workbook& workbook = book->workbook();
  const Worksheet& sheet = workbook.current();
  const int row = index.row() + 1;
  const int col = index.column() + 1;
  const CellFormat& format = workbook.formats().at(sheet.format(row, col));

  // The background colour of a pattern fill lies under the pattern the base class paints.
  if (format.fill.pattern != FillPattern::none && format.fill.pattern != FillPattern::solid &&
      !format.fill.background.automatic) {
    const Color& bg = format.fill.background;
    painter->fillRect(option.rect, QColor(bg.red, bg.green, bg.blue));
  }
  QStyledItemDelegate::paint(painter, option, index);

  // A merged range takes its right border from its top-right cell and its bottom border from
  // its bottom-left cell, as the spreadsheet applications draw it.
  BorderSide right = format.right;
  BorderSide bottom = format.bottom;
  if (const CellRange* merge = sheet.mergeAt(row, col);
      merge && merge->firstRow == row && merge->firstCol == col) {
    const auto& formats = workbook.formats();
    const BorderSide& r = formats.at(sheet.format(row, merge->lastCol)).right;
    const BorderSide& b = formats.at(sheet.format(merge->lastRow, col)).bottom;
    if (r.style != BorderStyle::none) right = r;
    if (b.style != BorderStyle::none) bottom = b;
  }
  if (format.left.style == BorderStyle::none && format.top.style == BorderStyle::none &&
      right.style == BorderStyle::none && bottom.style == BorderStyle::none) {
    return;
  }
  painter->save();
  drawSide(*painter, option.rect, format.left, Qt::LeftEdge);
  drawSide(*painter, option.rect, format.top, Qt::TopEdge);
  drawSide(*painter, option.rect, right, Qt::RightEdge);
  drawSide(*painter, option.rect, bottom, Qt::BottomEdge);
  painter->restore();
}

QWidget* BookDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  F1Book* book = model_.book();
  if (!book) return nullptr;
  try {
    if (!book->startEdit(index.row() + 1, index.column() + 1)) return nullptr;
  } catch (const std::exception&) {
    // No exception may cross Qt's event dispatch; a handler that fails refuses the edit.
    return nullptr;
  }
  return QStyledItemDelegate::createEditor(parent, option, index);
}

QString BookDelegate::overflowText(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  if (opt.text.isEmpty()) return {};
  const QWidget* widget = opt.widget;
  const QStyle* style = widget ? widget->style() : QApplication::style();
  // The room the style lays the text out in: the text rectangle less the margin on either side
  // that the item views' text drawing keeps.
  const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
  const int room = textRect.width() - 2 * margin;
  const QFontMetrics metrics(opt.font);
  QString text = opt.text;
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  const QStringList lines = text.split(QLatin1Char('\n'));
  bool fits = lines.size() == 1 || lines.size() * metrics.lineSpacing() <= textRect.height();
  for (const QString& line : lines) {
    if (metrics.horizontalAdvance(line) > room) fits = false;
  }
  // The cell's own text: the shown one has its line feeds turned into line separators.
  return fits ? QString() : index.data(Qt::DisplayRole).toString();
}

bool BookDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                             const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (!event || !view || event->type() != QEvent::ToolTip || !index.isValid())
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  const QString text = overflowText(option, index);
  if (text.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
  }
  return true;
}

}  // namespace dupsweep::sheet
