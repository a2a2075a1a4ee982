#pragma once
// The operator's texts for the failures and states the layers below report as kinds. Without Qt,
// so that the windows and the command-line tools share them.

#include <string>

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

}  // namespace dupsweep::texts
