#pragma once
// What the reader's sections share; only the files of this folder include it. liborcus's import
// filters push into sinks (sheets.cpp) that draw on the shared strings, the styles and the
// passes of our own over OpenDocument and xlsx files that correct what liborcus reads.

#include <orcus/spreadsheet/import_interface.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/spreadsheet/celltext.h"
#include "platform/spreadsheet/workbook.h"

namespace dupsweep::sheet::reader {

namespace oss = orcus::spreadsheet;
namespace iface = orcus::spreadsheet::iface;

// ---- conversions (conversions.cpp) -------------------------------------------------------------

double toPoints(double value, orcus::length_unit_t unit);
inline Color toColor(oss::color_elem_t, oss::color_elem_t r, oss::color_elem_t g,
                     oss::color_elem_t b) {
  return Color::rgb(r, g, b);
}
FillPattern toFillPattern(oss::fill_pattern_t p);
BorderStyle toBorderStyle(oss::border_style_t s);
HorizontalAlignment toHorizontal(oss::hor_alignment_t a);
VerticalAlignment toVertical(oss::ver_alignment_t a);

// Text from a file is UTF-8 in every XML format. A CSV file may come in the system's code page
// (GBK); such text is converted. Bytes that are neither raise FormatError, which ends the read.
std::string toModelText(std::string_view s);

inline bool inSheet(oss::row_t row, oss::col_t col) {
  return row >= 0 && row < kMaxRows && col >= 0 && col < kMaxCols;
}

// ---- shared strings (sharedstrings.cpp) --------------------------------------------------------

class SharedStrings final : public iface::import_shared_strings {
 public:
  std::string_view at(std::size_t id) const {
    return id < strings_.size() ? std::string_view(strings_[id]) : std::string_view();
  }

  std::size_t append(std::string_view s) override;
  std::size_t add(std::string_view s) override;
  // Rich text keeps its characters; the grid shows one format per cell.
  void set_segment_font(std::size_t) override {}
  void set_segment_bold(bool) override {}
  void set_segment_italic(bool) override {}
  void set_segment_font_name(std::string_view) override {}
  void set_segment_font_size(double) override {}
  void set_segment_font_color(oss::color_elem_t, oss::color_elem_t, oss::color_elem_t,
                              oss::color_elem_t) override {}
  void append_segment(std::string_view s) override { segments_.append(s); }
  std::size_t commit_segments() override;

 private:
  std::vector<std::string> strings_;
  std::unordered_map<std::string, std::size_t> index_;
  std::string segments_;
};

// ---- styles (styles.cpp) -----------------------------------------------------------------------

// The styles part of a file as liborcus pushes it, and the cell formats it defines.
class Styles : public iface::import_styles {
 public:
  // The cell format of cell format record `xf` (0 when the file gives none).
  virtual CellFormat resolve(std::size_t xf) const = 0;
  virtual std::size_t cellXfCount() const = 0;
  // The number format code of cell format record `xf`: the file's own code for the record's
  // number format identifier, else the built-in format of that identifier; empty for General or
  // an unknown identifier.
  virtual std::string_view numberFormatCode(std::size_t xf) const = 0;
};
std::unique_ptr<Styles> makeStyles();

// ---- OpenDocument layout (odslayout.cpp) -------------------------------------------------------

// Cell text that a pass of our own over a file's XML finds where liborcus gives none or the
// wrong one; it replaces what liborcus put into the cell. A cell repeated over columns or rows
// (OpenDocument's number-columns-repeated, number-rows-repeated) carries its repeat counts.
struct ScannedCell {
  int row = 1;  // 1-based
  int col = 1;
  long long rows = 1;
  long long cols = 1;
  std::string text;
};

// The most cells one repeated OpenDocument cell fills; real sheets repeat a value over a few
// cells, while a huge repeat of a non-empty cell would only exhaust memory.
constexpr long long kMaxRepeatedCells = 1 << 16;

// What liborcus 0.17 gets wrong in an OpenDocument table: it skips covered cells (merged ranges
// are lost and values right of them land too far left) and shows only float, date and string
// cells, without <text:s> spaces, earlier paragraphs or rows repeated by number-rows-repeated.
// Our pass gives the merges, each row's covered columns and each cell's shown text (paragraphs
// joined by a line feed; the value attribute when there is no paragraph).
struct OdsTableLayout {
  std::vector<CellRange> merges;
  std::unordered_map<int, std::vector<int>> covered;  // 1-based row -> ascending covered columns
  std::vector<ScannedCell> cells;

  // The true 0-based column of the cell that orcus puts at 0-based (row, col).
  oss::col_t trueColumn(oss::row_t row, oss::col_t col) const {
    const auto it = covered.find(row + 1);
    if (it == covered.end()) return col;
    int column = col + 1;
    for (int c : it->second) {
      if (c > column) break;
      ++column;
    }
    return column - 1;
  }
};

// The shown text of an ISO 8601 date, optionally followed by THH:MM:SS with fractional seconds
// (an OpenDocument date value, an xlsx cell of type "d"); nothing when it is no such date.
std::optional<std::string> isoDateText(std::string_view value);
// The day count of such a date (with its time as the fraction) in date system `system`.
std::optional<double> isoDateSerial(std::string_view value, DateSystem system);

// The layout of every table of an OpenDocument spreadsheet's content.xml (checked to be safe for
// the parser). Throws on malformed XML (the caller reports it as an unreadable file).
std::vector<OdsTableLayout> scanOdsLayout(std::string content);

// ---- zip packages (package.cpp) -----------------------------------------------------------------

// True when `bytes` begin as a zip archive.
bool isZip(std::string_view bytes);

// The entries of a zip archive by name, letter case and a leading '/' ignored (package parts are
// named case-insensitively, and relationships may give absolute targets).
class ZipPackage {
 public:
  // Throws FormatError on a broken archive. `bytes` must outlive this.
  explicit ZipPackage(std::string_view bytes);
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  // The archive's own name of entry `name`, or nullopt.
  std::optional<std::string> entryName(std::string_view name) const;
  // The bytes of entry `name` (UTF-16 text as UTF-8), or nullopt. Throws FormatError when the
  // entry cannot be read.
  std::optional<std::string> raw(std::string_view name) const;
  // The XML of entry `name`, or nullopt; throws FormatError when it is not safe to parse (see
  // xmlPartHazard).
  std::optional<std::string> xml(std::string_view name) const;

 private:
  struct Archive;
  std::unique_ptr<Archive> archive_;
  std::unordered_map<std::string, std::string> names_;  // lower case -> the archive's name
};

// A zip archive of `entries` (name, bytes), stored uncompressed.
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries);

// ---- xlsx packages (xlsxcells.cpp) -------------------------------------------------------------

// Text as xlsx stores it, readable: _xHHHH_ escapes (UTF-16 units, _x005F_ for an underscore)
// decoded, a carriage return before a line feed dropped.
std::string decodeXlsxEscapes(std::string_view text);

// One cell of an xlsx sheet as the file stores it: text (booleans, errors), a string, a number
// (shown under the number format of its cell format record `xf`) or an ISO 8601 date.
struct XlsxCell {
  // stringValue: text typed in (shown through a text section); styleOnly: no value, a format
  enum Kind { textValue, stringValue, numberValue, isoDate, styleOnly };
  int row = 1;  // 1-based
  int col = 1;
  std::size_t xf = 0;
  Kind kind = textValue;
  double number = 0;
  std::string text;
};

// What our own pass over an xlsx package reads: every sheet's cells, the date system, and the
// package that liborcus reads for layout and styles (the workbook, its sheets and styles only,
// under the names and namespaces liborcus knows, sheet ids in sheet order).
struct XlsxWorkbook {
  std::vector<std::string> sheetNames;
  std::vector<std::vector<XlsxCell>> cells;
  DateSystem dates = DateSystem::from1900;
  std::string package;
  // The same package with empty sheets: the styles alone, for when liborcus fails on a sheet.
  std::string stylesPackage;
};

// The entry of an xlsx package's workbook part, or nullopt when `zip` holds none.
std::optional<std::string> xlsxWorkbookPart(const ZipPackage& zip);

// Reads the package; no sheet when it has no workbook part. Throws FormatError on a part that is
// unsafe to parse and orcus's errors on malformed XML.
XlsxWorkbook readXlsxPackage(const ZipPackage& zip);

// ---- legacy binary Excel (xls.cpp) --------------------------------------------------------------

// True when `bytes` begin as a compound document (the container of .xls workbooks, and of
// password-protected xlsx ones).
bool isLegacyExcel(std::string_view bytes);

// The workbook of a legacy .xls file; throws FormatError, its message starting with `prefix`
// and naming the format, when it cannot be read.
Workbook readXls(std::string_view bytes, const std::string& prefix);

// ---- password-encrypted xlsx packages (encrypted.cpp) -------------------------------------------

// True when `bytes` are a compound document holding an encrypted package (its encryption
// stream, named in UTF-16, appears in the directory).
bool isEncryptedPackage(std::string_view bytes);

// The xlsx package that the encrypted workbook `bytes` hold, decrypted with the default
// password. Throws FormatError, its message starting with `prefix`: that the workbook is
// encrypted with a password when it is encrypted with another password or in a way not read;
// naming the damage when the container, the encryption information or the package is damaged.
std::string decryptPackage(std::string_view bytes, const std::string& prefix);

}  // namespace dupsweep::sheet::reader
