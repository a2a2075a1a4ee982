#include "ui/showdifference/sheetcontrol.h"

#include <filesystem>

#include "platform/spreadsheet/f1book.h"

namespace dupsweep {

void CellFormatObject::setColor(std::uint32_t colorRef) {
  format_.font.color = sheet::Color::fromColorRef(colorRef);
}

void CellFormatObject::setBold(bool bold) {
  format_.font.bold = bold;
}

int F1BookControl::Sheet() const {
  return book_.Sheet();
}

void F1BookControl::setSheet(int sheet) {
  book_.setSheet(sheet);
}

int F1BookControl::NumSheets() const {
  return book_.NumSheets();
}

int F1BookControl::LastRow() const {
  return book_.LastRow();
}

int F1BookControl::LastCol() const {
  return book_.LastCol();
}

void F1BookControl::setRow(int row) {
  book_.setRow(row);
}

void F1BookControl::setCol(int col) {
  book_.setCol(col);
}

int F1BookControl::read(const std::string& path) {
  return book_.read(std::filesystem::path(path));
}

void F1BookControl::EntryRC(int row, int col, std::string_view utf8) {
  book_.EntryRC(row, col, utf8);
}

void F1BookControl::EntryRC(int row, int col, std::u16string_view text) {
  book_.EntryRC(row, col, text);
}

std::u16string F1BookControl::text(int row, int col) const {
  return book_.textUtf16(row, col);
}

const sheet::Worksheet* F1BookControl::currentWorksheet() const {
  return &book_.workbook().current();
}

std::vector<sheet::CellPosition> F1BookControl::textCells(int lastRow) const {
  return book_.workbook().current().textCells(lastRow);
}

std::u16string F1BookControl::sheetName(int sheet) const {
  return book_.sheetNameUtf16(sheet);
}

std::unique_ptr<CellFormatObject> F1BookControl::getCellFormat() const {
  return std::make_unique<CellFormatObject>(book_.getCellFormat());
}

void F1BookControl::setCellFormat(const CellFormatObject& format) {
  book_.setCellFormat(format.format());
}

void F1BookControl::showActiveCell() {
  book_.showActiveCell();
}

void F1BookControl::takeFocus() {
  book_.takeFocus();
}

void F1BookControl::setOnStartEdit(StartEditEvent handler) {
  if (!handler) {
    book_.setOnStartEdit({});
    return;
  }
  book_.setOnStartEdit([this, handler = std::move(handler)](
                           sheet::F1Book&, const std::string& editText, std::int16_t& cancel) {
    handler(*this, editText, cancel);
  });
}

}  // namespace dupsweep
