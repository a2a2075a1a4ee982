#pragma once
// The operator's texts for the failures and states the layers below report as kinds: the
// journal's failures, refused restores, a database locked by another deletion, and the journal
// states. Without Qt, so that the windows and the command-line tools share them.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "journal/journal.h"
#include "platform/errors.h"

namespace dupsweep::texts {

// What failed to be done when a failure reached the operator.
enum class Operation { Deletion, Restore };

// A journal state as the restore window shows it: 待确认, 已删除, 未删除（已回滚）, 已恢复.
std::string stateText(journal::State state);

// The journal's failure, naming the file and saying why.
std::string journalFailure(const JournalError& error);

// Why a restore was refused (DeletionNeverTookEffect included).
std::string restoreRefusal(const RestoreRefused& error);

// Any failure of a deletion or a restore as the operator reads it: the texts above for the
// journal and refusals, a database locked by another writer named as such (followed by the
// database's own message), and every other failure's own message.
std::string cleanupFailure(const Error& error, Operation operation);

// How a batch deletion of `total` copies ended: all deleted, or stopped after `done` of them by
// `stopped` (its failure told as cleanupFailure tells it), saying what was and was not deleted.
std::string batchDeletion(std::size_t total, std::size_t done, const std::exception_ptr& stopped);

// Why batch `batch` could not be restored: the entry that stopped it, and its reason.
std::string batchRestoreRefusal(std::int64_t batch, const RestoreRefused& error);

// The mark of a reviewed finding as the window shows it: 待审, 确认重复, 合理重复（不再提示）.
std::string markText(Mark mark);

// The review of a discovery in the window "查找重复数据单位".
namespace review {
inline constexpr const char* kReviewColumn = "审核";
inline constexpr const char* kDeleteColumn = "删除";
inline constexpr const char* kAll = "全部";
inline constexpr const char* kShowLegitimate = "显示已标记为合理的";
inline constexpr const char* kNotePlaceholder = "备注（可选）";
inline constexpr const char* kShowDifference = "显示对比结果";
inline constexpr const char* kDeleteChosen = "删除所选重复数据…";
inline constexpr const char* kExportReport = "导出审核报告…";
inline constexpr const char* kDeletedMark = "已删除";
inline constexpr const char* kNoneChosen = "请先勾选或选中要标记的重复数据";
inline constexpr const char* kNothingToDelete =
    "请先勾选相同的表，并在“删除”列中选择删除哪个单位的数据";
inline constexpr const char* kExported = "审核报告已经导出到：";
inline constexpr const char* kNoReview = "无法读取删除日志中的审核记录，不能审核：";
// The one confirmation of a batch deletion: each unit, sheet and row count on a line of `lines`.
std::string batchQuestion(std::size_t copies, const std::string& lines);
// "待审（原为确认重复，数据已改变）" for a decision no longer held.
std::string changedMark(Mark now, Mark before);
}  // namespace review

}  // namespace dupsweep::texts
