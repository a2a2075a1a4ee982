#pragma once
// The viewer's side of the spreadsheet control: exactly the properties, operations and the one
// event that the difference viewer relies on, the list of the cells that hold text (so that the
// difference scan costs what a sheet holds, not its extent), and their realisation over our own
// control (sheet::F1Book). Text crosses this boundary as UTF-16. The viewer's code speaks to its
// two grids only through SheetControl, so the loading, equality and difference code runs the same
// over any implementation of it (tests put a failing one in to reach the error paths).
//
// Sheets, rows and columns count from 1. Every operation raises the control's failure (an
// exception of the dupsweep::Error family) to its caller and changes nothing when it fails.

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

// A cell format taken from a control: everything the cell shows, with the two attributes the
// viewer changes to mark a cell. Any control applies a format object taken from any other.
class CellFormatObject {
 public:
  explicit CellFormatObject(sheet::CellFormat format) : format_(std::move(format)) {}
  virtual ~CellFormatObject() = default;
  CellFormatObject(const CellFormatObject&) = delete;
  CellFormatObject& operator=(const CellFormatObject&) = delete;

  // The colour attribute (the font colour), as a window-system colour value: red in the low
  // byte, green in the second, blue in the third.
  virtual void setColor(std::uint32_t colorRef);
  // The boolean attribute (the bold font).
  virtual void setBold(bool bold);

  const sheet::CellFormat& format() const noexcept { return format_; }

 private:
  sheet::CellFormat format_;
};

class SheetControl;

// The start-edit event: `sender` is the control, `editText` the cell's text (UTF-8); setting
// `cancel` to 1 refuses the edit.
using StartEditEvent =
    std::function<void(SheetControl& sender, const std::string& editText, std::int16_t& cancel)>;

class SheetControl {
 public:
  virtual ~SheetControl() = default;

  // The current sheet, which every cell operation works on. Setting it outside 1..NumSheets()
  // fails.
  virtual int Sheet() const = 0;
  virtual void setSheet(int sheet) = 0;
  // Number of sheets of the workbook.
  virtual int NumSheets() const = 0;
  // Last used row and column of the current sheet; 0 when the sheet holds no text.
  virtual int LastRow() const = 0;
  virtual int LastCol() const = 0;
  // Setting Row and then Col makes (Row, Col) the active cell of the current sheet.
  virtual void setRow(int row) = 0;
  virtual void setCol(int col) = 0;

  // Replaces the workbook with the one in the file at `path` (UTF-8); returns the read status.
  // Fails when the file cannot be read, leaving the workbook as it was.
  virtual int read(const std::string& path) = 0;
  // Enters `text` into cell (row, col) of the current sheet.
  // The same with UTF-8 text, which our control keeps as it is: the viewer's bulk writes need no
  // conversion per cell.
  virtual void EntryRC(int row, int col, std::string_view utf8) = 0;
  virtual void EntryRC(int row, int col, std::u16string_view text) = 0;
  // The text of cell (row, col) of the current sheet; empty for an empty cell.
  virtual std::u16string text(int row, int col) const = 0;
  // The current sheet as the control keeps it (texts in UTF-8), for a reader that compares many
  // texts without making each; valid until the current sheet changes or the workbook is
  // replaced. Null when the control keeps none in this process (the default).
  virtual const sheet::Worksheet* currentWorksheet() const { return nullptr; }
  // The cells of rows 1..lastRow of the current sheet whose text is not empty, row by row and left
  // to right; every other cell's text is empty. Costs time in proportion to the cells the sheet
  // holds, whatever its extent.
  virtual std::vector<sheet::CellPosition> textCells(int lastRow) const = 0;
  // The name of sheet `sheet`.
  virtual std::u16string sheetName(int sheet) const = 0;
  // A new format object holding the active cell's format. The caller owns it.
  virtual std::unique_ptr<CellFormatObject> getCellFormat() const = 0;
  // Gives the active cell the format `format` holds.
  virtual void setCellFormat(const CellFormatObject& format) = 0;
  // Scrolls the active cell into view.
  virtual void showActiveCell() = 0;
  // Gives the control the input focus.
  virtual void takeFocus() = 0;

  // Installs the handler of the start-edit event (an empty one lets every edit go ahead).
  virtual void setOnStartEdit(StartEditEvent handler) = 0;
};

// SheetControl over one of our spreadsheet controls, which it does not own.
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
