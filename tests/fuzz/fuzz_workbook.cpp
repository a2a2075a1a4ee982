// Fuzz target: the workbook reader (through liborcus) and the spreadsheet control over its result.
//
// The first byte chooses how the rest of the input becomes a workbook file:
//   0  the file's bytes as they stand: the format detected, else read as CSV (a ".csv" file), as
//      the control reads a file; the file is also read through the control itself;
//   1  xlsx: the parts xl/worksheets/sheet1.xml, xl/sharedStrings.xml, xl/styles.xml,
//      xl/workbook.xml and xl/worksheets/sheet2.xml, separated by NUL bytes, packed with the
//      package's fixed parts into a zip archive (stored, so the XML stays where mutations reach);
//   2  OpenDocument: content.xml and styles.xml, NUL-separated, packed the same way;
//   3  Excel 2003 XML;  4  Gnumeric XML (gzip-wrapped here);  5  CSV.
// Parts left empty get a minimal default.
//
// Properties besides "no crash": reading fails only with FormatError; a workbook read has a
// sheet, well-formed UTF-8 in every name and cell, every cell, merge and extent inside the sheet,
// and every format index inside the format table; reading the same bytes through the control
// gives the same workbook.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "support/stored_archives.h"
#include "platform/errors.h"
#include "platform/spreadsheet/f1book.h"
#include "platform/spreadsheet/reader.h"
#include "platform/spreadsheet/workbook.h"
#include "platform/text/text.h"

namespace dupsweep::fuzz {
namespace {

constexpr std::string_view kTarget = "workbook";
constexpr std::size_t kMaxCellsVisited = 200000;

// ---- building the container formats ----

using testing::gzipStored;
using testing::storedZip;

std::vector<std::string_view> splitParts(std::string_view rest, std::size_t count) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < count) {
    const std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) break;
    parts.push_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  parts.push_back(rest);
  parts.resize(count);
  return parts;
}

constexpr std::string_view kXmlHead = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
constexpr std::string_view kSheetMain =
    R"(http://schemas.openxmlformats.org/spreadsheetml/2006/main)";
constexpr std::string_view kRelNs =
    R"(http://schemas.openxmlformats.org/officeDocument/2006/relationships)";

std::string xlsxPackage(std::string_view rest) {
  const auto parts = splitParts(rest, 5);
  const bool twoSheets = !parts[4].empty();
  std::string sheet1(parts[0]);
  if (sheet1.empty())
    sheet1 = std::string(kXmlHead) + "<worksheet xmlns=\"" + std::string(kSheetMain) +
             "\"><sheetData/></worksheet>";
  std::string workbook(parts[3]);
  if (workbook.empty()) {
    workbook = std::string(kXmlHead) + "<workbook xmlns=\"" + std::string(kSheetMain) +
               "\" xmlns:r=\"" + std::string(kRelNs) +
               "\"><sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>" +
               (twoSheets ? "<sheet name=\"Sheet2\" sheetId=\"2\" r:id=\"rId2\"/>" : "") +
               "</sheets></workbook>";
  }
  const std::string types =
      std::string(kXmlHead) +
      R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
      R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
      R"(<Default Extension="xml" ContentType="application/xml"/>)"
      R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
      R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
      R"(<Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
      R"(<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>)"
      R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
      R"(</Types>)";
  const std::string rootRels =
      std::string(kXmlHead) +
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
      R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
      R"(</Relationships>)";
  std::string workbookRels =
      std::string(kXmlHead) +
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
      R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)";
  if (twoSheets)
    workbookRels +=
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/>)";
  if (!parts[1].empty())
    workbookRels +=
        R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)";
  if (!parts[2].empty())
    workbookRels +=
        R"(<Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)";
  workbookRels += "</Relationships>";

  std::vector<std::pair<std::string, std::string>> entries = {
      {"[Content_Types].xml", types},
      {"_rels/.rels", rootRels},
      {"xl/workbook.xml", workbook},
      {"xl/_rels/workbook.xml.rels", workbookRels},
      {"xl/worksheets/sheet1.xml", sheet1}};
  if (twoSheets) entries.emplace_back("xl/worksheets/sheet2.xml", std::string(parts[4]));
  if (!parts[1].empty()) entries.emplace_back("xl/sharedStrings.xml", std::string(parts[1]));
  if (!parts[2].empty()) entries.emplace_back("xl/styles.xml", std::string(parts[2]));
  return storedZip(entries);
}

std::string odsPackage(std::string_view rest) {
  const auto parts = splitParts(rest, 2);
  const std::string manifest =
      std::string(kXmlHead) +
      R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">)"
      R"(<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>)"
      R"(<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>)"
      R"(<manifest:file-entry manifest:full-path="styles.xml" manifest:media-type="text/xml"/>)"
      R"(</manifest:manifest>)";
  std::vector<std::pair<std::string, std::string>> entries = {
      {"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
      {"content.xml", std::string(parts[0])},
      {"META-INF/manifest.xml", manifest}};
  if (!parts[1].empty()) entries.emplace_back("styles.xml", std::string(parts[1]));
  return storedZip(entries);
}

// ---- checking what was read ----

void checkWorkbook(const sheet::Workbook& book) {
  check(book.sheetCount() >= 1, kTarget, "a workbook read has no sheet");
  const std::size_t formats = book.formats().size();
  std::size_t visited = 0;
  for (int s = 1; s <= book.sheetCount(); ++s) {
    const sheet::Worksheet& ws = book.sheet(s);
    check(text::isValidUtf8(ws.name()), kTarget, "a sheet name is not UTF-8");
    const int lastRow = ws.lastRow();
    const int lastCol = ws.lastCol();
    check(lastRow >= 0 && lastRow <= sheet::kMaxRows && lastCol >= 0 && lastCol <= sheet::kMaxCols,
          kTarget, "the used range lies outside the sheet");
    check(ws.extentRows() >= lastRow && ws.extentCols() >= lastCol, kTarget,
          "the extent is smaller than the used range");
    check(ws.extentRows() <= sheet::kMaxRows && ws.extentCols() <= sheet::kMaxCols, kTarget,
          "the extent lies outside the sheet");
    check(ws.storedRows() <= sheet::kMaxRows, kTarget, "rows stored outside the sheet");
    for (const sheet::CellRange& m : ws.merges()) {
      check(m.firstRow >= 1 && m.firstCol >= 1 && m.firstRow <= m.lastRow &&
                m.firstCol <= m.lastCol && m.lastRow <= sheet::kMaxRows &&
                m.lastCol <= sheet::kMaxCols,
            kTarget, "a merged range lies outside the sheet or is reversed");
    }
    int textRow = 0;
    int textCol = 0;
    for (int r = 1; r <= ws.storedRows() && visited < kMaxCellsVisited; ++r) {
      const auto cells = ws.row(r);
      check(cells.size() <= static_cast<std::size_t>(sheet::kMaxCols), kTarget,
            "cells stored outside the sheet");
      for (std::size_t c = 0; c < cells.size() && visited < kMaxCellsVisited; ++c, ++visited) {
        check(cells[c].format < formats, kTarget, "a cell's format is outside the format table");
        if (cells[c].text.empty()) continue;
        check(text::isValidUtf8(cells[c].text), kTarget, "a cell's text is not UTF-8");
        textRow = r;
        textCol = std::max(textCol, static_cast<int>(c) + 1);
      }
    }
    if (visited < kMaxCellsVisited)
      check(textRow == lastRow && textCol == lastCol, kTarget,
            "the used range is not where the text is");
  }
}

bool sameWorkbook(const sheet::Workbook& a, const sheet::Workbook& b) {
  if (a.sheetCount() != b.sheetCount()) return false;
  for (int s = 1; s <= a.sheetCount(); ++s) {
    const sheet::Worksheet& x = a.sheet(s);
    const sheet::Worksheet& y = b.sheet(s);
    if (x.name() != y.name() || x.lastRow() != y.lastRow() || x.lastCol() != y.lastCol() ||
        x.merges() != y.merges())
      return false;
    for (int r = 1; r <= std::min(x.lastRow(), 200); ++r)
      for (int c = 1; c <= std::min(x.lastCol(), 50); ++c)
        if (x.text(r, c) != y.text(r, c)) return false;
  }
  return true;
}

// The control over a file of `bytes`: it reads what the reader reads and works on every sheet.
void throughControl(std::string_view bytes, const sheet::Workbook* expected) {
  const auto file = scratchDirectory() / "book.csv";
  writeFile(file, bytes);
  sheet::F1Book book;
  try {
    book.read(file);
  } catch (const FormatError&) {
    check(expected == nullptr, kTarget, "the control refused a workbook the reader read");
    return;
  }
  check(expected != nullptr, kTarget, "the control read a workbook the reader refused");
  check(sameWorkbook(book.workbook(), *expected), kTarget,
        "the control read a different workbook than the reader");
  for (int s = 1; s <= book.NumSheets(); ++s) {
    book.setSheet(s);
    const int row = std::max(book.LastRow(), 1);
    const int col = std::max(book.LastCol(), 1);
    book.setRow(row);
    book.setCol(col);
    const std::string before = book.text(row, col);
    check(text::utf8ToUtf16(before) == book.textUtf16(row, col), kTarget,
          "a cell's UTF-16 text differs from its UTF-8 text");
    sheet::CellFormat format = book.getCellFormat();
    format.font.bold = !format.font.bold;
    book.setCellFormat(format);
    book.EntryRC(row, col, before + "x");
    check(book.text(row, col) == before + "x", kTarget, "a cell entered does not read back");
  }
}

}  // namespace

void fuzzWorkbook(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  const int mode = input.byte() % 6;
  const std::string_view rest = input.rest();
  std::string bytes;
  sheet::FileFormat format = sheet::FileFormat::unknown;
  switch (mode) {
    case 0:
      bytes = std::string(rest);
      format = sheet::detectFormat(bytes);
      if (format == sheet::FileFormat::unknown) format = sheet::FileFormat::csv;
      break;
    case 1:
      bytes = xlsxPackage(rest);
      format = sheet::FileFormat::xlsx;
      break;
    case 2:
      bytes = odsPackage(rest);
      format = sheet::FileFormat::ods;
      break;
    case 3:
      bytes = std::string(rest);
      format = sheet::FileFormat::xlsXml;
      break;
    case 4:
      bytes = gzipStored(rest);
      format = sheet::FileFormat::gnumeric;
      break;
    default:
      bytes = std::string(rest);
      format = sheet::FileFormat::csv;
      break;
  }

  std::optional<sheet::Workbook> book;
  try {
    book.emplace(sheet::readWorkbookBytes(bytes, format, "fuzz input"));
  } catch (const FormatError&) {
    // Not a readable workbook: the expected failure.
  }
  if (book) checkWorkbook(*book);
  if (mode == 0) throughControl(bytes, book ? &*book : nullptr);
}

}  // namespace dupsweep::fuzz

#ifdef DUPSWEEP_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dupsweep::fuzz::fuzzWorkbook(data, size);
  return 0;
}
#endif
