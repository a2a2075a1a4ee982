#pragma once
// The operator's texts for the failures and states the layers below report as kinds: the
// journal's failures, refused restores, a database locked by another deletion, and the journal
// states. Without Qt, so that the windows and the command-line tools share them.

#include <cstddef>
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

// The mark of a reviewed finding as the window shows it: 待审, 确认重复, 合理重复（不再提示）.
std::string markText(Mark mark);

}  // namespace dupsweep::texts
