#pragma once
// The viewer's side of the spreadsheet control: what the viewer relies on, over our own control
// (F1BookControl) or, in tests, one that fails. Text is UTF-16; sheets, rows and columns count
// from 1. A failing operation raises a dupsweep::Error and changes nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spreadsheet/format.h"
#include "platform/spreadsheet/workbook.h"

namespace dupsweep {

namespace sheet {
class F1Book;
}

// A cell format taken from a control; any control applies one taken from any other.
class CellFormatObject {
 public:
  explicit CellFormatObject(sheet::CellFormat format) : format_(std::move(format)) {}
  virtual ~CellFormatObject() = default;
  CellFormatObject(const CellFormatObject&) = delete;
  CellFormatObject& operator=(const CellFormatObject&) = delete;

  // The font colour: red in the low byte, green in the second, blue in the third.
  virtual void setColor(std::uint32_t colorRef);
  // The bold font.
  virtual void setBold(bool bold);

  const sheet::CellFormat& format() const noexcept { return format_; }

 private:
  sheet::CellFormat format_;
};

class SheetControl;

// `editText` is UTF-8; setting `cancel` to 1 refuses the edit.
using StartEditEvent =
    std::function<void(SheetControl& sender, const std::string& editText, std::int16_t& cancel)>;

class SheetControl {
 public:
  virtual ~SheetControl() = default;

  // The sheet every cell operation works on; setting it outside 1..NumSheets() fails.
  virtual int Sheet() const = 0;
  virtual void setSheet(int sheet) = 0;
  virtual int NumSheets() const = 0;
  // 0 when the sheet holds no text.
  virtual int LastRow() const = 0;
  virtual int LastCol() const = 0;
  // Setting Row and then Col makes (Row, Col) the active cell of the current sheet.
  virtual void setRow(int row) = 0;
  virtual void setCol(int col) = 0;

  // Returns the read status; on failure the workbook stays as it was.
  virtual int read(const std::string& path) = 0;
  // UTF-8, kept as it is: the viewer's bulk writes need no conversion per cell.
  virtual void EntryRC(int row, int col, std::string_view utf8) = 0;
  virtual void EntryRC(int row, int col, std::u16string_view text) = 0;
  // Empty for an empty cell.
  virtual std::u16string text(int row, int col) const = 0;
  // The current sheet as the control keeps it, valid until the sheet or workbook changes; null
  // when the control keeps none in this process (the default).
  virtual const sheet::Worksheet* currentWorksheet() const { return nullptr; }
  // Non-empty cells of rows 1..lastRow, row by row; costs what the sheet holds, not its extent.
  virtual std::vector<sheet::CellPosition> textCells(int lastRow) const = 0;
  virtual std::u16string sheetName(int sheet) const = 0;
  // The caller owns it.
  virtual std::unique_ptr<CellFormatObject> getCellFormat() const = 0;
  virtual void setCellFormat(const CellFormatObject& format) = 0;
  virtual void showActiveCell() = 0;
  virtual void takeFocus() = 0;

  // An empty handler lets every edit go ahead.
  virtual void setOnStartEdit(StartEditEvent handler) = 0;
};

// Over one of our controls, which it does not own.
class F1BookControl final : public SheetControl {
 public:
  explicit F1BookControl(sheet::F1Book& book) : book_(book) {}

  sheet::F1Book& book() const noexcept { return book_; }

  int Sheet() const override;
  void setSheet(int sheet) override;
  int NumSheets() const override;
  int LastRow() const override;
  int LastCol() const override;
  void setRow(int row) override;
  void setCol(int col) override;
  int read(const std::string& path) override;
  void EntryRC(int row, int col, std::string_view utf8) override;
  void EntryRC(int row, int col, std::u16string_view text) override;
  std::u16string text(int row, int col) const override;
  const sheet::Worksheet* currentWorksheet() const override;
  std::vector<sheet::CellPosition> textCells(int lastRow) const override;
  std::u16string sheetName(int sheet) const override;
  std::unique_ptr<CellFormatObject> getCellFormat() const override;
  void setCellFormat(const CellFormatObject& format) override;
  void showActiveCell() override;
  void takeFocus() override;
  void setOnStartEdit(StartEditEvent handler) override;

 private:
  sheet::F1Book& book_;
};

}  // namespace dupsweep
