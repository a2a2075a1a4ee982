// Our own pass over the worksheet parts of an xlsx package for the cells liborcus drops.

#include <orcus/sax_parser.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet::reader {
namespace {

// liborcus 0.17 silently drops xlsx cells other than "s", "n", "b" and formula results: inline
// strings ("inlineStr"), strings without a formula ("str"), errors ("e") and ISO dates ("d").
// This pass over a worksheet part takes those cells only.
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
// (see scanOdsLayout in odslayout.cpp). Throws on malformed XML.
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

}  // namespace

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

}  // namespace dupsweep::sheet::reader
