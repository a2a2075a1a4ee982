#pragma once
// The dialog's entry operation, called by the automation object.

#include <cstdint>
#include <string>

namespace dupsweep {

// Creates the duplicate-cleanup dialog, hands it the host's values, connects the data module,
// loads the first level of the unit tree, shows the dialog modally and destroys it when the
// operator closes it. Failures outside the dialog's event handlers propagate to the caller.
// Requires a QApplication.
void Execute(const std::string& conn, const std::string& unitClsCode, const std::string& periodId,
             const std::string& taskCode, std::int32_t level);

}  // namespace dupsweep
