#pragma once
// Template workbooks as the host stores them in SampleTableVts.OleVTS: one worksheet per
// sample table in sheet order, laid out so that a unit's data rows land under the headers.

#include <optional>
#include <string>
#include <vector>

#include "demo_content.h"

namespace dupsweep::demodb::detail {

// The bytes of an .xlsx workbook with one worksheet per entry of `sheets` (named after the
// sample), each with a merged title on row 1, the period on row 2, column headers on row 3 and
// the row labels in columns A and B from kFirstDataRow on. The same input gives the same bytes.
// Throws dupsweep::FileError when the workbook cannot be written or read back.
std::string templateWorkbook(const std::vector<const SampleLayout*>& sheets,
                             const std::optional<std::string>& periodName);

}  // namespace dupsweep::demodb::detail
