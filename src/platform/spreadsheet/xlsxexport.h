#pragma once
// Writing a workbook of plain text cells to an xlsx file, through libxlsxwriter. Cells are kept in
// memory until close(), which writes the whole file at once, so a failed export never leaves a
// half-written file under the target's name.

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace dupsweep::sheet {

class XlsxExport {
 public:
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

  // Writes UTF-8 text into (row, col), 0-based, replacing what the cell held. Invalid UTF-8 bytes
  // are replaced by U+FFFD and text beyond Excel's 32,767 characters is cut off. `red` shows the
  // cell in red: red text on a light red fill. Throws RangeError for an unknown sheet or a
  // position beyond Excel's 1,048,576 rows or 16,384 columns.
  void write(int sheet, int row, int col, const std::string& text, bool red = false);

  // Sets the width of column `col` (0-based) in Excel's character units. Throws RangeError for an
  // unknown sheet, a column beyond 16,384 or a negative width.
  void setColumnWidth(int sheet, int col, double width);

  // Writes the workbook to the path given at construction: into a temporary file beside it, which
  // is then renamed over it. A workbook without sheets gets one empty sheet "Sheet1". On failure
  // no file is left behind, an existing file at the path keeps its content, and FileError
  // "Unable to write to <path>" is raised. A later call writes the workbook again as it stands.
  void close();

 private:
  struct CellEntry {
    std::string text;
    bool red = false;
  };
  struct SheetEntry {
    std::string name;
    std::map<std::pair<int, int>, CellEntry> cells;  // (row, col) -> cell
    std::map<int, double> widths;                    // col -> width
  };

  SheetEntry& sheetAt(int sheet);
  void writeFile(const std::string& target) const;

  std::string path_;
  std::vector<SheetEntry> sheets_;
};

}  // namespace dupsweep::sheet
