// The component's binding of the automation method: the dialog's Execute.
#include "entry/execute_binding.h"
#include "ui/dupsweep/execute.h"

namespace dupsweep::entry {

void runExecute(const std::string& conn, const std::string& unitClsCode,
                const std::string& periodId, const std::string& taskCode, std::int32_t level) {
  dupsweep::Execute(conn, unitClsCode, periodId, taskCode, level);
}

}  // namespace dupsweep::entry
