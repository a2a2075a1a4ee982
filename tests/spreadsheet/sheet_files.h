#pragma once
// Workbook files for the spreadsheet tests, written for real: xlsx through libxlsxwriter, an
// OpenDocument spreadsheet as a zip archive of stored entries, Excel 2003 XML and CSV as text.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/spreadsheet/workbook.h"
#include "support/stored_archives.h"
#include "support/temp_dir.h"

namespace dupsweep::sheet::testing {

using dupsweep::testing::gzipStored;
using dupsweep::testing::storedZip;
using dupsweep::testing::TempDir;

// The sample xlsx workbook, two sheets:
//   sheet 1 "甲表": A1:C1 merged "单位名称" (bold, red font, centred); A2 "文本", B2 "数值";
//     A3 "北京", B3 1234.5 (solid yellow fill), C3 100 (thin blue borders all round, bold);
//     A4 "上海", B4 0.1, C4 -7; A6 "合计" (italic, 宋体 12);
//     column A 20 characters wide, column B 12; row 3 30 points high.
//   sheet 2 "乙表 数据": A1 "x", B2 42, D5 "last".
void writeSampleXlsx(const std::filesystem::path& path);

// An xlsx workbook of `sheets` sheets shaped like a statistical report template: a merged title,
// a bordered header row and `rows` x `cols` bordered body cells with row labels and some numbers.
void writeTemplateXlsx(const std::filesystem::path& path, int sheets, int rows, int cols);

// "R<row>C<col>=text" of every cell of `sheet` holding text, row by row.
std::vector<std::string> cellTexts(const Worksheet& sheet);

// A zip archive of uncompressed entries, in the given order.
void writeStoredZip(const std::filesystem::path& path,
                    const std::vector<std::pair<std::string, std::string>>& entries);

// The sample OpenDocument spreadsheet, two sheets:
//   "第一表": A1:B1 merged "标题", C1 1234.5 (bold, red font, yellow fill); A2 100, B2 the date
//     2024-01-31, C2 "文字";
//   "Second": A1 "only".
void writeSampleOds(const std::filesystem::path& path);

// The sample Excel 2003 XML workbook, two sheets:
//   "名单": A1:C1 merged "标题" (bold); A2 "甲", B2 12.5, C2 100;
//   "Other": B3 "x".
void writeSampleXlsXml(const std::filesystem::path& path);

// Writes `bytes` to `path`.
void writeBytes(const std::filesystem::path& path, const std::string& bytes);
// The bytes of `path`.
std::string readBytes(const std::filesystem::path& path);

}  // namespace dupsweep::sheet::testing
