#pragma once
// The cells of the discovery window's tables: text the operator can select but not edit.

#include <QTableWidgetItem>
#include <string>

namespace dupsweep {

inline QTableWidgetItem* textItem(const std::string& text) {
  auto* item = new QTableWidgetItem(QString::fromStdString(text));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

}  // namespace dupsweep
