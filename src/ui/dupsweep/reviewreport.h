#pragma once
// The review of a discovery as a workbook, the case file of a review: one row per finding with
// its units, sheet, kind, periods, differing cells, decision (with note, who and when) and the
// journal entries that deleted a copy of it; one sheet per confirmed finding listing its differing
// cells. No widgets.

#include <string>
#include <vector>

#include "engine/review.h"
#include "journal/journal.h"

namespace dupsweep {

// The titles of the findings sheet: 单位1, 单位1代码, 单位1级次, 单位2, 单位2代码, 单位2级次,
// 表代码, 表, 类型, 期间, 对比期间, 相差格数, 审核, 备注, 审核人, 审核时间, 删除记录.
const std::vector<std::string>& reviewFindingColumns();

// What a finding's kind is called: 相同, 近似, or the kind's own name for another kind.
std::string findingKindText(const std::string& kind);

// Writes the findings of `reviewed` (of `result`) to a sheet "审核结果" and, for each confirmed
// finding, a sheet "确认N" of its cells `differences[i]` (differences has one entry per finding;
// only the confirmed ones' are read). `deletions` are the journal's entries of the database: an
// entry that deleted a copy of a finding (its unit and other unit the pair's, its sheet and period
// the finding's, not rolled back) is named by its id. Replaces a file at `path`; throws FileError
// as writeDiscoveryWorkbook does.
void writeReviewWorkbook(const std::string& path, const DiscoveryResult& result,
                         const std::vector<ReviewedFinding>& reviewed,
                         const std::vector<std::vector<CellDifference>>& differences,
                         const std::vector<journal::Entry>& deletions);

}  // namespace dupsweep
