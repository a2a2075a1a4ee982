// Reading workbooks as spreadsheet programs write them: package shapes, formula results, shared
// strings, dates, and hostile structures. Every file is a small zip of XML written here.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/spreadsheet/reader.h"
#include "sheet_files.h"

namespace dupsweep::sheet {
namespace {

using testing::cellTexts;
using Entries = std::vector<std::pair<std::string, std::string>>;

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kPackageRel = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string worksheet(const std::string& rows, const std::string& ns = kMain) {
  return "<worksheet xmlns=\"" + ns + "\"><sheetData>" + rows + "</sheetData></worksheet>";
}

std::string sharedStrings(const std::string& items, const std::string& ns = kMain) {
  return "<sst xmlns=\"" + ns + "\">" + items + "</sst>";
}

// Styles with cell format 1 under number format `code`.
std::string stylesWith(const std::string& code) {
  return "<styleSheet xmlns=\"" + kMain + "\"><numFmts count=\"1\"><numFmt numFmtId=\"164\" " +
         "formatCode=\"" + code + "\"/></numFmts><fonts count=\"1\"><font><sz val=\"11\"/>" +
         "</font></fonts><fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill>" +
         "</fills><borders count=\"1\"><border/></borders><cellXfs count=\"2\"><xf numFmtId=\"0\"/>" +
         "<xf numFmtId=\"164\" applyNumberFormat=\"1\"/></cellXfs></styleSheet>";
}

// A transitional xlsx package: the sheets (name, sheetId, worksheet XML) and the workbook's
// other parts as given.
struct Xlsx {
  std::vector<std::tuple<std::string, int, std::string>> sheets;
  std::string sharedStrings;
  std::string styles;
  std::string workbookProperties;
  std::string contentTypes =
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Override "
      "PartName=\"/xl/workbook.xml\" ContentType=\"application/"
      "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>";
  std::string target;  // prefix of the workbook's relationship targets ("/xl/" for absolute ones)
  std::string sharedStringsName = "xl/sharedStrings.xml";

  std::string bytes(Entries extra = {}) const {
    std::string workbook = "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\">" +
                           workbookProperties + "<sheets>";
    std::string rels = "<Relationships xmlns=\"" + kPackageRel + "\">";
    Entries entries{{"[Content_Types].xml", contentTypes},
                    {"_rels/.rels", "<Relationships xmlns=\"" + kPackageRel +
                                        "\"><Relationship Id=\"rId1\" Type=\"" + kRel +
                                        "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                                        "</Relationships>"}};
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      const auto& [name, id, xml] = sheets[i];
      const std::string n = std::to_string(i + 1);
      workbook += "<sheet name=\"" + name + "\" sheetId=\"" + std::to_string(id) +
                  "\" r:id=\"rId" + n + "\"/>";
      rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + kRel + "/worksheet\" Target=\"" +
              target + "worksheets/sheet" + n + ".xml\"/>";
      entries.emplace_back("xl/worksheets/sheet" + n + ".xml", xml);
    }
    if (!sharedStrings.empty()) {
      rels += "<Relationship Id=\"rIdS\" Type=\"" + kRel + "/sharedStrings\" Target=\"" + target +
              sharedStringsName.substr(3) + "\"/>";
      entries.emplace_back(sharedStringsName, sharedStrings);
    }
    if (!styles.empty()) {
      rels += "<Relationship Id=\"rIdY\" Type=\"" + kRel + "/styles\" Target=\"styles.xml\"/>";
      entries.emplace_back("xl/styles.xml", styles);
    }
    entries.emplace_back("xl/workbook.xml", workbook + "</sheets></workbook>");
    entries.emplace_back("xl/_rels/workbook.xml.rels", rels + "</Relationships>");
    entries.insert(entries.end(), extra.begin(), extra.end());
    return testing::storedZip(entries);
  }
};

// A zip archive of one entry, `data` deflated.
std::string withDeflatedEntry(const std::string& name, const std::string& data) {
  std::string compressed(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(compressed.data());
  z.avail_out = static_cast<uInt>(compressed.size());
  deflate(&z, Z_FINISH);
  compressed.resize(z.total_out);
  deflateEnd(&z);
  const auto crc = static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  auto put = [](std::string& out, std::uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) out += static_cast<char>((v >> (8 * k)) & 0xFF);
  };
  std::string out, directory;
  put(out, 0x04034b50, 4);
  put(out, 20, 2);
  put(out, 0, 2);
  put(out, 8, 2);  // deflated
  put(out, 0, 4);
  put(out, crc, 4);
  put(out, static_cast<std::uint32_t>(compressed.size()), 4);
  put(out, static_cast<std::uint32_t>(data.size()), 4);
  put(out, static_cast<std::uint32_t>(name.size()), 2);
  put(out, 0, 2);
  out += name + compressed;
  put(directory, 0x02014b50, 4);
  put(directory, 20, 2);
  put(directory, 20, 2);
  put(directory, 0, 2);
  put(directory, 8, 2);
  put(directory, 0, 4);
  put(directory, crc, 4);
  put(directory, static_cast<std::uint32_t>(compressed.size()), 4);
  put(directory, static_cast<std::uint32_t>(data.size()), 4);
  put(directory, static_cast<std::uint32_t>(name.size()), 2);
  put(directory, 0, 4);  // extra, comment
  put(directory, 0, 4);  // disk, internal attributes
  put(directory, 0, 4);  // external attributes
  put(directory, 0, 4);  // offset
  directory += name;
  const auto at = static_cast<std::uint32_t>(out.size());
  out += directory;
  put(out, 0x06054b50, 4);
  put(out, 0, 4);
  put(out, 1, 2);
  put(out, 1, 2);
  put(out, static_cast<std::uint32_t>(directory.size()), 4);
  put(out, at, 4);
  put(out, 0, 2);
  return out;
}

Workbook read(const std::string& bytes) {
  return readWorkbookBytes(bytes, detectFormat(bytes), "test");
}

std::string formatErrorOf(const std::string& bytes) {
  try {
    read(bytes);
  } catch (const FormatError& e) {
    return e.what();
  }
  return "(read)";
}

TEST(PackageReading, PackagesAsSpreadsheetProgramsWriteThem) {
  const std::string rows = "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>2</v></c></row>";
  // Content types by default rule only, absolute relationship targets, a shared strings part
  // named in another letter case, and a macro project and a broken custom property beside.
  Xlsx plain;
  plain.sheets = {{"Data", 1, worksheet(rows)}};
  plain.sharedStrings = sharedStrings("<si><t>text</t></si>");
  plain.contentTypes =
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>";
  plain.target = "/xl/";
  plain.sharedStringsName = "xl/SharedStrings.xml";
  const std::string macro = plain.bytes(
      {{"xl/vbaProject.bin", std::string("\xD0\xCF\x11\xE0", 4)},
       {"xl/customProperty1.bin", "<not xml"}});
  ASSERT_EQ(detectFormat(macro), FileFormat::xlsx);
  EXPECT_EQ(cellTexts(read(macro).sheet(1)), (std::vector<std::string>{"R1C1=text", "R1C2=2"}));

  // Strict OOXML: the same parts under other namespace names.
  const std::string strictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";
  const std::string strictRel = "http://purl.oclc.org/ooxml/officeDocument/relationships";
  std::string strict = "<workbook xmlns=\"" + strictMain + "\" xmlns:r=\"" + strictRel +
                       "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
  const std::string strictBytes = testing::storedZip(
      {{"[Content_Types].xml", Xlsx().contentTypes},
       {"_rels/.rels", "<Relationships xmlns=\"" + kPackageRel + "\"><Relationship Id=\"rId1\" " +
                           "Type=\"" + strictRel + "/officeDocument\" Target=\"xl/workbook.xml\"/>" +
                           "</Relationships>"},
       {"xl/workbook.xml", strict},
       {"xl/_rels/workbook.xml.rels",
        "<Relationships xmlns=\"" + kPackageRel + "\"><Relationship Id=\"rId1\" Type=\"" +
            strictRel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" " +
            "Type=\"" + strictRel + "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>"},
       {"xl/worksheets/sheet1.xml", worksheet(rows, strictMain)},
       {"xl/sharedStrings.xml", sharedStrings("<si><t>text</t></si>", strictMain)}});
  const Workbook strictBook = read(strictBytes);
  EXPECT_EQ(strictBook.sheet(1).name(), "S");
  EXPECT_EQ(cellTexts(strictBook.sheet(1)), (std::vector<std::string>{"R1C1=text", "R1C2=2"}));

  // An OpenDocument spreadsheet without a mimetype entry, with the empty accelerator file that
  // LibreOffice writes into every file it saves.
  const std::string content =
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body>"
      "<office:spreadsheet><table:table table:name=\"T\"><table:table-row><table:table-cell "
      "office:value-type=\"string\"><text:p>ods</text:p></table:table-cell></table:table-row>"
      "</table:table></office:spreadsheet></office:body></office:document-content>";
  const std::string ods = testing::storedZip(
      {{"content.xml", content}, {"Configurations2/accelerator/current.xml", ""}});
  ASSERT_EQ(detectFormat(ods), FileFormat::ods);
  EXPECT_EQ(cellTexts(read(ods).sheet(1)), (std::vector<std::string>{"R1C1=ods"}));
}

TEST(PackageReading, FormulaResultsOnTheirOwnSheetAndCell) {
  // The first sheet has sheetId 2, the second sheetId 1: results stay on their own sheet.
  Xlsx book;
  book.sheets = {
      {"First", 2,
       worksheet("<row r=\"1\"><c r=\"A1\"><f>1+1</f><v>2</v></c>"
                 "<c r=\"B1\" t=\"b\"><f>TRUE()</f><v>1</v></c>"
                 "<c r=\"C1\" t=\"str\"><f>\"a\"</f><v>a</v></c>"
                 "<c r=\"D1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
                 "<c r=\"E1\"><f>NOW()</f></c></row>")},
      {"Second", 1,
       worksheet("<row r=\"2\"><c r=\"B2\"><f t=\"array\" ref=\"B2:B3\">ROW(B2:B3)</f><v>2</v>"
                 "</c></row><row r=\"3\"><c r=\"B3\"><v>3</v></c></row>")}};
  const Workbook workbook = read(book.bytes());
  EXPECT_EQ(cellTexts(workbook.sheet(1)),
            (std::vector<std::string>{"R1C1=2", "R1C2=TRUE", "R1C3=a", "R1C4=#DIV/0!"}));
  EXPECT_EQ(cellTexts(workbook.sheet(2)), (std::vector<std::string>{"R2C2=2", "R3C2=3"}));
}

TEST(PackageReading, SharedStringsAndEscapes) {
  Xlsx book;
  book.sharedStrings = sharedStrings(
      "<si><t>first</t></si><si><t/></si>"
      "<si><t>plain </t><r><rPr><b/></rPr><t>bold</t></r></si>"
      "<si><t>漢字</t><rPh sb=\"0\" eb=\"2\"><t>カンジ</t></rPh></si>"
      "<si><t>a_x000D_\r\nb _x005F_x000D_ _xD83D__xDE00_</t></si>");
  book.sheets = {{"S", 1,
                  worksheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"
                            "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>1</v></c>"
                            "<c r=\"B2\" t=\"s\"></c></row>"
                            "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>2</v></c>"
                            "<c r=\"B3\" t=\"s\"><v>3</v></c><c r=\"C3\" t=\"s\"><v>4</v></c>"
                            "<c r=\"D3\" t=\"inlineStr\"><is><t>x_x0009_y</t></is></c></row>")}};
  EXPECT_EQ(cellTexts(read(book.bytes()).sheet(1)),
            (std::vector<std::string>{"R1C1=first", "R3C1=plain bold", "R3C2=漢字",
                                      "R3C3=a\nb _x000D_ 😀", "R3C4=x\ty"}));
}

TEST(PackageReading, DatesAndNumbers) {
  Xlsx book;
  // The date system is the workbook's own; an extension's element of the same name after it
  // does not reset it.
  book.workbookProperties =
      "<workbookPr date1904=\"1\"/><extLst><ext uri=\"x\" xmlns:x14=\"urn:x14\">"
      "<x14:workbookPr defaultImageDpi=\"1\"/></ext></extLst>";
  book.styles = stylesWith("yyyy-mm-dd");
  book.sheets = {{"S", 1,
                  worksheet("<row r=\"1\"><c r=\"A1\" s=\"1\"><v>0</v></c>"
                            "<c r=\"B1\" s=\"1\" t=\"d\"><v>2024-03-15T00:00:00</v></c>"
                            "<c r=\"C1\"><v>0.30000000000000004</v></c>"
                            "<c r=\"D1\" t=\"d\"><v>2024-03-15</v></c></row>")}};
  EXPECT_EQ(cellTexts(read(book.bytes()).sheet(1)),
            (std::vector<std::string>{"R1C1=1904-01-01", "R1C2=2024-03-15", "R1C3=0.3",
                                      "R1C4=2024-03-15"}));
}

TEST(PackageReading, OpenDocumentNumbersWithDecimalCommas) {
  // Cells as a program in a German locale saves them: shown with decimal commas.
  auto cell = [](const std::string& type, const std::string& value, const std::string& shown) {
    return "<table:table-cell office:value-type=\"" + type + "\" office:value=\"" + value +
           "\"><text:p>" + shown + "</text:p></table:table-cell>";
  };
  const std::string content =
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body>"
      "<office:spreadsheet><table:table table:name=\"T\"><table:table-row>" +
      cell("currency", "2.3", "2,30 €") + cell("percentage", "0.03", "3,00%") +
      cell("float", "10000", "10.000") + cell("float", "1234", "1,234") +
      "</table:table-row></table:table></office:spreadsheet></office:body>"
      "</office:document-content>";
  const std::string ods = testing::storedZip(
      {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}, {"content.xml", content}});
  EXPECT_EQ(cellTexts(read(ods).sheet(1)),
            (std::vector<std::string>{"R1C1=2.30 €", "R1C2=3.00%", "R1C3=10,000", "R1C4=1,234"}));
}

TEST(PackageReading, HostileStructuresAreRefused) {
  // Nested entities in a document type declaration.
  Xlsx bomb;
  bomb.sheets = {{"S", 1, worksheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")}};
  bomb.sharedStrings =
      "<!DOCTYPE sst [<!ENTITY a \"\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>" +
      sharedStrings("<si><t>&b;&b;&b;&b;</t></si>");
  EXPECT_NE(formatErrorOf(bomb.bytes()).find("document type declaration"), std::string::npos);

  // A megabyte of text in every cell of a sheet.
  Xlsx repeated;
  repeated.sharedStrings = sharedStrings("<si><t>" + std::string(1 << 20, 'x') + "</t></si>");
  std::string rows;
  for (int r = 1; r <= 80; ++r)
    rows += "<row r=\"" + std::to_string(r) + "\"><c t=\"s\"><v>0</v></c></row>";
  repeated.sheets = {{"S", 1, worksheet(rows)}};
  EXPECT_NE(formatErrorOf(repeated.bytes()).find("more text than is read"), std::string::npos);

  // Sixteen megabytes of spaces deflated to a few kilobytes (a zip bomb).
  const std::string bombContent = "<workbook xmlns=\"" + kMain + "\">" +
                                  std::string(16 << 20, ' ') + "</workbook>";
  EXPECT_NE(formatErrorOf(withDeflatedEntry("xl/workbook.xml", bombContent)).find("hundredfold"),
            std::string::npos);
}

TEST(PackageReading, LegacyAndEncryptedCompoundDocumentsAreNamed) {
  // A compound document that is no readable workbook: the message names the format.
  std::string legacy("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  legacy.append(600, '\0');
  EXPECT_EQ(detectFormat(legacy), FileFormat::xls);
  EXPECT_NE(formatErrorOf(legacy).find("legacy binary Excel workbook (.xls)"), std::string::npos);
  std::string encrypted = legacy + std::string("E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o\0", 28);
  EXPECT_NE(formatErrorOf(encrypted).find("encrypted"), std::string::npos);
}

}  // namespace
}  // namespace dupsweep::sheet
