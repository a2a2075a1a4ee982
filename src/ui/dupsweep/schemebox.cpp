#include "ui/dupsweep/schemebox.h"

#include <QComboBox>
#include <QLineEdit>

namespace dupsweep {

SchemeBox::SchemeBox(QComboBox& box, std::function<void()> picked) : box_(box) {
  QComboBox* precept = &box;
  auto* field = new QLineEdit(precept);
  // Connected before the combo box connects its own handler of the end of typing, and after.
  QObject::connect(field, &QLineEdit::editingFinished, precept, [typing = typing_, precept] {
    typing->ends = true;
    typing->chosenBefore = precept->currentIndex();
  });
  precept->setLineEdit(field);
  QObject::connect(field, &QLineEdit::editingFinished, precept, [typing = typing_, precept] {
    if (precept->currentIndex() != typing->chosenBefore) {
      const QString typed = precept->currentText();
      precept->setCurrentIndex(typing->chosenBefore);
      precept->setEditText(typed);
    }
    typing->ends = false;
  });
  QObject::connect(precept, &QComboBox::activated, precept,
                   [typing = typing_, picked = std::move(picked)] {
                     if (!typing->ends) picked();
                   });
}

void SchemeBox::fill(const std::vector<std::string>& names) {
  box_.clear();
  for (const std::string& name : names) box_.addItem(QString::fromStdString(name));
  box_.setCurrentIndex(-1);
}

std::string SchemeBox::name() const {
  return box_.currentText().toStdString();
}

void SchemeBox::addName(const std::string& name) {
  const QString listed = QString::fromStdString(name);
  if (box_.findText(listed, Qt::MatchFixedString) >= 0) return;
  // Appending chooses no entry (Qt chooses the first entry of an empty list) and keeps the name
  // as typed.
  const int chosen = box_.currentIndex();
  const QString typed = box_.currentText();
  box_.addItem(listed);
  if (box_.currentIndex() != chosen) {
    box_.setCurrentIndex(chosen);
    box_.setEditText(typed);
  }
}

void SchemeBox::removeChosen() {
  const int chosen = box_.currentIndex();
  if (chosen < 0) return;
  const QString typed = box_.currentText();
  box_.removeItem(chosen);
  box_.setCurrentIndex(-1);
  box_.setEditText(typed);
}

}  // namespace dupsweep
