// The file reader: liborcus's import filters push sheets, cells, styles and sheet properties into
// the sink classes below, which fill a Workbook. The model knows nothing of liborcus; only this
// file does.

#include "platform/spreadsheet/reader.h"

#include <orcus/exception.hpp>
#include <orcus/format_detection.hpp>
#include <orcus/orcus_csv.hpp>
#include <orcus/orcus_gnumeric.hpp>
#include <orcus/orcus_ods.hpp>
#include <orcus/orcus_xls_xml.hpp>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/sax_parser.hpp>
#include <orcus/spreadsheet/import_interface.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/spreadsheet/celltext.h"
#include "platform/spreadsheet/orcus_guard.h"
#include "platform/text/text.h"

namespace dupsweep::sheet {
namespace {

namespace oss = orcus::spreadsheet;
namespace iface = orcus::spreadsheet::iface;

// ---- conversions ------------------------------------------------------------------------------

double toPoints(double value, orcus::length_unit_t unit) {
  using U = orcus::length_unit_t;
  switch (unit) {
    case U::centimeter:
      return value * 72.0 / 2.54;
    case U::millimeter:
      return value * 72.0 / 25.4;
    case U::inch:
      return value * 72.0;
    case U::twip:
      return value / 20.0;
    case U::pixel:
      return value * 0.75;
    case U::xlsx_column_digit:
      // A width in digits of the default font (7 pixels each, padding included), as Excel
      // turns it into pixels.
      return std::floor(value * 7.0 + 0.5) * 0.75;
    case U::point:
    case U::unknown:
    default:
      return value;
  }
}

Color toColor(oss::color_elem_t, oss::color_elem_t r, oss::color_elem_t g, oss::color_elem_t b) {
  return Color::rgb(r, g, b);
}

FillPattern toFillPattern(oss::fill_pattern_t p) {
  using P = oss::fill_pattern_t;
  switch (p) {
    case P::none:
      return FillPattern::none;
    case P::solid:
      return FillPattern::solid;
    case P::dark_gray:
      return FillPattern::darkGray;
    case P::medium_gray:
      return FillPattern::mediumGray;
    case P::light_gray:
      return FillPattern::lightGray;
    case P::gray_125:
      return FillPattern::gray125;
    case P::gray_0625:
      return FillPattern::gray0625;
    case P::dark_horizontal:
      return FillPattern::darkHorizontal;
    case P::dark_vertical:
      return FillPattern::darkVertical;
    case P::dark_down:
      return FillPattern::darkDown;
    case P::dark_up:
      return FillPattern::darkUp;
    case P::dark_grid:
      return FillPattern::darkGrid;
    case P::dark_trellis:
      return FillPattern::darkTrellis;
    case P::light_horizontal:
      return FillPattern::lightHorizontal;
    case P::light_vertical:
      return FillPattern::lightVertical;
    case P::light_down:
      return FillPattern::lightDown;
    case P::light_up:
      return FillPattern::lightUp;
    case P::light_grid:
      return FillPattern::lightGrid;
    case P::light_trellis:
      return FillPattern::lightTrellis;
  }
  return FillPattern::none;
}

BorderStyle toBorderStyle(oss::border_style_t s) {
  using S = oss::border_style_t;
  switch (s) {
    case S::unknown:
    case S::none:
      return BorderStyle::none;
    case S::solid:
    case S::thin:
      return BorderStyle::thin;
    case S::dash_dot:
      return BorderStyle::dashDot;
    case S::dash_dot_dot:
      return BorderStyle::dashDotDot;
    case S::dashed:
    case S::fine_dashed:
      return BorderStyle::dashed;
    case S::dotted:
      return BorderStyle::dotted;
    case S::double_border:
    case S::double_thin:
      return BorderStyle::doubleLine;
    case S::hair:
      return BorderStyle::hair;
    case S::medium:
      return BorderStyle::medium;
    case S::medium_dash_dot:
      return BorderStyle::mediumDashDot;
    case S::medium_dash_dot_dot:
      return BorderStyle::mediumDashDotDot;
    case S::medium_dashed:
      return BorderStyle::mediumDashed;
    case S::slant_dash_dot:
      return BorderStyle::slantDashDot;
    case S::thick:
      return BorderStyle::thick;
  }
  return BorderStyle::none;
}

HorizontalAlignment toHorizontal(oss::hor_alignment_t a) {
  using A = oss::hor_alignment_t;
  switch (a) {
    case A::unknown:
      return HorizontalAlignment::general;
    case A::left:
      return HorizontalAlignment::left;
    case A::center:
      return HorizontalAlignment::center;
    case A::right:
      return HorizontalAlignment::right;
    case A::justified:
      return HorizontalAlignment::justified;
    case A::distributed:
      return HorizontalAlignment::distributed;
    case A::filled:
      return HorizontalAlignment::filled;
  }
  return HorizontalAlignment::general;
}

VerticalAlignment toVertical(oss::ver_alignment_t a) {
  using A = oss::ver_alignment_t;
  switch (a) {
    case A::unknown:
    case A::bottom:
      return VerticalAlignment::bottom;
    case A::top:
      return VerticalAlignment::top;
    case A::middle:
      return VerticalAlignment::center;
    case A::justified:
      return VerticalAlignment::justified;
    case A::distributed:
      return VerticalAlignment::distributed;
  }
  return VerticalAlignment::bottom;
}

// Text from a file is UTF-8 in every XML format. A CSV file may come in the system's code page
// (GBK); such text is converted. Bytes that are neither raise FormatError, which ends the read.
std::string toModelText(std::string_view s) {
  if (text::isValidUtf8(s)) return std::string(s);
  return text::gb18030ToUtf8(s);
}

bool inSheet(oss::row_t row, oss::col_t col) {
  return row >= 0 && row < kMaxRows && col >= 0 && col < kMaxCols;
}

// ---- shared strings ---------------------------------------------------------------------------

class SharedStrings final : public iface::import_shared_strings {
 public:
  std::string_view at(std::size_t id) const {
    return id < strings_.size() ? std::string_view(strings_[id]) : std::string_view();
  }

  std::size_t append(std::string_view s) override {
    strings_.push_back(toModelText(s));
    index_.try_emplace(strings_.back(), strings_.size() - 1);
    return strings_.size() - 1;
  }
  std::size_t add(std::string_view s) override {
    auto it = index_.find(std::string(s));
    return it != index_.end() ? it->second : append(s);
  }
  // Rich text keeps its characters; the grid shows one format per cell.
  void set_segment_font(std::size_t) override {}
  void set_segment_bold(bool) override {}
  void set_segment_italic(bool) override {}
  void set_segment_font_name(std::string_view) override {}
  void set_segment_font_size(double) override {}
  void set_segment_font_color(oss::color_elem_t, oss::color_elem_t, oss::color_elem_t,
                              oss::color_elem_t) override {}
  void append_segment(std::string_view s) override { segments_.append(s); }
  std::size_t commit_segments() override {
    const std::size_t id = append(segments_);
    segments_.clear();
    return id;
  }

 private:
  std::vector<std::string> strings_;
  std::unordered_map<std::string, std::size_t> index_;
  std::string segments_;
};

// ---- styles -----------------------------------------------------------------------------------

struct Borders {
  BorderSide left, top, right, bottom;
};

class Styles final : public iface::import_styles {
 public:
  // The cell format of cell format record `xf` (0 when the file gives none).
  CellFormat resolve(std::size_t xf) const {
    CellFormat format;
    if (xf >= cellXfs_.size()) return format;
    const Xf& x = cellXfs_[xf];
    if (x.font < fonts_.size()) format.font = fonts_[x.font];
    if (x.fill < fills_.size()) format.fill = fills_[x.fill];
    if (x.border < borders_.size()) {
      const Borders& b = borders_[x.border];
      format.left = b.left;
      format.top = b.top;
      format.right = b.right;
      format.bottom = b.bottom;
    }
    format.horizontal = x.horizontal;
    format.vertical = x.vertical;
    return format;
  }
  std::size_t cellXfCount() const { return cellXfs_.size(); }

  // The number format code of cell format record `xf`: the file's own code for the record's
  // number format identifier, else the built-in format of that identifier; empty for General or
  // an unknown identifier.
  std::string_view numberFormatCode(std::size_t xf) const {
    if (xf >= cellXfs_.size()) return {};
    const std::size_t id = cellXfs_[xf].numberFormat;
    if (auto it = numberFormatCodes_.find(id); it != numberFormatCodes_.end()) return it->second;
    return builtinNumberFormat(id);
  }

  // fonts
  void set_font_count(std::size_t n) override { fonts_.reserve(n); }
  void set_font_bold(bool b) override { font_.bold = b; }
  void set_font_italic(bool b) override { font_.italic = b; }
  void set_font_name(std::string_view s) override { font_.name = toModelText(s); }
  void set_font_size(double point) override { font_.size = point; }
  void set_font_underline(oss::underline_t e) override {
    font_.underline = e != oss::underline_t::none;
  }
  void set_font_underline_width(oss::underline_width_t) override {}
  void set_font_underline_mode(oss::underline_mode_t) override {}
  void set_font_underline_type(oss::underline_type_t e) override {
    if (e != oss::underline_type_t::none) font_.underline = true;
  }
  void set_font_underline_color(oss::color_elem_t, oss::color_elem_t, oss::color_elem_t,
                                oss::color_elem_t) override {}
  void set_font_color(oss::color_elem_t a, oss::color_elem_t r, oss::color_elem_t g,
                      oss::color_elem_t b) override {
    font_.color = toColor(a, r, g, b);
  }
  void set_strikethrough_style(oss::strikethrough_style_t s) override {
    font_.strikeout = s != oss::strikethrough_style_t::none;
  }
  void set_strikethrough_type(oss::strikethrough_type_t s) override {
    if (s == oss::strikethrough_type_t::single || s == oss::strikethrough_type_t::double_type) {
      font_.strikeout = true;
    }
  }
  void set_strikethrough_width(oss::strikethrough_width_t) override {}
  void set_strikethrough_text(oss::strikethrough_text_t) override {}
  std::size_t commit_font() override { return commit(fonts_, font_); }

  // fills
  void set_fill_count(std::size_t n) override { fills_.reserve(n); }
  void set_fill_pattern_type(oss::fill_pattern_t fp) override { fill_.pattern = toFillPattern(fp); }
  void set_fill_fg_color(oss::color_elem_t a, oss::color_elem_t r, oss::color_elem_t g,
                         oss::color_elem_t b) override {
    fill_.foreground = toColor(a, r, g, b);
  }
  void set_fill_bg_color(oss::color_elem_t a, oss::color_elem_t r, oss::color_elem_t g,
                         oss::color_elem_t b) override {
    fill_.background = toColor(a, r, g, b);
  }
  std::size_t commit_fill() override { return commit(fills_, fill_); }

  // borders
  void set_border_count(std::size_t n) override { borders_.reserve(n); }
  void set_border_style(oss::border_direction_t dir, oss::border_style_t style) override {
    if (BorderSide* side = sideOf(dir)) {
      side->style = toBorderStyle(style);
      solidLine_[index(dir)] = style == oss::border_style_t::solid;
    }
  }
  void set_border_color(oss::border_direction_t dir, oss::color_elem_t a, oss::color_elem_t r,
                        oss::color_elem_t g, oss::color_elem_t b) override {
    if (BorderSide* side = sideOf(dir)) side->color = toColor(a, r, g, b);
  }
  void set_border_width(oss::border_direction_t dir, double width,
                        orcus::length_unit_t unit) override {
    if (sideOf(dir)) lineWidth_[index(dir)] = toPoints(width, unit);
  }
  std::size_t commit_border() override {
    // A plain solid line given with a width (OpenDocument) becomes thin, medium or thick.
    BorderSide* sides[] = {&border_.left, &border_.top, &border_.right, &border_.bottom};
    for (int i = 0; i < 4; ++i) {
      if (solidLine_[i] && lineWidth_[i] > 2.5) {
        sides[i]->style = BorderStyle::thick;
      } else if (solidLine_[i] && lineWidth_[i] > 1.25) {
        sides[i]->style = BorderStyle::medium;
      }
      solidLine_[i] = false;
      lineWidth_[i] = 0;
    }
    return commit(borders_, border_);
  }

  // protection: counted, not kept
  void set_cell_hidden(bool) override {}
  void set_cell_locked(bool) override {}
  void set_cell_print_content(bool) override {}
  void set_cell_formula_hidden(bool) override {}
  std::size_t commit_cell_protection() override { return protections_++; }

  // number formats: kept by identifier (an xlsx numFmtId, which the cell format records refer
  // to); a format given without one is kept under its position among the committed formats
  void set_number_format_count(std::size_t) override {}
  void set_number_format_identifier(std::size_t id) override { numberFormatId_ = id; }
  void set_number_format_code(std::string_view code) override {
    numberFormatCode_ = toModelText(code);
  }
  std::size_t commit_number_format() override {
    const std::size_t index = numberFormats_++;
    numberFormatCodes_[numberFormatId_.value_or(index)] = std::move(numberFormatCode_);
    numberFormatId_.reset();
    numberFormatCode_.clear();
    return index;
  }

  // cell format records
  void set_cell_xf_count(std::size_t n) override { cellXfs_.reserve(n); }
  void set_cell_style_xf_count(std::size_t) override {}
  void set_dxf_count(std::size_t) override {}
  void set_xf_font(std::size_t i) override { xf_.font = i; }
  void set_xf_fill(std::size_t i) override { xf_.fill = i; }
  void set_xf_border(std::size_t i) override { xf_.border = i; }
  void set_xf_protection(std::size_t) override {}
  void set_xf_number_format(std::size_t id) override { xf_.numberFormat = id; }
  void set_xf_style_xf(std::size_t) override {}
  void set_xf_apply_alignment(bool) override {}
  void set_xf_horizontal_alignment(oss::hor_alignment_t a) override {
    xf_.horizontal = toHorizontal(a);
  }
  void set_xf_vertical_alignment(oss::ver_alignment_t a) override { xf_.vertical = toVertical(a); }
  std::size_t commit_cell_xf() override { return commit(cellXfs_, xf_); }
  std::size_t commit_cell_style_xf() override {
    xf_ = {};
    return styleXfs_++;
  }
  std::size_t commit_dxf() override {
    xf_ = {};
    return dxfs_++;
  }

  // named cell styles: not kept
  void set_cell_style_count(std::size_t) override {}
  void set_cell_style_name(std::string_view) override {}
  void set_cell_style_xf(std::size_t) override {}
  void set_cell_style_builtin(std::size_t) override {}
  void set_cell_style_parent_name(std::string_view) override {}
  std::size_t commit_cell_style() override { return cellStyles_++; }

 private:
  struct Xf {
    std::size_t font = 0;
    std::size_t fill = 0;
    std::size_t border = 0;
    HorizontalAlignment horizontal = HorizontalAlignment::general;
    VerticalAlignment vertical = VerticalAlignment::bottom;
    std::size_t numberFormat = 0;  // identifier; 0 is General
  };

  template <typename T>
  static std::size_t commit(std::vector<T>& list, T& current) {
    list.push_back(std::move(current));
    current = T{};
    return list.size() - 1;
  }

  static int index(oss::border_direction_t dir) {
    switch (dir) {
      case oss::border_direction_t::left:
        return 0;
      case oss::border_direction_t::top:
        return 1;
      case oss::border_direction_t::right:
        return 2;
      case oss::border_direction_t::bottom:
        return 3;
      default:
        return -1;
    }
  }
  BorderSide* sideOf(oss::border_direction_t dir) {
    switch (index(dir)) {
      case 0:
        return &border_.left;
      case 1:
        return &border_.top;
      case 2:
        return &border_.right;
      case 3:
        return &border_.bottom;
      default:
        return nullptr;  // diagonals are not drawn
    }
  }

  std::vector<Font> fonts_;
  Font font_;
  std::vector<Fill> fills_;
  Fill fill_;
  std::vector<Borders> borders_;
  Borders border_;
  bool solidLine_[4] = {};
  double lineWidth_[4] = {};
  std::vector<Xf> cellXfs_;
  Xf xf_;
  std::size_t styleXfs_ = 0;
  std::size_t dxfs_ = 0;
  std::size_t protections_ = 0;
  std::size_t numberFormats_ = 0;
  std::optional<std::size_t> numberFormatId_;
  std::string numberFormatCode_;
  std::unordered_map<std::size_t, std::string> numberFormatCodes_;
  std::size_t cellStyles_ = 0;
};

// ---- OpenDocument layout -----------------------------------------------------------------------

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

// liborcus 0.17 reads OpenDocument tables without their covered cells (the cells hidden under a
// merged cell): it neither reports the merged ranges nor counts the covered cells' columns, so
// every value to the right of a merged cell would land too far to the left. This pass over
// content.xml finds, per table, the merged ranges and the columns of the covered cells of each
// row; the sheet sink moves the columns orcus gives back to the true ones.
//
// The same pass takes each cell's displayed text, which the file itself carries in its
// paragraphs: liborcus 0.17 reads only float, date and string cells (percentage, currency, time
// and boolean cells come out empty), drops the spaces of <text:s>, keeps only the last of
// several paragraphs and does not repeat a row's cells over number-rows-repeated. Paragraphs are
// joined by a line feed; a cell without a paragraph shows its value attribute.
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
std::optional<std::string> isoDateText(std::string_view value) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double second = 0;
  const std::string text(value);
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%lf", &year, &month, &day, &hour, &minute,
                  &second) >= 3) {
    return dateTimeText(year, month, day, hour, minute, second);
  }
  return std::nullopt;
}

// The text of an OpenDocument cell that has no paragraph, from its value attribute.
std::string odsValueText(std::string_view type, std::string_view value) {
  if (value.empty()) return {};
  if (type == "string") return std::string(value);
  if (type == "boolean") return booleanText(value == "true" || value == "1");
  if (type == "float" || type == "currency" || type == "percentage") {
    double number = 0;
    const auto result = std::from_chars(value.data(), value.data() + value.size(), number);
    if (result.ec != std::errc()) return {};
    return type == "percentage" ? generalNumberText(number * 100) + "%" : generalNumberText(number);
  }
  if (type == "date") return isoDateText(value).value_or(std::string());
  if (type == "time") {
    // PTnnHnnMnnS, the hours possibly beyond a day
    long long hours = 0, minutes = 0;
    double seconds = 0;
    const std::string text(value);
    if (std::sscanf(text.c_str(), "PT%lldH%lldM%lfS", &hours, &minutes, &seconds) == 3) {
      char buffer[64];
      const auto whole = static_cast<long long>(seconds);
      std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", hours, minutes, whole);
      return buffer;
    }
    return {};
  }
  return {};
}

class OdsLayoutScanner : public orcus::sax_handler {
 public:
  std::vector<OdsTableLayout> tables;

  void attribute(const orcus::sax::parser_attribute& attr) {
    if (attr.ns == "office") {
      if (attr.name == "value-type") valueType_ = attr.value;
      if (attr.name == "value") value_ = attr.value;
      if (attr.name == "date-value") value_ = attr.value;
      if (attr.name == "time-value") value_ = attr.value;
      if (attr.name == "boolean-value") value_ = attr.value;
      if (attr.name == "string-value") value_ = toModelText(attr.value);
    }
    if (attr.ns == "text" && attr.name == "c") spaces_ = count(attr.value);
    if (attr.ns != "table") return;
    if (attr.name == "number-columns-repeated") columnsRepeated_ = count(attr.value);
    if (attr.name == "number-rows-repeated") rowsRepeated_ = count(attr.value);
    if (attr.name == "number-columns-spanned") columnsSpanned_ = count(attr.value);
    if (attr.name == "number-rows-spanned") rowsSpanned_ = count(attr.value);
  }

  void start_element(const orcus::sax::parser_element& elem) {
    if (elem.ns == "table" && cellDepth_ == 0) {
      if (elem.name == "table") {
        tables.emplace_back();
        row_ = 0;
      } else if (elem.name == "table-row" && !tables.empty()) {
        rowRepeat_ = rowsRepeated_;
        col_ = 0;
      } else if (elem.name == "table-cell" && !tables.empty()) {
        if (columnsSpanned_ > 1 || rowsSpanned_ > 1) {
          const auto lastRow = static_cast<int>(std::min<long long>(row_ + rowsSpanned_, kMaxRows));
          const auto lastCol =
              static_cast<int>(std::min<long long>(col_ + columnsSpanned_, kMaxCols));
          if (row_ < kMaxRows && col_ < kMaxCols) {
            tables.back().merges.push_back(CellRange{static_cast<int>(row_ + 1),
                                                     static_cast<int>(col_ + 1), lastRow, lastCol});
          }
        }
        startCell();
        col_ = std::min<long long>(col_ + columnsRepeated_, kMaxCols);
        ++cellDepth_;
      } else if (elem.name == "covered-table-cell" && !tables.empty()) {
        // A covered cell repeated over many rows or columns is capped; real sheets cover a few.
        const long long rows = std::min<long long>(rowRepeat_, 4096);
        const long long cols = std::min<long long>(columnsRepeated_, 4096);
        for (long long r = 0; r < rows && row_ + r < kMaxRows; ++r) {
          auto& list = tables.back().covered[static_cast<int>(row_ + r + 1)];
          for (long long c = 0; c < cols && col_ + c < kMaxCols; ++c) {
            list.push_back(static_cast<int>(col_ + c + 1));
          }
        }
        col_ = std::min<long long>(col_ + columnsRepeated_, kMaxCols);
        ++cellDepth_;
      }
    } else if (elem.ns == "table" &&
               (elem.name == "table-cell" || elem.name == "covered-table-cell")) {
      ++cellDepth_;  // a table nested in a cell's content
    } else if (cellDepth_ == 1) {
      startCellContent(elem);
    }
    columnsRepeated_ = rowsRepeated_ = columnsSpanned_ = rowsSpanned_ = 1;
    valueType_.clear();
    value_.clear();
    spaces_ = 1;
  }

  void characters(std::string_view text, bool) {
    if (!collecting()) return;
    for (char c : text) {
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        // Runs of white space in a paragraph show as one space; leading and trailing ones not.
        if (paragraphHasContent_) pendingSpace_ = true;
        continue;
      }
      flushSpace();
      text_ += c;
      paragraphHasContent_ = true;
    }
  }

  void end_element(const orcus::sax::parser_element& elem) {
    if (cellDepth_ == 1 &&
        (elem.ns == "draw" || (elem.ns == "office" && elem.name == "annotation"))) {
      if (excluded_ > 0) --excluded_;
      return;
    }
    if (cellDepth_ == 1 && excluded_ == 0 && elem.ns == "text" &&
        (elem.name == "p" || elem.name == "h")) {
      if (paragraphDepth_ > 0) --paragraphDepth_;
      pendingSpace_ = false;
      return;
    }
    if (elem.ns != "table") return;
    if (elem.name == "table-cell" || elem.name == "covered-table-cell") {
      if (cellDepth_ == 1 && elem.name == "table-cell") commitCell();
      if (cellDepth_ > 0) --cellDepth_;
    } else if (elem.name == "table-row" && cellDepth_ == 0) {
      row_ = std::min<long long>(row_ + rowRepeat_, kMaxRows);
      rowRepeat_ = 1;
    }
  }

 private:
  static long long count(std::string_view value) {
    long long n = 0;
    for (char c : value) {
      if (c < '0' || c > '9') return 1;
      n = std::min<long long>(n * 10 + (c - '0'), kMaxRows);
    }
    return std::max<long long>(n, 1);
  }

  // The longest text a cell collects from its <text:s> spaces.
  static constexpr std::size_t kMaxSpacedText = 1 << 16;

  bool collecting() const { return cellDepth_ == 1 && excluded_ == 0 && paragraphDepth_ > 0; }

  void flushSpace() {
    if (pendingSpace_) text_ += ' ';
    pendingSpace_ = false;
  }

  void startCell() {
    cell_ = ScannedCell{
        static_cast<int>(row_ + 1), static_cast<int>(col_ + 1), rowRepeat_, columnsRepeated_, {}};
    cellType_ = valueType_;
    cellValue_ = value_;
    text_.clear();
    paragraphs_ = 0;
    paragraphDepth_ = 0;
    excluded_ = 0;
  }

  // An element inside a cell of the table: paragraphs and their spaces, tabs and line breaks;
  // annotations (comments) and drawings are not part of the cell's text.
  void startCellContent(const orcus::sax::parser_element& elem) {
    if (elem.ns == "draw" || (elem.ns == "office" && elem.name == "annotation")) {
      ++excluded_;
      return;
    }
    if (excluded_ > 0 || elem.ns != "text") return;
    if (elem.name == "p" || elem.name == "h") {
      if (paragraphDepth_++ > 0) return;
      if (paragraphs_++ > 0) text_ += '\n';
      paragraphHasContent_ = false;
      pendingSpace_ = false;
    } else if (paragraphDepth_ > 0 && elem.name == "s") {
      flushSpace();
      const std::size_t room = kMaxSpacedText - std::min(kMaxSpacedText, text_.size());
      text_.append(std::min(static_cast<std::size_t>(spaces_), room), ' ');
      paragraphHasContent_ = true;
    } else if (paragraphDepth_ > 0 && (elem.name == "tab" || elem.name == "line-break")) {
      flushSpace();
      text_ += elem.name == "tab" ? '\t' : '\n';
      paragraphHasContent_ = true;
    }
  }

  void commitCell() {
    std::string text = text_.empty() ? odsValueText(cellType_, cellValue_) : toModelText(text_);
    if (text.empty() || tables.empty() || cell_.row > kMaxRows || cell_.col > kMaxCols) return;
    cell_.text = std::move(text);
    tables.back().cells.push_back(std::move(cell_));
  }

  long long row_ = 0;
  long long col_ = 0;
  long long rowRepeat_ = 1;
  int cellDepth_ = 0;
  long long columnsRepeated_ = 1, rowsRepeated_ = 1, columnsSpanned_ = 1, rowsSpanned_ = 1;
  long long spaces_ = 1;
  std::string valueType_;
  std::string value_;
  // the table cell being read
  ScannedCell cell_;
  std::string cellType_;
  std::string cellValue_;
  std::string text_;
  int paragraphs_ = 0;
  int paragraphDepth_ = 0;
  int excluded_ = 0;
  bool paragraphHasContent_ = false;
  bool pendingSpace_ = false;
};

// The layout of every table of an OpenDocument spreadsheet's bytes. Throws on a broken archive or
// content.xml (the caller reports it as an unreadable file).
std::vector<OdsTableLayout> scanOdsLayout(std::string_view bytes) {
  orcus::zip_archive_stream_blob stream(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        bytes.size());
  orcus::zip_archive archive(&stream);
  archive.load();
  std::vector<unsigned char> entry;
  if (!archive.read_file_entry("content.xml", entry)) return {};
  // The parser of liborcus 0.17 reads one character past the end of truncated XML; zero bytes
  // after the text keep that read inside the buffer, and the parser then reports the text as
  // malformed, so that the library's own reader never sees it.
  std::string content(entry.begin(), entry.end());
  const std::size_t length = content.size();
  content.append(16, '\0');
  OdsLayoutScanner scanner;
  orcus::sax_parser<OdsLayoutScanner> parser(content.data(), length, scanner);
  parser.parse();
  return std::move(scanner.tables);
}

// ---- xlsx cells liborcus leaves out ------------------------------------------------------------

// liborcus 0.17 reads the xlsx cells of types "s" (shared string), "n" and "b" (and formula
// results), and drops the others without a word: inline strings ("inlineStr", text in <is>),
// strings without a formula ("str"), error values ("e", "#N/A") and ISO dates ("d"). This pass
// over a worksheet part takes those cells; cells of the types liborcus reads are left to it.
class XlsxCellScanner : public orcus::sax_handler {
 public:
  std::vector<ScannedCell> cells;

  void attribute(const orcus::sax::parser_attribute& attr) {
    if (!attr.ns.empty()) return;
    if (attr.name == "r") reference_ = attr.value;
    if (attr.name == "t") type_ = attr.value;
  }

  void start_element(const orcus::sax::parser_element& elem) {
    const std::string_view name = elem.name;
    if (name == "row") {
      row_ = reference_.empty() ? row_ + 1 : number(reference_);
      col_ = 0;
    } else if (name == "c") {
      col_ = reference_.empty() ? col_ + 1 : column(reference_);
      inCell_ = true;
      cellType_ = type_;
      value_.clear();
      inlineText_.clear();
    } else if (inCell_ && name == "v") {
      target_ = &value_;
    } else if (inCell_ && name == "is") {
      inInline_ = true;
    } else if (inInline_ && name == "rPh") {
      inPhonetic_ = true;  // phonetic guide text above the characters: not shown in the cell
    } else if (inInline_ && !inPhonetic_ && name == "t") {
      target_ = &inlineText_;
    }
    reference_.clear();
    type_.clear();
  }

  void end_element(const orcus::sax::parser_element& elem) {
    const std::string_view name = elem.name;
    if (name == "v" || name == "t") {
      target_ = nullptr;
    } else if (name == "rPh") {
      inPhonetic_ = false;
    } else if (name == "is") {
      inInline_ = false;
    } else if (name == "c" && inCell_) {
      inCell_ = false;
      commitCell();
    }
  }

  void characters(std::string_view text, bool) {
    if (target_ && target_->size() < kMaxText) target_->append(text);
  }

 private:
  static constexpr std::size_t kMaxText = 1 << 20;

  void commitCell() {
    std::string text;
    if (cellType_ == "inlineStr") {
      text = inlineText_;
    } else if (cellType_ == "str" || cellType_ == "e") {
      text = value_;
    } else if (cellType_ == "d") {
      text = isoDateText(value_).value_or(std::string(value_));
    } else {
      return;
    }
    if (text.empty() || row_ < 1 || row_ > kMaxRows || col_ < 1 || col_ > kMaxCols) return;
    cells.push_back({static_cast<int>(row_), static_cast<int>(col_), 1, 1, toModelText(text)});
  }

  // The row number of "12" or "B12"; 0 when there is none.
  static long long number(std::string_view text) {
    long long n = 0;
    for (char c : text) {
      if (c >= '0' && c <= '9') n = std::min<long long>(n * 10 + (c - '0'), kMaxRows + 1LL);
    }
    return n;
  }
  // The column number of "B12" or "$B$12"; 0 when there is none.
  static long long column(std::string_view text) {
    long long n = 0;
    for (char c : text) {
      const int upper = std::toupper(static_cast<unsigned char>(c));
      if (upper >= 'A' && upper <= 'Z')
        n = std::min<long long>(n * 26 + (upper - 'A' + 1), kMaxCols + 1LL);
    }
    return n;
  }

  std::string reference_;
  std::string type_;
  long long row_ = 0;
  long long col_ = 0;
  bool inCell_ = false;
  bool inInline_ = false;
  bool inPhonetic_ = false;
  std::string cellType_;
  std::string value_;
  std::string inlineText_;
  std::string* target_ = nullptr;
};

// The bytes of a zip entry; nullopt when the archive has no such entry.
std::optional<std::string> readEntry(orcus::zip_archive& archive, const std::string& name) {
  std::vector<unsigned char> entry;
  if (!archive.read_file_entry(name, entry)) return std::nullopt;
  return std::string(entry.begin(), entry.end());
}

// Parses `content` into `handler`; zero bytes after the text keep the parser inside the buffer
// (see scanOdsLayout). Throws on malformed XML.
template <typename Handler>
void parseXml(std::string content, Handler& handler) {
  const std::size_t length = content.size();
  content.append(16, '\0');
  orcus::sax_parser<Handler> parser(content.data(), length, handler);
  parser.parse();
}

// Collects the targets of a relationship part by relationship id, and the first target of a
// relationship type ending in `wantedType`.
class RelationshipScanner : public orcus::sax_handler {
 public:
  std::unordered_map<std::string, std::string> targets;
  std::string typedTarget;
  std::string_view wantedType;

  void attribute(const orcus::sax::parser_attribute& attr) {
    if (attr.name == "Id") id_ = attr.value;
    if (attr.name == "Target") target_ = attr.value;
    if (attr.name == "Type") type_ = attr.value;
  }
  void start_element(const orcus::sax::parser_element& elem) {
    if (elem.name == "Relationship") {
      targets.emplace(id_, target_);
      if (typedTarget.empty() && !wantedType.empty() && type_.ends_with(wantedType)) {
        typedTarget = target_;
      }
    }
    id_.clear();
    target_.clear();
    type_.clear();
  }

 private:
  std::string id_, target_, type_;
};

// The relationship ids of a workbook part's sheets, in sheet order.
class WorkbookSheetScanner : public orcus::sax_handler {
 public:
  std::vector<std::string> ids;

  void attribute(const orcus::sax::parser_attribute& attr) {
    if (attr.name == "id" && !attr.ns.empty()) id_ = attr.value;
  }
  void start_element(const orcus::sax::parser_element& elem) {
    if (elem.name == "sheet") ids.push_back(id_);
    id_.clear();
  }

 private:
  std::string id_;
};

// False when a worksheet part's text cannot hold a cell of the types XlsxCellScanner takes: it
// holds neither "inlineStr" nor a quoted str, e or d (in either quotes). The quotes are looked at
// in one pass, since a worksheet holds two for every attribute.
bool mayHoldSkippedCells(std::string_view xml) {
  if (memmem(xml.data(), xml.size(), "inlineStr", 9) != nullptr) return true;
  for (std::size_t i = 0; i < xml.size(); ++i) {
    const char quote = xml[i];
    if (quote != '"' && quote != '\'') continue;
    // Compared character by character: a comparison call at every quote would cost more than
    // the pass itself.
    const std::string_view rest = xml.substr(i + 1);
    if (rest.size() >= 2 && (rest[0] == 'e' || rest[0] == 'd') && rest[1] == quote) return true;
    if (rest.size() >= 4 && rest[0] == 's' && rest[1] == 't' && rest[2] == 'r' && rest[3] == quote)
      return true;
  }
  return false;
}

// The zip entry name of relationship target `target` of a part in folder `folder` ("xl/").
std::string resolvePart(std::string_view folder, std::string_view target) {
  if (!target.empty() && target.front() == '/') return std::string(target.substr(1));
  std::string path(folder);
  while (target.starts_with("../")) {
    target.remove_prefix(3);
    const std::size_t slash = path.find_last_of('/', path.empty() ? 0 : path.size() - 2);
    path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  }
  if (target.starts_with("./")) target.remove_prefix(2);
  return path + std::string(target);
}

// The cells of each sheet of an xlsx package's bytes that liborcus leaves out (see
// XlsxCellScanner), in sheet order. Throws on a broken archive or XML (the caller reports it as
// an unreadable file); a package whose parts cannot be found gives no cells.
std::vector<std::vector<ScannedCell>> scanXlsxCells(std::string_view bytes) {
  orcus::zip_archive_stream_blob stream(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        bytes.size());
  orcus::zip_archive archive(&stream);
  archive.load();
  const auto rootRels = readEntry(archive, "_rels/.rels");
  if (!rootRels) return {};
  RelationshipScanner root;
  root.wantedType = "/officeDocument";
  parseXml(*rootRels, root);
  const std::string workbookPart = resolvePart("", root.typedTarget);
  const std::size_t slash = workbookPart.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : workbookPart.substr(0, slash + 1);
  const std::string fileName =
      slash == std::string::npos ? workbookPart : workbookPart.substr(slash + 1);
  const auto workbookXml = readEntry(archive, workbookPart);
  const auto workbookRels = readEntry(archive, folder + "_rels/" + fileName + ".rels");
  if (!workbookXml || !workbookRels) return {};
  WorkbookSheetScanner sheets;
  parseXml(*workbookXml, sheets);
  RelationshipScanner rels;
  parseXml(*workbookRels, rels);
  std::vector<std::vector<ScannedCell>> result;
  for (const std::string& id : sheets.ids) {
    result.emplace_back();
    const auto target = rels.targets.find(id);
    if (target == rels.targets.end()) continue;
    const auto sheetXml = readEntry(archive, resolvePart(folder, target->second));
    // Most sheets hold only the types liborcus reads; their second pass is spared.
    if (!sheetXml || !mayHoldSkippedCells(*sheetXml)) continue;
    XlsxCellScanner scanner;
    parseXml(*sheetXml, scanner);
    result.back() = std::move(scanner.cells);
  }
  return result;
}

// ---- sheets -----------------------------------------------------------------------------------

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
    if (place(row, col, r, c)) sheet_.setText(r, c, text);
  }

  // Puts number `value` into the cell, as general-format text until finish() applies the number
  // format of the cell's format record (which the filter gives after the value).
  void putNumber(oss::row_t row, oss::col_t col, double value) {
    int r, c;
    if (!place(row, col, r, c)) return;
    sheet_.setText(r, c, generalNumberText(value));
    // OpenDocument cells show the text the file carries (see OdsTableLayout).
    if (!odsLayout_) numbers_.push_back({r, c, value});
  }

  // Cells that a pass of our own found (see XlsxCellScanner); they replace what the filter put.
  void setScannedCells(std::vector<ScannedCell> cells) { scanned_ = std::move(cells); }

  // Applies what could only be settled once the whole file was read: merged ranges of an
  // OpenDocument file, range formats (clipped to the sheet's extent), number formats (`styles`,
  // dates counted by `dates`), the cell texts of our own passes, hidden columns and rows, and the
  // renumbering of formats (`xfMap`: cell format record -> index in the workbook's format table).
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
    putScanned(scanned_);
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
    if (place(row, col, r, c)) sheet_.setText(r, c, strings_.at(sindex));
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
    if (!place(srcRow, srcCol, r, c)) return;
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

  Worksheet& sheet_;
  const SharedStrings& strings_;
  const OdsTableLayout* odsLayout_ = nullptr;
  FormulaSink formula_;
  ArrayFormulaSink arrayFormula_;
  std::vector<RangeFormat> rangeFormats_;
  std::vector<Number> numbers_;
  std::vector<ScannedCell> scanned_;
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
  // Adds the cells of an xlsx file that liborcus leaves out, per sheet (see XlsxCellScanner).
  void setXlsxCells(std::vector<std::vector<ScannedCell>> cells) { xlsxCells_ = std::move(cells); }

  Workbook finish() {
    std::vector<FormatId> xfMap(std::max<std::size_t>(styles_.cellXfCount(), 1), 0);
    FormatTable& table = workbook_.formats();
    table.setDefault(styles_.resolve(0));
    for (std::size_t xf = 1; xf < styles_.cellXfCount(); ++xf) {
      xfMap[xf] = table.intern(styles_.resolve(xf));
    }
    for (auto& sink : sheets_) sink->finish(xfMap, styles_, settings_.dateSystem());
    return std::move(workbook_);
  }

  iface::import_global_settings* get_global_settings() override { return &settings_; }
  iface::import_shared_strings* get_shared_strings() override { return &strings_; }
  iface::import_styles* get_styles() override { return &styles_; }
  iface::import_reference_resolver* get_reference_resolver(oss::formula_ref_context_t) override {
    return &resolver_;
  }

  // Sheets are appended in file order; the filter's index is that order.
  iface::import_sheet* append_sheet(oss::sheet_t, std::string_view name) override {
    const std::size_t index = sheets_.size();
    Worksheet& sheet = workbook_.addSheet(toModelText(name));
    sheets_.push_back(std::make_unique<SheetSink>(sheet, strings_));
    if (index < odsLayout_.size()) sheets_.back()->setOdsLayout(&odsLayout_[index]);
    if (index < xlsxCells_.size()) sheets_.back()->setScannedCells(std::move(xlsxCells_[index]));
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

 private:
  Workbook workbook_;
  GlobalSettings settings_;
  SharedStrings strings_;
  Styles styles_;
  A1Resolver resolver_;
  std::vector<OdsTableLayout> odsLayout_;
  std::vector<std::vector<ScannedCell>> xlsxCells_;
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

}  // namespace

namespace {

// The format liborcus detects in bytes that orcusHazard() has passed.
FileFormat detectCheckedBytes(std::string_view bytes) noexcept {
  try {
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

// readWorkbookBytes once the bytes are known to be safe for liborcus (or are read as CSV).
Workbook readCheckedBytes(std::string_view bytes, FileFormat format, std::string_view name) {
  const std::string prefix = "The workbook file " + std::string(name);
  if (bytes.empty()) throw FormatError(prefix + " is empty");
  WorkbookBuilder builder;
  auto filter = makeFilter(format, &builder);
  if (!filter) throw FormatError(prefix + " is not in a known workbook format");
  try {
    if (format == FileFormat::ods) builder.setOdsLayout(scanOdsLayout(bytes));
    if (format == FileFormat::xlsx) builder.setXlsxCells(scanXlsxCells(bytes));
    filter->read_stream(bytes);
  } catch (const std::bad_alloc&) {
    throw FormatError(prefix + " is too large to read");
  } catch (const std::exception& e) {
    throw FormatError(prefix + " cannot be read (corrupt or truncated): " + e.what());
  } catch (...) {
    throw FormatError(prefix + " cannot be read (corrupt or truncated)");
  }
  Workbook workbook = builder.finish();
  if (workbook.sheetCount() == 0) throw FormatError(prefix + " contains no sheet");
  return workbook;
}

}  // namespace

// Bytes that would bring liborcus down (see orcus_guard.h) never reach it: they are of no format
// here, and reading them as a workbook of any format but CSV fails with their fault.
FileFormat detectFormat(std::string_view bytes) noexcept {
  try {
    if (!orcusHazard(bytes).empty()) return FileFormat::unknown;
  } catch (...) {
    return FileFormat::unknown;  // out of memory while checking
  }
  return detectCheckedBytes(bytes);
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
  return readCheckedBytes(bytes, format, name);
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
  FileFormat format = hazard.empty() ? detectCheckedBytes(bytes) : FileFormat::unknown;
  if (format == FileFormat::unknown && endsWithCsv(path)) format = FileFormat::csv;
  if (format == FileFormat::unknown && !hazard.empty())
    throw FormatError("The workbook file " + path.string() +
                      " cannot be read (corrupt or truncated): " + hazard);
  return readCheckedBytes(bytes, format, path.string());
}

}  // namespace dupsweep::sheet
