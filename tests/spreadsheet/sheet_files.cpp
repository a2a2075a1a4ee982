#include "sheet_files.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace dupsweep::sheet::testing {

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace {

void check(lxw_error error, const char* what) {
  if (error != LXW_NO_ERROR) {
    throw std::runtime_error(std::string(what) + ": " + lxw_strerror(error));
  }
}

}  // namespace

void writeSampleXlsx(const std::filesystem::path& path) {
  lxw_workbook* wb = workbook_new(path.c_str());
  if (!wb) throw std::runtime_error("workbook_new failed");

  lxw_format* title = workbook_add_format(wb);
  format_set_bold(title);
  format_set_font_color(title, LXW_COLOR_RED);
  format_set_align(title, LXW_ALIGN_CENTER);
  lxw_format* yellow = workbook_add_format(wb);
  format_set_bg_color(yellow, LXW_COLOR_YELLOW);
  lxw_format* boxed = workbook_add_format(wb);
  format_set_border(boxed, LXW_BORDER_THIN);
  format_set_border_color(boxed, LXW_COLOR_BLUE);
  format_set_bold(boxed);
  lxw_format* italic = workbook_add_format(wb);
  format_set_italic(italic);
  format_set_font_name(italic, "宋体");
  format_set_font_size(italic, 12);

  lxw_worksheet* ws = workbook_add_worksheet(wb, "甲表");
  check(worksheet_merge_range(ws, 0, 0, 0, 2, "单位名称", title), "merge");
  worksheet_write_string(ws, 1, 0, "文本", nullptr);
  worksheet_write_string(ws, 1, 1, "数值", nullptr);
  worksheet_write_string(ws, 2, 0, "北京", nullptr);
  worksheet_write_number(ws, 2, 1, 1234.5, yellow);
  worksheet_write_number(ws, 2, 2, 100, boxed);
  worksheet_write_string(ws, 3, 0, "上海", nullptr);
  worksheet_write_number(ws, 3, 1, 0.1, nullptr);
  worksheet_write_number(ws, 3, 2, -7, nullptr);
  worksheet_write_string(ws, 5, 0, "合计", italic);
  worksheet_set_column(ws, 0, 0, 20, nullptr);
  worksheet_set_column(ws, 1, 1, 12, nullptr);
  worksheet_set_row(ws, 2, 30, nullptr);

  lxw_worksheet* ws2 = workbook_add_worksheet(wb, "乙表 数据");
  worksheet_write_string(ws2, 0, 0, "x", nullptr);
  worksheet_write_number(ws2, 1, 1, 42, nullptr);
  worksheet_write_string(ws2, 4, 3, "last", nullptr);

  check(workbook_close(wb), "workbook_close");
}

void writeTemplateXlsx(const std::filesystem::path& path, int sheets, int rows, int cols) {
  lxw_workbook* wb = workbook_new(path.c_str());
  if (!wb) throw std::runtime_error("workbook_new failed");
  lxw_format* title = workbook_add_format(wb);
  format_set_bold(title);
  format_set_font_size(title, 16);
  format_set_align(title, LXW_ALIGN_CENTER);
  lxw_format* header = workbook_add_format(wb);
  format_set_bold(header);
  format_set_border(header, LXW_BORDER_THIN);
  format_set_bg_color(header, 0xD9D9D9);
  format_set_align(header, LXW_ALIGN_CENTER);
  lxw_format* body = workbook_add_format(wb);
  format_set_border(body, LXW_BORDER_THIN);
  format_set_font_name(body, "宋体");

  for (int s = 1; s <= sheets; ++s) {
    const std::string name = "表" + std::to_string(s);
    lxw_worksheet* ws = workbook_add_worksheet(wb, name.c_str());
    const std::string caption = "统计报表 第" + std::to_string(s) + "表";
    check(worksheet_merge_range(ws, 0, 0, 0, static_cast<lxw_col_t>(cols), caption.c_str(), title),
          "merge");
    worksheet_write_string(ws, 1, 0, "项目", header);
    for (int c = 1; c <= cols; ++c) {
      worksheet_write_string(ws, 1, static_cast<lxw_col_t>(c), ("指标" + std::to_string(c)).c_str(),
                             header);
    }
    for (int r = 0; r < rows; ++r) {
      const auto row = static_cast<lxw_row_t>(r + 2);
      worksheet_write_string(ws, row, 0, ("行目" + std::to_string(r + 1)).c_str(), body);
      for (int c = 1; c <= cols; ++c) {
        if ((r + c) % 3 == 0) {
          worksheet_write_number(ws, row, static_cast<lxw_col_t>(c), r * 10.5 + c, body);
        } else {
          worksheet_write_blank(ws, row, static_cast<lxw_col_t>(c), body);
        }
      }
    }
    worksheet_set_column(ws, 0, 0, 24, nullptr);
    worksheet_set_column(ws, 1, static_cast<lxw_col_t>(cols), 11, nullptr);
  }
  check(workbook_close(wb), "workbook_close");
}

std::vector<std::string> cellTexts(const Worksheet& sheet) {
  std::vector<std::string> out;
  for (int r = 1; r <= sheet.storedRows(); ++r) {
    const auto cells = sheet.row(r);
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (!cells[c].text.empty())
        out.push_back("R" + std::to_string(r) + "C" + std::to_string(c + 1) + "=" + cells[c].text);
    }
  }
  return out;
}

void writeStoredZip(const std::filesystem::path& path,
                    const std::vector<std::pair<std::string, std::string>>& entries) {
  writeBytes(path, storedZip(entries));
}

void writeSampleOds(const std::filesystem::path& path) {
  const std::string content = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document-content
    xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
    xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
    xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
    xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
    xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
    office:version="1.2">
 <office:automatic-styles>
  <style:style style:name="ce1" style:family="table-cell" style:parent-style-name="Default">
   <style:table-cell-properties fo:background-color="#ffff00"/>
   <style:text-properties fo:font-weight="bold" fo:color="#ff0000"/>
  </style:style>
 </office:automatic-styles>
 <office:body>
  <office:spreadsheet>
   <table:table table:name="第一表">
    <table:table-row>
     <table:table-cell office:value-type="string" table:number-columns-spanned="2" table:number-rows-spanned="1"><text:p>标题</text:p></table:table-cell>
     <table:covered-table-cell/>
     <table:table-cell table:style-name="ce1" office:value-type="float" office:value="1234.5"><text:p>1234.5</text:p></table:table-cell>
    </table:table-row>
    <table:table-row>
     <table:table-cell office:value-type="float" office:value="100"><text:p>100</text:p></table:table-cell>
     <table:table-cell office:value-type="date" office:date-value="2024-01-31"><text:p>2024-01-31</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>文字</text:p></table:table-cell>
    </table:table-row>
   </table:table>
   <table:table table:name="Second">
    <table:table-row>
     <table:table-cell office:value-type="string"><text:p>only</text:p></table:table-cell>
    </table:table-row>
   </table:table>
  </office:spreadsheet>
 </office:body>
</office:document-content>
)";
  const std::string manifest = R"(<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">
 <manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>
 <manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>
</manifest:manifest>
)";
  writeStoredZip(path, {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                        {"content.xml", content},
                        {"META-INF/manifest.xml", manifest}});
}

void writeSampleXlsXml(const std::filesystem::path& path) {
  writeBytes(path, R"(<?xml version="1.0" encoding="UTF-8"?>
<?mso-application progid="Excel.Sheet"?>
<Workbook xmlns="urn:schemas-microsoft-com:office:spreadsheet"
 xmlns:o="urn:schemas-microsoft-com:office:office"
 xmlns:x="urn:schemas-microsoft-com:office:excel"
 xmlns:ss="urn:schemas-microsoft-com:office:spreadsheet">
 <Styles>
  <Style ss:ID="Default" ss:Name="Normal"><Font ss:FontName="Arial" ss:Size="10"/></Style>
  <Style ss:ID="s1"><Font ss:FontName="Arial" ss:Size="10" ss:Bold="1"/></Style>
 </Styles>
 <Worksheet ss:Name="名单">
  <Table>
   <Row>
    <Cell ss:MergeAcross="2" ss:StyleID="s1"><Data ss:Type="String">标题</Data></Cell>
   </Row>
   <Row>
    <Cell><Data ss:Type="String">甲</Data></Cell>
    <Cell><Data ss:Type="Number">12.5</Data></Cell>
    <Cell><Data ss:Type="Number">100</Data></Cell>
   </Row>
  </Table>
 </Worksheet>
 <Worksheet ss:Name="Other">
  <Table>
   <Row ss:Index="3"><Cell ss:Index="2"><Data ss:Type="String">x</Data></Cell></Row>
  </Table>
 </Worksheet>
</Workbook>
)");
}

}  // namespace dupsweep::sheet::testing
