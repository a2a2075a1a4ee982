// The test module's binding of the automation method: instead of the dialog, record the arguments
// (and whether a QApplication exists) and fail on request, so that the COM layer is tested through
// the module's real exports.
//
//   DUPSWEEP_TEST_EXECUTE_LOG   file to which each call appends one record
//   DUPSWEEP_TEST_EXECUTE_FAIL  "error:<message>"  raise Error(message)
//                               "com:<hex>:<message>"  raise ComError(message, hresult)
//                               "nomessage"  raise something that is not an exception class
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "entry/execute_binding.h"
#include "platform/errors.h"

namespace dupsweep::entry {

namespace {

std::string escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

}  // namespace

void runExecute(const std::string& conn, const std::string& unitClsCode,
                const std::string& periodId, const std::string& taskCode, std::int32_t level) {
  if (const char* log = std::getenv("DUPSWEEP_TEST_EXECUTE_LOG"); log != nullptr && *log != '\0') {
    if (FILE* f = std::fopen(log, "a")) {
      const bool app = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
      std::fprintf(f, "conn=%s\nunitClsCode=%s\nperiodId=%s\ntaskCode=%s\nlevel=%d\napp=%d\n--\n",
                   escaped(conn).c_str(), escaped(unitClsCode).c_str(), escaped(periodId).c_str(),
                   escaped(taskCode).c_str(), static_cast<int>(level), app ? 1 : 0);
      std::fclose(f);
    }
  }
  const char* fail = std::getenv("DUPSWEEP_TEST_EXECUTE_FAIL");
  if (fail == nullptr || *fail == '\0') return;
  const std::string how = fail;
  if (how.starts_with("error:")) throw Error(how.substr(6));
  if (how.starts_with("com:")) {
    const std::size_t colon = how.find(':', 4);
    const auto code = static_cast<std::int32_t>(std::stoul(how.substr(4, colon - 4), nullptr, 16));
    throw ComError(colon == std::string::npos ? "" : how.substr(colon + 1), code);
  }
  if (how == "nomessage") throw 42;
}

}  // namespace dupsweep::entry
