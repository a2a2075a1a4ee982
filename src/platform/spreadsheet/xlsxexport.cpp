#include "platform/spreadsheet/xlsxexport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <xlsxwriter.h>

#include <QString>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/errors.h"
#include "platform/files/files.h"
#include "platform/spreadsheet/workbook.h"

namespace dupsweep::sheet {

namespace {

constexpr int kMaxNameLength = 31;     // Excel's limit for a sheet name, in UTF-16 units
constexpr int kMaxTextLength = 32767;  // Excel's limit for a cell's text, in UTF-16 units

// `text` cut to at most `length` UTF-16 units without splitting a surrogate pair.
QString cutTo(const QString& text, int length) {
  if (text.size() <= length) return text;
  if (length > 0 && text.at(length - 1).isHighSurrogate()) --length;
  return text.left(length);
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

void XlsxExport::write(int sheet, int row, int col, const std::string& text, bool red) {
  SheetEntry& entry = sheetAt(sheet);
  checkPosition(row, col);
  // QString turns invalid UTF-8 into U+FFFD, so the file always holds valid XML text.
  const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  entry.cells[{row, col}] = CellEntry{cutTo(value, kMaxTextLength).toStdString(), red};
}

void XlsxExport::setColumnWidth(int sheet, int col, double width) {
  SheetEntry& entry = sheetAt(sheet);
  checkPosition(0, col);
  if (!(width >= 0)) throw RangeError("Column width " + std::to_string(width) + " is negative");
  entry.widths[col] = width;
}

void XlsxExport::writeFile(const std::string& target) const {
  // workbook_new only records the name; workbook_close writes the whole file.
  std::unique_ptr<lxw_workbook, WorkbookCloser> book(workbook_new(target.c_str()));
  if (!book) throw FileError("Unable to write to " + path_);
  lxw_format* red = workbook_add_format(book.get());
  format_set_font_color(red, LXW_COLOR_RED);
  format_set_pattern(red, LXW_PATTERN_SOLID);
  format_set_bg_color(red, 0xFFC7CE);

  for (const SheetEntry& sheet : sheets_) {
    lxw_worksheet* ws = workbook_add_worksheet(book.get(), sheet.name.c_str());
    if (!ws) throw FileError("Unable to write to " + path_);
    for (const auto& [col, width] : sheet.widths) {
      const auto c = static_cast<lxw_col_t>(col);
      worksheet_set_column(ws, c, c, width, nullptr);
    }
    for (const auto& [position, cell] : sheet.cells) {
      const auto r = static_cast<lxw_row_t>(position.first);
      const auto c = static_cast<lxw_col_t>(position.second);
      lxw_format* format = cell.red ? red : nullptr;
      const lxw_error error = cell.text.empty()
                                  ? worksheet_write_blank(ws, r, c, format)
                                  : worksheet_write_string(ws, r, c, cell.text.c_str(), format);
      if (error != LXW_NO_ERROR) throw FileError("Unable to write to " + path_);
    }
  }
  if (workbook_close(book.release()) != LXW_NO_ERROR) {
    throw FileError("Unable to write to " + path_);
  }
}

void XlsxExport::close() {
  namespace fs = std::filesystem;
  const fs::path target(path_);
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  fs::path temp;
  try {
    // A hidden name, so that a listing by the target's extension never picks the file up.
    temp = files::createTemporaryFile("." + target.filename().string() + ".", dir);
  } catch (const FileError&) {
    throw FileError("Unable to write to " + path_);
  }
  try {
    writeFile(temp.string());
  } catch (const FileError&) {
    files::deleteFileQuietly(temp);
    throw;
  }
  // The temporary file was created for the owner only; the export gets the mode of the file it
  // replaces, or the usual mode of a new document.
  struct stat old;
  const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (::chmod(temp.c_str(), mode) != 0 || std::rename(temp.c_str(), target.c_str()) != 0) {
    files::deleteFileQuietly(temp);
    throw FileError("Unable to write to " + path_);
  }
}

}  // namespace dupsweep::sheet
