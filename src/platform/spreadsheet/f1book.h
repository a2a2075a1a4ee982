#pragma once
// The spreadsheet control: one workbook of numbered sheets with exactly the operations the
// difference viewer relies on (current sheet, used range, active cell, entering and reading cell
// text, sheet names, getting and applying the active cell's format, showing the active cell,
// taking the focus, and the start-edit event). It needs no widget; a grid widget attaches itself
// as the control's BookView and draws the workbook. Without a view the visual operations (show
// active cell, take focus) do nothing.
//
// Sheets, rows and columns count from 1. Text is UTF-8; each text operation has a UTF-16 form for
// callers that hold UTF-16 strings. An operation given a sheet, row or column outside the workbook
// raises RangeError and changes nothing.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/spreadsheet/format.h"
#include "platform/spreadsheet/workbook.h"

namespace dupsweep::sheet {

class F1Book;

// What a grid widget showing an F1Book is told. Change notices come once per change and must be
// cheap: a view collects them and repaints later, not per call.
class BookView {
 public:
  virtual ~BookView() = default;
  // The whole workbook was replaced (a file was read).
  virtual void workbookReplaced() = 0;
  // Another sheet became the current sheet.
  virtual void currentSheetChanged() = 0;
  // The text or format of cell (row, col) of the current sheet changed.
  virtual void cellChanged(int row, int col) = 0;
  // The active cell of the current sheet changed.
  virtual void activeCellChanged() = 0;
  // Scroll the active cell into view.
  virtual void showActiveCell() = 0;
  // Give the grid the input focus.
  virtual void takeFocus() = 0;
  // The control is being destroyed; the view must not use it any more.
  virtual void bookDestroyed() = 0;
};

// Handler of the start-edit event: `sender` is the control, `editText` the text of the cell about
// to be edited; setting `cancel` to a non-zero value (1) refuses the edit.
using StartEditHandler =
    std::function<void(F1Book& sender, const std::string& editText, std::int16_t& cancel)>;

class F1Book {
 public:
  // A control showing one empty sheet named "Sheet1".
  F1Book();
  ~F1Book();
  F1Book(const F1Book&) = delete;
  F1Book& operator=(const F1Book&) = delete;

  // ---- properties ----
  // The current sheet, selecting the sheet of every cell operation.
  int Sheet() const noexcept { return book_.currentSheet(); }
  // Throws RangeError outside 1..NumSheets().
  void setSheet(int sheet);
  int NumSheets() const noexcept { return book_.sheetCount(); }
  // Last row and column of the current sheet that hold text; 0 when none does.
  int LastRow() const { return book_.current().lastRow(); }
  int LastCol() const { return book_.current().lastCol(); }
  // The active cell of the current sheet. Setting Row and then Col makes (Row, Col) active.
  int Row() const noexcept { return book_.current().activeRow(); }
  int Col() const noexcept { return book_.current().activeCol(); }
  // Throw RangeError outside 1..kMaxRows / 1..kMaxCols.
  void setRow(int row);
  void setCol(int col);

  // ---- operations ----
  // Replaces the workbook with the one in the file at `path` (any format reader.h reads); sheet 1
  // becomes current and every sheet's active cell is (1, 1). Returns 0. Throws FileError or
  // FormatError when the file cannot be read, leaving the control's workbook as it was.
  int read(const std::filesystem::path& path);
  // Replaces the workbook with `book`, as read() does with the one it reads.
  void setWorkbook(Workbook book);

  // Enters `text` into cell (row, col) of the current sheet; empty text clears the cell's text.
  // Throws RangeError for a position outside the sheet and FormatError for invalid UTF-8 (or an
  // unpaired surrogate in UTF-16).
  void EntryRC(int row, int col, std::string_view text);
  void EntryRC(int row, int col, std::u16string_view text);

  // The text of cell (row, col) of the current sheet ("" for an empty cell). Throws RangeError
  // for a position outside the sheet.
  std::string text(int row, int col) const;
  std::u16string textUtf16(int row, int col) const;

  // The name of sheet `sheet`. Throws RangeError outside 1..NumSheets().
  std::string sheetName(int sheet) const;
  std::u16string sheetNameUtf16(int sheet) const;

  // A copy of the active cell's format. Its font colour and bold flag are the attributes the
  // viewer changes to mark a cell; every attribute may be changed.
  CellFormat getCellFormat() const;
  // Gives the active cell `format`, which may come from any control.
  void setCellFormat(const CellFormat& format);

  // Scrolls the active cell into view in the attached grid.
  void showActiveCell();
  // Gives the input focus to the attached grid.
  void takeFocus();

  // ---- start-edit event ----
  void setOnStartEdit(StartEditHandler handler) { onStartEdit_ = std::move(handler); }
  // Raises the start-edit event for cell (row, col) of the current sheet, as a grid does when the
  // operator begins to edit the cell. Returns true when the edit may go ahead (no handler, or
  // the handler left Cancel at 0). Throws RangeError for a position outside the sheet.
  bool startEdit(int row, int col);

  // ---- for the grid widget and tools ----
  const Workbook& workbook() const noexcept { return book_; }
  // Attaches the grid that shows this control (nullptr detaches). One view at a time.
  void setView(BookView* view) noexcept { view_ = view; }
  BookView* view() const noexcept { return view_; }

 private:
  Workbook book_;
  BookView* view_ = nullptr;
  StartEditHandler onStartEdit_;
};

}  // namespace dupsweep::sheet
