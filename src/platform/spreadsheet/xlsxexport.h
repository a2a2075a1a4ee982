#pragma once
// Writing a workbook of text and number cells to an xlsx file, through libxlsxwriter. Cells are
// kept in memory until close(), which writes the whole file at once, so a failed export never
// leaves a half-written file under the target's name.
//
// Texts are always written as text cells: a text that looks like a number or a formula ("010304",
// "=1+1") stays the text it is. A text longer than a cell can hold is cut and marked as cut.
// Tables (titles and rows appended below them) that outgrow a sheet's 1,048,576 rows go on in
// further sheets.

#include <map>
#include <string>
#include <variant>
#include <vector>

namespace dupsweep::sheet {

class XlsxExport {
 public:
  // Excel's limit for a cell's text, in UTF-16 units.
  static constexpr int kMaxTextLength = 32767;
  // The end of a text that had to be cut to kMaxTextLength.
  static constexpr const char* kCutMark = "…（已截断）";

  // A cell's value in a table row: a text (always a text cell) or a number.
  using Value = std::variant<std::string, double>;

  // An empty workbook that close() will write to `path`; nothing is written before that.
  explicit XlsxExport(std::string path);
  // Discards whatever close() has not written; never touches the file system.
  ~XlsxExport();

  XlsxExport(const XlsxExport&) = delete;
  XlsxExport& operator=(const XlsxExport&) = delete;

  // Adds a worksheet after the existing ones and returns its index (0 for the first). The name is
  // made valid for Excel: the characters []:*?/\ become '_', a leading or trailing apostrophe is
  // dropped, an empty name becomes "Sheet", it is cut to 31 characters, and a name already in use
  // (letter case ignored) gets " (2)", " (3)"... within those 31 characters.
  int addSheet(const std::string& name);

  // Writes UTF-8 text into (row, col), 0-based, as a text cell, replacing what the cell held.
  // Invalid UTF-8 bytes are replaced by U+FFFD; a text beyond kMaxTextLength is cut so that,
  // with kCutMark appended, it fills the cell exactly. `red` shows the cell in red: red text on a
  // light red fill. Throws RangeError for an unknown sheet or a position beyond Excel's 1,048,576
  // rows or 16,384 columns.
  void write(int sheet, int row, int col, const std::string& text, bool red = false);

  // Writes a number cell into (row, col), as write() does for a text.
  void writeNumber(int sheet, int row, int col, double value);

  // Sets the width of column `col` (0-based) in Excel's character units. Throws RangeError for an
  // unknown sheet, a column beyond 16,384 or a negative width.
  void setColumnWidth(int sheet, int col, double width);

  // Starts a table on a new sheet named as addSheet() names it: `titles` in the first row, column
  // c `widths[c]` wide (where given). Returns the table's number (0 for the first table).
  int addTable(const std::string& name, const std::vector<std::string>& titles,
               const std::vector<double>& widths);

  // Appends `cells` as the table's next row. When the table's sheet is full, the table goes on in
  // a new sheet after the last one, named as addSheet() names another sheet of the table's name
  // ("名称 (2)", then "名称 (3)"...), with the titles and column widths repeated. Throws
  // RangeError for an unknown table or more cells than a row holds.
  void appendRow(int table, const std::vector<Value>& cells);

  // Writes the workbook to the path given at construction: into a temporary file beside it, which
  // is then renamed over it. A workbook without sheets gets one empty sheet "Sheet1". An existing
  // file at the path that the user may not write (its permissions, or no write permission bit at
  // all) is never replaced. On failure no file is left behind, an existing file at the path keeps
  // its content, and FileError "Unable to write to <path>: <reason>" is raised. A later call
  // writes the workbook again as it stands.
  void close();

 private:
  struct CellEntry {
    int row = 0;
    int col = 0;
    std::string text;
    double number = 0;
    bool isNumber = false;
    bool red = false;
  };
  struct SheetEntry {
    std::string name;
    // In the order written; put in cell order (the last write of a cell winning) by close().
    std::vector<CellEntry> cells;
    std::map<int, double> widths;  // col -> width
  };
  struct TableEntry {
    std::string name;  // as asked for, so that addSheet() numbers its continuations
    std::vector<std::string> titles;
    std::vector<double> widths;
    int sheet = 0;    // the sheet rows are appended to
    int nextRow = 0;  // 0-based row of that sheet for the next row
  };

  SheetEntry& sheetAt(int sheet);
  void startTableSheet(TableEntry& table);
  void put(int sheet, CellEntry cell);
  void sortCells();
  void writeFile(const std::string& target) const;

  std::string path_;
  std::vector<SheetEntry> sheets_;
  std::vector<TableEntry> tables_;
};

}  // namespace dupsweep::sheet
