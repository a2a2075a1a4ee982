#include "template_workbook.h"

#include <stdlib.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/errors.h"

namespace dupsweep::demodb::detail {
namespace {

// A file in the temporary directory that is removed when it goes out of scope.
class TempFile {
 public:
  TempFile() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "dupsweep-demodb-XXXXXX.xlsx").string();
    const int fd = mkstemps(pattern.data(), 5);
    if (fd < 0)
      throw FileError("cannot create a temporary workbook file in " + pattern + ": " +
                      std::strerror(errno));
    ::close(fd);
    path_ = pattern;
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Formats {
  lxw_format* title;
  lxw_format* plain;
  lxw_format* right;
  lxw_format* header;
  lxw_format* label;
  lxw_format* rowNumber;
  lxw_format* amount;
  lxw_format* count;
  lxw_format* ratio;
  lxw_format* text;
};

lxw_format* bordered(lxw_workbook* wb) {
  lxw_format* f = workbook_add_format(wb);
  format_set_border(f, LXW_BORDER_THIN);
  format_set_font_name(f, "宋体");
  format_set_font_size(f, 10);
  return f;
}

Formats makeFormats(lxw_workbook* wb) {
  Formats f{};
  f.title = workbook_add_format(wb);
  format_set_bold(f.title);
  format_set_font_name(f.title, "黑体");
  format_set_font_size(f.title, 16);
  format_set_align(f.title, LXW_ALIGN_CENTER);
  format_set_align(f.title, LXW_ALIGN_VERTICAL_CENTER);
  f.plain = workbook_add_format(wb);
  format_set_font_name(f.plain, "宋体");
  format_set_font_size(f.plain, 10);
  f.right = workbook_add_format(wb);
  format_set_font_name(f.right, "宋体");
  format_set_font_size(f.right, 10);
  format_set_align(f.right, LXW_ALIGN_RIGHT);
  f.header = bordered(wb);
  format_set_bold(f.header);
  format_set_align(f.header, LXW_ALIGN_CENTER);
  format_set_align(f.header, LXW_ALIGN_VERTICAL_CENTER);
  format_set_text_wrap(f.header);
  format_set_bg_color(f.header, 0xD9D9D9);
  f.label = bordered(wb);
  f.rowNumber = bordered(wb);
  format_set_align(f.rowNumber, LXW_ALIGN_CENTER);
  f.amount = bordered(wb);
  format_set_num_format(f.amount, "#,##0.00");
  f.count = bordered(wb);
  format_set_num_format(f.count, "0");
  f.ratio = bordered(wb);
  format_set_num_format(f.ratio, "0.00");
  f.text = bordered(wb);
  return f;
}

lxw_format* cellFormat(const Formats& f, ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Amount:
      return f.amount;
    case ColumnKind::Count:
      return f.count;
    case ColumnKind::Ratio:
      return f.ratio;
    case ColumnKind::Text:
      return f.text;
  }
  return f.text;
}

void check(lxw_error error, const char* what) {
  if (error != LXW_NO_ERROR)
    throw FileError(std::string("cannot build the template workbook (") + what +
                    "): " + lxw_strerror(error));
}

void writeSheet(lxw_workbook* wb, const Formats& f, const SampleLayout& sample,
                const std::optional<std::string>& periodName) {
  lxw_worksheet* ws = workbook_add_worksheet(wb, sample.name.c_str());
  if (!ws) throw FileError("cannot add the worksheet \"" + sample.name + "\" to a template");
  const auto lastCol = static_cast<lxw_col_t>(kLabelColumns - 1 + sample.columns.size());
  const bool shortLabels = sample.rowLabels.size() > 50;  // scaled sheets: 项目1, 项目2, ...

  check(worksheet_set_column(ws, 0, 0, shortLabels ? 10 : 22, nullptr), "column width");
  check(worksheet_set_column(ws, 1, 1, 6, nullptr), "column width");
  for (size_t k = 0; k < sample.columns.size(); ++k) {
    const auto col = static_cast<lxw_col_t>(kLabelColumns + k);
    const double width = sample.columns[k].kind == ColumnKind::Text ? 18 : 16;
    check(worksheet_set_column(ws, col, col, width, nullptr), "column width");
  }

  // Row 1: the sheet's title across all columns.
  check(worksheet_set_row(ws, 0, 30, nullptr), "row height");
  if (lastCol > 0)
    check(worksheet_merge_range(ws, 0, 0, 0, lastCol, sample.name.c_str(), f.title), "title");
  else
    check(worksheet_write_string(ws, 0, 0, sample.name.c_str(), f.title), "title");

  // Row 2: reporting unit, period and currency unit.
  check(worksheet_write_string(ws, 1, 0, "编制单位：", f.plain), "period line");
  const std::string period = "期间：" + periodName.value_or("");
  const lxw_col_t periodCol = lastCol >= 2 ? 2 : lastCol;
  check(worksheet_write_string(ws, 1, periodCol, period.c_str(), f.plain), "period line");
  if (lastCol > 2)
    check(worksheet_write_string(ws, 1, lastCol, "单位：元", f.right), "period line");

  // Row 3: column headers.
  check(worksheet_set_row(ws, 2, 28, nullptr), "row height");
  check(worksheet_write_string(ws, 2, 0, "项目", f.header), "header");
  check(worksheet_write_string(ws, 2, 1, "行次", f.header), "header");
  for (size_t k = 0; k < sample.columns.size(); ++k)
    check(worksheet_write_string(ws, 2, static_cast<lxw_col_t>(kLabelColumns + k),
                                 sample.columns[k].header.c_str(), f.header),
          "header");

  // Data rows: labels in A and B, bordered empty cells for the figures.
  for (size_t r = 0; r < sample.rowLabels.size(); ++r) {
    const auto row = static_cast<lxw_row_t>(kFirstDataRow - 1 + r);
    check(worksheet_write_string(ws, row, 0, sample.rowLabels[r].c_str(), f.label), "label");
    check(worksheet_write_number(ws, row, 1, static_cast<double>(r + 1), f.rowNumber), "label");
    for (size_t k = 0; k < sample.columns.size(); ++k)
      check(worksheet_write_blank(ws, row, static_cast<lxw_col_t>(kLabelColumns + k),
                                  cellFormat(f, sample.columns[k].kind)),
            "cell");
  }
  worksheet_freeze_panes(ws, static_cast<lxw_row_t>(kFirstDataRow - 1), kLabelColumns);
}

}  // namespace

std::string templateWorkbook(const std::vector<const SampleLayout*>& sheets,
                             const std::optional<std::string>& periodName) {
  TempFile file;
  lxw_workbook* wb = workbook_new(file.path().c_str());
  if (!wb) throw FileError("cannot create the template workbook " + file.path());
  // A fixed creation time keeps the bytes the same from one run to the next.
  static char title[] = "报表模板";
  lxw_doc_properties properties{};
  properties.title = title;
  std::tm created{};
  created.tm_year = 124;
  created.tm_mon = 0;
  created.tm_mday = 1;
  properties.created = timegm(&created);
  try {
    workbook_set_properties(wb, &properties);
    const Formats formats = makeFormats(wb);
    for (const SampleLayout* sample : sheets) writeSheet(wb, formats, *sample, periodName);
  } catch (...) {
    workbook_close(wb);
    throw;
  }
  check(workbook_close(wb), "write");

  std::ifstream in(file.path(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) throw FileError("cannot read back the template " + file.path());
  return bytes;
}

}  // namespace dupsweep::demodb::detail
