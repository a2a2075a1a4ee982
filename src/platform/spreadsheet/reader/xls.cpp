// Legacy binary Excel workbooks (.xls: BIFF records in a compound document), read through
// libfreexl: sheet names, cell values and their types. The library gives no number formats:
// numbers show in the general format, dates and times as the library writes them.

#include <freexl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/errors.h"
#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet::reader {
namespace {

constexpr std::string_view kCompoundSignature = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

// The bytes in a temporary file (libfreexl reads files only), removed when this is destroyed.
class TemporaryCopy {
 public:
  explicit TemporaryCopy(std::string_view bytes) {
    std::string pattern = (std::filesystem::temp_directory_path() / "dupsweep-xls-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw FileError("Unable to create a temporary file for reading a workbook");
    path_ = pattern;
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
      if (n <= 0) {
        ::close(fd);
        std::remove(path_.c_str());
        throw FileError("Unable to write a temporary file for reading a workbook");
      }
      written += static_cast<std::size_t>(n);
    }
    ::close(fd);
  }
  ~TemporaryCopy() { std::remove(path_.c_str()); }
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Handle {
  const void* handle = nullptr;
  ~Handle() {
    if (handle) freexl_close(handle);
  }
};

}  // namespace

bool isLegacyExcel(std::string_view bytes) {
  return bytes.starts_with(kCompoundSignature);
}

Workbook readXls(std::string_view bytes, const std::string& prefix) {
  const std::string kCannot = prefix + " is a legacy binary Excel workbook (.xls) that cannot be read";
  TemporaryCopy copy(bytes);
  Handle xls;
  if (freexl_open(copy.path().c_str(), &xls.handle) != FREEXL_OK)
    throw FormatError(kCannot + " (corrupt, or of a version before Excel 97)");
  unsigned int sheets = 0;
  if (freexl_get_info(xls.handle, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets == 0)
    throw FormatError(prefix + " contains no sheet");
  Workbook workbook = Workbook::withoutSheets();
  for (unsigned int index = 0; index < sheets && index < 0xFFFF; ++index) {
    const char* name = nullptr;
    if (freexl_get_worksheet_name(xls.handle, static_cast<unsigned short>(index), &name) !=
        FREEXL_OK)
      throw FormatError(kCannot + " (corrupt)");
    Worksheet& sheet = workbook.addSheet(toModelText(name ? name : ""));
    unsigned int rows = 0;
    unsigned short cols = 0;
    if (freexl_select_active_worksheet(xls.handle, static_cast<unsigned short>(index)) !=
            FREEXL_OK ||
        freexl_worksheet_dimensions(xls.handle, &rows, &cols) != FREEXL_OK)
      throw FormatError(kCannot + " (corrupt)");
    for (unsigned int row = 0; row < rows && row < static_cast<unsigned>(kMaxRows); ++row) {
      for (unsigned short col = 0; col < cols && col < kMaxCols; ++col) {
        FreeXL_CellValue value;
        if (freexl_get_cell_value(xls.handle, row, col, &value) != FREEXL_OK) continue;
        std::string text;
        switch (value.type) {
          case FREEXL_CELL_INT:
            text = generalNumberText(value.value.int_value);
            break;
          case FREEXL_CELL_DOUBLE:
            text = generalNumberText(value.value.double_value);
            break;
          case FREEXL_CELL_TEXT:
          case FREEXL_CELL_SST_TEXT:
          case FREEXL_CELL_DATE:
          case FREEXL_CELL_DATETIME:
          case FREEXL_CELL_TIME:
            if (value.value.text_value) text = toModelText(value.value.text_value);
            break;
          default:
            break;
        }
        if (!text.empty()) sheet.setText(static_cast<int>(row) + 1, col + 1, text);
      }
    }
  }
  return workbook;
}

}  // namespace dupsweep::sheet::reader
