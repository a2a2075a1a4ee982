// Every cell type keeps the text it shows: workbooks written by LibreOffice (xlsx and ods from one
// flat-ODS source) and a hand-made xlsx of inline strings and the other cell types liborcus skips,
// all under fixtures/ (see fixtures/README.md), read through dupsweep-workbook's listing; xlsx
// workbooks encrypted by another tool; and number format codes rendered one by one.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/spreadsheet/celltext.h"
#include "platform/spreadsheet/reader.h"
#include "sheet_files.h"

namespace dupsweep::sheet {
namespace {

using testing::cellTexts;

const std::filesystem::path kFixtures =
    std::filesystem::path(DUPSWEEP_SOURCE_DIR) / "tests" / "spreadsheet" / "fixtures";

// What LibreOffice itself shows for cell-types.fods, cell by cell.
const std::vector<std::string> kCellTypes = {"R1C1=percentage",   "R1C2=12.5%",
                                             "R2C1=currency USD", "R2C2=$1,234.50",
                                             "R3C1=currency CNY", "R3C2=¥88.00",
                                             "R4C1=time",         "R4C2=08:30:15",
                                             "R5C1=boolean",      "R5C2=TRUE",
                                             "R5C3=FALSE",        "R6C1=date",
                                             "R6C2=2024-01-31",   "R6C3=07/04/2024",
                                             "R7C1=number",       "R7C2=1,234.50",
                                             "R7C3=0.1",          "R8C1=spaces",
                                             "R8C2=a   b",        "R8C3=x  y",
                                             "R9C1=paragraphs",   "R9C2=第一行\nsecond line"};

TEST(CellTypes, LibreOfficeOdsAndXlsxShowWhatLibreOfficeShows) {
  for (const char* name : {"cell-types.ods", "cell-types.xlsx"}) {
    SCOPED_TRACE(name);
    const Workbook book = readWorkbook(kFixtures / name);
    ASSERT_EQ(book.sheetCount(), 1);
    EXPECT_EQ(book.sheet(1).name(), "类型");
    EXPECT_EQ(cellTexts(book.sheet(1)), kCellTypes);
  }
}

TEST(CellTypes, XlsxInlineStringsErrorsDatesAndBuiltinFormats) {
  const Workbook book = readWorkbook(kFixtures / "inline-strings.xlsx");
  ASSERT_EQ(book.sheetCount(), 2);
  // Rich runs joined, phonetic text left out, spaces and line feeds kept; cells without an
  // address follow the one before.
  EXPECT_EQ(cellTexts(book.sheet(1)),
            (std::vector<std::string>{"R1C1=行内文字", "R1C2=a   b", "R2C1=粗体 and plain",
                                      "R2C2=line one\nline two", "R3C1=text without formula",
                                      "R3C2=#N/A", "R3C3=2024-01-31 08:30:00", "R4C1=12.50%",
                                      "R4C2=1/31/2024", "R4C3=-1,234.50", "R4C4=TRUE"}));
  // Sheets follow the workbook's order, not the order of their parts.
  EXPECT_EQ(book.sheet(2).name(), "Second");
  EXPECT_EQ(cellTexts(book.sheet(2)), (std::vector<std::string>{"R2C2=second sheet"}));
}

std::string formatErrorOf(const std::string& bytes) {
  try {
    readWorkbookBytes(bytes, detectFormat(bytes), "book.xlsx");
  } catch (const FormatError& e) {
    return e.what();
  }
  return "(read)";
}

TEST(CellTypes, XlsxEncryptedWithTheDefaultPasswordIsRead) {
  // One LibreOffice package under agile (AES-256, SHA-512) and standard (AES-128, SHA-1)
  // encryption with the password spreadsheet programs open without asking.
  for (const char* name : {"encrypted-agile.xlsx", "encrypted-standard.xlsx"}) {
    SCOPED_TRACE(name);
    const Workbook book = readWorkbook(kFixtures / name);
    ASSERT_EQ(book.sheetCount(), 1);
    EXPECT_EQ(book.sheet(1).name(), "加密");
    EXPECT_EQ(cellTexts(book.sheet(1)), (std::vector<std::string>{"R1C1=默认密码", "R2C2=3.5",
                                                                  "R3C1=read-only recommended"}));
  }
  // Another password; a byte changed inside the encrypted package; the file cut short.
  EXPECT_EQ(formatErrorOf(testing::readBytes(kFixtures / "encrypted-other-password.xlsx")),
            "The workbook file book.xlsx is an encrypted (password-protected) workbook, which "
            "cannot be read");
  std::string damaged = testing::readBytes(kFixtures / "encrypted-agile.xlsx");
  damaged[damaged.size() / 3] ^= 0x55;
  EXPECT_NE(formatErrorOf(damaged).find("encrypted package fails its integrity check"),
            std::string::npos);
  damaged.resize(damaged.size() / 2);
  EXPECT_NE(
      formatErrorOf(damaged).find("cannot be read (corrupt or truncated): it is an encrypted"),
      std::string::npos);
}

TEST(CellTypes, OdsRepeatedCellsAnnotationsAndCellsWithoutParagraphs) {
  testing::TempDir dir;
  testing::writeStoredZip(dir / "repeat.ods",
                          {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                           {"content.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><office:body><office:spreadsheet>
<table:table table:name="T">
<table:table-row table:number-rows-repeated="2">
 <table:table-cell table:number-columns-repeated="2" office:value-type="string"><text:p>same</text:p></table:table-cell>
 <table:table-cell office:value-type="float" office:value="7"><office:annotation><text:p>a note</text:p></office:annotation><text:p>  seven <text:tab/>x  </text:p></table:table-cell>
</table:table-row>
<table:table-row>
 <table:table-cell office:value-type="percentage" office:value="0.5"/>
 <table:table-cell office:value-type="boolean" office:boolean-value="false"/>
 <table:table-cell office:value-type="time" office:time-value="PT26H05M00S"/>
 <table:table-cell office:value-type="date" office:date-value="2024-02-29T13:45:00"/>
</table:table-row>
</table:table></office:spreadsheet></office:body></office:document-content>)"}});
  const Workbook book = readWorkbook(dir / "repeat.ods");
  EXPECT_EQ(cellTexts(book.sheet(1)),
            (std::vector<std::string>{"R1C1=same", "R1C2=same", "R1C3=seven \tx", "R2C1=same",
                                      "R2C2=same", "R2C3=seven \tx", "R3C1=50%", "R3C2=FALSE",
                                      "R3C3=26:05:00", "R3C4=2024-02-29 13:45:00"}));
}

TEST(CellTypes, XlsxSheetsWithOneSkippedTypeEachInEitherQuotes) {
  // No sheet holds an inline string: each must still be found to hold a cell liborcus skips.
  const std::vector<std::pair<std::string, std::string>> cells = {
      {"<c r=\"A1\" t=\"str\"><f>B1</f><v>formula text</v></c>", "R1C1=formula text"},
      {"<c r='B2' t='e'><v>#DIV/0!</v></c>", "R2C2=#DIV/0!"},
      {"<c r=\"C3\" t=\"d\"><v>2024-03-01T00:00:00</v></c>", "R3C3=2024-03-01"},
  };
  std::vector<std::pair<std::string, std::string>> parts = {
      {"[Content_Types].xml",
       R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet3.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>)"},
      {"_rels/.rels",
       R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
      {"xl/workbook.xml",
       R"(<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="S1" sheetId="1" r:id="rId1"/><sheet name="S2" sheetId="2" r:id="rId2"/><sheet name="S3" sheetId="3" r:id="rId3"/></sheets></workbook>)"},
      {"xl/_rels/workbook.xml.rels",
       R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet3.xml"/></Relationships>)"},
  };
  for (std::size_t i = 0; i < cells.size(); ++i)
    parts.emplace_back(
        "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml",
        R"(<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r=")" +
            std::to_string(i + 1) + "\">" + cells[i].first + "</row></sheetData></worksheet>");
  testing::TempDir dir;
  testing::writeStoredZip(dir / "types.xlsx", parts);
  const Workbook book = readWorkbook(dir / "types.xlsx");
  ASSERT_EQ(book.sheetCount(), 3);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    SCOPED_TRACE(cells[i].first);
    EXPECT_EQ(cellTexts(book.sheet(static_cast<int>(i) + 1)),
              std::vector<std::string>{cells[i].second});
  }
}

TEST(NumberFormats, NumbersPercentsCurrenciesAndSections) {
  struct Case {
    double value;
    const char* code;
    const char* text;
  };
  const Case cases[] = {
      {1234.5, "General", "1234.5"},
      {1234.5, "0", "1235"},
      {0.4, "#", ""},
      {0.5, "#", "1"},
      {1234.567, "#,##0.00", "1,234.57"},
      {-1234.5, "#,##0.00", "-1,234.50"},
      {1234567, "#,##0", "1,234,567"},
      {1234567, "#,##0,", "1,235"},
      {0.125, "0.0%", "12.5%"},
      {0.5, "0%", "50%"},
      {3.1, "0.0#", "3.1"},
      {3.14159, "0.0#", "3.14"},
      {42, "000000", "000042"},
      {1234.5, "[$$-409]#,##0.00", "$1,234.50"},
      {1234.5, "#,##0.00 [$€-407]", "1,234.50 €"},
      {88, "[$¥-804]#,##0.00", "¥88.00"},
      {88, "\"¥\"#,##0", "¥88"},
      {-5, "#,##0;(#,##0)", "(5)"},
      {-5, "#,##0.00;[Red]\\-#,##0.00", "-5.00"},
      {0, "#,##0;-#,##0;\"-\"", "-"},
      {12, "0_);(0)", "12 "},
      {12345.678, "0.00E+00", "1.23E+04"},
      {0.00012, "0.0E+0", "1.2E-4"},
      {12345, "##0.0E+0", "12.3E+3"},
      {1, "\"TRUE\";\"TRUE\";\"FALSE\"", "TRUE"},
      {0, "\"TRUE\";\"TRUE\";\"FALSE\"", "FALSE"},
      {347.99232604148267, "0.000000000000000", "347.992326041483000"},  // 15 digits shown
      {11342283.4233123999, "0.000000000000000", "11342283.423312400000000"},
      {1.5, "# ?/?", "1 1/2"},
      {0.5, "# ?/?", " 1/2"},
      {0.3, "# ?\?/?\?", "  3/10"},  // "# ??/??"; the escapes keep "??/" from being a trigraph
      {0.75, "?/8", "6/8"},
      // Conditions choose the section; without a match the last one applies.
      {1, "[>999999]#,,\"M\";[>999]#,\"K\";#", "1"},
      {1500, "[>999999]#,,\"M\";[>999]#,\"K\";#", "2K"},
      {2500000, "[>999999]#.0,,\"M\";[>999]#,\"K\";#", "2.5M"},
      {0, "[=0]?;0%", " "},
      {1, "[=0]?;0%", "100%"},
      {-1, "[<0]\"\";0%", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formattedNumberText(c.value, c.code), c.text) << c.code << " of " << c.value;
  }
  EXPECT_EQ(formattedText("hidden", ";;;"), "");  // an empty text section hides text too
}

TEST(NumberFormats, DatesAndTimesInBothDateSystems) {
  struct Case {
    double value;
    const char* code;
    const char* text;
  };
  const Case cases[] = {
      {45322, "yyyy-mm-dd", "2024-01-31"},
      {45322, "yyyy\\-mm\\-dd", "2024-01-31"},
      {45322, "m/d/yy", "1/31/24"},
      {45322, "d-mmm-yy", "31-Jan-24"},
      {45322, "dddd, mmmm d, yyyy", "Wednesday, January 31, 2024"},
      // The system's long date, whatever the code after it says.
      {45322, "[$-F800]dddd\\, mmmm dd\\, yyyy", "Wednesday, January 31, 2024"},
      {61, "[$-F800]dddd\\, mmmm dd\\, yyyy", "Thursday, March 1, 1900"},
      {45322, "yyyy\"年\"m\"月\"d\"日\"", "2024年1月31日"},
      {60, "yyyy-mm-dd", "1900-02-29"},  // the leap day the 1900 count keeps
      {61, "yyyy-mm-dd", "1900-03-01"},
      {1, "yyyy-mm-dd", "1900-01-01"},
      {0.35434027777777777, "hh:mm:ss", "08:30:15"},
      {0.75, "h:mm AM/PM", "6:00 PM"},
      {0.0, "h:mm am/pm", "12:00 am"},
      {45322.5, "yyyy-mm-dd hh:mm", "2024-01-31 12:00"},
      {1.5, "[h]:mm:ss", "36:00:00"},
      {0.5000057870370371, "hh:mm:ss.00", "12:00:00.50"},
      {0.99999999, "hh:mm:ss", "00:00:00"},  // rounds into the next day
      {-1, "yyyy-mm-dd", "-1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formattedNumberText(c.value, c.code), c.text) << c.code << " of " << c.value;
  }
  EXPECT_EQ(formattedNumberText(43860, "yyyy-mm-dd", DateSystem::from1904), "2024-01-31");
  EXPECT_EQ(formattedNumberText(0, "yyyy-mm-dd ddd", DateSystem::from1904), "1904-01-01 Fri");
}

}  // namespace
}  // namespace dupsweep::sheet
