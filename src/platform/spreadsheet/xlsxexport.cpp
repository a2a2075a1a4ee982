#include "platform/spreadsheet/xlsxexport.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <xlsxwriter.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/errors.h"
#include "platform/files/files.h"
#include "platform/spreadsheet/workbook.h"

namespace dupsweep::sheet {

namespace {

constexpr int kMaxNameLength = 31;  // Excel's limit for a sheet name, in UTF-16 units

// `text` cut to at most `length` UTF-16 units without splitting a surrogate pair.
QString cutTo(const QString& text, int length) {
  if (text.size() <= length) return text;
  if (length > 0 && text.at(length - 1).isHighSurrogate()) --length;
  return text.left(length);
}

// The text of a text cell: valid UTF-8 (QString turns invalid bytes into U+FFFD, so the file
// always holds valid XML text), and when too long for a cell, cut and ended by the cut mark.
std::string cellText(const std::string& text) {
  const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (value.size() <= XlsxExport::kMaxTextLength) return value.toStdString();
  const QString mark = QString::fromUtf8(XlsxExport::kCutMark);
  return (cutTo(value, XlsxExport::kMaxTextLength - static_cast<int>(mark.size())) + mark)
      .toStdString();
}

// The name with the characters Excel refuses replaced, apostrophes at either end dropped and the
// result cut to Excel's length. Never empty.
QString validSheetName(const std::string& name) {
  QString result = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  for (QChar& c : result) {
    if (QStringView(u"[]:*?/\\").contains(c)) c = u'_';
  }
  while (result.startsWith(u'\'')) result.remove(0, 1);
  while (result.endsWith(u'\'')) result.chop(1);
  if (result.isEmpty()) result = QStringLiteral("Sheet");
  result = cutTo(result, kMaxNameLength);
  // Cutting may leave an apostrophe at the end.
  while (result.endsWith(u'\'')) result.chop(1);
  return result.isEmpty() ? QStringLiteral("Sheet") : result;
}

void checkPosition(int row, int col) {
  if (row < 0 || row >= kMaxRows) {
    throw RangeError("Row " + std::to_string(row) + " is outside the worksheet");
  }
  if (col < 0 || col >= kMaxCols) {
    throw RangeError("Column " + std::to_string(col) + " is outside the worksheet");
  }
}

struct WorkbookCloser {
  void operator()(lxw_workbook* workbook) const noexcept { workbook_close(workbook); }
};

// The failure of writing `path`, with its reason.
FileError writeFailure(const std::string& path, const std::string& reason) {
  return FileError("Unable to write to " + path + ": " + reason);
}

FileError writeFailure(const std::string& path, lxw_error error) {
  return writeFailure(path, lxw_strerror(error));
}

// The longest file name the directory takes, in bytes.
std::size_t maxNameLength(const std::filesystem::path& dir) {
  const long length = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  return length > 0 ? static_cast<std::size_t>(length) : NAME_MAX;
}

}  // namespace

XlsxExport::XlsxExport(std::string path) : path_(std::move(path)) {}

XlsxExport::~XlsxExport() = default;

int XlsxExport::addSheet(const std::string& name) {
  const QString base = validSheetName(name);
  auto taken = [this](const QString& candidate) {
    const QString folded = candidate.toCaseFolded();
    return std::any_of(sheets_.begin(), sheets_.end(), [&](const SheetEntry& sheet) {
      return QString::fromStdString(sheet.name).toCaseFolded() == folded;
    });
  };
  QString chosen = base;
  for (int n = 2; taken(chosen); ++n) {
    const QString suffix = QStringLiteral(" (%1)").arg(n);
    chosen = cutTo(base, kMaxNameLength - static_cast<int>(suffix.size())) + suffix;
  }
  sheets_.push_back(SheetEntry{chosen.toStdString(), {}, {}});
  return static_cast<int>(sheets_.size()) - 1;
}

XlsxExport::SheetEntry& XlsxExport::sheetAt(int sheet) {
  if (sheet < 0 || sheet >= static_cast<int>(sheets_.size())) {
    throw RangeError("Worksheet " + std::to_string(sheet) + " does not exist");
  }
  return sheets_[static_cast<std::size_t>(sheet)];
}

void XlsxExport::put(int sheet, CellEntry cell) {
  SheetEntry& entry = sheetAt(sheet);
  checkPosition(cell.row, cell.col);
  entry.cells.push_back(std::move(cell));
}

void XlsxExport::write(int sheet, int row, int col, const std::string& text, bool red) {
  put(sheet, CellEntry{row, col, cellText(text), 0, false, red});
}

void XlsxExport::writeNumber(int sheet, int row, int col, double value) {
  if (!std::isfinite(value))
    throw RangeError("A cell cannot hold the number " + std::to_string(value));
  put(sheet, CellEntry{row, col, {}, value, true, false});
}

void XlsxExport::setColumnWidth(int sheet, int col, double width) {
  SheetEntry& entry = sheetAt(sheet);
  checkPosition(0, col);
  if (!(width >= 0)) throw RangeError("Column width " + std::to_string(width) + " is negative");
  entry.widths[col] = width;
}

void XlsxExport::startTableSheet(TableEntry& table) {
  table.sheet = addSheet(table.name);
  for (std::size_t col = 0; col < table.titles.size(); ++col)
    write(table.sheet, 0, static_cast<int>(col), table.titles[col]);
  for (std::size_t col = 0; col < table.widths.size(); ++col)
    setColumnWidth(table.sheet, static_cast<int>(col), table.widths[col]);
  table.nextRow = 1;
}

int XlsxExport::addTable(const std::string& name, const std::vector<std::string>& titles,
                         const std::vector<double>& widths) {
  if (titles.size() > static_cast<std::size_t>(kMaxCols) ||
      widths.size() > static_cast<std::size_t>(kMaxCols))
    throw RangeError("A table of " + std::to_string(titles.size()) + " columns is too wide");
  TableEntry table{name, titles, widths, 0, 0};
  startTableSheet(table);
  tables_.push_back(std::move(table));
  return static_cast<int>(tables_.size()) - 1;
}

void XlsxExport::appendRow(int table, const std::vector<Value>& cells) {
  if (table < 0 || table >= static_cast<int>(tables_.size()))
    throw RangeError("Table " + std::to_string(table) + " does not exist");
  if (cells.size() > static_cast<std::size_t>(kMaxCols))
    throw RangeError("A row of " + std::to_string(cells.size()) + " cells is too wide");
  TableEntry& entry = tables_[static_cast<std::size_t>(table)];
  if (entry.nextRow >= kMaxRows) startTableSheet(entry);
  for (std::size_t col = 0; col < cells.size(); ++col) {
    const int c = static_cast<int>(col);
    if (const auto* text = std::get_if<std::string>(&cells[col]))
      write(entry.sheet, entry.nextRow, c, *text);
    else
      writeNumber(entry.sheet, entry.nextRow, c, std::get<double>(cells[col]));
  }
  ++entry.nextRow;
}

void XlsxExport::sortCells() {
  auto before = [](const CellEntry& a, const CellEntry& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  };
  for (SheetEntry& sheet : sheets_) {
    std::vector<CellEntry>& cells = sheet.cells;
    if (std::is_sorted(cells.begin(), cells.end(), before) &&
        std::adjacent_find(cells.begin(), cells.end(), [](const auto& a, const auto& b) {
          return a.row == b.row && a.col == b.col;
        }) == cells.end())
      continue;
    // Stable, so that of the writes into one cell the last stays last; it alone is kept.
    std::stable_sort(cells.begin(), cells.end(), before);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const bool overwritten = i + 1 < cells.size() && cells[i + 1].row == cells[i].row &&
                               cells[i + 1].col == cells[i].col;
      if (overwritten) continue;
      if (kept != i) cells[kept] = std::move(cells[i]);
      ++kept;
    }
    cells.resize(kept);
  }
}

void XlsxExport::writeFile(const std::string& target) const {
  // Rows are handed over in order, so the library keeps only one row at a time in memory: a
  // table of a million rows costs the cells kept here and nothing more. Its temporary files go
  // where the component's other temporary files go.
  const std::string tmpdir = files::temporaryDirectory().string();
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = const_cast<char*>(tmpdir.c_str());
  // workbook_new_opt only records the name; workbook_close writes the whole file.
  std::unique_ptr<lxw_workbook, WorkbookCloser> book(workbook_new_opt(target.c_str(), &options));
  if (!book) throw writeFailure(path_, "out of memory");
  lxw_format* red = workbook_add_format(book.get());
  format_set_font_color(red, LXW_COLOR_RED);
  format_set_pattern(red, LXW_PATTERN_SOLID);
  format_set_bg_color(red, 0xFFC7CE);

  for (const SheetEntry& sheet : sheets_) {
    lxw_worksheet* ws = workbook_add_worksheet(book.get(), sheet.name.c_str());
    if (!ws) {
      throw writeFailure(path_, "the worksheet \"" + sheet.name + "\" cannot be created (" +
                                    std::strerror(errno) + ")");
    }
    for (const auto& [col, width] : sheet.widths) {
      const auto c = static_cast<lxw_col_t>(col);
      worksheet_set_column(ws, c, c, width, nullptr);
    }
    for (const CellEntry& cell : sheet.cells) {
      const auto r = static_cast<lxw_row_t>(cell.row);
      const auto c = static_cast<lxw_col_t>(cell.col);
      lxw_format* format = cell.red ? red : nullptr;
      lxw_error error;
      if (cell.isNumber)
        error = worksheet_write_number(ws, r, c, cell.number, format);
      else if (cell.text.empty())
        error = worksheet_write_blank(ws, r, c, format);
      else  // always a text cell, never a formula or a number
        error = worksheet_write_string(ws, r, c, cell.text.c_str(), format);
      if (error != LXW_NO_ERROR) throw writeFailure(path_, error);
    }
  }
  errno = 0;
  if (const lxw_error error = workbook_close(book.release()); error != LXW_NO_ERROR) {
    const int cause = errno;
    std::string reason = lxw_strerror(error);
    if (cause != 0) reason += std::string(" (") + std::strerror(cause) + ")";
    throw writeFailure(path_, reason);
  }
}

void XlsxExport::close() {
  namespace fs = std::filesystem;
  const fs::path target(path_);
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();

  // A file the user may not write is not replaced, although the directory would let the rename
  // replace it; a file without any write permission bit is read-only for everyone, root too.
  struct stat old;
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && S_ISREG(old.st_mode)) {
    if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
      throw writeFailure(path_, "the file is read-only");
    if (::access(target.c_str(), W_OK) != 0) throw writeFailure(path_, std::strerror(errno));
  }
  if (::access(dir.c_str(), W_OK | X_OK) != 0) throw writeFailure(path_, std::strerror(errno));

  // A hidden name, so that a listing by the target's extension never picks the file up; a
  // target whose name leaves no room for the temporary name's additions gets a short one.
  constexpr std::size_t kAdded = 2 + 12;  // the dots around the name, hex digits and ".tmp"
  const std::string name = target.filename().string();
  const std::string prefix =
      name.size() + kAdded <= maxNameLength(dir) ? "." + name + "." : std::string(".export.");
  fs::path temp;
  try {
    temp = files::createTemporaryFile(prefix, dir);
  } catch (const FileError& e) {
    throw writeFailure(path_, e.what());
  }
  try {
    sortCells();
    writeFile(temp.string());
  } catch (...) {
    files::deleteFileQuietly(temp);
    throw;
  }
  // The temporary file was created for the owner only; the export gets the mode of the file it
  // replaces, or the usual mode of a new document.
  const mode_t mode = exists && S_ISREG(old.st_mode) ? (old.st_mode & 07777) : 0644;
  if (::chmod(temp.c_str(), mode) != 0 || std::rename(temp.c_str(), target.c_str()) != 0) {
    const int cause = errno;
    files::deleteFileQuietly(temp);
    throw writeFailure(path_, std::strerror(cause));
  }
}

}  // namespace dupsweep::sheet
