#include "ui/texts.h"

#include "cleanup/cleanup.h"
#include "engine/rescale.h"
#include "engine/review.h"

namespace dupsweep::texts {
namespace {

std::string doing(JournalError::Action action) {
  switch (action) {
    case JournalError::Action::Open:
      return "打开";
    case JournalError::Action::Read:
      return "读取";
    case JournalError::Action::Write:
      return "写入";
  }
  return "读取";
}

std::string valueProblem(const JournalError::Facts& f) {
  const auto value = [&f](const char* why) { return "值 \"" + f.detail + "\" " + why; };
  switch (f.problem) {
    case KeptValueProblem::NotText:
      return "不是文字";
    case KeptValueProblem::NoStorageClass:
      return value("没有存储类别");
    case KeptValueProblem::IncompleteHex:
      return value("的十六进制字节不完整");
    case KeptValueProblem::NotHex:
      return value("不是十六进制字节");
    case KeptValueProblem::NotInteger:
      return value("不是一个 64 位整数");
    case KeptValueProblem::InexactReal:
      return value("不能准确地读成一个双精度数");
    case KeptValueProblem::IncompleteUtf16:
      return value("不是完整的 UTF-16 文字");
    case KeptValueProblem::InvalidUtf16:
      return value("不是有效的 UTF-16 文字");
    case KeptValueProblem::UnknownStorageClass:
      break;
  }
  return value("的存储类别不明");
}

// The failure itself, before what it left behind.
std::string journalReason(const JournalError& e) {
  using R = JournalError::Reason;
  const JournalError::Facts& f = e.facts();
  const std::string& file = f.file;
  const std::string sqlite = "（" + f.detail + "）";
  switch (e.reason()) {
    case R::NoPlace:
      return "找不到删除日志的位置：DUPSWEEP_JOURNAL、XDG_DATA_HOME 和 HOME 都没有设置";
    case R::CannotMakeDirectory:
      return "无法建立删除日志的目录 " + file + "：" + f.detail;
    case R::CannotCreate:
      return "无法建立删除日志 " + file + "：" + f.detail;
    case R::IsDirectory:
      return "删除日志 " + file + " 是一个目录，不是日志文件";
    case R::Foreign:
      return "文件 " + file + " 不是 dupsweep 的删除日志，它保持原样，不会被改写";
    case R::DirectoryWritableByOthers:
      return "删除日志所在的目录 " + file + " 允许同组或其他用户写入（权限 " + f.detail +
             "），他们可以替换或改动删除日志，因此不写入；请把目录改为只有本人可写" +
             "（如 chmod 700），或把删除日志放到别处";
    case R::WritableByOthers:
      return "删除日志 " + file + " 允许同组或其他用户写入（权限 " + f.detail +
             "），其中的记录可能已被改动，因此不写入；请把它改为只有本人可读写" +
             "（chmod 600）后再试";
    case R::UnfinishedWrite:
      return "删除日志 " + file + " 的上一次写入没有完成（程序被中止或磁盘已满），留下了 " + file +
             (f.wal ? "-wal" : "-journal") +
             "；要先撤销这次未完成的写入才能读取它，而现在不能写入该文件或它所在的目录" + sqlite;
    case R::Locked:
      return "删除日志 " + file + " 正被另一个程序锁定，请稍后再试" + sqlite;
    case R::DiskFull:
      return "删除日志 " + file + " 所在的磁盘已满，无法写入" + sqlite;
    case R::ReadOnly:
      return "删除日志 " + file + " 不能写入（文件或文件系统是只读的）" + sqlite;
    case R::CannotOpen:
      return "无法" + doing(f.action) + "删除日志 " + file + sqlite;
    case R::Damaged:
      return "删除日志 " + file + " 已损坏或不是删除日志文件，它保持原样，不会被改写" + sqlite;
    case R::IoError:
      return doing(f.action) + "删除日志 " + file + " 时发生输入输出错误" + sqlite;
    case R::Failed:
      return doing(f.action) + "删除日志 " + file + " 时出错" + sqlite;
    case R::FailedCheck:
      return "删除日志 " + file + " 已损坏，它保持原样，不会被改写" + sqlite;
    case R::NewerVersion:
      return "删除日志 " + file + " 由更新版本的程序写成，无法读取";
    case R::CannotCheckLayout:
      return "无法检查删除日志 " + file + " 的格式" + sqlite;
    case R::OtherLayout:
      return "文件 " + file + " 不是这种格式的删除日志（缺少 " + f.detail +
             "），它保持原样，不会被改写";
    case R::OpenedReadOnly:
      return "删除日志 " + file + " 是以只读方式打开的";
    case R::RowWidth:
      return "删除日志的记录有误：表 " + f.table + " 的一行与它的列数不符";
    case R::NaNValue:
      return "删除日志无法原样保存表 " + f.table + " 第 " + std::to_string(f.row) + " 行的列 " +
             f.column + " 的值（NaN）";
    case R::NoSuchEntryToMark:
      return "删除日志中没有编号为 " + std::to_string(f.id) + " 的记录";
    case R::NoSuchEntry:
      return "删除日志 " + file + " 中没有编号为 " + std::to_string(f.id) + " 的记录";
    case R::DamagedEntry:
      return "删除日志 " + file + " 中编号为 " + std::to_string(f.id) + " 的记录已损坏，无法恢复";
    case R::BadDate:
      return "日期 " + f.detail + " 不是一个有效的日期，应为 YYYY-MM-DD（如 2024-01-31）";
    case R::NoJournal:
      return "删除日志 " + file + " 不存在，没有可以恢复的数据";
    case R::ValueNotKept:
      return "表 " + f.table + " 第 " + std::to_string(f.row) + " 行的列 " + f.column +
             " 的值无法原样保存到删除日志中（" + valueProblem(f) + "）；数据没有删除。";
  }
  return "删除日志 " + file + " 出错";
}

std::string entry(std::int64_t id) {
  return "编号为 " + std::to_string(id) + " 的删除记录";
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

std::string stateText(journal::State state) {
  switch (state) {
    case journal::State::Pending:
      return "待确认";
    case journal::State::Done:
      return "已删除";
    case journal::State::RolledBack:
      return "未删除（已回滚）";
    case journal::State::Restored:
      return "已恢复";
  }
  return "待确认";
}

std::string journalFailure(const JournalError& e) {
  const std::string reason = journalReason(e);
  switch (e.facts().aftermath) {
    case JournalError::Aftermath::None:
      break;
    case JournalError::Aftermath::NothingDeleted:
      return reason + "；数据没有删除。";
    case JournalError::Aftermath::RestoredNotNoted:
      return "数据已经恢复，但无法在删除日志中记下：" + reason;
    case JournalError::Aftermath::NeverTookEffectNotNoted:
      return entry(e.facts().id) + "的删除没有生效，数据都还在数据库中，但无法在删除日志中记下：" +
             reason;
  }
  return reason;
}

std::string restoreRefusal(const RestoreRefused& e) {
  using R = RestoreRefused::Reason;
  const RestoreRefused::Facts& f = e.facts();
  switch (e.reason()) {
    case R::AlreadyRestored:
      return entry(f.id) + "已经在 " + f.when + " 恢复过，不能再次恢复。";
    case R::RolledBack:
      return entry(f.id) + "的删除没有生效（已回滚），数据仍在数据库中，不需要恢复。";
    case R::BadTableName:
      return entry(f.id) + "中的表名 " + f.table + " 无效，没有恢复任何数据。";
    case R::TableGone:
      return "数据库中已经没有表 " + f.table + "，" + entry(f.id) + "无法恢复，没有恢复任何数据。";
    case R::NeverTookEffect:
      return entry(f.id) + "的删除没有生效：它的 " + std::to_string(f.rows) +
             " 行数据都还在数据库中，不需要恢复。删除日志中已记为未删除（已回滚）。";
    case R::RowsPresent: {
      const std::string unit =
          f.unitName.empty() ? f.unitCode : f.unitName + "（" + f.unitCode + "）";
      return unit + "在期间 " + f.periodId + " 的表 " + f.table + " 中已经有 " +
             std::to_string(f.rows) + " 行数据，恢复会与它们冲突；没有恢复任何数据。";
    }
    case R::ColumnsChanged:
      return "表 " + f.table + " 的列与删除时不同（删除时：" + joined(f.savedColumns) + "；现在：" +
             joined(f.columns) + "），没有恢复任何数据。";
  }
  return entry(f.id) + "无法恢复，没有恢复任何数据。";
}

std::string cleanupFailure(const Error& error, Operation operation) {
  if (const auto* e = dynamic_cast<const CopyChanged*>(&error))
    return "单位 " + e->facts().unitCode + " 与 " + e->facts().otherUnitCode + " 的表“" +
           e->facts().sampleName + "”的数据在查找后已经改变，不再相同，没有删除它的数据。";
  if (const auto* e = dynamic_cast<const BatchNotFound*>(&error))
    return "删除日志中没有编号为 " + std::to_string(e->batch()) + " 的可恢复的删除批次";
  if (const auto* e = dynamic_cast<const JournalError*>(&error)) return journalFailure(*e);
  if (const auto* e = dynamic_cast<const RestoreRefused*>(&error)) return restoreRefusal(*e);
  if (const auto* e = dynamic_cast<const DatabaseError*>(&error);
      e && e->kind() == DatabaseError::Kind::Locked)
    // In practice another operator's deletion or restore whose transaction is still open.
    return std::string("另一个删除或恢复正在进行，数据库暂时被锁定，请稍后再试；") +
           (operation == Operation::Deletion ? "没有删除任何数据。" : "没有恢复任何数据。") + "（" +
           e->what() + "）";
  return error.what();
}

std::string deletionQuestion(const std::string& nameS, const std::string& nameD) {
  return "数据删除后将无法恢复，你确认继续操作吗？，点是删除" + nameS + "的数据，点否删除" + nameD +
         "数据？";
}

std::string listedLines(const std::string& header, const std::vector<std::string>& lines) {
  constexpr std::size_t kListed = 10;
  std::string text = header;
  for (std::size_t i = 0; i < lines.size() && i < kListed; ++i) text += "\n" + lines[i];
  if (lines.size() > kListed) text += "\n……另有 " + std::to_string(lines.size() - kListed) + " 组";
  return text;
}

std::string batchDeletion(std::size_t total, std::size_t done, const std::exception_ptr& stopped) {
  if (!stopped)
    return "已删除 " + std::to_string(done) + " 份重复数据，删除日志中记为一个批次，可以整批恢复。";
  std::string why;
  try {
    std::rethrow_exception(stopped);
  } catch (const Error& e) {
    why = cleanupFailure(e, Operation::Deletion);
  }
  return "删除在第 " + std::to_string(done + 1) + " 份停止：" + why + "\n已删除 " +
         std::to_string(done) + " 份重复数据（已记入删除日志）；其余 " +
         std::to_string(total - done) + " 份没有删除。";
}

std::string batchRestoreRefusal(std::int64_t batch, const RestoreRefused& e) {
  return "批次 " + std::to_string(batch) + " 中" + entry(e.facts().id) + "无法恢复，整批都没有恢复：" +
         restoreRefusal(e);
}

namespace review {

std::string batchQuestion(std::size_t copies, const std::string& lines) {
  return "将删除以下 " + std::to_string(copies) +
         " 份重复数据（删除前记入删除日志，可以整批恢复）：\n" + lines +
         "数据删除后只能从删除日志恢复，你确认删除吗？";
}

std::string findingCaption(const std::string& pairName, const std::string& kind, int exponent) {
  if (kind != kScaledKind) return pairName;
  return pairName + "（按比例相同：" + scaleFactorText(exponent) + "）";
}

std::string changedMark(Mark now, Mark before) {
  return markText(now) + "（原为" + markText(before) + "，数据已改变）";
}

}  // namespace review

std::string markText(Mark mark) {
  switch (mark) {
    case Mark::Confirmed:
      return "确认重复";
    case Mark::Legitimate:
      return "合理重复（不再提示）";
    case Mark::Pending:
      break;
  }
  return "待审";
}

}  // namespace dupsweep::texts
