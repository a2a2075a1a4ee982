#pragma once
// Reading workbook files into the workbook model, through liborcus (libfreexl for legacy .xls).
// The format is recognised from the bytes (xlsx, ods, Excel 2003 XML, Gnumeric, xls); a file that
// none of them claims is read as CSV when its name ends in ".csv". Values, sheet names and order, merged ranges, column widths, row
// heights, fonts, fills, borders and alignment come through.

#include <filesystem>
#include <string_view>

#include "platform/spreadsheet/workbook.h"

namespace dupsweep::sheet {

// xls: the legacy binary Excel format (BIFF in a compound document), read through libfreexl.
enum class FileFormat { unknown, xlsx, ods, xlsXml, gnumeric, csv, xls };

// The format of a workbook file's bytes, or FileFormat::unknown. CSV has no signature: it is
// never reported here.
FileFormat detectFormat(std::string_view bytes) noexcept;

// The workbook held in `bytes` of format `format`. Every cell holds the text it shows: numbers
// under the number format of their cell format record where the file gives one (see
// formattedNumberText), else in the general format; formula cells with the result the file
// stores (nothing where it stores none); OpenDocument cells as the file itself displays them
// (the text of their paragraphs, joined by line feeds; numbers written with a decimal comma
// shown with a decimal point). Only the parts a workbook needs are read from a zip package.
// Throws FormatError when the bytes are not a readable workbook of that format or hold no sheet,
// and for hostile structures (entity definitions, zip bombs, more cell text than is read);
// `name` (the file's name) is used in the message.
Workbook readWorkbookBytes(std::string_view bytes, FileFormat format, std::string_view name);

// The workbook in the file at `path`, its format detected as described above. Throws FileError
// when the file cannot be read (missing, a directory, no permission) and FormatError when its
// content is not a readable workbook (empty, unknown format, corrupt, truncated, no sheet).
Workbook readWorkbook(const std::filesystem::path& path);

}  // namespace dupsweep::sheet
