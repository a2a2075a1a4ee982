// Our own pass over an xlsx package: the parts a workbook needs, found through the package's
// relationships, the cells of every sheet with what they show, and the package of only those
// parts that liborcus reads for the layout and the styles.

#include <orcus/sax_parser.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "platform/errors.h"
#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet::reader {

std::string decodeXlsxEscapes(std::string_view text) {
  if (text.find("_x") == std::string_view::npos && text.find('\r') == std::string_view::npos)
    return std::string(text);
  auto hex = [&](std::size_t at, std::uint32_t& unit) {
    if (at + 7 > text.size() || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_')
      return false;
    unit = 0;
    for (std::size_t k = at + 2; k < at + 6; ++k) {
      const char c = text[k];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return false;
      unit = unit * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
  };
  auto appendUtf8 = [](std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t unit = 0;
    if (hex(i, unit)) {
      std::uint32_t low = 0;
      if (unit >= 0xD800 && unit < 0xDC00 && hex(i + 7, low) && low >= 0xDC00 && low < 0xE000) {
        appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 14;
      } else if (unit >= 0xD800 && unit < 0xE000) {
        out += "\xEF\xBF\xBD";  // a lone surrogate
        i += 7;
      } else {
        appendUtf8(out, unit);
        i += 7;
      }
    } else {
      out += text[i++];
    }
  }
  // A line break written as carriage returns and a line feed (an escaped one before the
  // file's own) shows as one line break.
  std::string joined;
  joined.reserve(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r') {
      std::size_t j = i;
      while (j < out.size() && out[j] == '\r') ++j;
      if (j < out.size() && out[j] == '\n') {
        i = j - 1;
        continue;
      }
    }
    joined += out[i];
  }
  return joined;
}

namespace {

// The most text all cells of a workbook hold together.
constexpr std::size_t kMaxCellText = std::size_t{64} << 20;

// Parses `content` into `handler`; zero bytes after the text keep the parser inside the buffer
// (see scanOdsLayout in odslayout.cpp). Throws on malformed XML.
template <typename Handler>
void parseXml(std::string& content, Handler& handler) {
  if (content.empty()) return;
  const std::size_t length = content.size();
  content.append(16, '\0');
  orcus::sax_parser<Handler> parser(content.data(), length, handler);
  try {
    parser.parse();
  } catch (...) {
    content.resize(length);
    throw;
  }
  content.resize(length);
}

// The shared strings part: the text of each <si>, its runs joined, phonetic readings (<rPh>)
// left out, escapes decoded. An empty <si/> is an empty string in its place.
class SharedStringScanner : public orcus::sax_handler {
 public:
  std::vector<std::string> strings;

  void start_element(const orcus::sax::parser_element& elem) {
    if (elem.name == "si") {
      inItem_ = true;
      text_.clear();
    } else if (elem.name == "rPh") {
      ++phonetic_;
    } else if (inItem_ && phonetic_ == 0 && elem.name == "t") {
      inText_ = true;
    }
  }
  void end_element(const orcus::sax::parser_element& elem) {
    if (elem.name == "t") {
      inText_ = false;
    } else if (elem.name == "rPh") {
      if (phonetic_ > 0) --phonetic_;
    } else if (elem.name == "si" && inItem_) {
      inItem_ = false;
      strings.push_back(toModelText(decodeXlsxEscapes(text_)));
    }
  }
  void characters(std::string_view text, bool) {
    if (inText_ && text_.size() < kMaxText) text_.append(text);
  }

 private:
  static constexpr std::size_t kMaxText = 1 << 20;
  bool inItem_ = false;
  bool inText_ = false;
  int phonetic_ = 0;
  std::string text_;
};

// The cells of a worksheet part, each with what the file stores for it: a shared string, an
// inline string, a number, a boolean, an error, an ISO date or a formula's cached result of any
// of these types. A formula without a cached result is left out: it shows nothing until a
// spreadsheet program computes it.
class XlsxCellScanner : public orcus::sax_handler {
 public:
  XlsxCellScanner(const std::vector<std::string>& strings, std::vector<XlsxCell>& cells,
                  std::size_t& textBytes)
      : strings_(strings), cells_(cells), textBytes_(textBytes) {}

  // The rows as liborcus is to read them: each <row> with its number, height, style and
  // visibility, without cells (their formats come from this pass).
  std::string rows;

  void attribute(const orcus::sax::parser_attribute& attr) {
    if (!attr.ns.empty()) return;
    if (attr.name == "r") reference_ = attr.value;
    if (attr.name == "t") type_ = attr.value;
    if (attr.name == "s") style_ = attr.value;
    if (attr.name == "ht" || attr.name == "customHeight" || attr.name == "hidden" ||
        attr.name == "customFormat") {
      rowAttributes_ += ' ';
      rowAttributes_ += attr.name;
      rowAttributes_ += "=\"";
      for (char c : attr.value)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') rowAttributes_ += c;
      rowAttributes_ += '"';
    }
  }

  // The prefix of the sheet's elements ("x:" where the main namespace has one).
  void setPrefix(std::string prefix) { prefix_ = std::move(prefix); }

  void start_element(const orcus::sax::parser_element& elem) {
    const std::string_view name = elem.name;
    if (name == "row") {
      const long long r = number(reference_);
      row_ = r > 0 ? r : row_ + 1;
      col_ = 0;
      if (row_ >= 1 && row_ <= kMaxRows) {
        rows += '<' + prefix_ + "row r=\"" + std::to_string(row_) + '"';
        if (!style_.empty()) rows += " s=\"" + std::to_string(styleNumber()) + '"';
        rows += rowAttributes_;
        rows += "/>";
      }
    } else if (name == "c") {
      const long long c = column(reference_);
      col_ = c > 0 ? c : col_ + 1;
      if (const long long r = number(reference_); r > 0) row_ = r;
      inCell_ = true;
      cellType_ = type_;
      xf_ = styleNumber();
      value_.clear();
      hasValue_ = false;
      inlineText_.clear();
    } else if (inCell_ && name == "v") {
      target_ = &value_;
      hasValue_ = true;
    } else if (inCell_ && name == "is") {
      inInline_ = true;
    } else if (inInline_ && name == "rPh") {
      ++phonetic_;  // phonetic guide text above the characters: not shown in the cell
    } else if (inInline_ && phonetic_ == 0 && name == "t") {
      target_ = &inlineText_;
    }
    reference_.clear();
    type_.clear();
    style_.clear();
    rowAttributes_.clear();
  }

  void end_element(const orcus::sax::parser_element& elem) {
    const std::string_view name = elem.name;
    if (name == "v" || name == "t") {
      target_ = nullptr;
    } else if (name == "rPh") {
      if (phonetic_ > 0) --phonetic_;
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
    if (row_ < 1 || row_ > kMaxRows || col_ < 1 || col_ > kMaxCols) return;
    XlsxCell cell{static_cast<int>(row_), static_cast<int>(col_), xf_, XlsxCell::textValue, 0, {}};
    if (cellType_ == "inlineStr") {
      cell.kind = XlsxCell::stringValue;
      cell.text = decodeXlsxEscapes(inlineText_);
    } else if (!hasValue_) {
      // An empty cell with a format of its own (a bordered box waiting for a value).
      if (xf_ != 0) {
        cell.kind = XlsxCell::styleOnly;
        cells_.push_back(std::move(cell));
      }
      return;
    } else if (cellType_ == "s") {
      std::size_t index = 0;
      const auto result = std::from_chars(value_.data(), value_.data() + value_.size(), index);
      if (result.ec != std::errc() || index >= strings_.size()) return;
      if (strings_[index].empty()) return;
      count(strings_[index].size());
      cell.kind = XlsxCell::stringValue;
      cell.text = strings_[index];
      cells_.push_back(std::move(cell));
      return;
    } else if (cellType_ == "str") {
      cell.kind = XlsxCell::stringValue;
      cell.text = decodeXlsxEscapes(value_);
    } else if (cellType_ == "e") {
      cell.text = value_;
    } else if (cellType_ == "b") {
      if (value_.empty()) return;
      cell.text = booleanText(value_ != "0" && value_ != "false");
    } else if (cellType_ == "d") {
      cell.kind = XlsxCell::isoDate;
      cell.text = value_;
    } else {
      std::string_view v = value_;
      while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front()))) v.remove_prefix(1);
      while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.remove_suffix(1);
      if (v.starts_with('+')) v.remove_prefix(1);
      double number = 0;
      const auto result = std::from_chars(v.data(), v.data() + v.size(), number);
      if (v.empty() || result.ec != std::errc() || result.ptr != v.data() + v.size()) {
        // Not a number after all: what the file holds is shown as it stands.
        cell.text = std::string(v);
      } else {
        cell.kind = XlsxCell::numberValue;
        cell.number = number;
      }
    }
    if (cell.kind != XlsxCell::numberValue && cell.kind != XlsxCell::isoDate && cell.text.empty()) {
      if (xf_ != 0) {
        cell.kind = XlsxCell::styleOnly;
        cells_.push_back(std::move(cell));
      }
      return;
    }
    if (cell.kind != XlsxCell::numberValue) cell.text = toModelText(cell.text);
    count(cell.text.size());
    cells_.push_back(std::move(cell));
  }

  // Counts text of the cells against kMaxCellText: a shared string of a megabyte repeated in
  // every cell of a sheet would otherwise take gigabytes.
  void count(std::size_t bytes) {
    textBytes_ += bytes;
    if (textBytes_ > kMaxCellText) throw FormatError("its cells hold more text than is read");
  }

  std::size_t styleNumber() const {
    std::size_t n = 0;
    std::from_chars(style_.data(), style_.data() + style_.size(), n);
    return n;
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

  const std::vector<std::string>& strings_;
  std::vector<XlsxCell>& cells_;
  std::size_t& textBytes_;
  std::string reference_;
  std::string type_;
  std::string style_;
  std::string rowAttributes_;
  std::string prefix_;
  long long row_ = 0;
  long long col_ = 0;
  bool inCell_ = false;
  bool inInline_ = false;
  int phonetic_ = 0;
  bool hasValue_ = false;
  std::size_t xf_ = 0;
  std::string cellType_;
  std::string value_;
  std::string inlineText_;
  std::string* target_ = nullptr;
};

struct Relationship {
  std::string type;
  std::string target;
  bool external = false;
};

// The relationships of a relationship part by id, in the order given.
class RelationshipScanner : public orcus::sax_handler {
 public:
  std::vector<std::pair<std::string, Relationship>> relationships;

  void attribute(const orcus::sax::parser_attribute& attr) {
    if (attr.name == "Id") id_ = attr.value;
    if (attr.name == "Target") target_ = attr.value;
    if (attr.name == "Type") type_ = attr.value;
    if (attr.name == "TargetMode") external_ = attr.value == "External";
  }
  void start_element(const orcus::sax::parser_element& elem) {
    if (elem.name == "Relationship") relationships.push_back({id_, {type_, target_, external_}});
    id_.clear();
    target_.clear();
    type_.clear();
    external_ = false;
  }

  // The target of the first relationship whose type ends in `suffix` ("/worksheet"; transitional
  // and strict types share their last part).
  const Relationship* ofType(std::string_view suffix) const {
    for (const auto& [id, rel] : relationships)
      if (!rel.external && rel.type.ends_with(suffix)) return &rel;
    return nullptr;
  }
  const Relationship* byId(std::string_view id) const {
    for (const auto& [key, rel] : relationships)
      if (key == id) return &rel;
    return nullptr;
  }

 private:
  std::string id_, target_, type_;
  bool external_ = false;
};

// The sheets of a workbook part (name, relationship id), in sheet order, and its date system.
class WorkbookScanner : public orcus::sax_handler {
 public:
  struct Sheet {
    std::string name;
    std::string id;
  };
  std::vector<Sheet> sheets;
  bool date1904 = false;

  void attribute(const orcus::sax::parser_attribute& attr) {
    if (attr.name == "id" && !attr.ns.empty()) id_ = attr.value;
    if (attr.name == "name" && attr.ns.empty()) name_ = attr.value;
    if (attr.name == "date1904") date1904_ = attr.value == "1" || attr.value == "true";
  }
  void start_element(const orcus::sax::parser_element& elem) {
    if (elem.name == "sheet") sheets.push_back({toModelText(name_), id_});
    // The first one: extensions later on (x14:workbookPr) carry other properties.
    if (elem.name == "workbookPr" && !properties_) {
      date1904 = date1904_;
      properties_ = true;
    }
    id_.clear();
    name_.clear();
    date1904_ = false;
  }

 private:
  std::string id_, name_;
  bool date1904_ = false;
  bool properties_ = false;
};

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

std::string folderOf(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

// The relationship part of `part` ("xl/workbook.xml" -> "xl/_rels/workbook.xml.rels").
std::string relationshipsOf(std::string_view part) {
  const std::string folder = folderOf(part);
  return folder + "_rels/" + std::string(part.substr(folder.size())) + ".rels";
}

// Strict OOXML names its namespaces and relationship types differently from the transitional
// form that liborcus knows; the parts handed to it are given the transitional names.
void toTransitional(std::string& xml) {
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {"http://purl.oclc.org/ooxml/spreadsheetml/main",
       "http://schemas.openxmlformats.org/spreadsheetml/2006/main"},
      {"http://purl.oclc.org/ooxml/officeDocument/relationships",
       "http://schemas.openxmlformats.org/officeDocument/2006/relationships"},
      {"http://purl.oclc.org/ooxml/drawingml/main",
       "http://schemas.openxmlformats.org/drawingml/2006/main"},
  };
  if (memmem(xml.data(), xml.size(), "purl.oclc.org/ooxml", 19) == nullptr) return;
  for (const auto& [strict, transitional] : kNames) {
    std::string out;
    out.reserve(xml.size());
    std::size_t from = 0;
    for (std::size_t at = xml.find(strict); at != std::string::npos;
         at = xml.find(strict, from)) {
      out.append(xml, from, at - from);
      out += transitional;
      from = at + strict.size();
    }
    out.append(xml, from, std::string::npos);
    xml = std::move(out);
  }
}

// Where the sheetData element of a worksheet part holds its rows: after its start tag, up to its
// end tag; nothing when it is empty or missing.
struct SheetDataTags {
  std::size_t openEnd = 0;     // just after the start tag
  std::size_t closeStart = 0;  // at the end tag's '<'
  std::string prefix;          // "x:" or empty
};
std::optional<SheetDataTags> sheetDataTags(const std::string& xml) {
  const std::size_t name = xml.find("sheetData");
  if (name == std::string::npos) return std::nullopt;
  const std::size_t lt = xml.rfind('<', name);
  const std::size_t gt = xml.find('>', name);
  if (lt == std::string::npos || gt == std::string::npos || xml[gt - 1] == '/')
    return std::nullopt;
  const std::size_t closeName = xml.rfind("sheetData>");
  const std::size_t closeLt = closeName == std::string::npos ? closeName : xml.rfind('<', closeName);
  if (closeLt == std::string::npos || closeLt <= gt) return std::nullopt;
  std::string prefix = xml.substr(lt + 1, name - lt - 1);
  if (!prefix.empty() && prefix.back() != ':') return std::nullopt;
  return SheetDataTags{gt + 1, closeLt, std::move(prefix)};
}

std::string escapedAttribute(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

constexpr std::string_view kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

}  // namespace

std::optional<std::string> xlsxWorkbookPart(const ZipPackage& zip) {
  std::string part;
  if (auto rootRels = zip.xml("_rels/.rels")) {
    RelationshipScanner root;
    parseXml(*rootRels, root);
    if (const Relationship* rel = root.ofType("/officeDocument")) part = resolvePart("", rel->target);
  }
  for (const std::string& candidate : {part, std::string("xl/workbook.xml"),
                                       std::string("workbook.xml")}) {
    if (candidate.empty()) continue;
    if (auto name = zip.entryName(candidate)) return name;
  }
  return std::nullopt;
}

XlsxWorkbook readXlsxPackage(const ZipPackage& zip) {
  XlsxWorkbook book;
  const auto workbookPart = xlsxWorkbookPart(zip);
  if (!workbookPart) return book;
  const std::string folder = folderOf(*workbookPart);
  auto workbookXml = zip.xml(*workbookPart);
  if (!workbookXml) return book;
  WorkbookScanner workbook;
  parseXml(*workbookXml, workbook);
  book.dates = workbook.date1904 ? DateSystem::from1904 : DateSystem::from1900;

  RelationshipScanner rels;
  if (auto relsXml = zip.xml(relationshipsOf(*workbookPart))) parseXml(*relsXml, rels);
  auto partOf = [&](const Relationship* rel, std::string_view fallback) -> std::optional<std::string> {
    if (rel) {
      if (auto name = zip.entryName(resolvePart(folder, rel->target))) return name;
    }
    if (!fallback.empty()) return zip.entryName(folder + std::string(fallback));
    return std::nullopt;
  };

  std::vector<std::string> strings;
  if (const auto part = partOf(rels.ofType("/sharedStrings"), "sharedStrings.xml")) {
    SharedStringScanner scanner;
    std::string xml = zip.xml(*part).value_or(std::string());
    parseXml(xml, scanner);
    strings = std::move(scanner.strings);
  }

  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<std::pair<std::string, std::string>> emptySheets;
  const std::string kEmptySheet =
      "<worksheet xmlns=\"" + std::string(kMainNamespace) + "\"><sheetData/></worksheet>";
  std::size_t textBytes = 0;
  std::string workbookOut = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<workbook xmlns=\"" +
                            std::string(kMainNamespace) + "\" xmlns:r=\"" +
                            std::string(kRelNamespace) + "\"><sheets>";
  std::string relsOut =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  std::string types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Types "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" "
      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
  constexpr std::string_view kWorksheetType =
      "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
  for (std::size_t i = 0; i < workbook.sheets.size(); ++i) {
    const auto& sheet = workbook.sheets[i];
    book.sheetNames.push_back(sheet.name);
    book.cells.emplace_back();
    std::string xml;
    if (const auto part = partOf(rels.byId(sheet.id), {})) {
      if (auto content = zip.xml(*part)) {
        // A cell takes some 30 bytes or more of XML; room for them saves growing the list.
        book.cells.back().reserve(content->size() / 32);
        XlsxCellScanner scanner(strings, book.cells.back(), textBytes);
        const auto data = sheetDataTags(*content);
        if (data) scanner.setPrefix(data->prefix);
        parseXml(*content, scanner);
        if (data) {
          // liborcus reads the sheet with its rows but without cells.
          xml = content->substr(0, data->openEnd) + scanner.rows + content->substr(data->closeStart);
        } else {
          xml = std::move(*content);
        }
      }
    }
    // A chart sheet, or a sheet whose part is missing: an empty sheet in its place.
    if (memmem(xml.data(), xml.size(), "sheetData", 9) == nullptr) xml = kEmptySheet;
    toTransitional(xml);
    const std::string n = std::to_string(i + 1);
    emptySheets.emplace_back("xl/worksheets/sheet" + n + ".xml", kEmptySheet);
    workbookOut += "<sheet name=\"" + escapedAttribute(sheet.name) + "\" sheetId=\"" + n +
                   "\" r:id=\"rId" + n + "\"/>";
    relsOut += "<Relationship Id=\"rId" + n + "\" Type=\"" + std::string(kWorksheetType) +
               "\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    types += "<Override PartName=\"/xl/worksheets/sheet" + n +
             ".xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    entries.emplace_back("xl/worksheets/sheet" + n + ".xml", std::move(xml));
  }
  workbookOut += "</sheets></workbook>";
  if (const auto part = partOf(rels.ofType("/styles"), "styles.xml")) {
    std::string styles = zip.xml(*part).value_or(std::string());
    toTransitional(styles);
    relsOut +=
        "<Relationship Id=\"rIdStyles\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
        "Target=\"styles.xml\"/>";
    types +=
        "<Override PartName=\"/xl/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    entries.emplace_back("xl/styles.xml", std::move(styles));
  }
  relsOut += "</Relationships>";
  types += "</Types>";
  entries.emplace_back("[Content_Types].xml", std::move(types));
  entries.emplace_back(
      "_rels/.rels",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
      "Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  entries.emplace_back("xl/workbook.xml", std::move(workbookOut));
  entries.emplace_back("xl/_rels/workbook.xml.rels", std::move(relsOut));
  book.package = storedZip(entries);
  std::erase_if(entries,
                [](const auto& entry) { return entry.first.starts_with("xl/worksheets/"); });
  entries.insert(entries.end(), emptySheets.begin(), emptySheets.end());
  book.stylesPackage = storedZip(entries);
  return book;
}

}  // namespace dupsweep::sheet::reader
