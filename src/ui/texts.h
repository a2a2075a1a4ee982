#pragma once
// The operator's texts for the failures and states the layers below report as kinds. Without Qt,
// so that the windows and the command-line tools share them.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "platform/errors.h"

namespace dupsweep::texts {

enum class Operation { Deletion, Restore };

// A journal state as the restore window shows it: 待确认, 已删除, 未删除（已回滚）, 已恢复.
std::string stateText(journal::State state);

// Naming the file and saying why.
std::string journalFailure(const JournalError& error);

// Why a restore was refused (DeletionNeverTookEffect included).
std::string restoreRefusal(const RestoreRefused& error);

// The texts above for the journal and refusals, a database locked by another writer named as such
// (then its own message), and every other failure's own message.
std::string cleanupFailure(const Error& error, Operation operation);

// The caption of every information box of the windows.
inline constexpr char kPrompt[] = "系统提示";

// The dialog's messages.
inline constexpr char kTwoUnitsNeeded[] =
    "必须选择两个单位,请按下Ctrl 键在单位树上选择两个单位然后点 >> 按纽，"
    "将这一组添加到单位选择列表里面";
inline constexpr char kSchemeSaved[] = "方案保存完毕";
inline constexpr char kSchemeRenamed[] =
    "以下单位组与前面的单位组同名，保存时在名称后加上了两个单位的代码：";
inline constexpr char kSchemeDropped[] = "方案文件中以下单位组与后面的单位组同名，没有载入：";
inline constexpr char kBadSchemeName[] = "方案名称不能包含路径分隔符或控制字符";
inline constexpr char kNoPeriod[] = "没有选择期间，请选择以后再执行操作";
inline constexpr char kNoUnitChosen[] = "请选择要删除的单位";
inline constexpr char kNoTableChosen[] = "请选择需要删除的数据表！";
inline constexpr char kDeletionFailed[] = "删除数据时发生了错误";
inline constexpr char kDeleted[] = "重复记录已经删除";
inline constexpr char kCopyChanged[] =
    "该表的数据在比对后已经改变，不再相同，没有删除任何数据。请重新比对数据。";
inline constexpr char kNoPairSelected[] = "请选择对比单位!";
inline constexpr char kErrorCaption[] = "错误";
inline constexpr char kNoTemplate[] = "所选期间没有报表模板，无法显示对比结果";
inline constexpr char kTemplateUnreadable[] = "无法读取所选期间的报表模板，无法显示对比结果：";
inline constexpr char kSelfPairAdded[] = "两个单位的代码相同，是同一个单位，不能组成一组比对：";
inline constexpr char kUnusablePairs[] = "方案中以下单位组不能比对，也不会从中删除数据：";
inline constexpr char kUnusablePair[] = "该单位组不能比对：";
inline constexpr char kNoDatabase[] = "无法打开数据库，单位和期间都无法读取：";
inline constexpr char kFindDuplicates[] = "查找重复数据单位…";
inline constexpr char kExportDiscovery[] = "导出查找结果…";

// The deletion's question: Yes deletes `nameS`'s copy, No `nameD`'s.
std::string deletionQuestion(const std::string& nameS, const std::string& nameD);

// `header` and the lines below it, one a line, cut short after ten so that a message box fits
// the screen.
std::string listedLines(const std::string& header, const std::vector<std::string>& lines);

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
// The viewer's pair caption for a finding: the pair's name, and for a rescaled copy its factor.
std::string findingCaption(const std::string& pairName, const std::string& kind, int exponent);
// "待审（原为确认重复，数据已改变）" for a decision no longer held.
std::string changedMark(Mark now, Mark before);
}  // namespace review

}  // namespace dupsweep::texts
