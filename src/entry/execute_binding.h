#pragma once
// The operation that IDupsweep.Dupsweep runs once its arguments are converted and a QApplication
// exists. Bound at link time: every module built from the entry objects links exactly one
// definition. The component links execute_dialog.cpp, which runs the dialog's Execute; the tests'
// module links a stub that records its arguments, so that the COM layer is tested through its
// real exports without a dialog.

#include <cstdint>
#include <string>

namespace dupsweep::entry {

// Runs the dialog for the host's values (see dupsweep::Execute). Failures propagate.
void runExecute(const std::string& conn, const std::string& unitClsCode,
                const std::string& periodId, const std::string& taskCode, std::int32_t level);

}  // namespace dupsweep::entry
