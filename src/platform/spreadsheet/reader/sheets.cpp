// The sheet sinks and the workbook builder that liborcus's import filters fill, and the reader's
// entry points. The model knows nothing of liborcus; only this folder does.

#include <orcus/exception.hpp>
#include <orcus/format_detection.hpp>
#include <orcus/orcus_csv.hpp>
#include <orcus/orcus_gnumeric.hpp>
#include <orcus/orcus_ods.hpp>
#include <orcus/orcus_xls_xml.hpp>
#include <orcus/orcus_xlsx.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/spreadsheet/celltext.h"
#include "platform/spreadsheet/orcus_guard.h"
#include "platform/spreadsheet/reader.h"
#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet {
namespace reader {
namespace {

class SheetSink;

// Cached results of formula cells; the formulas themselves are not evaluated.
class FormulaSink final : public iface::import_formula {
 public:
  explicit FormulaSink(SheetSink& owner) : owner_(owner) {}
  void set_position(oss::row_t row, oss::col_t col) override {
    row_ = row;
    col_ = col;
    result_.reset();
  }
  void set_formula(oss::formula_grammar_t, std::string_view) override {}
  void set_shared_formula_index(std::size_t) override {}
  void set_result_string(std::string_view value) override { result_ = toModelText(value); }
  void set_result_value(double value) override {
    result_ = generalNumberText(value);
    number_ = value;
  }
  void set_result_bool(bool value) override { result_ = booleanText(value); }
  void set_result_empty() override { result_ = std::string(); }
  void commit() override;

 private:
  SheetSink& owner_;
  oss::row_t row_ = -1;
  oss::col_t col_ = -1;
  std::optional<std::string> result_;
  std::optional<double> number_;
};

class ArrayFormulaSink final : public iface::import_array_formula {
 public:
  explicit ArrayFormulaSink(SheetSink& owner) : owner_(owner) {}
  void set_range(const oss::range_t&) override {}
  void set_formula(oss::formula_grammar_t, std::string_view) override {}
  void set_result_string(oss::row_t row, oss::col_t col, std::string_view value) override;
  void set_result_value(oss::row_t row, oss::col_t col, double value) override;
  void set_result_bool(oss::row_t row, oss::col_t col, bool value) override;
  void set_result_empty(oss::row_t row, oss::col_t col) override;
  void commit() override {}

 private:
  SheetSink& owner_;
};

class SheetSink final : public iface::import_sheet, public iface::import_sheet_properties {
 public:
  SheetSink(Worksheet& sheet, const SharedStrings& strings)
      : sheet_(sheet), strings_(strings), formula_(*this), arrayFormula_(*this) {}

  // The covered cells and merged ranges of this sheet when it comes from an OpenDocument file.
  void setOdsLayout(const OdsTableLayout* layout) { odsLayout_ = layout; }

  // Puts `text` into the cell that the filter calls 0-based (row, col).
  void put(oss::row_t row, oss::col_t col, const std::string& text) {
    int r, c;
    if (!valuesFromScan_ && place(row, col, r, c)) sheet_.setText(r, c, text);
  }

  // Puts number `value` into the cell, as general-format text until finish() applies the number
  // format of the cell's format record (which the filter gives after the value).
  void putNumber(oss::row_t row, oss::col_t col, double value) {
    int r, c;
    if (valuesFromScan_ || !place(row, col, r, c)) return;
    sheet_.setText(r, c, generalNumberText(value));
    // OpenDocument cells show the text the file carries (see OdsTableLayout).
    if (!odsLayout_) numbers_.push_back({r, c, value});
  }

  // The cells of an xlsx sheet as our own pass read them (see readXlsxPackage); the filter's
  // cell values are not taken.
  void setXlsxCells(const std::vector<XlsxCell>* cells) {
    xlsxCells_ = cells;
    valuesFromScan_ = true;
  }

  // Applies what can be settled only once the whole file is read. `xfMap` maps the file's cell
  // format records to the workbook's format table.
  void finish(const std::vector<FormatId>& xfMap, const Styles& styles, DateSystem dates) {
    if (odsLayout_) {
      for (const CellRange& range : odsLayout_->merges) {
        if (std::find(sheet_.merges().begin(), sheet_.merges().end(), range) ==
            sheet_.merges().end()) {
          sheet_.addMerge(range);
        }
      }
    }
    int rows = sheet_.extentRows();
    int cols = sheet_.extentCols();
    auto mapped = [&](std::size_t xf) { return xf < xfMap.size() ? xfMap[xf] : 0; };
    constexpr long long kLargeArea = 1 << 20;
    for (const auto& pending : rangeFormats_) {
      const auto& r = pending.range;
      const long long area =
          static_cast<long long>(r.lastRow - r.firstRow + 1) * (r.lastCol - r.firstCol + 1);
      // A formatted range of reasonable size (a bordered table waiting for values) is part of
      // the sheet; whole columns or rows of a style are shown only as far as the content goes.
      if (mapped(pending.xf) != 0 && area <= kLargeArea) {
        rows = std::max(rows, r.lastRow);
        cols = std::max(cols, r.lastCol);
      }
    }
    for (const auto& pending : rangeFormats_) {
      const auto& r = pending.range;
      for (int row = r.firstRow; row <= std::min(r.lastRow, rows); ++row) {
        for (int col = r.firstCol; col <= std::min(r.lastCol, cols); ++col) {
          sheet_.setFormat(row, col, static_cast<FormatId>(pending.xf));
        }
      }
    }
    for (const auto& number : numbers_) {
      const std::string_view code = styles.numberFormatCode(sheet_.format(number.row, number.col));
      // A cell whose number was replaced by other content since keeps that content.
      if (code.empty() || sheet_.text(number.row, number.col) != generalNumberText(number.value)) {
        continue;
      }
      sheet_.setText(number.row, number.col, formattedNumberText(number.value, code, dates));
    }
    if (odsLayout_) putScanned(odsLayout_->cells);
    putXlsxCells(styles, dates);
    sheet_.remapFormats(xfMap);
    for (int col : hiddenCols_) sheet_.setColumnWidth(col, 0);
    for (int row : hiddenRows_) sheet_.setRowHeight(row, 0);
  }

  // import_sheet
  iface::import_sheet_properties* get_sheet_properties() override { return this; }
  iface::import_formula* get_formula() override { return &formula_; }
  iface::import_array_formula* get_array_formula() override { return &arrayFormula_; }

  void set_auto(oss::row_t row, oss::col_t col, std::string_view s) override {
    put(row, col, autoText(toModelText(s)));
  }
  void set_string(oss::row_t row, oss::col_t col, oss::string_id_t sindex) override {
    int r, c;
    if (!valuesFromScan_ && place(row, col, r, c)) sheet_.setText(r, c, strings_.at(sindex));
  }
  void set_value(oss::row_t row, oss::col_t col, double value) override {
    putNumber(row, col, value);
  }
  void set_bool(oss::row_t row, oss::col_t col, bool value) override {
    put(row, col, booleanText(value));
  }
  void set_date_time(oss::row_t row, oss::col_t col, int year, int month, int day, int hour,
                     int minute, double second) override {
    put(row, col, dateTimeText(year, month, day, hour, minute, second));
  }
  void set_format(oss::row_t row, oss::col_t col, std::size_t xf) override {
    int r, c;
    if (place(row, col, r, c)) sheet_.setFormat(r, c, static_cast<FormatId>(xf));
  }
  void set_format(oss::row_t rowStart, oss::col_t colStart, oss::row_t rowEnd, oss::col_t colEnd,
                  std::size_t xf) override {
    rowStart = std::max(rowStart, 0);
    colStart = std::max(colStart, 0);
    rowEnd = std::min(rowEnd, kMaxRows - 1);
    colEnd = std::min(colEnd, kMaxCols - 1);
    if (rowStart > rowEnd || colStart > colEnd) return;
    if (odsLayout_) {
      colStart = odsLayout_->trueColumn(rowStart, colStart);
      colEnd = std::min(odsLayout_->trueColumn(rowStart, colEnd), kMaxCols - 1);
    }
    rangeFormats_.push_back({CellRange{rowStart + 1, colStart + 1, rowEnd + 1, colEnd + 1}, xf});
  }
  void fill_down_cells(oss::row_t srcRow, oss::col_t srcCol, oss::row_t rangeSize) override {
    int r, c;
    if (valuesFromScan_ || !place(srcRow, srcCol, r, c)) return;
    const std::string text(sheet_.text(r, c));
    const FormatId format = sheet_.format(r, c);
    const int last =
        static_cast<int>(std::min<long long>(static_cast<long long>(r) + rangeSize, kMaxRows));
    for (int row = r + 1; row <= last; ++row) {
      sheet_.setText(row, c, text);
      sheet_.setFormat(row, c, format);
    }
  }
  oss::range_size_t get_sheet_size() const override { return {kMaxRows, kMaxCols}; }

  // import_sheet_properties
  void set_column_width(oss::col_t col, double width, orcus::length_unit_t unit) override {
    if (col >= 0 && col < kMaxCols) sheet_.setColumnWidth(col + 1, toPoints(width, unit));
  }
  void set_column_hidden(oss::col_t col, bool hidden) override {
    if (hidden && col >= 0 && col < kMaxCols) hiddenCols_.push_back(col + 1);
  }
  void set_row_height(oss::row_t row, double height, orcus::length_unit_t unit) override {
    if (row >= 0 && row < kMaxRows) sheet_.setRowHeight(row + 1, toPoints(height, unit));
  }
  void set_row_hidden(oss::row_t row, bool hidden) override {
    if (hidden && row >= 0 && row < kMaxRows) hiddenRows_.push_back(row + 1);
  }
  void set_merge_cell_range(const oss::range_t& range) override {
    const auto& f = range.first;
    const auto& l = range.last;
    if (!inSheet(f.row, f.column) || !inSheet(l.row, l.column) || f.row > l.row ||
        f.column > l.column) {
      return;
    }
    sheet_.addMerge(CellRange{f.row + 1, f.column + 1, l.row + 1, l.column + 1});
  }

 private:
  // The 1-based cell of the filter's 0-based (row, col); false when it lies outside the sheet.
  bool place(oss::row_t row, oss::col_t col, int& outRow, int& outCol) const {
    if (odsLayout_ && inSheet(row, col)) col = odsLayout_->trueColumn(row, col);
    if (!inSheet(row, col)) return false;
    outRow = row + 1;
    outCol = col + 1;
    return true;
  }

  struct RangeFormat {
    CellRange range;
    std::size_t xf;
  };
  struct Number {
    int row;
    int col;
    double value;
  };

  void putScanned(const std::vector<ScannedCell>& cells) {
    for (const ScannedCell& cell : cells) {
      const long long cols = std::min<long long>(cell.cols, kMaxCols - cell.col + 1);
      const long long rows = std::min<long long>(
          {cell.rows, kMaxRows - cell.row + 1LL, std::max(1LL, kMaxRepeatedCells / cols)});
      for (long long r = 0; r < rows; ++r) {
        for (long long c = 0; c < cols && r * cols + c < kMaxRepeatedCells; ++c) {
          sheet_.setText(cell.row + static_cast<int>(r), cell.col + static_cast<int>(c), cell.text);
        }
      }
    }
  }

  void putXlsxCells(const Styles& styles, DateSystem dates) {
    if (!xlsxCells_) return;
    for (const XlsxCell& cell : *xlsxCells_) {
      const std::string_view code = styles.numberFormatCode(cell.xf);
      if (cell.xf != 0) sheet_.setFormat(cell.row, cell.col, static_cast<FormatId>(cell.xf));
      switch (cell.kind) {
        case XlsxCell::textValue:
          sheet_.setText(cell.row, cell.col, cell.text);
          break;
        case XlsxCell::stringValue:
          sheet_.setText(cell.row, cell.col, code.empty() ? cell.text : formattedText(cell.text, code));
          break;
        case XlsxCell::numberValue:
          sheet_.setText(cell.row, cell.col,
                         code.empty() ? generalNumberText(cell.number)
                                      : formattedNumberText(cell.number, code, dates));
          break;
        case XlsxCell::styleOnly:
          break;
        case XlsxCell::isoDate: {
          // A date the cell stores as such shows under the cell's number format as the day
          // count it stands for; without one, as the date itself.
          const auto serial = isoDateSerial(cell.text, dates);
          if (serial && !code.empty() && code != "General") {
            sheet_.setText(cell.row, cell.col, formattedNumberText(*serial, code, dates));
          } else {
            sheet_.setText(cell.row, cell.col, isoDateText(cell.text).value_or(cell.text));
          }
          break;
        }
      }
    }
  }

  Worksheet& sheet_;
  const SharedStrings& strings_;
  const OdsTableLayout* odsLayout_ = nullptr;
  FormulaSink formula_;
  ArrayFormulaSink arrayFormula_;
  std::vector<RangeFormat> rangeFormats_;
  std::vector<Number> numbers_;
  const std::vector<XlsxCell>* xlsxCells_ = nullptr;
  bool valuesFromScan_ = false;
  std::vector<int> hiddenCols_;
  std::vector<int> hiddenRows_;
};

void FormulaSink::commit() {
  if (number_) {
    owner_.putNumber(row_, col_, *number_);
  } else if (result_) {
    owner_.put(row_, col_, *result_);
  }
  result_.reset();
  number_.reset();
}

void ArrayFormulaSink::set_result_string(oss::row_t row, oss::col_t col, std::string_view value) {
  owner_.put(row, col, toModelText(value));
}
void ArrayFormulaSink::set_result_value(oss::row_t row, oss::col_t col, double value) {
  owner_.putNumber(row, col, value);
}
void ArrayFormulaSink::set_result_bool(oss::row_t row, oss::col_t col, bool value) {
  owner_.put(row, col, booleanText(value));
}
void ArrayFormulaSink::set_result_empty(oss::row_t row, oss::col_t col) {
  owner_.put(row, col, std::string());
}

// Reads cell and range addresses in A1 notation ("B3", "$B$3", "A1:C3", "A:C", "1:3"), which the
// xlsx filter needs for merged ranges and sheet dimensions. A sheet prefix ("Sheet1!A1", and the
// OpenDocument form "Sheet1.A1") is accepted and ignored.
class A1Resolver final : public iface::import_reference_resolver {
 public:
  oss::src_address_t resolve_address(std::string_view address) override {
    oss::src_address_t result{0, 0, 0};
    bool hasRow = false;
    bool hasCol = false;
    if (!parse(address, result, hasRow, hasCol) || !hasRow || !hasCol) fail(address);
    return result;
  }

  oss::src_range_t resolve_range(std::string_view range) override {
    const auto colon = range.find(':');
    const std::string_view firstPart = range.substr(0, colon);
    const std::string_view lastPart =
        colon == std::string_view::npos ? firstPart : range.substr(colon + 1);
    oss::src_range_t result{{0, 0, 0}, {0, 0, 0}};
    bool firstRow = false, firstCol = false, lastRow = false, lastCol = false;
    if (!parse(firstPart, result.first, firstRow, firstCol) ||
        !parse(lastPart, result.last, lastRow, lastCol) || firstRow != lastRow ||
        firstCol != lastCol || (!firstRow && !firstCol)) {
      fail(range);
    }
    if (!firstRow) {  // whole columns
      result.first.row = 0;
      result.last.row = kMaxRows - 1;
    }
    if (!firstCol) {  // whole rows
      result.first.column = 0;
      result.last.column = kMaxCols - 1;
    }
    return result;
  }

 private:
  [[noreturn]] static void fail(std::string_view text) {
    throw orcus::invalid_arg_error("not a cell address: " + std::string(text));
  }

  static bool parse(std::string_view text, oss::src_address_t& out, bool& hasRow, bool& hasCol) {
    if (auto bang = text.rfind('!'); bang != std::string_view::npos) {
      text.remove_prefix(bang + 1);
    } else if (auto dot = text.rfind('.'); dot != std::string_view::npos) {
      text.remove_prefix(dot + 1);
    }
    std::size_t i = 0;
    if (i < text.size() && text[i] == '$') ++i;
    long col = 0;
    std::size_t letters = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
      col = col * 26 + (std::toupper(static_cast<unsigned char>(text[i])) - 'A' + 1);
      if (col > kMaxCols) return false;
      ++i;
      ++letters;
    }
    if (i < text.size() && text[i] == '$') ++i;
    long row = 0;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      row = row * 10 + (text[i] - '0');
      if (row > kMaxRows) return false;
      ++i;
      ++digits;
    }
    if (i != text.size() || (letters == 0 && digits == 0) || (digits > 0 && row == 0)) {
      return false;
    }
    hasCol = letters > 0;
    hasRow = digits > 0;
    out.sheet = 0;
    out.column = hasCol ? static_cast<oss::col_t>(col - 1) : 0;
    out.row = hasRow ? static_cast<oss::row_t>(row - 1) : 0;
    return true;
  }
};

class GlobalSettings final : public iface::import_global_settings {
 public:
  // How serial numbers count days: xlsx files of the 1904 date system say so through the origin.
  DateSystem dateSystem() const { return dateSystem_; }

  void set_origin_date(int year, int, int) override {
    dateSystem_ = year == 1904 ? DateSystem::from1904 : DateSystem::from1900;
  }
  void set_default_formula_grammar(oss::formula_grammar_t grammar) override { grammar_ = grammar; }
  oss::formula_grammar_t get_default_formula_grammar() const override { return grammar_; }
  void set_character_set(orcus::character_set_t) override {}

 private:
  oss::formula_grammar_t grammar_ = oss::formula_grammar_t::unknown;
  DateSystem dateSystem_ = DateSystem::from1900;
};

// The factory the import filters ask for sinks; it owns them and builds the workbook.
class WorkbookBuilder final : public iface::import_factory {
 public:
  WorkbookBuilder() : workbook_(Workbook::withoutSheets()) {}

  // Corrects the sheets of an OpenDocument file by its own layout pass (see OdsTableLayout).
  void setOdsLayout(std::vector<OdsTableLayout> layout) { odsLayout_ = std::move(layout); }
  // Takes the cells of an xlsx file's sheets from our own pass, in sheet order (see
  // readXlsxPackage), and its date system.
  // `cells` must outlive finish().
  void setXlsxCells(const std::vector<std::vector<XlsxCell>>* cells, DateSystem dates) {
    xlsxCells_ = cells;
    xlsxDates_ = dates;
  }

  Workbook finish() {
    std::vector<FormatId> xfMap(std::max<std::size_t>(styles_->cellXfCount(), 1), 0);
    FormatTable& table = workbook_.formats();
    table.setDefault(styles_->resolve(0));
    for (std::size_t xf = 1; xf < styles_->cellXfCount(); ++xf) {
      xfMap[xf] = table.intern(styles_->resolve(xf));
    }
    const DateSystem dates = xlsxDates_.value_or(settings_.dateSystem());
    for (auto& sink : sheets_) sink->finish(xfMap, *styles_, dates);
    return std::move(workbook_);
  }

  iface::import_global_settings* get_global_settings() override { return &settings_; }
  iface::import_shared_strings* get_shared_strings() override { return &strings_; }
  iface::import_styles* get_styles() override { return styles_.get(); }
  iface::import_reference_resolver* get_reference_resolver(oss::formula_ref_context_t) override {
    return &resolver_;
  }

  // Sheets are appended in file order; the filter's index is that order.
  iface::import_sheet* append_sheet(oss::sheet_t, std::string_view name) override {
    const std::size_t index = sheets_.size();
    Worksheet& sheet = workbook_.addSheet(toModelText(name));
    sheets_.push_back(std::make_unique<SheetSink>(sheet, strings_));
    if (index < odsLayout_.size()) sheets_.back()->setOdsLayout(&odsLayout_[index]);
    if (xlsxCells_ && index < xlsxCells_->size())
      sheets_.back()->setXlsxCells(&(*xlsxCells_)[index]);
    return sheets_.back().get();
  }
  iface::import_sheet* get_sheet(std::string_view name) override {
    for (int i = 0; i < workbook_.sheetCount(); ++i) {
      if (workbook_.sheet(i + 1).name() == name) return sheets_[i].get();
    }
    return nullptr;
  }
  iface::import_sheet* get_sheet(oss::sheet_t index) override {
    if (index < 0 || index >= static_cast<oss::sheet_t>(sheets_.size())) return nullptr;
    return sheets_[index].get();
  }
  void finalize() override {}

  std::size_t sheetCount() const { return sheets_.size(); }

 private:
  Workbook workbook_;
  GlobalSettings settings_;
  SharedStrings strings_;
  std::unique_ptr<Styles> styles_ = makeStyles();
  A1Resolver resolver_;
  std::vector<OdsTableLayout> odsLayout_;
  const std::vector<std::vector<XlsxCell>>* xlsxCells_ = nullptr;
  std::optional<DateSystem> xlsxDates_;
  std::vector<std::unique_ptr<SheetSink>> sheets_;
};

std::unique_ptr<orcus::iface::import_filter> makeFilter(FileFormat format,
                                                        iface::import_factory* factory) {
  switch (format) {
    case FileFormat::xlsx:
      return std::make_unique<orcus::orcus_xlsx>(factory);
    case FileFormat::ods:
      return std::make_unique<orcus::orcus_ods>(factory);
    case FileFormat::xlsXml:
      return std::make_unique<orcus::orcus_xls_xml>(factory);
    case FileFormat::gnumeric:
      return std::make_unique<orcus::orcus_gnumeric>(factory);
    case FileFormat::csv:
      return std::make_unique<orcus::orcus_csv>(factory);
    case FileFormat::xls:
    case FileFormat::unknown:
      break;
  }
  return nullptr;
}

bool endsWithCsv(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".csv";
}

// The format of a zip package: OpenDocument by its content (its mimetype entry, where there is
// one, names a spreadsheet), xlsx (also macro-enabled, strict, or with content types given by
// default rules) by its package relationships or workbook part.
FileFormat detectZip(std::string_view bytes) {
  ZipPackage zip(bytes);
  if (zip.entryName("content.xml")) {
    if (const auto mimetype = zip.raw("mimetype"))
      return mimetype->starts_with("application/vnd.oasis.opendocument.spreadsheet")
                 ? FileFormat::ods
                 : FileFormat::unknown;
    const auto content = zip.raw("content.xml").value_or(std::string());
    return memmem(content.data(), content.size(), "spreadsheet", 11) ? FileFormat::ods
                                                                     : FileFormat::unknown;
  }
  for (const char* part : {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml"})
    if (zip.entryName(part)) return FileFormat::xlsx;
  return FileFormat::unknown;
}

// The format liborcus detects in bytes that orcusHazard() has passed.
FileFormat detectCheckedBytes(std::string_view bytes) noexcept {
  try {
    if (isLegacyExcel(bytes)) return FileFormat::xls;
    if (isZip(bytes)) return detectZip(bytes);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    switch (orcus::detect(data, bytes.size())) {
      case orcus::format_t::xlsx:
        return FileFormat::xlsx;
      case orcus::format_t::ods:
        return FileFormat::ods;
      case orcus::format_t::xls_xml:
        return FileFormat::xlsXml;
      case orcus::format_t::gnumeric:
        return FileFormat::gnumeric;
      case orcus::format_t::csv:
        return FileFormat::csv;
      case orcus::format_t::unknown:
        break;
    }
  } catch (...) {
    // Bytes that break the detector are not a workbook of any known format.
  }
  return FileFormat::unknown;
}

// An xlsx package: our own pass reads the cells; liborcus reads the layout and the styles of
// the package of checked parts that the pass puts together. Where liborcus fails on those parts
// (constructs it does not know), the cells are shown without the layout and styles rather than
// not at all.
Workbook readXlsx(std::string_view bytes, const std::string& prefix) {
  ZipPackage zip(bytes);
  XlsxWorkbook xlsx = readXlsxPackage(zip);
  if (xlsx.sheetNames.empty()) throw FormatError(prefix + " contains no sheet");
  auto builder = std::make_unique<WorkbookBuilder>();
  builder->setXlsxCells(&xlsx.cells, xlsx.dates);
  try {
    orcus::orcus_xlsx filter(builder.get());
    filter.read_stream(xlsx.package);
    if (builder->sheetCount() == xlsx.sheetNames.size()) return builder->finish();
  } catch (const orcus::general_error&) {
  } catch (const orcus::invalid_arg_error&) {
  }
  // The sheets without their layout; the cells keep their number formats where the styles can
  // be read.
  builder = std::make_unique<WorkbookBuilder>();
  builder->setXlsxCells(&xlsx.cells, xlsx.dates);
  try {
    orcus::orcus_xlsx filter(builder.get());
    filter.read_stream(xlsx.stylesPackage);
    if (builder->sheetCount() == xlsx.sheetNames.size()) return builder->finish();
  } catch (const orcus::general_error&) {
  } catch (const orcus::invalid_arg_error&) {
  }
  builder = std::make_unique<WorkbookBuilder>();
  builder->setXlsxCells(&xlsx.cells, xlsx.dates);
  for (const std::string& name : xlsx.sheetNames) builder->append_sheet(0, name);
  return builder->finish();
}

// An OpenDocument package: liborcus reads a package of the two parts it needs, checked, and our
// own pass over the content corrects what it reads (see OdsTableLayout).
Workbook readOds(std::string_view bytes, const std::string& prefix) {
  ZipPackage zip(bytes);
  auto content = zip.xml("content.xml");
  if (!content) throw FormatError(prefix + " contains no sheet");
  WorkbookBuilder builder;
  builder.setOdsLayout(scanOdsLayout(*content));
  std::vector<std::pair<std::string, std::string>> entries{
      {"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}};
  if (auto styles = zip.xml("styles.xml")) entries.emplace_back("styles.xml", std::move(*styles));
  entries.emplace_back("content.xml", std::move(*content));
  orcus::orcus_ods filter(&builder);
  filter.read_stream(storedZip(entries));
  return builder.finish();
}

// readWorkbookBytes once the bytes are known to be safe for liborcus (or are read as CSV).
Workbook readCheckedBytes(std::string_view bytes, FileFormat format, std::string_view name) {
  const std::string prefix = "The workbook file " + std::string(name);
  if (bytes.empty()) throw FormatError(prefix + " is empty");
  if (format == FileFormat::xls && isEncryptedPackage(bytes)) {
    // An encrypted xlsx workbook: its decrypted package is read like any other, checked first.
    const std::string package = decryptPackage(bytes, prefix);
    if (std::string hazard = orcusHazard(package); !hazard.empty())
      throw FormatError(prefix + " cannot be read (corrupt or truncated): " + hazard);
    return readCheckedBytes(package, FileFormat::xlsx, name);
  }
  if (format == FileFormat::xls) return readXls(bytes, prefix);
  std::optional<Workbook> workbook;
  try {
    if (format == FileFormat::xlsx) {
      workbook.emplace(readXlsx(bytes, prefix));
    } else if (format == FileFormat::ods) {
      workbook.emplace(readOds(bytes, prefix));
    } else {
      WorkbookBuilder builder;
      auto filter = makeFilter(format, &builder);
      if (!filter) throw FormatError(prefix + " is not in a known workbook format");
      filter->read_stream(bytes);
      workbook.emplace(builder.finish());
    }
  } catch (const FormatError& e) {
    if (std::string_view(e.what()).starts_with(prefix)) throw;
    throw FormatError(prefix + " cannot be read (corrupt or truncated): " + e.what());
  } catch (const std::bad_alloc&) {
    throw FormatError(prefix + " is too large to read");
  } catch (const std::exception& e) {
    throw FormatError(prefix + " cannot be read (corrupt or truncated): " + e.what());
  } catch (...) {
    throw FormatError(prefix + " cannot be read (corrupt or truncated)");
  }
  if (workbook->sheetCount() == 0) throw FormatError(prefix + " contains no sheet");
  return std::move(*workbook);
}

}  // namespace
}  // namespace reader

// Bytes that would bring liborcus down (see orcus_guard.h) never reach it: they are of no format
// here, and reading them as a workbook of any format but CSV fails with their fault.
FileFormat detectFormat(std::string_view bytes) noexcept {
  try {
    if (!orcusHazard(bytes).empty()) return FileFormat::unknown;
  } catch (...) {
    return FileFormat::unknown;  // out of memory while checking
  }
  return reader::detectCheckedBytes(bytes);
}

Workbook readWorkbookBytes(std::string_view bytes, FileFormat format, std::string_view name) {
  if (format != FileFormat::csv && !bytes.empty()) {
    std::string hazard;
    try {
      hazard = orcusHazard(bytes);
    } catch (const std::bad_alloc&) {
      throw FormatError("The workbook file " + std::string(name) + " is too large to read");
    }
    if (!hazard.empty())
      throw FormatError("The workbook file " + std::string(name) +
                        " cannot be read (corrupt or truncated): " + hazard);
  }
  return reader::readCheckedBytes(bytes, format, name);
}

Workbook readWorkbook(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw FileError("Unable to read " + path.string() + ": it is a directory");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw FileError("Unable to read " + path.string() + ": " + std::strerror(errno));
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw FileError("Unable to read " + path.string());
  std::string hazard;
  try {
    hazard = orcusHazard(bytes);
  } catch (const std::bad_alloc&) {
    throw FormatError("The workbook file " + path.string() + " is too large to read");
  }
  FileFormat format = hazard.empty() ? reader::detectCheckedBytes(bytes) : FileFormat::unknown;
  if (format == FileFormat::unknown && reader::endsWithCsv(path)) format = FileFormat::csv;
  if (format == FileFormat::unknown && !hazard.empty())
    throw FormatError("The workbook file " + path.string() +
                      " cannot be read (corrupt or truncated): " + hazard);
  return reader::readCheckedBytes(bytes, format, path.string());
}

}  // namespace dupsweep::sheet
