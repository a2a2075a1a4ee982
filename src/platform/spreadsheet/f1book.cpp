#include "platform/spreadsheet/f1book.h"

#include "platform/spreadsheet/reader.h"
#include "platform/text/text.h"

namespace dupsweep::sheet {

F1Book::F1Book() = default;

F1Book::~F1Book() {
  if (view_) view_->bookDestroyed();
}

void F1Book::setSheet(int sheet) {
  if (sheet == book_.currentSheet()) {
    book_.sheet(sheet);  // range check only
    return;
  }
  book_.setCurrentSheet(sheet);
  if (view_) view_->currentSheetChanged();
}

void F1Book::setRow(int row) {
  checkRow(row);
  Worksheet& sheet = book_.current();
  sheet.setActiveCell(row, sheet.activeCol());
  if (view_) view_->activeCellChanged();
}

void F1Book::setCol(int col) {
  checkCol(col);
  Worksheet& sheet = book_.current();
  sheet.setActiveCell(sheet.activeRow(), col);
  if (view_) view_->activeCellChanged();
}

int F1Book::read(const std::filesystem::path& path) {
  setWorkbook(readWorkbook(path));  // a failure throws before anything is replaced
  return 0;
}

void F1Book::setWorkbook(Workbook book) {
  book_ = std::move(book);
  if (view_) view_->workbookReplaced();
}

void F1Book::EntryRC(int row, int col, std::string_view text) {
  checkRow(row);
  checkCol(col);
  if (!text::isValidUtf8(text)) {
    text::utf8ToUtf16(text);  // raises FormatError naming the offset of the bad byte
    throw FormatError("Invalid UTF-8 text");
  }
  book_.current().setText(row, col, text);
  if (view_) view_->cellChanged(row, col);
}

void F1Book::EntryRC(int row, int col, std::u16string_view text) {
  checkRow(row);
  checkCol(col);
  EntryRC(row, col, text::utf16ToUtf8(text));
}

std::string F1Book::text(int row, int col) const {
  checkRow(row);
  checkCol(col);
  return std::string(book_.current().text(row, col));
}

std::u16string F1Book::textUtf16(int row, int col) const {
  checkRow(row);
  checkCol(col);
  return text::utf8ToUtf16(book_.current().text(row, col));
}

std::string F1Book::sheetName(int sheet) const {
  return book_.sheet(sheet).name();
}

std::u16string F1Book::sheetNameUtf16(int sheet) const {
  return text::utf8ToUtf16(book_.sheet(sheet).name());
}

CellFormat F1Book::getCellFormat() const {
  const Worksheet& sheet = book_.current();
  return book_.formats().at(sheet.format(sheet.activeRow(), sheet.activeCol()));
}

void F1Book::setCellFormat(const CellFormat& format) {
  Worksheet& sheet = book_.current();
  const FormatId id = book_.formats().intern(format);
  sheet.setFormat(sheet.activeRow(), sheet.activeCol(), id);
  if (view_) view_->cellChanged(sheet.activeRow(), sheet.activeCol());
}

void F1Book::showActiveCell() {
  if (view_) view_->showActiveCell();
}

void F1Book::takeFocus() {
  if (view_) view_->takeFocus();
}

bool F1Book::startEdit(int row, int col) {
  checkRow(row);
  checkCol(col);
  if (!onStartEdit_) return true;
  std::int16_t cancel = 0;
  const std::string editText(book_.current().text(row, col));
  onStartEdit_(*this, editText, cancel);
  return cancel == 0;
}

}  // namespace dupsweep::sheet
