// Our own pass over an OpenDocument spreadsheet's content.xml: merged ranges, covered cells and
// the text each cell shows (see OdsTableLayout).

#include <orcus/sax_parser.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "platform/spreadsheet/celltext.h"
#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet::reader {

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

namespace {

long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

std::optional<double> isoDateSerial(std::string_view value, DateSystem system) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double second = 0;
  const std::string text(value);
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%lf", &year, &month, &day, &hour, &minute,
                  &second) < 3 ||
      month < 1 || month > 12 || day < 1 || day > 31)
    return std::nullopt;
  const long long days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  double serial = 0;
  if (system == DateSystem::from1904) {
    serial = static_cast<double>(days - daysFromCivil(1904, 1, 1));
  } else {
    serial = static_cast<double>(days - daysFromCivil(1899, 12, 30));
    // Serial numbers count the leap day 1900 never had: days before it are one lower.
    if (days < daysFromCivil(1900, 3, 1) && days >= daysFromCivil(1900, 1, 1)) serial -= 1;
  }
  return serial + (hour * 3600 + minute * 60 + second) / 86400.0;
}

namespace {

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

// The number a shown text stands for, read with `decimal` as the decimal separator and the
// other of '.' and ',' as a thousands separator; currency signs, spaces and the like are passed
// over. Nothing when the text holds no digits or no plain number.
std::optional<double> shownNumber(std::string_view text, char decimal) {
  std::string plain;
  bool digits = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      plain += c;
      digits = true;
    } else if (c == decimal) {
      plain += '.';
    } else if (c == '-' || c == '+') {
      plain += c;
    } else if ((c == 'E' || c == 'e') && digits) {
      plain += 'e';
    }
  }
  if (!digits) return std::nullopt;
  double number = 0;
  std::string_view v = plain;
  if (v.starts_with('+')) v.remove_prefix(1);
  const auto result = std::from_chars(v.data(), v.data() + v.size(), number);
  if (result.ec != std::errc() || result.ptr != v.data() + v.size()) return std::nullopt;
  return number;
}

// A number cell's shown text written with a decimal comma (and points or spaces between
// thousands), as programs in many locales write it, in the form the reader shows numbers: a
// decimal point and commas between thousands. The text stays as it is where it reads as the
// cell's value already, or does not read as it with the separators exchanged.
std::string withPointSeparators(std::string text, std::string_view type, std::string_view value) {
  if (text.find_first_of(",.") == std::string::npos) return text;
  double number = 0;
  const auto parsed = std::from_chars(value.data(), value.data() + value.size(), number);
  if (parsed.ec != std::errc()) return text;
  const bool percent = type == "percentage" || text.find('%') != std::string::npos;
  const double shownValue = percent ? number * 100 : number;
  auto matches = [&](char decimal) {
    const auto shown = shownNumber(text, decimal);
    if (!shown) return false;
    // As many decimals as the text shows: the value rounded to them.
    const std::size_t at = text.find(decimal);
    int decimals = 0;
    for (std::size_t i = at == std::string::npos ? text.size() : at + 1;
         i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
      ++decimals;
    const bool scientific = text.find_first_of("Ee") != std::string::npos;
    const double tolerance = scientific ? std::fabs(shownValue) * 1e-2
                                        : 0.5 * std::pow(10.0, -decimals) * 1.000001;
    return std::fabs(std::fabs(*shown) - std::fabs(shownValue)) <= tolerance + 1e-12;
  };
  if (matches('.') || !matches(',')) return text;
  for (char& c : text) {
    if (c == ',')
      c = '.';
    else if (c == '.')
      c = ',';
  }
  return text;
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
    if (!text_.empty() && (cellType_ == "float" || cellType_ == "currency" ||
                           cellType_ == "percentage")) {
      text = withPointSeparators(std::move(text), cellType_, cellValue_);
    }
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

}  // namespace

std::vector<OdsTableLayout> scanOdsLayout(std::string content) {
  // The parser of liborcus 0.17 reads one character past the end of truncated XML; zero bytes
  // after the text keep that read inside the buffer, and the parser then reports the text as
  // malformed, so that the library's own reader never sees it.
  const std::size_t length = content.size();
  content.append(16, '\0');
  OdsLayoutScanner scanner;
  orcus::sax_parser<OdsLayoutScanner> parser(content.data(), length, scanner);
  parser.parse();
  return std::move(scanner.tables);
}

}  // namespace dupsweep::sheet::reader
