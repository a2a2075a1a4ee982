#pragma once
// What IDupsweep.Dupsweep runs, bound at link time: the component links execute_dialog.cpp (the
// dialog's Execute), the tests' module a stub that records its arguments.

#include <cstdint>
#include <string>

namespace dupsweep::entry {

// See dupsweep::Execute. Failures propagate.
void runExecute(const std::string& conn, const std::string& unitClsCode,
                const std::string& periodId, const std::string& taskCode, std::int32_t level);

}  // namespace dupsweep::entry
